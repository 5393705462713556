#include "win32_clipboard.h"

#include <windows.h>

#include <chrono>
#include <cstring>
#include <future>
#include <stdexcept>
#include <thread>

namespace sorlinx::e2e {

namespace {

bool openWithRetries(HWND owner) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (OpenClipboard(owner) != FALSE) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

}  // namespace

void putText(std::string_view text) {
  // Wine lets a second thread open the clipboard with no owner window while another one
  // holds it the same way (the plugin's worker, in this same process); the first one's
  // EmptyClipboard and SetClipboardData then fail and its text is lost. Write again until
  // the clipboard has taken the text.
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (!openWithRetries(nullptr)) {
      throw std::runtime_error("the clipboard cannot be opened");
    }
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    auto* chars = static_cast<char*>(GlobalLock(block));
    std::memcpy(chars, text.data(), text.size());
    chars[text.size()] = '\0';
    GlobalUnlock(block);
    const bool taken = EmptyClipboard() != FALSE && SetClipboardData(CF_TEXT, block) != nullptr;
    CloseClipboard();
    if (taken) {
      return;
    }
    GlobalFree(block);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  throw std::runtime_error("the clipboard does not take the text");
}

void emptyClipboard() {
  if (!openWithRetries(nullptr)) {
    throw std::runtime_error("the clipboard cannot be opened");
  }
  EmptyClipboard();
  CloseClipboard();
}

std::optional<std::string> clipboardText() {
  if (!openWithRetries(nullptr)) {
    return std::nullopt;
  }
  std::optional<std::string> text;
  if (const HANDLE data = GetClipboardData(CF_TEXT)) {
    if (const auto* chars = static_cast<const char*>(GlobalLock(data))) {
      text.emplace(chars, strnlen(chars, GlobalSize(data)));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

struct ClipboardHolder::Impl {
  std::thread thread;
  DWORD threadId = 0;
};

ClipboardHolder::ClipboardHolder() : impl_(new Impl) {
  std::promise<DWORD> opened;
  auto ready = opened.get_future();
  impl_->thread = std::thread([&opened] {
    const HWND window = CreateWindowExA(0, "STATIC", "sorlinx clipboard holder", 0, 0, 0, 0, 0,
                                        HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (window == nullptr || !openWithRetries(window)) {
      opened.set_value(0);
      return;
    }
    opened.set_value(GetCurrentThreadId());
    // Serve the window until told to let go.
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
      DispatchMessageA(&message);
    }
    CloseClipboard();
    DestroyWindow(window);
  });
  impl_->threadId = ready.get();
  if (impl_->threadId == 0) {
    impl_->thread.join();
    delete impl_;
    throw std::runtime_error("the clipboard could not be held");
  }
}

ClipboardHolder::~ClipboardHolder() {
  PostThreadMessageA(impl_->threadId, WM_QUIT, 0, 0);
  impl_->thread.join();
  delete impl_;
}

}  // namespace sorlinx::e2e
