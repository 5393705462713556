#include "plugin/exports.h"

#include <system_error>

#include "plugin/lifecycle.h"
#include "plugin/workers.h"
#include "shared/plugin_state.h"

using sorlinx::pluginState;

namespace {

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

const char* ts3plugin_author() { return "The sorlinx developers"; }

const char* ts3plugin_description() {
  return "TeamSpeak 3 plugin for Ostrel.\nhttps://sorlinx.example.org";
}

int ts3plugin_init() {
  // Without the table there is nothing to call, not even the log: stay unstarted.
  if (pluginState.running.load() || !pluginState.hostReceived.load()) {
    return 0;
  }
  try {
    sorlinx::prepareStart();
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
    sorlinx::finishStop();
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
