// What live mode (sorlinx-sim --live) needs from the platform: the real clipboard, the
// console's input and its interrupt. The build picks the implementation: on Windows and
// on Linux with X11, live_clipboard.cpp connects the plugin's code to the system clipboard
// through the plugin's own clipboard code, and live_platform_win32.cpp or
// live_platform_x11.cpp does the rest; elsewhere (live_platform_none.cpp) there is no live
// mode.
#pragma once

#include <functional>
#include <string>

namespace sorlinx::sim::live_platform {

// Whether this build has a live mode.
bool available();

// Something the plugin did with the clipboard.
struct ClipboardAccess {
  enum Kind {
    read,              // it read `text`
    noText,            // it looked and found no text at all (emptied, or something else than text)
    wrote,             // it wrote `text` (a reply)
    held,              // it could not read (`text` empty) or write its reply (`text`):
                       // another program held the clipboard open
    changedWhileRead,  // its read after `read` is taken for a failed one: the text changed
                       // between its look at the change counter and its read
  };
  Kind kind = read;
  std::string text;
};

// From now on the plugin reads and writes the real clipboard instead of the in-memory one,
// and its reads and writes are reported to `observer`, on the plugin's thread, right after
// each, as a replay needs them (see live_platform_win32.cpp). Only while the plugin's
// workers are paused.
void connectClipboard(const std::function<void(const ClipboardAccess&)>& observer);
// Back to the in-memory clipboard, and no more reports.
void disconnectClipboard();

// For live_clipboard.cpp: whether the system clipboard's read that just failed found no
// text at all, rather than another program holding the clipboard (Windows) or an owner
// whose answer is still to come (X11).
bool readFoundNoText();

// Reads one line from the standard input, without its line end. False at the end of the
// input. Blocks; meant for a thread of its own, which may be left blocked at exit.
bool readInputLine(std::string& line);

// Has `handler` called, on some thread, when the user interrupts the program (Ctrl+C). It
// must only set a flag.
void onInterrupt(void (*handler)());

}  // namespace sorlinx::sim::live_platform
