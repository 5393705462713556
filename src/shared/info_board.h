// What the workers publish for the voice client's info panel, and what the panel reads.
//
// The panel's text is asked for on the voice client's GUI thread, at any time, also while
// the clipboard worker sits in a handler (a ConnectToServer may hold it for five seconds)
// or holds stateLock across calls into the voice client. So the workers copy what the panel
// shows here, into fixed-size slots, as they go; the panel reads the slots and nothing
// else of theirs. Writing a slot allocates nothing and takes no lock but the board's own
// writers' flag, held for a copy of a few dozen words; reading one never waits for a
// worker, only, in the rare case that a write lands while it copies, for that write to end.
//
// Who writes what: the clipboard worker writes the requests, frames, resets and clients'
// spots; init starts a run; any thread may note a failure (logError does). Times are the
// pacer's (pluginState.pacer), so that the tests' virtual clock drives the panel too.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

#include "shared/host.h"
#include "shared/pacer.h"

namespace sorlinx {

// A value written now and then and read by any thread at any time: a sequence lock over
// words that are only ever touched atomically. Each word is stored with release and loaded
// with acquire, which orders it after the odd sequence before it and before the check of
// the sequence after it, without fences (which ThreadSanitizer cannot follow). A reader
// copies the words and starts again when a write began or ended meanwhile; writes must not
// overlap (their callers keep them apart). Plain words, not std::atomic members, so that a
// Published is trivial and a static one needs no code at all to be built (zero is its
// start: no write yet, a value of zeros).
template <typename Value>
class Published {
  static_assert(std::is_trivially_copyable_v<Value>);

 public:
  // Trivial on purpose: a Published of static storage starts as zeros without any code;
  // one of automatic storage must be value-initialised ({}).
  Published() = default;

  void store(const Value& value) noexcept {
    std::array<std::uint32_t, WORDS> words{};
    std::memcpy(words.data(), &value, sizeof value);
    const Word sequence(sequence_);
    const std::uint32_t before = sequence.load(std::memory_order_relaxed);
    sequence.store(before + 1, std::memory_order_relaxed);
    for (std::size_t i = 0; i < WORDS; ++i) {
      Word(words_[i]).store(words[i], std::memory_order_release);
    }
    sequence.store(before + 2, std::memory_order_release);
  }

  [[nodiscard]] Value load() const noexcept {
    std::array<std::uint32_t, WORDS> words{};
    const Word sequence(sequence_);
    for (;;) {
      const std::uint32_t before = sequence.load(std::memory_order_acquire);
      if ((before & 1U) == 0) {
        for (std::size_t i = 0; i < WORDS; ++i) {
          words[i] = Word(words_[i]).load(std::memory_order_acquire);
        }
        if (sequence.load(std::memory_order_relaxed) == before) {
          break;
        }
      }
      std::this_thread::yield();  // a write is under way: it is a few dozen stores
    }
    Value value{};
    // Trivially copyable (asserted above); the cast tells the compiler so.
    std::memcpy(static_cast<void*>(&value), words.data(), sizeof value);
    return value;
  }

 private:
  using Word = std::atomic_ref<std::uint32_t>;
  static constexpr std::size_t WORDS = (sizeof(Value) + 3) / 4;
  alignas(Word::required_alignment) mutable std::uint32_t sequence_;
  alignas(Word::required_alignment) mutable std::uint32_t words_[WORDS];
};

// Which radio list a client's last accepted flag put it on.
enum class RadioList : std::uint8_t { none, rc, rl };

// How many members of each radio list the panel names; it counts the rest.
inline constexpr std::size_t PANEL_LIST_SHOWN = 16;
// A log line as logError writes it, terminator included.
inline constexpr std::size_t PANEL_FAILURE_SIZE = 256;
// The request's command: 1 + its Command (clipboard/command_names.h); this for a command
// the plugin does not know, or none.
inline constexpr std::uint8_t PANEL_UNKNOWN_COMMAND = 0;

// The server's (and the local client's) part of the panel.
struct PanelState {
  // Requests taken since the run started, the last one's command, and when.
  std::uint32_t requests = 0;
  std::uint8_t lastCommand = PANEL_UNKNOWN_COMMAND;
  std::int64_t lastRequestAt = 0;
  // Frames applied since the run started, the voices the last one placed, and when.
  std::uint32_t frames = 0;
  std::uint32_t placed = 0;
  std::int64_t frameAt = 0;
  // The radio lists as the last frame or reset left them: their lengths, and the first
  // PANEL_LIST_SHOWN members of each.
  std::uint32_t rcCount = 0;
  std::uint32_t rlCount = 0;
  std::array<ClientId, PANEL_LIST_SHOWN> rc{};
  std::array<ClientId, PANEL_LIST_SHOWN> rl{};
  // Stale-frame resets since the run started, and when the last emptied the lists.
  std::uint32_t resets = 0;
  std::int64_t resetAt = 0;
  // Counts the changes of the radio lists (frames and resets), over every run: a client's
  // spot names the change that set its radio, and a spot of an earlier run is older than
  // this run's first.
  std::uint32_t listGeneration = 0;
  std::uint32_t runGeneration = 0;
};

// The last line the plugin wrote to the voice client's log.
struct FailureState {
  std::uint32_t failures = 0;
  std::int64_t at = 0;
  std::array<char, PANEL_FAILURE_SIZE> line{};
};

// Where the game, or the reset, last placed one client.
struct ClientSpot {
  std::int64_t at = 0;
  Vector3 position{};
  // The change of the radio lists this placement belongs to; 0: never placed.
  std::uint32_t generation = 0;
  RadioList radio = RadioList::none;
  bool byReset = false;
};

// The clipboard worker's own memory of the panel's refreshes (plugin/info_panel.h).
struct PanelRefresh {
  std::uint32_t requestsShown = 0;
  std::int64_t askedAt = 0;
  bool asked = false;
};

class InfoBoard {
 public:
  constexpr InfoBoard() = default;
  InfoBoard(const InfoBoard&) = delete;
  InfoBoard& operator=(const InfoBoard&) = delete;

  // --- Written by init and the clipboard worker ---
  // A new run of the plugin (init): forgets the requests, frames, resets, failures and
  // clients' spots of the last run; the radio lists, which outlive a stop, stay as given.
  void startRun(const std::vector<ClientId>& rc, const std::vector<ClientId>& rl) noexcept;
  void noteRequest(std::uint8_t command, Milliseconds now) noexcept;
  // The radio lists are about to change (a frame, a reset): returns the number that the
  // spots placed meanwhile carry.
  std::uint32_t beginListChange() noexcept;
  // One client placed by the game (or at the origin by the reset), with the list its flag
  // put it on; `radio` is ignored for a record without a flag (keepRadio), which leaves
  // the client on whatever list an earlier record of the same change put it. True when it
  // is the client's first placement of this change.
  bool notePlacement(ClientId client, const Vector3& position, RadioList radio, bool keepRadio,
                     bool byReset, std::uint32_t generation, Milliseconds now) noexcept;
  // A frame applied: the voices it placed and the lists as it left them (read under
  // stateLock by the caller).
  void noteFrame(std::uint32_t placed, const std::vector<ClientId>& rc,
                 const std::vector<ClientId>& rl, Milliseconds now) noexcept;
  // The stale-frame reset emptied the radio lists: a change of its own, which the spots it
  // then places at the origin carry (panel().listGeneration).
  void noteReset(Milliseconds now) noexcept;
  // --- Written by any thread ---
  void noteFailure(std::string_view line, Milliseconds now) noexcept;
  // The panel showed the player's own client, this one (the GUI thread).
  void noteLocalClientShown(ClientId client) noexcept { localClientShown_.store(client); }

  // --- Read by any thread, never waiting for a writer ---
  [[nodiscard]] PanelState panel() const noexcept { return panel_.load(); }
  [[nodiscard]] FailureState failure() const noexcept { return failure_.load(); }
  // The client's spot, of this run or an earlier one (placedThisRun tells).
  [[nodiscard]] ClientSpot spot(ClientId client) const noexcept { return spots_[client].load(); }
  static bool placedThisRun(const ClientSpot& spot, const PanelState& panel) noexcept {
    return spot.generation > panel.runGeneration;
  }
  // The own client the panel last showed in this run; 0 (no client has it) when none.
  [[nodiscard]] ClientId localClientShown() const noexcept { return localClientShown_.load(); }

 private:
  // Keeps the writers of the panel and the failure apart; held for one copy only.
  class WriterGuard {
   public:
    explicit WriterGuard(std::atomic_flag& flag) noexcept : flag_(flag) {
      while (flag_.test_and_set(std::memory_order_acquire)) {
        std::this_thread::yield();
      }
    }
    WriterGuard(const WriterGuard&) = delete;
    WriterGuard& operator=(const WriterGuard&) = delete;
    ~WriterGuard() { flag_.clear(std::memory_order_release); }

   private:
    std::atomic_flag& flag_;
  };

  template <typename Change>
  void changePanel(Change change) noexcept {
    const WriterGuard guard(writing_);
    PanelState state = panel_.load();
    change(state);
    panel_.store(state);
  }

  std::atomic_flag writing_;
  std::atomic<ClientId> localClientShown_{0};
  Published<PanelState> panel_{};
  Published<FailureState> failure_{};
  // One per possible client, written by the clipboard worker only: a static array of
  // trivial slots, zero until used, so its untouched pages cost nothing.
  static std::array<Published<ClientSpot>, std::size_t{std::numeric_limits<ClientId>::max()} + 1>
      spots_;
};

// Built at compile time: the library's load runs no code for it.
extern constinit InfoBoard infoBoard;

}  // namespace sorlinx
