// The Windows clipboard's notices of changes, for clipboardThread: in the plugin's DLL only
// (sorlinx-send reads and writes the clipboard with clipboard_win32.cpp, and hears nothing).
#include <windows.h>

#include <new>

#include "clipboard/clipboard.h"
#include "shared/host.h"

namespace sorlinx {
namespace {

// The notices of clipboard changes: a message-only window registered as a clipboard format
// listener, which Windows tells of every change with WM_CLIPBOARDUPDATE, and an event that a
// stop sets. Both belong to clipboardThread, which waits for either with
// MsgWaitForMultipleObjectsEx. The window's class points at a procedure of the DLL, so it
// is registered for the window's lifetime only: a class left registered after the DLL is
// unloaded would point at nothing the next time it is loaded.
constexpr const char* NOTICE_WINDOW_CLASS = "sorlinx clipboard notices";

// Set by the window's procedure, read and cleared by wait(), on the same thread. Windows may
// hand WM_CLIPBOARDUPDATE over inside PeekMessage, straight to the procedure, rather than
// as a message taken from the queue: both ways end here.
thread_local bool changeNoticed = false;

LRESULT CALLBACK noticeWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLIPBOARDUPDATE) {
    changeNoticed = true;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// The module that holds this code (the DLL), which owns the window's class.
HINSTANCE thisModule() noexcept {
  HMODULE self = nullptr;
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&noticeWindowProcedure), &self) != FALSE) {
    return self;
  }
  return GetModuleHandleA(nullptr);
}

class WindowsNotices final : public ChangeNotices {
 public:
  // Null members when something could not be made; ready() says.
  WindowsNotices() : instance_(thisModule()) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = noticeWindowProcedure;
    windowClass.hInstance = instance_;
    windowClass.lpszClassName = NOTICE_WINDOW_CLASS;
    registered_ = RegisterClassExA(&windowClass) != 0;
    window_ = registered_ ? CreateWindowExA(0, NOTICE_WINDOW_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                            nullptr, instance_, nullptr)
                          : nullptr;
    listening_ = window_ != nullptr && AddClipboardFormatListener(window_) != FALSE;
    wakeEvent_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    changeNoticed = false;
  }
  WindowsNotices(const WindowsNotices&) = delete;
  WindowsNotices& operator=(const WindowsNotices&) = delete;
  ~WindowsNotices() override {
    if (listening_) {
      RemoveClipboardFormatListener(window_);
    }
    if (window_ != nullptr) {
      DestroyWindow(window_);
    }
    if (registered_) {
      UnregisterClassA(NOTICE_WINDOW_CLASS, instance_);
    }
    if (wakeEvent_ != nullptr) {
      CloseHandle(wakeEvent_);
    }
  }

  [[nodiscard]] bool ready() const { return listening_ && wakeEvent_ != nullptr; }

  bool wait(Milliseconds timeout) override {
    // MWMO_INPUTAVAILABLE: messages that came before the call count too, even when an
    // earlier look at the queue has seen them.
    const DWORD result = MsgWaitForMultipleObjectsEx(
        1, &wakeEvent_, static_cast<DWORD>(timeout.count()), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (result == WAIT_OBJECT_0 + 1) {
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
        if (message.message == WM_CLIPBOARDUPDATE) {
          changeNoticed = true;
        } else {
          DispatchMessageA(&message);
        }
      }
    }
    const bool changed = changeNoticed;
    changeNoticed = false;
    return changed;
  }

  void wake() noexcept override { SetEvent(wakeEvent_); }

 private:
  HINSTANCE instance_ = nullptr;
  bool registered_ = false;
  HWND window_ = nullptr;
  bool listening_ = false;
  HANDLE wakeEvent_ = nullptr;
};

}  // namespace

std::unique_ptr<ChangeNotices> clipboard::listenForChanges() noexcept {
  std::unique_ptr<WindowsNotices> notices(new (std::nothrow) WindowsNotices);
  if (notices == nullptr || !notices->ready()) {
    logError("erreur AddClipboardFormatListener");
    return nullptr;
  }
  return notices;
}

}  // namespace sorlinx
