#include "plugin/dispatcher.h"

#include <mutex>

#include "clipboard/clipboard_channel.h"
#include "clipboard/command_names.h"
#include "commands/connect_to_server.h"
#include "commands/queries.h"
#include "commands/switch_player.h"
#include "positional/placement.h"
#include "shared/info_board.h"
#include "shared/plugin_state.h"

namespace sorlinx {

namespace {

using Handler = void (*)(std::string& argumentText);

// The handler of each command the plugin knows; null: the name is known but leads to
// nothing. No default: a command added to the list without a handler does not build.
Handler handlerOf(Command command) {
  switch (command) {
    case Command::position3D:
      return handle3D;
    case Command::getPlayerID:
      return handleGetPlayerID;
    case Command::getPlayerIDFromName:
      return handleGetPlayerIDFromName;
    case Command::mute3D:
      return handle3DMute;
    case Command::getVersion:
      return handleGetVersion;
    case Command::switchPlayer:
      return handleSwitchPlayer;
    case Command::connectToServer:
      return handleConnectToServer;
    case Command::getCurrentChannelID:
      return handleGetCurrentChannelID;
    case Command::getChannelIDFromName:
      // Reserved for a future query; until it has a handler it does what an unknown command
      // does.
      return nullptr;
  }
  return nullptr;
}

}  // namespace

void dispatchRequest(std::string_view command, std::string& argumentText) {
  if (const std::optional<Command> known = commandNamed(command)) {
    if (const Handler handler = handlerOf(*known)) {
      handler(argumentText);
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
  if (unchangedPasses == STALE_FRAME_PASSES) {
    // The game has gone quiet: the radio stops now, connected or not. With the connection
    // lost, frames are ignored, and nothing else would ever empty the lists: the static
    // would play until the player is connected again.
    {
      const std::lock_guard lock(pluginState.stateLock);
      pluginState.rcClients.clear();
      pluginState.rlClients.clear();
    }
    infoBoard.noteReset(pluginState.pacer->now());
  }
  if (pluginState.connectionStatus.load() != STATUS_CONNECTION_ESTABLISHED) {
    return;  // wait for the connection; the counter goes on past the threshold
  }
  unchangedPasses = 0;
  requestSeen = false;
  placeLocalChannelAtOrigin();
}

void handle3DMute(std::string& argumentText) { pluginState.mute3D.store(argumentText == "ON"); }

void handleGetVersion(std::string& /*argumentText*/) { writeClipboardText(VERSION_TEXT); }

}  // namespace sorlinx
