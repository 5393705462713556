#include "positional/placement.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <mutex>
#include <string_view>
#include <vector>

#include "plugin/plugin_state.h"
#include "positional/position_frame.h"

namespace sorlinx {

namespace {

void addClient(std::vector<ClientId>& list, ClientId client) {
  if (std::find(list.begin(), list.end(), client) == list.end()) {
    list.push_back(client);
  }
}

void removeClient(std::vector<ClientId>& list, ClientId client) {
  const auto found = std::find(list.begin(), list.end(), client);
  if (found != list.end()) {
    list.erase(found);
  }
}

// Called with stateLock held.
void applyFlag(const PositionRecord& record) {
  std::vector<ClientId>& rcClients = pluginState.rcClients;
  std::vector<ClientId>& rlClients = pluginState.rlClients;
  switch (record.flag) {
    case RadioFlag::RC:
      addClient(rcClients, record.clientId);
      removeClient(rlClients, record.clientId);
      break;
    case RadioFlag::RL:
      addClient(rlClients, record.clientId);
      removeClient(rcClients, record.clientId);
      break;
    case RadioFlag::CD:
      removeClient(rcClients, record.clientId);
      removeClient(rlClients, record.clientId);
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

void handle3D(std::string& frameText) {
  if (pluginState.connectionStatus.load() != STATUS_CONNECTION_ESTABLISHED) {
    return;
  }
  const HostFunctions& host = pluginState.hostFunctions;
  std::string_view frame = frameText;
  const std::lock_guard lock(pluginState.stateLock);
  pluginState.rcClients.clear();
  pluginState.rlClients.clear();
  while (const auto record = readPositionRecord(frame)) {
    const HostError result = host.channelset3DAttributes(
        pluginState.currentServerConnection.load(), record->clientId, &record->position, nullptr);
    if (result == 0) {
      applyFlag(*record);
    } else {
      logRefusal(result, record->clientId);
    }
  }
}

}  // namespace sorlinx
