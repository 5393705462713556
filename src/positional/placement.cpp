#include "positional/placement.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <charconv>
#include <limits>
#include <mutex>
#include <string_view>
#include <vector>

#include "positional/position_frame.h"
#include "shared/info_board.h"
#include "shared/plugin_state.h"

namespace sorlinx {

namespace {

constexpr Vector3 ORIGIN{0.0F, 0.0F, 0.0F};

constexpr std::size_t CLIENT_IDS = std::size_t{std::numeric_limits<ClientId>::max()} + 1;
using ClientSet = std::bitset<CLIENT_IDS>;

// A radio list while a frame is applied, with one bit per possible client beside it telling
// whether that client is in it, so that every record costs the same whatever the list's
// length. (Searching the list for each record made a hostile frame of tens of thousands of
// clients hold stateLock, and with it any stop of the plugin, for seconds.)
//
// A client taken out only loses its bit; its entry stays behind, dead, until the list is
// compacted, which happens whenever the dead entries outnumber the live ones by enough to
// pay for it, and always before the frame ends. A client that joins again is appended, so
// its live entry is always its last one, and the list reads exactly as if each removal had
// erased the entry at once.
class FrameList {
 public:
  // Empties the list: each frame rebuilds it.
  explicit FrameList(std::vector<ClientId>& list) noexcept : list_(list) { list_.clear(); }
  FrameList(const FrameList&) = delete;
  FrameList& operator=(const FrameList&) = delete;
  // Runs before stateLock is let go (it is declared after the lock), on every path.
  ~FrameList() {
    if (dead_ > 0) {
      compact();
    }
  }

  void add(ClientId client) {
    if (!members_[client]) {
      list_.push_back(client);
      members_.set(client);
    }
  }

  void remove(ClientId client) noexcept {
    if (members_[client]) {
      members_.reset(client);
      ++dead_;
      if (dead_ >= MIN_DEAD_TO_COMPACT && dead_ > list_.size() / 2) {
        compact();
      }
    }
  }

 private:
  // Below this many dead entries, clearing the bits that compact() uses costs more than
  // keeping the dead entries until the frame ends.
  static constexpr std::size_t MIN_DEAD_TO_COMPACT = 4096;

  // Keeps the last entry of every member, in order, and drops every other entry.
  void compact() noexcept {
    ClientSet kept;
    auto keptFrom = list_.end();
    for (auto entry = list_.end(); entry != list_.begin();) {
      --entry;
      if (members_[*entry] && !kept[*entry]) {
        kept.set(*entry);
        *--keptFrom = *entry;
      }
    }
    list_.erase(list_.begin(), keptFrom);
    dead_ = 0;
  }

  std::vector<ClientId>& list_;
  ClientSet members_;
  std::size_t dead_ = 0;
};

// The list a flag puts its client on, as the info panel shows it.
RadioList radioListOf(RadioFlag flag) {
  switch (flag) {
    case RadioFlag::RC:
      return RadioList::rc;
    case RadioFlag::RL:
      return RadioList::rl;
    case RadioFlag::CD:
    case RadioFlag::None:
      break;
  }
  return RadioList::none;
}

// Called with stateLock held.
void applyFlag(const PositionRecord& record, FrameList& rcClients, FrameList& rlClients) {
  switch (record.flag) {
    case RadioFlag::RC:
      rcClients.add(record.clientId);
      rlClients.remove(record.clientId);
      break;
    case RadioFlag::RL:
      rlClients.add(record.clientId);
      rcClients.remove(record.clientId);
      break;
    case RadioFlag::CD:
      rcClients.remove(record.clientId);
      rlClients.remove(record.clientId);
      break;
    case RadioFlag::None:
      break;
  }
}

// The line for a refused placement: "Erreur_ID_invalide:" and the client for an unknown
// client, the bare code for anything else. Built on the stack: a frame full of refusals
// costs no heap while stateLock is held.
void logRefusal(HostError code, ClientId client) {
  constexpr std::string_view INVALID_ID_TEXT = "Erreur_ID_invalide:";
  std::array<char, 48> line{};
  char* end = line.data();
  if (code == ERROR_INVALID_CLIENT_ID) {
    end = std::copy(INVALID_ID_TEXT.begin(), INVALID_ID_TEXT.end(), end);
    end = std::to_chars(end, line.data() + line.size(), client).ptr;
  } else {
    end = std::to_chars(end, line.data() + line.size(), code).ptr;
  }
  logError(std::string_view(line.data(), static_cast<std::size_t>(end - line.data())));
}

}  // namespace

void placeLocalChannelAtOrigin() {
  const Host& host = pluginState.host;
  // One connection for the whole sequence: the callbacks may make another one current
  // meanwhile, and a channel asked on one must not be placed on another.
  const ServerConnectionId connection = pluginState.currentServerConnection.load();
  ClientId localClient = 0;
  if (host.getClientID(connection, &localClient) != 0) {
    logError("erreur getClientID");
    return;
  }
  ChannelId channel = 0;
  if (host.getChannelOfClient(connection, localClient, &channel) != 0) {
    logError("erreur getChannelOfClient");
    return;
  }
  ClientId* clients = nullptr;
  if (host.getChannelClientList(connection, channel, &clients) != 0) {
    logError("erreur getChannelClientList");
    return;
  }
  if (clients == nullptr) {
    return;  // success without a list: nobody to place, nothing to release
  }
  const std::uint32_t generation = infoBoard.panel().listGeneration;
  const Milliseconds now = pluginState.pacer->now();
  for (const ClientId* client = clients; *client != 0; ++client) {
    if (host.channelset3DAttributes(connection, *client, &ORIGIN) != 0) {
      logError("erreur Channelset3DAttributes");
    } else {
      infoBoard.notePlacement(*client, ORIGIN, RadioList::none, false, true, generation, now);
    }
  }
  host.freeMemory(clients);
}

void handle3D(std::string& frameText) {
  if (pluginState.connectionStatus.load() != STATUS_CONNECTION_ESTABLISHED) {
    return;
  }
  const Host& host = pluginState.host;
  const ServerConnectionId connection = pluginState.currentServerConnection.load();
  std::string_view frame = frameText;
  std::uint32_t placed = 0;
  const Milliseconds now = pluginState.pacer->now();
  const std::lock_guard lock(pluginState.stateLock);
  const std::uint32_t generation = infoBoard.beginListChange();
  {
    FrameList rcClients(pluginState.rcClients);
    FrameList rlClients(pluginState.rlClients);
    while (const auto record = readPositionRecord(frame)) {
      const HostError result =
          host.channelset3DAttributes(connection, record->clientId, &record->position);
      if (result == 0) {
        applyFlag(*record, rcClients, rlClients);
        // Voices, not records: a client placed twice in one frame counts once.
        if (infoBoard.notePlacement(record->clientId, record->position, radioListOf(record->flag),
                                    record->flag == RadioFlag::None, false, generation, now)) {
          ++placed;
        }
      } else {
        logRefusal(result, record->clientId);
      }
    }
  }
  // The lists as the frame left them, compacted, and still under stateLock.
  infoBoard.noteFrame(placed, pluginState.rcClients, pluginState.rlClients, now);
}

}  // namespace sorlinx
