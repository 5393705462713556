#include "plugin_dll.h"

#include <cstring>
#include <future>
#include <stdexcept>

#include "support/trapped_table.h"

namespace sorlinx::e2e {

namespace {

template <typename Function>
void resolve(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  ASSERT_NE(function, nullptr) << name << " is not exported";
}

bool openWithRetries(HWND owner) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (OpenClipboard(owner) != FALSE) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

template <int Interface = INTERFACE>
auto fakeTable(const sim::VoiceClient& host) {
  if constexpr (Interface == 4) {
    return host.table4();
  } else {
    return host.table26();
  }
}

}  // namespace

std::string moveEntry() { return INTERFACE == 4 ? "requestChannelMove" : "requestClientMove"; }

std::string placement(std::string_view arguments) {
  return "channelset3DAttributes(" + std::string(arguments) + (INTERFACE == 4 ? ",null)" : ")");
}

std::string cueFile(std::string_view name, bool idRegistered) {
  const std::string file = R"(sorlinx\)" + std::string(name) + ".wav";
  return INTERFACE == 26 && idRegistered ? std::string(PLUGIN_FOLDER) + "\\" + file
                                         : "plugins\\" + file;
}

bool eventually(const std::function<bool()>& condition, Clock::duration timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (condition()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

void PluginDllTest::SetUp() {
  // The wine server keeps the clipboard between runs: start from a neutral text.
  putText("neutral");
  host.setLocalClient(5);
  host.addClient(5, 40, "me");
  host.addClient(8, 40, "mate");
  host.setPluginPath(PLUGIN_FOLDER);
  table = testing::trappedTable(fakeTable(host));
  module = LoadLibraryA(SORLINX_DLL_FILE);
  ASSERT_NE(module, nullptr) << "cannot load " << SORLINX_DLL_FILE;
  resolve(module, "ts3plugin_name", dll.name);
  resolve(module, "ts3plugin_version", dll.version);
  resolve(module, "ts3plugin_apiVersion", dll.apiVersion);
  resolve(module, "ts3plugin_author", dll.author);
  resolve(module, "ts3plugin_description", dll.description);
  resolve(module, "ts3plugin_setFunctionPointers", dll.setFunctionPointers);
  resolve(module, "ts3plugin_init", dll.init);
  resolve(module, "ts3plugin_shutdown", dll.shutdown);
  resolve(module, "ts3plugin_onConnectStatusChangeEvent", dll.onConnectStatusChangeEvent);
  resolve(module, "ts3plugin_currentServerConnectionChanged", dll.currentServerConnectionChanged);
  if constexpr (INTERFACE == 26) {
    resolve(module, "ts3plugin_registerPluginID", dll.registerPluginID);
  }
}

void PluginDllTest::TearDown() {
  if (module != nullptr) {
    if (dll.shutdown != nullptr) {
      dll.shutdown();
    }
    FreeLibrary(module);
  }
}

void PluginDllTest::start(PluginId id) {
  // The ID lives only during the call, as the voice client's does: the DLL must copy it.
  const auto registerId = [this] {
    std::string text = PLUGIN_ID;
    dll.registerPluginID(text.c_str());
    text.assign(text.size(), '#');
  };
  dll.setFunctionPointers(table);
  if (INTERFACE == 26 && id == PluginId::beforeInit) {
    registerId();
  }
  ASSERT_EQ(dll.init(), 0);
  if (INTERFACE == 26 && id == PluginId::afterInit) {
    registerId();
  }
}

namespace {

// Puts `size` bytes (the terminator included) on the clipboard in `format`, as a game does.
// Wine lets a second thread open the clipboard with no owner window while another one
// holds it the same way (the plugin's worker, in this same process); the first one's
// EmptyClipboard and SetClipboardData then fail and its text is lost. Write again until
// the clipboard has taken the text.
void putData(UINT format, const void* data, std::size_t size) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (!openWithRetries(nullptr)) {
      throw std::runtime_error("the clipboard cannot be opened");
    }
    const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    std::memcpy(GlobalLock(block), data, size);
    GlobalUnlock(block);
    const bool taken = EmptyClipboard() != FALSE && SetClipboardData(format, block) != nullptr;
    CloseClipboard();
    if (taken) {
      return;
    }
    GlobalFree(block);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  throw std::runtime_error("the clipboard does not take the text");
}

}  // namespace

void putText(std::string_view text) {
  putData(CF_TEXT, std::string(text).c_str(), text.size() + 1);
}

void putUnicodeText(std::wstring_view text) {
  putData(CF_UNICODETEXT, std::wstring(text).c_str(), (text.size() + 1) * sizeof(wchar_t));
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

std::optional<std::wstring> clipboardUnicodeText() {
  if (!openWithRetries(nullptr)) {
    return std::nullopt;
  }
  std::optional<std::wstring> text;
  if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
      text.emplace(chars, wcsnlen(chars, GlobalSize(data) / 2));
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

bool markedOutOfHistory() {
  if (!openWithRetries(nullptr)) {
    return false;
  }
  bool marked = IsClipboardFormatAvailable(
                    RegisterClipboardFormatA("ExcludeClipboardContentFromMonitorProcessing")) != 0;
  for (const char* name : {"CanIncludeInClipboardHistory", "CanUploadToCloudClipboard"}) {
    const HANDLE data = GetClipboardData(RegisterClipboardFormatA(name));
    const auto* value = data == nullptr ? nullptr : static_cast<const DWORD*>(GlobalLock(data));
    marked = marked && value != nullptr && GlobalSize(data) >= sizeof(DWORD) && *value == 0;
    if (value != nullptr) {
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return marked;
}

ClipboardHolder::ClipboardHolder() {
  std::promise<DWORD> opened;
  auto ready = opened.get_future();
  thread_ = std::thread([&opened] {
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
  threadId_ = ready.get();
  if (threadId_ == 0) {
    thread_.join();
    throw std::runtime_error("the clipboard could not be held");
  }
}

ClipboardHolder::~ClipboardHolder() {
  PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
  thread_.join();
}

}  // namespace sorlinx::e2e
