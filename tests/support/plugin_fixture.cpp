#include "support/plugin_fixture.h"

#include <mutex>

namespace sorlinx::testing {

std::string request(std::string_view command, std::string_view arguments) {
  return requestText(command, arguments);
}

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
