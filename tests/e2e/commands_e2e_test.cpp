// End to end: init and ConnectToServer in the shipped DLL through the real clipboard, the
// identity read from a secrets file of the test's own: a path beyond ASCII, a file the voice
// client keeps open for writing (queries and SwitchPlayer are the unit tests' business). Then
// the info panel, the DLL's heap logged through its imports: its blocks must come from and go
// back to its own C runtime's heap. Interface 4 has no panel (scripts/check-dll.sh).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "plugin_dll.h"

namespace sorlinx::e2e {
namespace {

using ::testing::ElementsAre;

// A connection and a channel wider than 32 bits cross the DLL's calling conventions both
// ways: handed to it, through its callback, and read back and written out whole in a reply.
TEST_F(PluginDllTest, InitAndConnectToServerUnderTheFilesIdentityOnAWideConnection) {
  constexpr auto CONNECTION = 0x1'0000'0007ULL;
  EXPECT_EQ(dll.apiVersion(), INTERFACE);
  const ConfigFolder folder("[General]\r\nidentity=\"17Vsecret+/=\" \r\nother=1\r\n");
  host.setConfigPath(folder.utf8Path());
  host.setConnection(CONNECTION, 4);
  host.addClient(5, 0x1'0000'0028ULL, "me");
  std::jthread voiceClient;
  host.setHook("stopConnection", [this, &voiceClient] {
    // The voice client reports the disconnection later, from a thread of its own.
    voiceClient = std::jthread([this] {
      Sleep(100);
      dll.onConnectStatusChangeEvent(CONNECTION, 0, 0);
    });
  });
  start();
  EXPECT_THAT(host.transcript(),
              ElementsAre("getConfigPath(1000)", "getCurrentServerConnectionHandlerID()",
                          "getConnectionStatus(4294967303)"));
  putText(request("GetCurrentChannelID"));
  EXPECT_TRUE(eventually([] { return clipboardText() == "4294967336"; }));
  host.clearCalls();
  putText(request("ConnectToServer", "voice.example,9987,pw,"));
  ASSERT_TRUE(eventually([this] { return !host.callsTo("startConnection").empty(); }));
  EXPECT_THAT(host.transcript(),
              ElementsAre(R"(stopConnection(4294967303,"ConnectToServer"))",
                          R"(startConnection(4294967303,""17Vsecret+/=" ","voice.example",9987,)"
                          R"("TS3 User",null,"","pw"))"));
  EXPECT_THAT(host.logLines(), ::testing::IsEmpty());
  EXPECT_EQ(clipboardText(), request("ConnectToServer", "voice.example,9987,pw,"));
}

TEST_F(PluginDllTest, TheInfoPanelFollowsTheGame) {
  if (INTERFACE != 26) {
    GTEST_SKIP() << "interface 4 has no info panel";
  }
  start();
  testing::checkThePanelFollowsTheGame(panel, host, putText);
}

}  // namespace
}  // namespace sorlinx::e2e
