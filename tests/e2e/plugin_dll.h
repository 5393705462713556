// The shipped DLL as the end-to-end tests see it: loaded by name beside the test program,
// its exports resolved, a recording fake voice client handed over through the table of the
// DLL's plugin interface, and the game's side of the real Windows clipboard. The program is
// built for the DLL's interface (SORLINX_INTERFACE, 4 or 26): what differs between the two
// is chosen here once.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>

#include "clipboard/clipboard_channel.h"
#include "game.h"
#include "support/eventually.h"
#include "support/info_panel_checks.h"
#include "voice_client.h"

namespace sorlinx::e2e {

using testing::Clock;
using testing::eventually;

// The plugin interface the DLL under test speaks, and its function table.
inline constexpr int INTERFACE = SORLINX_INTERFACE;
static_assert(INTERFACE == 4 || INTERFACE == 26, "the DLL speaks interface 4 or 26");
using FunctionTable =
    std::conditional_t<INTERFACE == 4, interface4::FunctionTable, interface26::FunctionTable>;

// The folder interface 26's voice client reports for the plugins in these tests.
inline constexpr const char* PLUGIN_FOLDER = R"(C:\Users\p\AppData\Roaming\TS3Client\plugins)";

// The records that differ from one interface to the other: a placement as the transcript
// shows it (interface 4's entry takes a fourth, reserved argument, always null), and the
// path a cue file is played from (interface 26's plugin builds it from the plugin folder
// once it has its ID; without one, or in interface 4, it is relative to the voice client's
// folder).
inline std::string placement(std::string_view arguments) {
  return "channelset3DAttributes(" + std::string(arguments) + (INTERFACE == 4 ? ",null)" : ")");
}
inline std::string cueFile(std::string_view name, bool idRegistered) {
  const std::string file = R"(sorlinx\)" + std::string(name) + ".wav";
  return INTERFACE == 26 && idRegistered ? std::string(PLUGIN_FOLDER) + "\\" + file
                                         : "plugins\\" + file;
}

// The exports the tests call, as the voice client sees them (scripts/check-dll.sh checks all
// are there). registerPluginID is interface 26's only.
struct Exports {
  int(SORLINX_CDECL* apiVersion)();
  void(SORLINX_CDECL* setFunctionPointers)(const FunctionTable);
  int(SORLINX_CDECL* init)();
  void(SORLINX_CDECL* shutdown)();
  void(SORLINX_CDECL* onConnectStatusChangeEvent)(std::uint64_t, int, unsigned int);
  void(SORLINX_CDECL* registerPluginID)(const char*);
};

// The text a game writes for a command and its argument text.
inline std::string request(const std::string& command, const std::string& arguments = "") {
  return requestText(command, arguments);
}

// Puts text on the clipboard, as a game does (retries while another thread holds it).
void putText(std::string_view text);
// The clipboard's text, or nothing when it holds none or cannot be opened.
std::optional<std::string> clipboardText();
// Puts text in Unicode, as a player's programs write it (the game's code reads it back:
// game_clipboard::savePlayerText).
void putUnicodeText(std::wstring_view text);
// Whether the text on the clipboard carries the three formats that keep it out of the
// clipboard history and the cloud clipboard (the last two holding a DWORD 0).
bool markedOutOfHistory();

// Holds the clipboard open from a window of its own, on a thread of its own, so that the
// plugin's attempts to open it fail meanwhile (as when another program holds it).
class ClipboardHolder {
 public:
  ClipboardHolder();
  ClipboardHolder(const ClipboardHolder&) = delete;
  ClipboardHolder& operator=(const ClipboardHolder&) = delete;
  ~ClipboardHolder();  // releases it

 private:
  std::thread thread_;
  DWORD threadId_ = 0;
};

// A configuration folder under the temporary folder, with a name outside ASCII so that the
// path must travel as UTF-8 and be opened through the wide API, holding a secrets file that
// stays open for writing meanwhile, as the voice client keeps its own.
class ConfigFolder {
 public:
  explicit ConfigFolder(const std::string& secrets);
  ConfigFolder(const ConfigFolder&) = delete;
  ConfigFolder& operator=(const ConfigFolder&) = delete;
  ~ConfigFolder();

  // The folder in UTF-8 with its trailing separator, as the voice client hands it over.
  [[nodiscard]] std::string utf8Path() const;

 private:
  [[nodiscard]] std::wstring file() const { return folder_ + L"\\ts3clientui_qt.secrets.conf"; }
  std::wstring folder_;
  HANDLE writer_ = INVALID_HANDLE_VALUE;
};

// When interface 26's voice client hands the plugin its ID: either way round with init, or
// never. Interface 4 has no such call. (The cue test names its runs in this order.)
enum class PluginId { beforeInit, afterInit, never };

// Loads the DLL for each test and unloads it after (calling shutdown first). The fake
// voice client starts with local client 5 in channel 40, beside client 8, on connection 1
// with the connection established, and PLUGIN_FOLDER as the plugins' folder.
class PluginDllTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Hands `table` over and calls init, as the voice client does; interface 26's voice
  // client also hands over its ID for the plugin, when `id` says.
  void start(PluginId id = PluginId::beforeInit);

  sim::VoiceClient host;
  // The fake's table, every slot it leaves empty a trap that stops the program: the DLL
  // may call only the entries it is meant to. Tests may replace an entry before start.
  FunctionTable table{};
  HMODULE module = nullptr;
  Exports dll{};
  // Interface 26's info panel; the DLL's heap is logged (testing::startHeapLog) through its
  // imports of the C runtime's heap functions.
  testing::InfoPanelExports panel{};
};

}  // namespace sorlinx::e2e
