// Live mode's clipboard: the plugin's own clipboard code on the real clipboard, Windows'
// or X11's.
//
// The simulator needs two of the plugin's clipboards in one program: the in-memory one for
// sessions, the system's for live mode. Both define the same functions, so the build
// compiles each of them under a namespace of its own (in_memory_clipboard and
// system_clipboard, see CMakeLists.txt), unchanged otherwise, and the functions the
// plugin's code calls are defined here: they hand each call to the clipboard in use, and
// in live mode report what the plugin read and wrote. The platform's own part is in
// live_platform_win32.cpp or live_platform_x11.cpp.
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
namespace system_clipboard {
std::uint64_t changeCount() noexcept;
bool readText(std::string& text);
bool writeText(std::string_view text, std::uint64_t& emptiedAt) noexcept;
void release() noexcept;
}  // namespace system_clipboard

namespace {

using Observer = std::function<void(const sim::live_platform::ClipboardAccess&)>;

// Switched only while the plugin's workers are paused; read by them on every call.
std::atomic<bool> useSystemClipboard{false};
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

}  // namespace

std::uint64_t clipboard::changeCount() noexcept {
  if (!useSystemClipboard.load()) {
    return in_memory_clipboard::changeCount();
  }
  const std::uint64_t counter = system_clipboard::changeCount();
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
//   replay will too (on X11, an owner that has not answered yet counts as holding it).
//   After a change the replay does not read at all, since the text only
//   stands there from the next pass on, when the plugin reads it.
bool clipboard::readText(std::string& text) {
  using Access = sim::live_platform::ClipboardAccess;
  if (!useSystemClipboard.load()) {
    return in_memory_clipboard::readText(text);
  }
  const std::uint64_t counter = counterHandedOut.load();
  const bool readingAgain = counter == counterAtLastRead;
  if (system_clipboard::readText(text)) {
    report(Access::read, text);
    if (counter != 0 && system_clipboard::changeCount() != counter) {
      report(Access::changedWhileRead, {});
      return false;
    }
    counterAtLastRead = counter;
    return true;
  }
  if (sim::live_platform::readFoundNoText()) {
    report(Access::noText, {});  // without text in any form the read fails too
  } else if (readingAgain) {
    report(Access::held, {});
  }
  return false;
}

bool clipboard::writeText(std::string_view text, std::uint64_t& emptiedAt) noexcept {
  if (!useSystemClipboard.load()) {
    return in_memory_clipboard::writeText(text, emptiedAt);
  }
  const bool written = system_clipboard::writeText(text, emptiedAt);
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
  if (useSystemClipboard.load()) {
    system_clipboard::release();
  } else {
    in_memory_clipboard::release();
  }
}

namespace sim::live_platform {

void connectClipboard(const Observer& clipboardObserver) {
  observer = clipboardObserver;
  useSystemClipboard.store(true);
}

void disconnectClipboard() {
  useSystemClipboard.store(false);
  observer = nullptr;
}

}  // namespace sim::live_platform

}  // namespace sorlinx
