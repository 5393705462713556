// The game's side of the clipboard for the test programs that play a game with the protocol
// guide's code (examples/game_clipboard_win32.cpp, taken whole): the end-to-end programs and
// the stand-ins of the voice clients.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "game_clipboard_win32.cpp"

namespace sorlinx::game {

// A request of the game, each with its own counter after the closing tag.
inline std::string request(const std::string& command, const std::string& arguments = "") {
  static unsigned counter = 0;
  return game_clipboard::requestText(command, arguments, ++counter);
}

// Writes as the guide's game does, and again when the write did not take: wine lets two
// threads or programs open the clipboard without an owner window at once, and the first
// one's write then fails. The sequence number after the write, or 0 when it never took.
inline DWORD write(const std::string& text) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (const DWORD sequence = game_clipboard::writeRequest(nullptr, text)) {
      return sequence;
    }
    Sleep(5);
  }
  return 0;
}

// Empties the clipboard, as a player's program may; false when it cannot be opened. It opens
// it from a window of its own: wine lets a second thread of this process that opens it with
// no window take it over in the middle of the plugin's read, and free the text the plugin
// is copying. With a window it waits until the plugin has closed the clipboard. The window
// goes at once, so that no later writer waits for it to answer WM_DESTROYCLIPBOARD.
inline bool emptyClipboard() {
  const HWND window =
      CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  const bool opened = window != nullptr && game_clipboard::openClipboard(window);
  if (opened) {
    EmptyClipboard();
    CloseClipboard();
  }
  if (window != nullptr) {
    DestroyWindow(window);
  }
  return opened;
}

// Asks a query and waits for its answer on the clipboard, as the guide's game does; a
// change without text (a reply that wine's clipboard lost halfway, say) is not the answer.
inline std::optional<std::string> ask(const std::string& command, const std::string& arguments = "",
                                      DWORD timeoutMs = 3000) {
  DWORD sequence = write(request(command, arguments));
  std::string reply;
  if (sequence != 0 && game_clipboard::readReply(nullptr, sequence, timeoutMs, reply)) {
    return reply;
  }
  return std::nullopt;
}

}  // namespace sorlinx::game
