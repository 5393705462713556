#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

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
      const std::size_t length = wcsnlen(chars, size);
      wide_.resize(length);
      std::memcpy(wide_.data(), chars, length * sizeof(wchar_t));
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
  const std::size_t bytes = (wide_.size() + 1) * sizeof(wchar_t);
  // Checked again now that the clipboard is ours: nobody can write between here and the end.
  if (GetClipboardSequenceNumber() == expected) {
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    void* target = block == nullptr ? nullptr : GlobalLock(block);
    if (target != nullptr) {
      std::memcpy(target, wide_.c_str(), bytes);
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

std::vector<std::string> commandLine(int /*argc*/, char** /*argv*/) {
  // Not main's arguments, which are in the system's code page: a nickname typed in any
  // script reaches the plugin as the voice client's own UTF-8 names are.
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    return arguments;
  }
  for (int i = 0; i < count; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string argument(size > 0 ? static_cast<std::size_t>(size) : 1U, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argument.data(), size, nullptr, nullptr);
    argument.resize(argument.size() - 1);  // the terminator
    arguments.push_back(std::move(argument));
  }
  LocalFree(wide);
  return arguments;
}

void leaveOnClipboard() {}  // Windows keeps the text

}  // namespace sorlinx::send
