#include "support/plugin_fixture.h"

#include <mutex>

namespace sorlinx::testing {

void resetPluginState() {
  ts3plugin_shutdown();
  pluginState.pacer = &pluginState.steadyPacer;
  pluginState.hostFunctions = HostFunctions{};
  pluginState.hostFunctionsReceived.store(false);
  pluginState.currentServerConnection.store(0);
  pluginState.connectionStatus.store(STATUS_DISCONNECTED);
  pluginState.stopRequested.clear();
  pluginState.mute3D.store(false);
  const std::lock_guard lock(pluginState.stateLock);
  pluginState.rcClients.clear();
  pluginState.rlClients.clear();
}

PluginTest::PluginTest() {
  resetPluginState();
  memory_clipboard::reset();
  host.setLocalClient(5);
  host.addClient(5, 40, "me");
  host.addClient(8, 40, "mate");
  host.addClient(9, 41, "far");
  installHost();
  pluginState.pacer = &pacer;
  pluginState.currentServerConnection.store(1);
  setConnected(true);
}

PluginTest::~PluginTest() { resetPluginState(); }

void PluginTest::installHost() { ts3plugin_setFunctionPointers(host.table()); }

void PluginTest::setConnected(bool connected) {
  pluginState.connectionStatus.store(connected ? STATUS_CONNECTION_ESTABLISHED
                                               : STATUS_DISCONNECTED);
}

void PluginTest::passWith(std::string_view text) {
  memory_clipboard::setText(text);
  clipboardPass(channel);
}

void PluginTest::passes(int count) {
  for (int i = 0; i < count; ++i) {
    clipboardPass(channel);
  }
}

}  // namespace sorlinx::testing
