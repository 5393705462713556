#include "commands/queries.h"

#include <cstring>
#include <optional>

#include "clipboard/clipboard_channel.h"
#include "shared/plugin_state.h"

namespace sorlinx {

namespace {

// The answer to every failed query, and to a name that nobody in the channel bears.
constexpr const char* FAILED_ANSWER = "-1";

// Memory that the voice client handed out, given back through its freeMemory exactly once
// when the scope ends, whichever way the scope is left.
class HostMemory {
 public:
  explicit HostMemory(void* pointer) noexcept : pointer_(pointer) {}
  HostMemory(const HostMemory&) = delete;
  HostMemory& operator=(const HostMemory&) = delete;
  ~HostMemory() {
    if (pointer_ != nullptr) {
      pluginState.host.freeMemory(pointer_);
    }
  }

 private:
  void* pointer_;
};

bool connected() { return pluginState.connectionStatus.load() == STATUS_CONNECTION_ESTABLISHED; }

// Makes the number, in plain decimal, or "-1" the whole clipboard text.
template <typename Number>
void answer(const std::optional<Number>& value) {
  writeClipboardText(value ? std::to_string(static_cast<std::uint64_t>(*value)) : FAILED_ANSWER);
}

// Each query reads the current connection once and asks every question of it: the
// callbacks may make another connection current meanwhile, and a channel learnt on one must
// not be searched on another.
std::optional<ClientId> askLocalClient(ServerConnectionId connection) {
  ClientId client = 0;
  if (pluginState.host.getClientID(connection, &client) != 0) {
    logError("erreur getClientID");
    return std::nullopt;
  }
  return client;
}

std::optional<ChannelId> askLocalChannel(ServerConnectionId connection) {
  const std::optional<ClientId> client = askLocalClient(connection);
  if (!client) {
    return std::nullopt;
  }
  ChannelId channel = 0;
  if (pluginState.host.getChannelOfClient(connection, *client, &channel) != 0) {
    logError("erreur getChannelOfClient");
    return std::nullopt;
  }
  return channel;
}

// The last client of the channel, in the voice client's order, whose nickname equals
// `nickname` byte for byte. Nothing when none does, when the list cannot be had (logged),
// or when any nickname cannot be read: a half-read list cannot say who is the last match.
std::optional<ClientId> findByNickname(ServerConnectionId connection, ChannelId channel,
                                       const char* nickname) {
  const Host& host = pluginState.host;
  ClientId* clients = nullptr;
  if (host.getChannelClientList(connection, channel, &clients) != 0) {
    logError("erreur getChannelClientList");
    return std::nullopt;
  }
  const HostMemory listMemory(clients);
  std::optional<ClientId> found;
  for (const ClientId* client = clients; client != nullptr && *client != 0; ++client) {
    char* name = nullptr;
    if (host.getClientVariableAsString(connection, *client, CLIENT_PROPERTY_NICKNAME, &name) != 0) {
      return std::nullopt;
    }
    const HostMemory nameMemory(name);
    if (name != nullptr && std::strcmp(nickname, name) == 0) {
      found = *client;
    }
  }
  return found;
}

}  // namespace

void handleGetPlayerID(std::string& /*argumentText*/) {
  if (!connected()) {
    return;
  }
  answer(askLocalClient(pluginState.currentServerConnection.load()));
}

void handleGetCurrentChannelID(std::string& /*argumentText*/) {
  if (!connected()) {
    return;
  }
  answer(askLocalChannel(pluginState.currentServerConnection.load()));
}

void handleGetPlayerIDFromName(std::string& argumentText) {
  if (!connected()) {
    return;
  }
  const ServerConnectionId connection = pluginState.currentServerConnection.load();
  const std::optional<ChannelId> channel = askLocalChannel(connection);
  // The clipboard text ends at its first zero byte, so the argument holds none and compares
  // as a C string exactly as it stands.
  const std::optional<ClientId> client =
      channel ? findByNickname(connection, *channel, argumentText.c_str()) : std::nullopt;
  answer(client);
}

}  // namespace sorlinx
