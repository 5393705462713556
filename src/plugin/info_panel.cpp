#include "plugin/info_panel.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "clipboard/command_names.h"
#include "shared/plugin_state.h"

namespace sorlinx {

const char* const INFO_PANEL_TITLE = "Ostrel Plugin";

namespace {

std::string number(float value) {
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

// A text from elsewhere (a nickname) as the panel shows it: with its brackets turned
// round, so that it can never open a BBCode tag of its own.
std::string plain(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (c == '[') {
      c = '(';
    } else if (c == ']') {
      c = ')';
    }
  }
  return shown;
}

std::string ago(std::int64_t at, Milliseconds now) {
  return formatAge(now - Milliseconds(at)) + " ago";
}

// "Bo (7)", or "7" when the voice client cannot name the client or it has no name.
std::string clientName(ServerConnectionId connection, ClientId client) {
  const Host& host = pluginState.host;
  std::string name = std::to_string(client);
  char* nickname = nullptr;
  if (host.getClientVariableAsString != nullptr &&
      host.getClientVariableAsString(connection, client, CLIENT_PROPERTY_NICKNAME, &nickname) ==
          0 &&
      nickname != nullptr && nickname[0] != '\0') {
    name = plain(nickname) + " (" + name + ")";
  }
  if (nickname != nullptr) {
    host.freeMemory(nickname);
  }
  return name;
}

std::string listText(ServerConnectionId connection,
                     const std::array<ClientId, PANEL_LIST_SHOWN>& shown, std::uint32_t count) {
  if (count == 0) {
    return "nobody";
  }
  std::string text;
  const std::size_t named = std::min<std::size_t>(count, shown.size());
  for (std::size_t i = 0; i < named; ++i) {
    text += (i == 0 ? "" : ", ") + clientName(connection, shown[i]);
  }
  if (count > named) {
    text += " and " + std::to_string(count - named) + " more";
  }
  return text;
}

std::string commandText(std::uint8_t command) {
  if (command == PANEL_UNKNOWN_COMMAND || command > COMMAND_NAMES.size()) {
    return "a command the plugin does not know";
  }
  return std::string(COMMAND_NAMES[command - 1U].name);
}

// What the server and the local client show: the plugin's side of the game.
std::string gameText(ServerConnectionId connection, Milliseconds now) {
  const PanelState panel = infoBoard.panel();
  std::string text;
  if (connection != pluginState.currentServerConnection.load()) {
    text += "[i]The game's requests act on another server tab.[/i]\n";
  }
  if (panel.requests == 0) {
    text += "No request from the game since the plugin started.\n";
  } else {
    text += "[b]Game:[/b] last request " + ago(panel.lastRequestAt, now) + " (" +
            commandText(panel.lastCommand) + "), " + std::to_string(panel.requests) +
            (panel.requests == 1 ? " request" : " requests") + " since the plugin started\n";
  }
  if (panel.frames != 0) {
    text += "[b]Last frame:[/b] " + std::to_string(panel.placed) +
            (panel.placed == 1 ? " voice" : " voices") + " placed, " + ago(panel.frameAt, now) +
            "\n";
  }
  text += "[b]Radio RC:[/b] " + listText(connection, panel.rc, panel.rcCount) + "; [b]RL:[/b] " +
          listText(connection, panel.rl, panel.rlCount) + "\n";
  text +=
      "[b]Stale-frame reset:[/b] " +
      (panel.resets == 0 ? std::string("none since the plugin started") : ago(panel.resetAt, now)) +
      "\n";
  const FailureState failure = infoBoard.failure();
  text += "[b]Last failure:[/b] " +
          (failure.failures == 0 ? std::string("none")
                                 : plain(failure.line.data()) + " (" + ago(failure.at, now) + ")");
  return text;
}

// What another client shows: where the game last placed it.
std::string clientText(ClientId client, Milliseconds now) {
  const PanelState panel = infoBoard.panel();
  const ClientSpot spot = infoBoard.spot(client);
  if (!InfoBoard::placedThisRun(spot, panel)) {
    return "Not placed by the game since the plugin started.";
  }
  std::string text;
  if (spot.byReset) {
    text = "[b]At the origin:[/b] put back by the stale-frame reset " + ago(spot.at, now);
  } else {
    text = "[b]Placed by the game[/b] " + ago(spot.at, now) + " at x " + number(spot.position.x) +
           ", y " + number(spot.position.y) + ", z " + number(spot.position.z) +
           " (y is the height)";
  }
  // The radio is the client's only while the lists are as the placement left them.
  const RadioList radio = spot.generation == panel.listGeneration ? spot.radio : RadioList::none;
  text += "\n[b]Radio:[/b] ";
  text += radio == RadioList::rc   ? "on the RC list"
          : radio == RadioList::rl ? "on the RL list"
                                   : "on neither list";
  return text;
}

bool isLocalClient(ServerConnectionId connection, ClientId client) {
  const Host& host = pluginState.host;
  ClientId local = 0;
  if (host.getClientID == nullptr || host.getClientID(connection, &local) != 0 || local != client) {
    return false;
  }
  // Its section is on show now: the clipboard worker refreshes it with the server's.
  infoBoard.noteLocalClientShown(client);
  return true;
}

}  // namespace

std::string formatAge(Milliseconds age) {
  const long long milliseconds = std::max<long long>(age.count(), 0);
  const long long seconds = milliseconds / 1000;
  if (seconds < 10) {
    return std::to_string(seconds) + "." + std::to_string(milliseconds % 1000 / 100) + " s";
  }
  if (seconds < 60) {
    return std::to_string(seconds) + " s";
  }
  if (seconds < 3600) {
    return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
  }
  return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) + " min";
}

char* infoPanelText(ServerConnectionId connection, std::uint64_t id, int type) noexcept {
  try {
    const Milliseconds now = pluginState.pacer->now();
    std::string text;
    const auto client = static_cast<ClientId>(id & 0xFFFFU);
    if (type == INFO_ITEM_SERVER ||
        (type == INFO_ITEM_CLIENT && isLocalClient(connection, client))) {
      text = gameText(connection, now);
    } else if (type == INFO_ITEM_CLIENT) {
      text = clientText(client, now);
    } else {
      return nullptr;
    }
    // Its own block, from the C heap: ts3plugin_freeMemory gives it back there.
    auto* block = static_cast<char*>(std::malloc(text.size() + 1));
    if (block != nullptr) {
      std::memcpy(block, text.c_str(), text.size() + 1);
    }
    return block;
  } catch (...) {
    return nullptr;  // out of memory: the panel shows nothing of the plugin this time
  }
}

void freeInfoPanelText(void* text) noexcept { std::free(text); }

void refreshInfoPanel(PanelRefresh& refresh) {
  const Host& host = pluginState.host;
  if (host.requestInfoUpdate == nullptr) {
    return;
  }
  const std::uint32_t requests = infoBoard.panel().requests;
  if (requests == refresh.requestsShown) {
    return;  // the game is silent: the panel has shown all there is
  }
  const Milliseconds now = pluginState.pacer->now();
  if (refresh.asked && now - Milliseconds(refresh.askedAt) < INFO_REFRESH_PERIOD) {
    return;  // owed: asked for on a later pass
  }
  refresh.requestsShown = requests;
  refresh.askedAt = now.count();
  refresh.asked = true;
  // A server's ID in the panel is its connection. The own client's section can be on show
  // only once the panel has shown it, and then the plugin knows its ID without asking.
  const ServerConnectionId connection = pluginState.currentServerConnection.load();
  host.requestInfoUpdate(connection, INFO_ITEM_SERVER, connection);
  if (const ClientId local = infoBoard.localClientShown(); local != 0) {
    host.requestInfoUpdate(connection, INFO_ITEM_CLIENT, local);
  }
}

}  // namespace sorlinx
