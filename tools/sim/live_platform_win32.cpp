// Live mode on Windows: the console's input and its interrupt, and whether the clipboard
// holds text at all. The clipboard itself is the plugin's (live_clipboard.cpp).
#include <windows.h>

#include <string>

#include "live_platform.h"

namespace sorlinx::sim::live_platform {

namespace {

void (*interruptHandler)() = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
  if ((event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) && interruptHandler != nullptr) {
    interruptHandler();
    return TRUE;
  }
  return FALSE;
}

}  // namespace

bool available() { return true; }

bool readFoundNoText() { return IsClipboardFormatAvailable(CF_TEXT) == FALSE; }

bool readInputLine(std::string& line) {
  // Straight from the handle, not through the C runtime's stdin: a thread left blocked in
  // the runtime's read would hold its lock and hang the program's exit.
  static std::string pending;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  for (;;) {
    const std::size_t end = pending.find('\n');
    if (end != std::string::npos) {
      line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      return true;
    }
    char buffer[256];
    DWORD count = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE ||
        ReadFile(input, buffer, sizeof buffer, &count, nullptr) == FALSE || count == 0) {
      if (pending.empty()) {
        return false;
      }
      line.swap(pending);  // a last line without a line end
      pending.clear();
      return true;
    }
    pending.append(buffer, count);
  }
}

void onInterrupt(void (*handler)()) {
  interruptHandler = handler;
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

}  // namespace sorlinx::sim::live_platform
