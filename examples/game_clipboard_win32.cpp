// examples/game_clipboard_win32.cpp: the game's side of the clipboard, on Windows.
// Builds requests, writes them out of the player's clipboard history, reads the replies, and
// keeps the player's own text aside. Self-contained: take it into your game as it is.
#include <windows.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <string>
#include <string_view>

namespace game_clipboard {

// The plugin, and any program, holds the clipboard for moments: try for a second.
inline bool openClipboard(HWND window) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (OpenClipboard(window) != FALSE) {
      return true;
    }
    Sleep(10);
  }
  return false;
}

// Put beside each text the game writes: Windows keeps a text so marked out of the clipboard
// history (Win+V) and the cloud clipboard, and clipboard monitors pass it by. The first
// format may hold anything; the other two must hold a DWORD 0.
inline void markOutOfHistory() {
  for (const char* name : {"ExcludeClipboardContentFromMonitorProcessing",
                           "CanIncludeInClipboardHistory", "CanUploadToCloudClipboard"}) {
    const UINT format = RegisterClipboardFormatA(name);
    const HGLOBAL zero =  // GMEM_ZEROINIT: the DWORD 0 itself
        format == 0 ? nullptr : GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DWORD));
    if (zero != nullptr && SetClipboardData(format, zero) == nullptr) {
      GlobalFree(zero);
    }
  }
}

// Puts a request beyond ASCII a second time, as CF_UNICODETEXT converted from its UTF-8,
// beside the CF_TEXT just set on the open clipboard. The plugin on Windows reads the
// CF_TEXT; but wine hands X11 programs (the plugin on Linux, which a game under wine or
// Proton reaches) a text made from CF_UNICODETEXT, which it would otherwise make from the
// CF_TEXT read in the ANSI code page, which garbles UTF-8 (a nickname so garbled matches
// nobody). Text that is not valid UTF-8 stays CF_TEXT alone.
inline void addUnicodeText(const char* text, std::size_t size) {
  const std::size_t length = strnlen(text, size);
  bool ascii = true;
  for (std::size_t i = 0; i < length; ++i) {
    ascii = ascii && static_cast<unsigned char>(text[i]) < 0x80;
  }
  const int bytes = length <= INT_MAX / 2 ? static_cast<int>(length) : 0;
  const int wide = ascii || bytes == 0 ? 0
                                       : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text,
                                                             bytes, nullptr, 0);
  const HGLOBAL block = wide <= 0
                            ? nullptr
                            : GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                                          (static_cast<std::size_t>(wide) + 1) * sizeof(wchar_t));
  auto* target = block == nullptr ? nullptr : static_cast<wchar_t*>(GlobalLock(block));
  const bool converted =
      target != nullptr &&
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, bytes, target, wide) == wide;
  if (target != nullptr) {
    GlobalUnlock(block);
  }
  if (block != nullptr && (!converted || SetClipboardData(CF_UNICODETEXT, block) == nullptr)) {
    GlobalFree(block);
  }
}

// Replaces the clipboard's contents with `size` bytes of `format`, marked; when `expected` is
// not 0, only while the clipboard's sequence number still equals it. Returns the sequence
// number after the write, or 0 when nothing was written. (The number is taken once the
// clipboard is closed: closing it moves the number too, at least under wine.)
inline DWORD writeMarked(HWND window, UINT format, const void* data, std::size_t size,
                         DWORD expected = 0) {
  const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  void* target = block == nullptr ? nullptr : GlobalLock(block);
  if (target == nullptr) {
    if (block != nullptr) {
      GlobalFree(block);
    }
    return 0;
  }
  std::memcpy(target, data, size);
  GlobalUnlock(block);
  if (!openClipboard(window)) {
    GlobalFree(block);
    return 0;
  }
  const bool written = (expected == 0 || GetClipboardSequenceNumber() == expected) &&
                       EmptyClipboard() != FALSE && SetClipboardData(format, block) != nullptr;
  if (written) {
    if (format == CF_TEXT) {
      addUnicodeText(static_cast<const char*>(data), size);
    }
    markOutOfHistory();
  } else {
    GlobalFree(block);
  }
  CloseClipboard();
  return written ? GetClipboardSequenceNumber() : 0;
}

// The whole text of a request. The counter after the closing tag is ignored by the plugin
// but makes every request a new text, even the same question asked twice in a row.
inline std::string requestText(std::string_view command, std::string_view arguments,
                               unsigned counter) {
  return "[kex_sorlinx][" + std::string(command) + "]" + std::string(arguments) +
         "[/kex_sorlinx]#" + std::to_string(counter);
}

// Writes a request as CF_TEXT: its bytes as they are, so nicknames go in UTF-8 (and beside
// it as CF_UNICODETEXT when beyond ASCII). Returns the clipboard's sequence number after the
// write, or 0 when it failed.
inline DWORD writeRequest(HWND window, const std::string& request) {
  return writeMarked(window, CF_TEXT, request.c_str(), request.size() + 1);
}

// Waits up to `timeoutMs` for the clipboard to change after the write whose sequence
// number is `sequence`, reads the new CF_TEXT into `reply`, and sets `sequence` to the
// reply's. False when nothing came in time: no plugin, or, for the queries other than
// GetVersion, no server connection. Another program's text counts as a change too: check
// that the reply looks like the answer you expect.
inline bool readReply(HWND window, DWORD& sequence, DWORD timeoutMs, std::string& reply) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < deadline) {
    Sleep(10);
    const DWORD now = GetClipboardSequenceNumber();
    if (now == sequence || !openClipboard(window)) {
      continue;
    }
    // Taken again while the clipboard is ours, so that it goes with the text read.
    const DWORD seen = GetClipboardSequenceNumber();
    const HANDLE data = GetClipboardData(CF_TEXT);
    const char* chars = data == nullptr ? nullptr : static_cast<const char*>(GlobalLock(data));
    if (chars != nullptr) {
      reply.assign(chars, strnlen(chars, GlobalSize(data)));
      GlobalUnlock(data);
    }
    CloseClipboard();
    if (chars == nullptr) {
      continue;  // no text (yet): the writer may be between emptying and filling it
    }
    sequence = seen;
    return true;
  }
  return false;
}

// The player's own text, taken before the game starts writing and put back when it stops.
struct PlayerText {
  std::wstring text;
  bool saved = false;
};

inline PlayerText savePlayerText(HWND window) {
  PlayerText player;
  if (openClipboard(window)) {
    const HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* chars = data == nullptr ? nullptr : static_cast<const wchar_t*>(GlobalLock(data));
    if (chars != nullptr) {
      player.text.assign(chars, wcsnlen(chars, GlobalSize(data) / sizeof(wchar_t)));
      player.saved = true;
      GlobalUnlock(data);
    }
    CloseClipboard();
  }
  return player;
}

// Puts the player's text back, marked (it is in the history already), only while the
// clipboard still holds what `lastWrite` names: the sequence number of the game's last write
// or of the reply read after it. A text any program wrote since is newer and stays; and
// after a failed write (0) nothing is known of what stands there, so nothing is written.
// Leave your last request 200 ms first, or the plugin never sees it.
inline bool restorePlayerText(HWND window, const PlayerText& player, DWORD lastWrite) {
  return player.saved && lastWrite != 0 &&
         writeMarked(window, CF_UNICODETEXT, player.text.c_str(),
                     (player.text.size() + 1) * sizeof(wchar_t), lastWrite) != 0;
}

}  // namespace game_clipboard
