#include <windows.h>

#include <cstring>

#include "clipboard/clipboard_win32.h"
#include "player_clipboard.h"

namespace sorlinx::send {

namespace {

bool openClipboard() {
  // Another program may hold it for a moment.
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (OpenClipboard(nullptr) != FALSE) {
      return true;
    }
    Sleep(10);
  }
  return false;
}

}  // namespace

void PlayerClipboard::save() {
  if (!openClipboard()) {
    return;
  }
  if (const HANDLE data = GetClipboardData(CF_UNICODETEXT); data != nullptr) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data)); chars != nullptr) {
      const std::size_t size = GlobalSize(data) / sizeof(wchar_t);
      text_.assign(chars, wcsnlen(chars, size));
      saved_ = true;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
}

bool PlayerClipboard::restore(std::uint64_t expected) {
  if (!saved_ || GetClipboardSequenceNumber() != expected || !openClipboard()) {
    return false;
  }
  bool restored = false;
  const std::size_t bytes = (text_.size() + 1) * sizeof(wchar_t);
  // Checked again now that the clipboard is ours: nobody can write between here and the end.
  if (GetClipboardSequenceNumber() == expected) {
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    void* target = block == nullptr ? nullptr : GlobalLock(block);
    if (target != nullptr) {
      std::memcpy(target, text_.c_str(), bytes);
      GlobalUnlock(block);
      if (EmptyClipboard() != FALSE && SetClipboardData(CF_UNICODETEXT, block) != nullptr) {
        // The player's text was in the history already: do not add it a second time.
        clipboard::markOutOfHistory();
        restored = true;
      } else {
        GlobalFree(block);
      }
    } else if (block != nullptr) {
      GlobalFree(block);
    }
  }
  CloseClipboard();
  return restored;
}

}  // namespace sorlinx::send
