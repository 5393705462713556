// End to end: sorlinx-send, run as its own process, talking to the real DLL loaded here
// through the real clipboard, as it would talk to the plugin inside a voice client.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "plugin_dll.h"

namespace sorlinx::e2e {
namespace {

struct SendRun {
  DWORD exitCode = 0;
  std::string output;  // standard output and standard error together
};

// Runs sorlinx-send from this program's folder with `arguments` and waits for it.
SendRun runSend(const std::string& arguments) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  CreatePipe(&readEnd, &writeEnd, &inherit, 0);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION process{};
  std::string commandLine = "sorlinx-send.exe " + arguments;
  SendRun run;
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    run.exitCode = 255;
    run.output = "cannot start sorlinx-send.exe";
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    return run;
  }
  CloseHandle(writeEnd);
  char buffer[512];
  DWORD count = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &count, nullptr) && count > 0) {
    run.output.append(buffer, count);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &run.exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  CloseHandle(readEnd);
  return run;
}

using SendTest = PluginDllTest;

TEST_F(SendTest, PrintsTheReplyOfAQueryAndSendsAFrameWithoutWaiting) {
  start();
  const SendRun version = runSend("GetVersion");
  EXPECT_EQ(version.exitCode, 0U) << version.output;
  EXPECT_EQ(version.output, "sorlinx beta 0.8\r\n");
  EXPECT_EQ(runSend("GetPlayerIDFromName mate").output, "8\r\n");
  for (int round = 0; round < 2; ++round) {  // and the same frame again
    const SendRun run = runSend("3D \"{8[1,2,3][RC]}\"");
    EXPECT_EQ(run.exitCode, 0U) << run.output;
    EXPECT_TRUE(eventually([&] { return host.placements().size() == std::size_t(round) + 1; }))
        << "round " << round;
  }
  EXPECT_EQ(host.placements().back().position.z, 2.0F);
}

TEST_F(SendTest, SaysSoWhenNoReplyComesOrTheClipboardIsHeld) {
  // The plugin is loaded but not started: nobody answers.
  const SendRun run = runSend("--timeout 300 GetVersion");
  EXPECT_EQ(run.exitCode, 1U);
  EXPECT_THAT(run.output, ::testing::HasSubstr("no reply within 300 ms"));
  EXPECT_EQ(runSend("").exitCode, 2U);
  const ClipboardHolder holder;
  const SendRun held = runSend("GetVersion");
  EXPECT_EQ(held.exitCode, 3U);
  EXPECT_THAT(held.output, ::testing::HasSubstr("keeps the clipboard open"));
}

}  // namespace
}  // namespace sorlinx::e2e
