// End to end: the client and server commands of the shipped DLL, driven through the real
// clipboard, with the identity read from a secrets file in a configuration folder of the
// test's own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "plugin_dll.h"

namespace sorlinx::e2e {
namespace {

using ::testing::ElementsAre;

// Puts a request on the clipboard and waits for the clipboard to read `answer`.
bool answers(const std::string& command, const std::string& arguments, const std::string& answer) {
  putText(request(command, arguments));
  return eventually([&answer] { return clipboardText() == answer; });
}

TEST_F(PluginDllTest, QueriesAnswerAndSwitchPlayerMovesThroughTheClipboard) {
  start();
  EXPECT_TRUE(answers("GetPlayerID", "", "5"));
  EXPECT_TRUE(answers("GetPlayerIDFromName", "mate", "8"));
  EXPECT_TRUE(answers("GetPlayerIDFromName", "Mate", "-1"));
  host.addClient(5, 0x1'0000'0028ULL, "me");
  EXPECT_TRUE(answers("GetCurrentChannelID", "", "4294967336"));
  EXPECT_EQ(host.outstandingAllocations(), 0);
  EXPECT_EQ(host.badFrees(), 0);

  host.clearCalls();
  putText(request("SwitchPlayer", "8,34,a,b"));
  ASSERT_TRUE(eventually([this] { return !host.callsTo(moveEntry()).empty(); }));
  EXPECT_THAT(host.transcript(), ElementsAre(moveEntry() + R"((1,8,34,"a,b",null))"));
  EXPECT_EQ(clipboardText(), request("SwitchPlayer", "8,34,a,b"));  // nothing answered
}

TEST_F(PluginDllTest, ConnectToServerLeavesWaitsAndConnectsUnderTheFilesIdentity) {
  const ConfigFolder folder("[General]\r\nidentity=\"17Vsecret+/=\" \r\nother=1\r\n");
  host.setConfigPath(folder.utf8Path());
  std::jthread voiceClient;
  host.setHook("stopConnection", [this, &voiceClient] {
    // The voice client reports the disconnection later, from a thread of its own.
    voiceClient = std::jthread([this] {
      Sleep(100);
      dll.onConnectStatusChangeEvent(1, 0, 0);
    });
  });
  start();
  putText(request("ConnectToServer", "voice.example,9987,pw,"));
  ASSERT_TRUE(eventually([this] { return !host.callsTo("startConnection").empty(); }));
  EXPECT_THAT(host.transcript(),
              ElementsAre("getConfigPath(1000)", "getCurrentServerConnectionHandlerID()",
                          "getConnectionStatus(1)", R"(stopConnection(1,"ConnectToServer"))",
                          R"(startConnection(1,""17Vsecret+/=" ","voice.example",9987,)"
                          R"("TS3 User",null,"","pw"))"));
  EXPECT_THAT(host.logLines(), ::testing::IsEmpty());
  EXPECT_EQ(clipboardText(), request("ConnectToServer", "voice.example,9987,pw,"));
}

}  // namespace
}  // namespace sorlinx::e2e
