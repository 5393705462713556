// The shipped DLL as the end-to-end tests see it: loaded by name beside the test program,
// its ten exports resolved, a recording fake voice client handed over, and the game's side
// of the real Windows clipboard. Every test file of the end-to-end program uses it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "clipboard/clipboard_channel.h"
#include "voice_client.h"

namespace sorlinx::e2e {

using Clock = std::chrono::steady_clock;

// The exports, as the voice client sees them.
struct Exports {
  const char*(SORLINX_CDECL* name)();
  const char*(SORLINX_CDECL* version)();
  int(SORLINX_CDECL* apiVersion)();
  const char*(SORLINX_CDECL* author)();
  const char*(SORLINX_CDECL* description)();
  void(SORLINX_CDECL* setFunctionPointers)(const HostFunctions);
  int(SORLINX_CDECL* init)();
  void(SORLINX_CDECL* shutdown)();
  void(SORLINX_CDECL* onConnectStatusChangeEvent)(std::uint64_t, int, unsigned int);
  void(SORLINX_CDECL* currentServerConnectionChanged)(std::uint64_t);
};

// The text a game writes for a command and its argument text.
inline std::string request(const std::string& command, const std::string& arguments = "") {
  return requestText(command, arguments);
}

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool eventually(const std::function<bool()>& condition,
                Clock::duration timeout = std::chrono::seconds(3));

// Puts text on the clipboard, as a game does (retries while another thread holds it).
void putText(std::string_view text);
// Empties the clipboard: it holds no text at all afterwards.
void emptyClipboard();
// The clipboard's text, or nothing when it holds none or cannot be opened.
std::optional<std::string> clipboardText();

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

// Loads the DLL for each test and unloads it after (calling shutdown first). The fake
// voice client starts with local client 5 in channel 40, beside client 8, on connection 1
// with the connection established.
class PluginDllTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Hands the fake's table over and calls init, as the voice client does.
  void start();

  sim::VoiceClient host;
  HMODULE module = nullptr;
  Exports dll{};
};

}  // namespace sorlinx::e2e
