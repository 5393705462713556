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

std::optional<ClientId> askLocalClient() {
  ClientId client = 0;
  if (pluginState.host.getClientID(pluginState.currentServerConnection.load(), &client) != 0) {
    logError("erreur getClientID");
    return std::nullopt;
  }
  return client;
}

std::optional<ChannelId> askLocalChannel() {
  const std::optional<ClientId> client = askLocalClient();
  if (!client) {
    return std::nullopt;
  }
  ChannelId channel = 0;
  if (pluginState.host.getChannelOfClient(pluginState.currentServerConnection.load(), *client,
                                          &channel) != 0) {
    logError("erreur getChannelOfClient");
    return std::nullopt;
  }
  return channel;
}

// The last client of the channel, in the voice client's order, whose nickname equals
// `nickname` byte for byte. Nothing when none does, when the list cannot be had (logged),
// or when any nickname cannot be read: a half-read list cannot say who is the last match.
std::optional<ClientId> findByNickname(ChannelId channel, const char* nickname) {
  const Host& host = pluginState.host;
  ClientId* clients = nullptr;
  if (host.getChannelClientList(pluginState.currentServerConnection.load(), channel, &clients) !=
      0) {
    logError("erreur getChannelClientList");
    return std::nullopt;
  }
  const HostMemory listMemory(clients);
  std::optional<ClientId> found;
  for (const ClientId* client = clients; client != nullptr && *client != 0; ++client) {
    char* name = nullptr;
    if (host.getClientVariableAsString(pluginState.currentServerConnection.load(), *client,
                                       CLIENT_PROPERTY_NICKNAME, &name) != 0) {
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
  answer(askLocalClient());
}

void handleGetCurrentChannelID(std::string& /*argumentText*/) {
  if (!connected()) {
    return;
  }
  answer(askLocalChannel());
}

void handleGetPlayerIDFromName(std::string& argumentText) {
  if (!connected()) {
    return;
  }
  const std::optional<ChannelId> channel = askLocalChannel();
  // The clipboard text ends at its first zero byte, so the argument holds none and compares
  // as a C string exactly as it stands.
  const std::optional<ClientId> client =
      channel ? findByNickname(*channel, argumentText.c_str()) : std::nullopt;
  answer(client);
}

}  // namespace sorlinx
