#include "commands/connect_to_server.h"

#include "clipboard/fields.h"
#include "shared/plugin_state.h"

namespace sorlinx {

namespace {

constexpr const char* QUIT_MESSAGE = "ConnectToServer";
constexpr const char* DEFAULT_NICKNAME = "TS3 User";
constexpr std::int32_t MIN_PORT = 1;
constexpr std::int32_t MAX_PORT = 65535;

enum class WaitEnd { disconnected, timedOut, stopping };

// Waits for the voice client to report the status "disconnected" through its callback.
// Every look reads the status afresh, since the callback writes it on another thread.
WaitEnd waitForDisconnection() {
  Pacer& pacer = *pluginState.pacer;
  const Milliseconds start = pacer.now();
  while (pluginState.connectionStatus.load() != STATUS_DISCONNECTED) {
    if (pacer.now() - start >= DISCONNECT_WAIT_LIMIT) {
      return WaitEnd::timedOut;
    }
    if (!pacer.pause(DISCONNECT_POLL_PAUSE)) {
      return WaitEnd::stopping;
    }
  }
  return WaitEnd::disconnected;
}

}  // namespace

void handleConnectToServer(std::string& argumentText) {
  const std::string address = takeField(argumentText);
  const std::string portField = takeField(argumentText);
  const std::string serverPassword = takeField(argumentText);
  // What is left is the nickname, commas and all.
  const char* const nickname = argumentText.empty() ? DEFAULT_NICKNAME : argumentText.c_str();

  // Every refusal comes before anything is stopped: leaving the server for a connection that
  // cannot be made would strand the user.
  const std::optional<std::int32_t> port = readNumber<std::int32_t>(portField);
  if (!port) {
    logError("erreur ConnectToServer: port illisible");
    return;
  }
  if (*port < MIN_PORT || *port > MAX_PORT) {
    // No server listens there: the voice client would fail the connection after the
    // plugin had left the player's server.
    logError("erreur ConnectToServer: port hors limites");
    return;
  }
  const char* const identity = pluginState.identityBuffer;
  if (identity == nullptr || identity[0] == '\0') {
    logError("erreur ConnectToServer: aucune identite");
    return;
  }

  // The connection the player asked to move is the one current now: the new server replaces
  // the old one on it, even if another tab's status change makes another current during
  // the wait.
  const ServerConnectionId connection = pluginState.currentServerConnection.load();
  const Host& host = pluginState.host;
  if (pluginState.connectionStatus.load() == STATUS_CONNECTION_ESTABLISHED &&
      host.stopConnection(connection, QUIT_MESSAGE) != 0) {
    logError("erreur stopConnection");
    return;
  }
  switch (waitForDisconnection()) {
    case WaitEnd::disconnected:
      break;
    case WaitEnd::timedOut:
      logError("erreur ConnectToServer: deconnexion non confirmee");
      return;
    case WaitEnd::stopping:
      logError("erreur ConnectToServer: arret du plugin pendant l'attente");
      return;
  }
  if (host.startConnection(connection, identity, address.c_str(), *port, nickname, "",
                           serverPassword.c_str()) != 0) {
    logError("erreur startConnection");
  }
}

}  // namespace sorlinx
