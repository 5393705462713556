#include "commands/switch_player.h"

#include "clipboard/fields.h"
#include "shared/plugin_state.h"

namespace sorlinx {

void handleSwitchPlayer(std::string& argumentText) {
  if (pluginState.connectionStatus.load() != STATUS_CONNECTION_ESTABLISHED) {
    return;
  }
  const std::string clientField = takeField(argumentText);
  const std::string channelField = takeField(argumentText);
  // What is left is the password, commas and all.
  const std::optional<ClientId> client = readNumber<ClientId>(clientField);
  const std::optional<ChannelId> channel = readNumber<ChannelId>(channelField);
  if (!client || !channel) {
    // Guessing a number here would move some other client, or into some other channel.
    logError("erreur SwitchPlayer: nombre illisible");
    return;
  }
  if (pluginState.host.requestClientMove(pluginState.currentServerConnection.load(), *client,
                                         *channel, argumentText.c_str(), nullptr) != 0) {
    logError("erreur requestChannelMove");
  }
}

}  // namespace sorlinx
