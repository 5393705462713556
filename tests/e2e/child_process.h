// A program of the test program's folder, run as a process of its own with a pipe on its
// standard input and its output (standard output and error together) gathered as it comes.
// Its command line is UTF-8, so that arguments outside ASCII reach it as they are.
#pragma once

#include <windows.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "support/eventually.h"

namespace sorlinx::e2e {

class ChildProcess {
 public:
  explicit ChildProcess(const std::string& commandLine) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inputRead = nullptr;
    HANDLE outputWrite = nullptr;
    CreatePipe(&inputRead, &input_, &inherit, 0);
    CreatePipe(&output_, &outputWrite, &inherit, 0);
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inputRead;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    std::wstring line(commandLine.size() + 1, L'\0');
    line.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, commandLine.data(), static_cast<int>(commandLine.size()),
                            line.data(), static_cast<int>(line.size()))));
    started_ = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                              &startup, &process_) != FALSE;
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    reader_ = std::thread([this] {
      char buffer[4096];
      DWORD count = 0;
      while (ReadFile(output_, buffer, sizeof buffer, &count, nullptr) != FALSE && count > 0) {
        const std::lock_guard lock(mutex_);
        outputText_.append(buffer, count);
      }
    });
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() {
    closeInput();
    if (started_) {
      if (WaitForSingleObject(process_.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 99);
      }
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    if (reader_.joinable()) {
      reader_.join();
    }
    CloseHandle(output_);
  }

  [[nodiscard]] bool started() const { return started_; }

  void write(const std::string& text) {
    DWORD written = 0;
    WriteFile(input_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }

  void closeInput() {
    if (input_ != nullptr) {
      CloseHandle(input_);
      input_ = nullptr;
    }
  }

  // The exit code, once it ends within `timeout`, its output then read to the end; 259
  // (still active) otherwise.
  DWORD wait(std::chrono::milliseconds timeout) {
    DWORD code = STILL_ACTIVE;
    if (started_ && WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) ==
                        WAIT_OBJECT_0) {
      GetExitCodeProcess(process_.hProcess, &code);
      reader_.join();  // the pipe ends with the program: its output is all read
    }
    return code;
  }

  [[nodiscard]] std::string output() {
    const std::lock_guard lock(mutex_);
    return outputText_;
  }

  bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    return testing::eventually([&] { return output().find(text) != std::string::npos; }, timeout);
  }

 private:
  PROCESS_INFORMATION process_{};
  bool started_ = false;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
  std::thread reader_;
  std::mutex mutex_;
  std::string outputText_;
};

// Runs a program of this folder to its end, `timeout` at most: its exit code (255 when it
// could not start) and its output.
struct ProgramRun {
  DWORD exitCode = 0;
  std::string output;
};
inline ProgramRun runToEnd(const std::string& commandLine, std::chrono::milliseconds timeout) {
  ChildProcess child(commandLine);
  if (!child.started()) {
    return {255, "cannot start " + commandLine};
  }
  const DWORD exitCode = child.wait(timeout);
  return {exitCode, child.output()};
}

}  // namespace sorlinx::e2e
