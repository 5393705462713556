#include "clipboard/dispatcher.h"

#include <array>
#include <mutex>

#include "clipboard/clipboard_channel.h"
#include "commands/connect_to_server.h"
#include "commands/queries.h"
#include "commands/switch_player.h"
#include "plugin/plugin_state.h"
#include "positional/placement.h"

namespace sorlinx {

namespace {

using Handler = void (*)(std::string& argumentText);

struct Command {
  std::string_view name;
  Handler handler;  // null: the name is known but leads to nothing
};

// Tested in this order; the first equal name runs.
constexpr std::array COMMANDS{
    Command{"3D", handle3D},
    Command{"GetPlayerID", handleGetPlayerID},
    Command{"GetPlayerIDFromName", handleGetPlayerIDFromName},
    Command{"3DMUTE", handle3DMute},
    Command{"GetVersion", handleGetVersion},
    Command{"SwitchPlayer", handleSwitchPlayer},
    Command{"ConnectToServer", handleConnectToServer},
    Command{"GetCurrentChannelID", handleGetCurrentChannelID},
    // Reserved for a future query; until it has a handler it does what an unknown command does.
    Command{"GetChannelIDFromName", nullptr},
};

constexpr Vector3 ORIGIN{0.0F, 0.0F, 0.0F};

// Puts every client of the local player's channel, the local player included, at the origin.
void placeLocalChannelAtOrigin() {
  const Host& host = pluginState.host;
  ClientId localClient = 0;
  if (host.getClientID(pluginState.currentServerConnection.load(), &localClient) != 0) {
    logError("erreur getClientID");
    return;
  }
  ChannelId channel = 0;
  if (host.getChannelOfClient(pluginState.currentServerConnection.load(), localClient, &channel) !=
      0) {
    logError("erreur getChannelOfClient");
    return;
  }
  ClientId* clients = nullptr;
  if (host.getChannelClientList(pluginState.currentServerConnection.load(), channel, &clients) !=
      0) {
    logError("erreur getChannelClientList");
    return;
  }
  if (clients == nullptr) {
    return;  // success without a list: nobody to place, nothing to release
  }
  for (const ClientId* client = clients; *client != 0; ++client) {
    if (host.channelset3DAttributes(pluginState.currentServerConnection.load(), *client, &ORIGIN) !=
        0) {
      logError("erreur Channelset3DAttributes");
    }
  }
  host.freeMemory(clients);
}

}  // namespace

void dispatchRequest(std::string_view command, std::string& argumentText) {
  for (const Command& row : COMMANDS) {
    if (row.name == command) {
      if (row.handler != nullptr) {
        row.handler(argumentText);
      }
      return;
    }
  }
}

void checkStaleFrame(std::uint32_t& unchangedPasses, bool& requestSeen) {
  if (unchangedPasses < STALE_FRAME_PASSES) {
    return;
  }
  if (!requestSeen) {
    unchangedPasses = STALE_FRAME_PASSES;  // nothing to reset; keep the counter from growing
    return;
  }
  if (pluginState.connectionStatus.load() != STATUS_CONNECTION_ESTABLISHED) {
    return;  // wait for the connection; the counter goes on past the threshold
  }
  unchangedPasses = 0;
  requestSeen = false;
  {
    const std::lock_guard lock(pluginState.stateLock);
    pluginState.rcClients.clear();
    pluginState.rlClients.clear();
  }
  placeLocalChannelAtOrigin();
}

void handle3DMute(std::string& argumentText) { pluginState.mute3D.store(argumentText == "ON"); }

void handleGetVersion(std::string& /*argumentText*/) { writeClipboardText(VERSION_TEXT); }

}  // namespace sorlinx
