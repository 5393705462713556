#include "plugin/dispatcher.h"

#include <array>
#include <mutex>

#include "clipboard/clipboard_channel.h"
#include "commands/connect_to_server.h"
#include "commands/queries.h"
#include "commands/switch_player.h"
#include "positional/placement.h"
#include "shared/plugin_state.h"

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
