// Live mode on Windows: the plugin's own Windows clipboard code on the real clipboard.
//
// The simulator needs both of the plugin's clipboards in one program: the in-memory one for
// sessions, the Windows one for live mode. Both define the same functions, so the build
// compiles each of them under a namespace of its own (in_memory_clipboard and
// windows_clipboard, see CMakeLists.txt), unchanged otherwise, and the functions the
// plugin's code calls are defined here: they hand each call to the clipboard in use, and
// in live mode report what the plugin read and wrote.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "clipboard/clipboard.h"
#include "live_platform.h"

namespace sorlinx {

// The two clipboards as the build renamed them: the same declarations as clipboard.h's.
namespace in_memory_clipboard {
std::uint64_t changeCount() noexcept;
bool readText(std::string& text);
bool writeText(std::string_view text, std::uint64_t& emptiedAt) noexcept;
std::unique_ptr<ChangeNotices> listenForChanges() noexcept;
void release() noexcept;
}  // namespace in_memory_clipboard
namespace windows_clipboard {
std::uint64_t changeCount() noexcept;
bool readText(std::string& text);
bool writeText(std::string_view text, std::uint64_t& emptiedAt) noexcept;
void release() noexcept;
}  // namespace windows_clipboard

namespace {

using Observer = std::function<void(const sim::live_platform::ClipboardAccess&)>;

// Switched only while the plugin's workers are paused; read by them on every call.
std::atomic<bool> useWindowsClipboard{false};
Observer observer;
// The change counter last handed to the plugin, and the one it had when it last read a
// text. Only the plugin's clipboard thread reads and writes the clipboard.
std::atomic<std::uint64_t> counterHandedOut{0};
std::uint64_t counterAtLastRead = 0;

void report(sim::live_platform::ClipboardAccess::Kind kind, std::string_view text) noexcept {
  try {
    if (observer) {
      observer({kind, std::string(text)});
    }
  } catch (...) {
    // What the simulator makes of an access is its own business: the plugin goes on.
  }
}

void (*interruptHandler)() = nullptr;

BOOL WINAPI onConsoleEvent(DWORD event) {
  if ((event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) && interruptHandler != nullptr) {
    interruptHandler();
    return TRUE;
  }
  return FALSE;
}

}  // namespace

std::uint64_t clipboard::changeCount() noexcept {
  if (!useWindowsClipboard.load()) {
    return in_memory_clipboard::changeCount();
  }
  const std::uint64_t counter = windows_clipboard::changeCount();
  counterHandedOut.store(counter);
  return counter;
}

// A live run must replay from its recording, where each text stands on the clipboard from
// one moment on. Two things that the real clipboard does differ:
// - The game may write in the instant between the plugin's look at the change counter and
//   its read. The plugin copes (it reads again on its next pass, and answers then), but a
//   replay cannot put a text between the two. So that read is turned into a failed one, as
//   when another program holds the clipboard, and the recording says so: the plugin takes
//   the text on its next pass in both.
// - A read that fails because another program holds the clipboard counts only when the
//   clipboard had not changed: the plugin was reading again for a reply it owes, and its
//   replay will too. After a change the replay does not read at all, since the text only
//   stands there from the next pass on, when the plugin reads it.
bool clipboard::readText(std::string& text) {
  using Access = sim::live_platform::ClipboardAccess;
  if (!useWindowsClipboard.load()) {
    return in_memory_clipboard::readText(text);
  }
  const std::uint64_t counter = counterHandedOut.load();
  const bool readingAgain = counter == counterAtLastRead;
  if (windows_clipboard::readText(text)) {
    report(Access::read, text);
    if (counter != 0 && windows_clipboard::changeCount() != counter) {
      report(Access::changedWhileRead, {});
      return false;
    }
    counterAtLastRead = counter;
    return true;
  }
  if (IsClipboardFormatAvailable(CF_TEXT) == FALSE) {
    report(Access::noText, {});  // without text in any form the read fails too
  } else if (readingAgain) {
    report(Access::held, {});
  }
  return false;
}

bool clipboard::writeText(std::string_view text, std::uint64_t& emptiedAt) noexcept {
  if (!useWindowsClipboard.load()) {
    return in_memory_clipboard::writeText(text, emptiedAt);
  }
  const bool written = windows_clipboard::writeText(text, emptiedAt);
  report(written ? sim::live_platform::ClipboardAccess::wrote
                 : sim::live_platform::ClipboardAccess::held,
         text);
  return written;
}

// The worker listens from its start, before live mode switches to the real clipboard: it
// hears of the in-memory clipboard's changes, and live mode, where nobody writes that one,
// looks at the real clipboard every polling period.
std::unique_ptr<ChangeNotices> clipboard::listenForChanges() noexcept {
  return in_memory_clipboard::listenForChanges();
}

void clipboard::release() noexcept {
  if (useWindowsClipboard.load()) {
    windows_clipboard::release();
  } else {
    in_memory_clipboard::release();
  }
}

namespace sim::live_platform {

bool available() { return true; }

void connectClipboard(const Observer& clipboardObserver) {
  observer = clipboardObserver;
  useWindowsClipboard.store(true);
}

void disconnectClipboard() {
  useWindowsClipboard.store(false);
  observer = nullptr;
}

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

}  // namespace sim::live_platform

}  // namespace sorlinx
