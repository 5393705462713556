#include "support/plugin_fixture.h"

#include <memory>
#include <mutex>
#include <optional>

#include "clipboard/clipboard.h"
#include "interfaces/interface26.h"
#include "interfaces/interface4.h"
#include "positional/sound_cues.h"
#include "shared/info_board.h"

namespace sorlinx::testing {

void resetPluginState() {
  ts3plugin_shutdown();
  pluginState.pacer = &pluginState.steadyPacer;
  pluginState.host = Host{};
  pluginState.hostReceived.store(false);
  interface26::registerPluginID("");
  pluginState.currentServerConnection.store(0);
  pluginState.connectionStatus.store(STATUS_DISCONNECTED);
  pluginState.stopRequested.clear();
  pluginState.mute3D.store(false);
  setLists({}, {});
  infoBoard.startRun({}, {});
}

PluginTest::PluginTest() {
  resetPluginState();
  memory_clipboard::reset();
  host.setLocalClient(5);
  host.addClient(5, 40, "me");
  host.addClient(8, 40, "mate");
  host.addClient(9, 41, "far");
  host.setPluginPath(std::string(TEST_PLUGIN_FOLDER));
  installHost();
  pluginState.pacer = &pacer;
  pluginState.currentServerConnection.store(1);
  setConnected(true);
}

PluginTest::~PluginTest() { resetPluginState(); }

void PluginTest::installHost(bool withInfoPanel) {
  if (GetParam() == 4) {
    interface4::setFunctionPointers(host.table4());
  } else {
    interface26::SharedTable table = GetParam() == 19 ? interface26::sharedSlots(host.table19())
                                                      : interface26::sharedSlots(host.table26());
    if (!withInfoPanel) {
      table.requestInfoUpdate = nullptr;
    }
    interface26::setFunctionPointers(GetParam(), table);
    if (GetParam() == 26) {
      interface26::registerPluginID(TEST_PLUGIN_ID);
    }
  }
}

std::string PluginTest::moveEntry() const {
  return GetParam() == 4 ? "requestChannelMove" : "requestClientMove";
}

std::string PluginTest::placement(std::string_view arguments) const {
  // Interface 4's entry has a fourth, reserved argument, always null.
  return "channelset3DAttributes(" + std::string(arguments) + (GetParam() == 4 ? ",null)" : ")");
}

std::string PluginTest::cueFile(std::string_view name) const {
  if (GetParam() == 4) {
    // Beside rc.wav, in the relative form of the platform built for.
    const std::string_view rc(SON_RC);
    return std::string(rc.substr(0, rc.size() - std::string_view("rc.wav").size())) +
           std::string(name);
  }
  return std::string(TEST_PLUGIN_FOLDER) + R"(\sorlinx\)" + std::string(name);
}

std::string interfaceName(const ::testing::TestParamInfo<int>& info) {
  return "Interface" + std::to_string(info.param);
}

void PluginTest::setConnected(bool connected) {
  pluginState.connectionStatus.store(connected ? STATUS_CONNECTION_ESTABLISHED
                                               : STATUS_DISCONNECTED);
}

void PluginTest::passWith(std::string_view text) {
  memory_clipboard::setText(text);
  clipboardPass(channel);
}

void setLists(std::vector<ClientId> rc, std::vector<ClientId> rl) {
  const std::lock_guard lock(pluginState.stateLock);
  pluginState.rcClients = std::move(rc);
  pluginState.rlClients = std::move(rl);
}

Lists lists() {
  const std::lock_guard lock(pluginState.stateLock);
  return {pluginState.rcClients, pluginState.rlClients};
}

void PluginTest::expectHostRulesKept() const {
  EXPECT_EQ(host.outstandingAllocations(), 0);
  EXPECT_EQ(host.badFrees(), 0);
  EXPECT_EQ(host.conventionBreaks(), 0);
}

void PluginTest::passes(int count) {
  for (int i = 0; i < count; ++i) {
    clipboardPass(channel);
  }
}

void PluginTest::runWorker(Milliseconds end, bool notices) {
  const std::unique_ptr<ChangeNotices> listening =
      notices ? clipboard::listenForChanges() : nullptr;
  std::optional<PassKind> kind = PassKind::regular;
  // A pass per virtual millisecond at most: more means that notices feed themselves.
  for (auto left = end.count() - pacer.now().count() + 2; kind && pacer.now() < end; --left) {
    ASSERT_GT(left, 0) << "clipboard passes without end at " << pacer.now().count() << " ms";
    passLog.push_back({pacer.now(), *kind});
    kind = clipboardTurn(channel, *kind, listening.get());
  }
}

}  // namespace sorlinx::testing
