// One hour of play, run through the plugin's clipboard and cue passes on a virtual clock (no
// real waiting): the game writes a frame of 128 players every 100 ms, flags changing as
// players key their radios, a query every 3 s, and every 5 minutes it pauses for 3 s, so
// that the stale-frame reset runs. The voice client is a lean one that records nothing and
// hands out its lists from its own allocator (malloc), so that every heap allocation
// counted here is the plugin's or the in-memory clipboard's.
//
// Prints, for every 5 minutes of play, the heap allocations made inside the passes, the
// bytes in use on the heap and the resident memory, and fails (exit 1) when the heap grows
// or the allocations per minute rise after the first minute, the warm-up.
#include <malloc.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "clipboard/memory_clipboard.h"
#include "interfaces/interface26.h"
#include "plugin/exports.h"
#include "plugin/workers.h"
#include "positional/sound_cues.h"
#include "shared/plugin_state.h"

// --- Heap accounting: every operator new, and the bytes in use ---
namespace {
std::uint64_t allocations = 0;
std::int64_t bytesInUse = 0;
std::int64_t peakBytesInUse = 0;
}  // namespace

void* operator new(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  ++allocations;
  bytesInUse += static_cast<std::int64_t>(malloc_usable_size(block));
  peakBytesInUse = std::max(peakBytesInUse, bytesInUse);
  return block;
}
void operator delete(void* block) noexcept {
  if (block != nullptr) {
    bytesInUse -= static_cast<std::int64_t>(malloc_usable_size(block));
    std::free(block);
  }
}
void operator delete(void* block, std::size_t /*size*/) noexcept { operator delete(block); }

namespace sorlinx {
namespace {

constexpr int CLIENTS = 128;
constexpr std::int64_t HOUR_MS = 60 * 60 * 1000;
constexpr std::int64_t MINUTE_MS = 60 * 1000;
constexpr std::int64_t FRAME_PERIOD_MS = 100;
constexpr std::int64_t QUERY_PERIOD_MS = 3000;
constexpr std::int64_t PAUSE_PERIOD_MS = 5 * MINUTE_MS;
constexpr std::int64_t PAUSE_LENGTH_MS = 3000;

// --- A voice client that keeps nothing ---
struct LeanHost {
  static inline std::uint64_t placements = 0;
  static inline std::uint64_t cues = 0;
  static inline std::uint64_t logLines = 0;
  // The stale-frame reset puts everyone at the origin, where no frame of the game puts anyone.
  static inline std::uint64_t resets = 0;

  static HostError SORLINX_CDECL freeMemory(void* block) {
    std::free(block);
    return 0;
  }
  static HostError SORLINX_CDECL logMessage(const char*, int, const char*, std::uint64_t) {
    ++logLines;
    return 0;
  }
  static HostError SORLINX_CDECL playWaveFile(ServerConnectionId, const char*) {
    ++cues;
    return 0;
  }
  static HostError SORLINX_CDECL channelset3DAttributes(ServerConnectionId, ClientId client,
                                                        const Vector3* position) {
    ++placements;
    if (client == 1 && position->x == 0.0F && position->y == 0.0F && position->z == 0.0F) {
      ++resets;
    }
    return 0;
  }
  static HostError SORLINX_CDECL getClientID(ServerConnectionId, ClientId* client) {
    *client = 1;
    return 0;
  }
  static HostError SORLINX_CDECL getClientVariableAsString(ServerConnectionId, ClientId client,
                                                           std::size_t, char** result) {
    char name[16];
    std::snprintf(name, sizeof name, "player%u", static_cast<unsigned>(client));
    *result = static_cast<char*>(std::malloc(std::strlen(name) + 1));
    std::strcpy(*result, name);
    return 0;
  }
  static HostError SORLINX_CDECL getChannelOfClient(ServerConnectionId, ClientId,
                                                    ChannelId* channel) {
    *channel = 40;
    return 0;
  }
  static HostError SORLINX_CDECL getChannelClientList(ServerConnectionId, ChannelId,
                                                      ClientId** result) {
    auto* list = static_cast<ClientId*>(std::malloc((CLIENTS + 1) * sizeof(ClientId)));
    for (int i = 0; i < CLIENTS; ++i) {
      list[i] = static_cast<ClientId>(i + 1);
    }
    list[CLIENTS] = 0;
    *result = list;
    return 0;
  }

  static void SORLINX_CDECL getPluginPath(char* path, std::size_t maxLength, const char*) {
    std::snprintf(path, maxLength, "%s", R"(C:\Users\p\AppData\Roaming\TS3Client\plugins)");
  }

  static interface26::FunctionTable table() {
    interface26::FunctionTable host{};
    host.freeMemory = freeMemory;
    host.logMessage = logMessage;
    host.playWaveFile = playWaveFile;
    host.channelset3DAttributes = channelset3DAttributes;
    host.getClientID = getClientID;
    host.getClientVariableAsString = getClientVariableAsString;
    host.getChannelOfClient = getChannelOfClient;
    host.getChannelClientList = getChannelClientList;
    host.getPluginPath = getPluginPath;
    return host;
  }
};

// The cue pass's clock: its pauses only move the time on, and nothing is kept of them.
class VirtualClock final : public Pacer {
 public:
  Milliseconds now() override { return time_; }
  bool pause(Milliseconds duration) override {
    time_ += duration;
    return true;
  }

 private:
  Milliseconds time_{0};
};

// --- The game ---
void appendNumber(std::string& text, double value) {
  char digits[32];
  const auto end =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 2);
  text.append(digits, end.ptr);
}

// The frame at time `now`: every player somewhere on a slow circle, and the radio flags
// changing every few seconds as different players key their radios.
void writeFrame(std::string& text, std::int64_t now) {
  text.assign(OPENING_TAG).append("[3D]");
  const std::int64_t flagEpoch = now / 4000;
  for (int client = 1; client <= CLIENTS; ++client) {
    const double angle = static_cast<double>((now / 100 + client * 37) % 628) / 100.0;
    text.append("{").append(std::to_string(client)).append("[");
    appendNumber(text, 50.0 * angle - 150.0);
    text.append(",");
    appendNumber(text, static_cast<double>(client % 16) * 2.5);
    text.append(",");
    appendNumber(text, 100.0 - 30.0 * angle);
    text.append("]");
    constexpr const char* FLAGS[] = {"[RC]", "[RL]", "[CD]", "", "", "", "", ""};
    text.append(FLAGS[(client + flagEpoch) % 8]).append("}");
  }
  text.append(CLOSING_TAG);
}

void writeQuery(std::string& text, std::int64_t now) {
  constexpr const char* QUERIES[] = {"[GetPlayerID]", "[GetCurrentChannelID]",
                                     "[GetPlayerIDFromName]player77", "[GetVersion]"};
  text.assign(OPENING_TAG).append(QUERIES[(now / QUERY_PERIOD_MS) % 4]).append(CLOSING_TAG);
}

long residentKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) {
      return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
    }
  }
  return -1;
}

struct Minute {
  std::uint64_t allocations = 0;
  std::int64_t bytesInUseAtEnd = 0;
};

int soak() {
  interface26::setFunctionPointers(LeanHost::table());
  interface26::registerPluginID("sorlinx_win64-soak");
  pluginState.currentServerConnection.store(1);
  pluginState.connectionStatus.store(STATUS_CONNECTION_ESTABLISHED);
  VirtualClock cueClock;
  memory_clipboard::reset();

  ClipboardChannel channel;
  SoundCueState cueState;
  std::string gameText;
  gameText.reserve(8192);
  std::vector<Minute> minutes(static_cast<std::size_t>(HOUR_MS / MINUTE_MS));
  std::uint64_t frames = 0;
  std::uint64_t queries = 0;
  std::int64_t nextCuePass = 0;
  std::int64_t peakAfterWarmUp = 0;
  std::int64_t peakInWarmUp = 0;

  std::printf("minute  allocations  heap in use  RSS (KiB)\n");
  for (std::int64_t now = 0; now < HOUR_MS; now += FRAME_PERIOD_MS) {
    Minute& minute = minutes[static_cast<std::size_t>(now / MINUTE_MS)];
    // The game's side, outside the counts.
    const bool paused = now % PAUSE_PERIOD_MS >= PAUSE_PERIOD_MS - PAUSE_LENGTH_MS;
    if (!paused) {
      if (now % QUERY_PERIOD_MS == 0 && now > 0) {
        writeQuery(gameText, now);
        ++queries;
      } else {
        writeFrame(gameText, now);
        ++frames;
      }
      memory_clipboard::setText(gameText);
    }

    peakBytesInUse = bytesInUse;
    const std::uint64_t before = allocations;
    clipboardPass(channel);
    // The cue passes due before the next clipboard pass, on the cue thread's own schedule.
    while (nextCuePass < now + FRAME_PERIOD_MS) {
      const Milliseconds startedAt = cueClock.now();
      const Milliseconds pause = soundCuePass(cueState, cueClock);
      nextCuePass += (cueClock.now() - startedAt + pause).count();
    }
    minute.allocations += allocations - before;
    (now < MINUTE_MS ? peakInWarmUp : peakAfterWarmUp) =
        std::max(now < MINUTE_MS ? peakInWarmUp : peakAfterWarmUp, peakBytesInUse);

    if ((now + FRAME_PERIOD_MS) % MINUTE_MS == 0) {
      minute.bytesInUseAtEnd = bytesInUse;
      const std::int64_t index = now / MINUTE_MS + 1;
      if (index == 1 || index % 5 == 0) {
        std::printf("%6lld  %11llu  %11lld  %9ld\n", static_cast<long long>(index),
                    static_cast<unsigned long long>(minute.allocations),
                    static_cast<long long>(minute.bytesInUseAtEnd), residentKiB("VmRSS:"));
      }
    }
  }

  const auto afterWarmUp = minutes.begin() + 1;
  const auto mostAllocations = std::max_element(
      afterWarmUp, minutes.end(),
      [](const Minute& a, const Minute& b) { return a.allocations < b.allocations; });
  const auto mostInUse = std::max_element(
      afterWarmUp, minutes.end(),
      [](const Minute& a, const Minute& b) { return a.bytesInUseAtEnd < b.bytesInUseAtEnd; });
  std::printf(
      "\n%llu frames of %d players, %llu queries, %llu placements, %llu cues, %llu resets, "
      "%llu log lines\n",
      static_cast<unsigned long long>(frames), CLIENTS, static_cast<unsigned long long>(queries),
      static_cast<unsigned long long>(LeanHost::placements),
      static_cast<unsigned long long>(LeanHost::cues),
      static_cast<unsigned long long>(LeanHost::resets),
      static_cast<unsigned long long>(LeanHost::logLines));
  std::printf("allocations in the passes: %llu in the first minute, at most %llu a minute after\n",
              static_cast<unsigned long long>(minutes.front().allocations),
              static_cast<unsigned long long>(mostAllocations->allocations));
  std::printf("heap in use: %lld bytes after the first minute, at most %lld after any later one\n",
              static_cast<long long>(minutes.front().bytesInUseAtEnd),
              static_cast<long long>(mostInUse->bytesInUseAtEnd));
  std::printf("peak heap in use during a pass: %lld bytes in the first minute, %lld after\n",
              static_cast<long long>(peakInWarmUp), static_cast<long long>(peakAfterWarmUp));
  std::printf("resident memory: %ld KiB now, %ld KiB at its peak\n", residentKiB("VmRSS:"),
              residentKiB("VmHWM:"));

  // Flat: after the warm-up the passes allocate no more per minute than the queries' replies
  // need, and neither the heap in use nor its peak grows. The game's frame, which the
  // clipboard holds, varies in length by a few bytes: a little slack covers it, and would
  // still show a leak of one byte a frame within the hour many times over.
  constexpr std::int64_t SLACK_BYTES = 1024;
  const std::uint64_t repliesPerMinute = MINUTE_MS / QUERY_PERIOD_MS;
  bool flat = mostAllocations->allocations <= repliesPerMinute &&
              mostInUse->bytesInUseAtEnd <= minutes.front().bytesInUseAtEnd + SLACK_BYTES &&
              peakAfterWarmUp <= peakInWarmUp + SLACK_BYTES;
  if (LeanHost::logLines != 0) {
    std::printf("unexpected: the plugin logged failures\n");
    flat = false;
  }
  std::printf(flat ? "flat after warm-up\n" : "NOT FLAT after warm-up\n");
  return flat ? 0 : 1;
}

}  // namespace
}  // namespace sorlinx

int main() { return sorlinx::soak(); }
