#include "plugin/exports.h"

#include <new>
#include <system_error>

#include "clipboard/clipboard_channel.h"
#include "commands/client_identity.h"
#include "plugin/plugin_state.h"
#include "positional/sound_cues.h"

using sorlinx::pluginState;

namespace {

constexpr int API_VERSION = 4;

// Starts one worker. A thread that cannot be started leaves its handle empty, and
// shutdown then skips it.
template <typename Entry>
void startWorker(std::thread& handle, Entry entry, const char* failureText) noexcept {
  try {
    handle = std::thread(entry, nullptr);
  } catch (const std::system_error&) {
    sorlinx::logError(failureText);
  }
}

void joinWorker(std::thread& handle) {
  if (handle.joinable()) {
    handle.join();
  }
}

}  // namespace

extern "C" {

const char* ts3plugin_name() { return "Ostrel Plugin"; }

const char* ts3plugin_version() { return sorlinx::VERSION_TEXT; }

int ts3plugin_apiVersion() { return API_VERSION; }

const char* ts3plugin_author() { return "The sorlinx developers"; }

const char* ts3plugin_description() {
  return "TeamSpeak 3 plugin for Ostrel.\nhttps://sorlinx.example.org";
}

void ts3plugin_setFunctionPointers(const sorlinx::HostFunctions functions) {
  // Replacing the table under running workers would race with their calls through it.
  if (pluginState.running.load()) {
    return;
  }
  pluginState.hostFunctions = functions;
  pluginState.hostFunctionsReceived.store(true);
}

int ts3plugin_init() {
  // Without the table there is nothing to call, not even the log: stay unstarted.
  if (pluginState.running.load() || !pluginState.hostFunctionsReceived.load()) {
    return 0;
  }
  try {
    const sorlinx::HostFunctions& host = pluginState.hostFunctions;

    // Zeroed, so that it holds a defined empty text until an identity is read into it.
    pluginState.identityBuffer = new (std::nothrow) char[sorlinx::PATH_BUFFER_SIZE]{};
    // Before the workers start, so that they see the identity complete without a lock.
    sorlinx::readClientIdentity();

    pluginState.currentServerConnection.store(host.getCurrentServerConnectionHandlerID());
    pluginState.connectionStatus.store(sorlinx::STATUS_DISCONNECTED);
    std::int32_t status = sorlinx::STATUS_DISCONNECTED;
    if (host.getConnectionStatus(pluginState.currentServerConnection.load(), &status) == 0) {
      pluginState.connectionStatus.store(status);
    }

    pluginState.stopRequested.clear();
    startWorker(pluginState.clipboardThreadHandle, sorlinx::clipboardThread,
                "erreur clipboardThread");
    startWorker(pluginState.soundCueThreadHandle, sorlinx::soundCueThread, "erreur soundCueThread");
    pluginState.running.store(true);
  } catch (...) {
    sorlinx::logError("erreur ts3plugin_init");
  }
  return 0;
}

void ts3plugin_shutdown() {
  try {
    pluginState.stopRequested.set();
    joinWorker(pluginState.clipboardThreadHandle);
    joinWorker(pluginState.soundCueThreadHandle);
    if (pluginState.identityBuffer != nullptr) {
      // It held the user's private identity: leave nothing of it behind in freed memory.
      sorlinx::secureZero(pluginState.identityBuffer, sorlinx::PATH_BUFFER_SIZE);
      delete[] pluginState.identityBuffer;
      pluginState.identityBuffer = nullptr;
    }
    pluginState.running.store(false);
  } catch (...) {
    sorlinx::logError("erreur ts3plugin_shutdown");
  }
}

void ts3plugin_onConnectStatusChangeEvent(std::uint64_t serverConnection, int newStatus,
                                          unsigned int /*errorNumber*/) {
  pluginState.currentServerConnection.store(serverConnection);
  pluginState.connectionStatus.store(newStatus);
}

void ts3plugin_currentServerConnectionChanged(std::uint64_t serverConnection) {
  pluginState.currentServerConnection.store(serverConnection);
}

}  // extern "C"
