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

// A configuration folder under the temporary folder, with a name outside ASCII so that the
// path must travel as UTF-8 and be opened through the wide API, holding a secrets file that
// stays open for writing meanwhile, as the voice client keeps its own.
class ConfigFolder {
 public:
  explicit ConfigFolder(const std::string& secrets) {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    folder_ =
        std::wstring(temp) + L"sorlinx-\u00e9t\u00e9-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    writer_ = CreateFileW(file_().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                          nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(writer_, secrets.data(), static_cast<DWORD>(secrets.size()), &written, nullptr);
  }
  ConfigFolder(const ConfigFolder&) = delete;
  ConfigFolder& operator=(const ConfigFolder&) = delete;
  ~ConfigFolder() {
    CloseHandle(writer_);
    DeleteFileW(file_().c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  // The folder in UTF-8 with its trailing separator, as the voice client hands it over.
  [[nodiscard]] std::string utf8Path() const {
    const std::wstring wide = folder_ + L"\\";
    std::string path(static_cast<std::size_t>(wide.size() * 4), '\0');
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), path.data(),
                            static_cast<int>(path.size()), nullptr, nullptr);
    path.resize(static_cast<std::size_t>(length));
    return path;
  }

 private:
  [[nodiscard]] std::wstring file_() const { return folder_ + L"\\ts3clientui_qt.secrets.conf"; }
  std::wstring folder_;
  HANDLE writer_ = INVALID_HANDLE_VALUE;
};

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
