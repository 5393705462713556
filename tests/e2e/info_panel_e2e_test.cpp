// End to end: the shipped DLL's section of the voice client's info panel, on wine's
// clipboard, with the DLL's heap logged through its imports. Interface 4's voice clients
// have no info panel, and its DLLs export none of it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plugin_dll.h"

namespace sorlinx::e2e {
namespace {

TEST_F(PluginDllTest, TheInfoPanelFollowsTheGameOnlyInInterface26) {
  for (const char* name : {"ts3plugin_infoTitle", "ts3plugin_infoData", "ts3plugin_freeMemory"}) {
    EXPECT_EQ(GetProcAddress(module, name) != nullptr, INTERFACE == 26) << name;
  }
  if constexpr (INTERFACE == 26) {
    start();
    testing::checkThePanelFollowsTheGame(panel, host,
                                         [](const std::string& text) { putText(text); });
  }
}

TEST_F(PluginDllTest, TheInfoPanelAnswersWhileAConnectionIsAwaited) {
  if constexpr (INTERFACE != 26) {
    GTEST_SKIP() << "interface 4 has no info panel";
  } else {
    const ConfigFolder folder("identity=7Vsecret\r\n");
    host.setConfigPath(folder.utf8Path());
    start();
    testing::checkThePanelAnswersDuringAConnectionsWait(
        panel, [](const std::string& text) { putText(text); },
        [this](int status) { dll.onConnectStatusChangeEvent(1, status, 0); });
  }
}

}  // namespace
}  // namespace sorlinx::e2e
