// End to end: init and ConnectToServer in the shipped DLL through the real clipboard, the
// identity read from a secrets file of the test's own: a path beyond ASCII, a file the voice
// client keeps open for writing (queries and SwitchPlayer are the unit tests' business). Then
// the info panel, the DLL's heap logged through its imports: its blocks must come from and go
// back to its own C runtime's heap. Interface 4 has no panel (scripts/check-dll.sh). And
// sorlinx-send, run as its own process, talking to the DLL as to the plugin in a voice client.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "child_process.h"
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

// Runs sorlinx-send from this program's folder with `arguments` (UTF-8) and waits for it.
ProgramRun runSend(const std::string& arguments) {
  return runToEnd("sorlinx-send.exe " + arguments, std::chrono::minutes(1));
}

using SendTest = PluginDllTest;

TEST_F(SendTest, RepliesFramesRawTextsAndThePlayersTextPutBack) {
  host.addClient(9, 40, "Zo\xC3\xAB");  // the voice client's names are UTF-8
  start();
  const std::wstring players = L"the player's own text \u2713 \u0416";
  putUnicodeText(players);
  const ProgramRun version = runSend("GetVersion");
  EXPECT_EQ(version.exitCode, 0U) << version.output;
  EXPECT_EQ(version.output, "sorlinx beta 0.8\r\n");
  EXPECT_EQ(game_clipboard::savePlayerText(nullptr).text, players)
      << "the player's text was not put back";
  EXPECT_EQ(runSend("GetPlayerIDFromName Zo\xC3\xAB").output, "9\r\n");

  // Kept: the plugin's reply stays, marked out of the clipboard history.
  EXPECT_EQ(runSend("--keep --raw [kex_sorlinx][GetVersion][/kex_sorlinx]").output,
            "sorlinx beta 0.8\r\n");
  EXPECT_EQ(clipboardText(), "sorlinx beta 0.8");
  EXPECT_TRUE(markedOutOfHistory()) << "the plugin's reply";

  // Each repeat is a new request, and so is the same frame sent again.
  const ProgramRun frames = runSend("--repeat 3 --every 250 3D \"{8[1,2,3][RC]}\"");
  EXPECT_EQ(frames.exitCode, 0U) << frames.output;
  EXPECT_THAT(frames.output, ::testing::HasSubstr("[/kex_sorlinx]#3"));
  EXPECT_TRUE(eventually([&] { return host.placements().size() == 3; })) << frames.output;
  runSend("--keep 3D \"{8[1,2,3][RC]}\"");
  EXPECT_TRUE(eventually([&] { return host.placements().size() == 4; }));
  EXPECT_EQ(host.placements().back().position.z, 2.0F);
  EXPECT_TRUE(markedOutOfHistory()) << "sorlinx-send's request";
}

// The plugin is loaded but not started: nobody answers. (Kept apart from the test above:
// started after these runs in the same test, the plugin missed its first requests now and
// then under wine.)
TEST_F(SendTest, SaysSoWhenNoReplyComesOrTheClipboardIsHeld) {
  const ProgramRun unanswered = runSend("--timeout 300 GetVersion");
  EXPECT_EQ(unanswered.exitCode, 1U);
  EXPECT_THAT(unanswered.output, ::testing::HasSubstr("no reply within 300 ms; no plugin"));
  const ProgramRun unknown = runSend("--timeout 300 --wait getversion");
  EXPECT_THAT(unknown.output, ::testing::HasSubstr("does not know the command"));
  EXPECT_THAT(unknown.output, ::testing::HasSubstr("unknown command"));
  EXPECT_EQ(runSend("").exitCode, 2U);
  const ClipboardHolder holder;
  const ProgramRun held = runSend("GetVersion");
  EXPECT_EQ(held.exitCode, 3U);
  EXPECT_THAT(held.output, ::testing::HasSubstr("keeps the clipboard open"));
}

}  // namespace
}  // namespace sorlinx::e2e
