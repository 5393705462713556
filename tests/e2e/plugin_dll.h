// The shipped DLL as the end-to-end tests see it: loaded by name beside the test program,
// its ten exports resolved, a recording fake voice client handed over, and helpers for the
// game's side of the real clipboard. Every test file of the end-to-end program uses it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "voice_client.h"
#include "win32_clipboard.h"

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
std::string request(const std::string& command, const std::string& arguments = "");

// Polls `condition` until it holds or `timeout` passes; true when it held.
bool eventually(const std::function<bool()>& condition,
                Clock::duration timeout = std::chrono::seconds(3));

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
