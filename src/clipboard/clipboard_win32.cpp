// The Windows clipboard, in CF_TEXT.
//
// Every text written carries three registered formats beside it that keep it out of the
// player's clipboard history and cloud clipboard, and away from clipboard monitors: a game
// exchanging frames ten times a second would otherwise push the player's own entries out
// of the history and upload its traffic. Readers of CF_TEXT see the text unchanged.
//
// OpenClipboard is called with no owner window: a null owner works for reading and, after
// EmptyClipboard, for writing (the clipboard then has no owner, which is fine for plain
// text that is rendered at once). The window that hears of changes
// (clipboard_notices_win32.cpp) is never made the owner: Windows would then send it
// WM_DESTROYCLIPBOARD whenever a program empties the clipboard, and that program would wait
// while the worker is busy with a request.
#include "clipboard/clipboard_win32.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "clipboard/clipboard.h"

namespace sorlinx {
namespace {

// Keeps the clipboard open for one scope, so that it is closed again on every path,
// including an allocation failure while copying the text out.
class OpenClipboardScope {
 public:
  OpenClipboardScope() : open_(OpenClipboard(nullptr) != FALSE) {}
  OpenClipboardScope(const OpenClipboardScope&) = delete;
  OpenClipboardScope& operator=(const OpenClipboardScope&) = delete;
  ~OpenClipboardScope() {
    if (open_) {
      CloseClipboard();
    }
  }
  [[nodiscard]] bool isOpen() const { return open_; }

 private:
  bool open_;
};

class GlobalLockScope {
 public:
  explicit GlobalLockScope(HGLOBAL block) : block_(block), data_(GlobalLock(block)) {}
  GlobalLockScope(const GlobalLockScope&) = delete;
  GlobalLockScope& operator=(const GlobalLockScope&) = delete;
  ~GlobalLockScope() {
    if (data_ != nullptr) {
      GlobalUnlock(block_);
    }
  }
  [[nodiscard]] void* data() const { return data_; }

 private:
  HGLOBAL block_;
  void* data_;
};

// The formats that mark a text as not for the history: Windows documents that the first
// may hold any data, and the other two a DWORD 0.
constexpr const char* HISTORY_MARKERS[] = {"ExcludeClipboardContentFromMonitorProcessing",
                                           "CanIncludeInClipboardHistory",
                                           "CanUploadToCloudClipboard"};

// Puts the same text beside the CF_TEXT just set on the open clipboard as CF_UNICODETEXT,
// when it is UTF-8 beyond ASCII. Readers of CF_TEXT still get its bytes; but wine hands a
// text to X11 programs (the Linux plugin under Proton) made from CF_UNICODETEXT, and would
// otherwise make that from CF_TEXT read in the ANSI code page, which turns UTF-8 into
// something else. Without it, the CF_TEXT stands alone, as before.
void addUnicodeText(std::string_view text) noexcept {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  const int size = static_cast<int>(text.size());
  const int wide =
      ascii || text.size() > INT_MAX / 2
          ? 0
          : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  const HGLOBAL block = wide <= 0 ? nullptr
                                  : GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                                                (static_cast<SIZE_T>(wide) + 1) * sizeof(wchar_t));
  if (block == nullptr) {
    return;
  }
  bool converted = false;
  {
    const GlobalLockScope lock(block);
    converted = lock.data() != nullptr &&
                MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size,
                                    static_cast<wchar_t*>(lock.data()), wide) == wide;
  }
  if (!converted || SetClipboardData(CF_UNICODETEXT, block) == nullptr) {
    GlobalFree(block);
  }
}

}  // namespace

void clipboard::markOutOfHistory() noexcept {
  for (const char* name : HISTORY_MARKERS) {
    const UINT format = RegisterClipboardFormatA(name);
    // Zero-filled: the DWORD 0 itself.
    const HGLOBAL block =
        format == 0 ? nullptr : GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DWORD));
    if (block != nullptr && SetClipboardData(format, block) == nullptr) {
      GlobalFree(block);
    }
  }
}

std::uint64_t clipboard::changeCount() noexcept { return GetClipboardSequenceNumber(); }

bool clipboard::readText(std::string& text) {
  const OpenClipboardScope scope;
  if (!scope.isOpen()) {
    return false;
  }
  const HANDLE data = GetClipboardData(CF_TEXT);
  if (data == nullptr) {
    return false;
  }
  const GlobalLockScope lock(data);
  if (lock.data() == nullptr) {
    return false;
  }
  // Any program can put a CF_TEXT block on the clipboard, terminated or not: never read
  // past the block's own size while looking for the terminating zero.
  const SIZE_T size = GlobalSize(data);
  const auto* chars = static_cast<const char*>(lock.data());
  const void* zero = std::memchr(chars, '\0', size);
  const std::size_t length =
      zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - chars) : size;
  text.assign(chars, length);
  return true;
}

bool clipboard::writeText(std::string_view text, std::uint64_t& emptiedAt) noexcept {
  const OpenClipboardScope scope;
  if (!scope.isOpen()) {
    return false;
  }
  // The block is made ready before the clipboard is emptied, so that running out of memory
  // leaves the clipboard as it was. GMEM_DDESHARE is what clipboard text has always been
  // allocated with; GMEM_MOVEABLE is what SetClipboardData documents as required for the
  // block it takes over.
  const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, text.size() + 1);
  if (block == nullptr) {
    return false;
  }
  {
    const GlobalLockScope lock(block);
    if (lock.data() == nullptr) {
      GlobalFree(block);
      return false;
    }
    auto* chars = static_cast<char*>(lock.data());
    std::memcpy(chars, text.data(), text.size());
    chars[text.size()] = '\0';
  }
  if (EmptyClipboard() == FALSE) {
    GlobalFree(block);
    return false;
  }
  if (SetClipboardData(CF_TEXT, block) == nullptr) {
    // The clipboard did not take the block over: it is still ours to free. Read while the
    // clipboard is still ours, the counter is the one our emptying left.
    emptiedAt = GetClipboardSequenceNumber();
    GlobalFree(block);
    return false;
  }
  addUnicodeText(text);
  clipboard::markOutOfHistory();
  return true;
}

void clipboard::release() noexcept {}  // nothing is held between calls

}  // namespace sorlinx
