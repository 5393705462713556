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

// The DLL's heap, as its imports of msvcrt's heap functions see it; logged on the thread
// that asks, while it asks (the workers' blocks are none of its business).
using Malloc = void*(__cdecl*)(std::size_t);
using Calloc = void*(__cdecl*)(std::size_t, std::size_t);
using Realloc = void*(__cdecl*)(void*, std::size_t);
using Free = void(__cdecl*)(void*);
Malloc realMalloc = nullptr;
Calloc realCalloc = nullptr;
Realloc realRealloc = nullptr;
Free realFree = nullptr;
thread_local bool logging = false;
thread_local testing::HeapLog heapLog;

void note(std::vector<const void*>& blocks, const void* block) {
  if (logging && block != nullptr) {
    logging = false;  // this program's own heap, not the DLL's: nothing to log in here
    blocks.push_back(block);
    logging = true;
  }
}

void* __cdecl loggedMalloc(std::size_t size) {
  void* block = realMalloc(size);
  note(heapLog.allocated, block);
  return block;
}
void* __cdecl loggedCalloc(std::size_t count, std::size_t size) {
  void* block = realCalloc(count, size);
  note(heapLog.allocated, block);
  return block;
}
void* __cdecl loggedRealloc(void* old, std::size_t size) {
  void* block = realRealloc(old, size);
  if (block != nullptr) {
    note(heapLog.freed, old);
    note(heapLog.allocated, block);
  }
  return block;
}
void __cdecl loggedFree(void* block) {
  note(heapLog.freed, block);
  realFree(block);
}

// Points the module's imports of msvcrt's heap functions at the logging ones above (the
// module carries its C++ runtime, so operator new and delete come through them too).
void logHeapOf(HMODULE module) {
  auto* const base = reinterpret_cast<BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  int patched = 0;
  for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       library->Name != 0; ++library) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + library->Name), "msvcrt.dll") != 0) {
      continue;
    }
    const auto* names =
        reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
        continue;
      }
      const std::string_view name =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
      void* const current = reinterpret_cast<void*>(slots->u1.Function);
      void* replacement = nullptr;
      if (name == "malloc") {
        realMalloc = reinterpret_cast<Malloc>(current);
        replacement = reinterpret_cast<void*>(&loggedMalloc);
      } else if (name == "calloc") {
        realCalloc = reinterpret_cast<Calloc>(current);
        replacement = reinterpret_cast<void*>(&loggedCalloc);
      } else if (name == "realloc") {
        realRealloc = reinterpret_cast<Realloc>(current);
        replacement = reinterpret_cast<void*>(&loggedRealloc);
      } else if (name == "free") {
        realFree = reinterpret_cast<Free>(current);
        replacement = reinterpret_cast<void*>(&loggedFree);
      } else {
        continue;
      }
      DWORD protection = 0;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      ++patched;
    }
  }
  ASSERT_GE(patched, 2) << "the DLL imports no malloc and free from msvcrt.dll";
}

}  // namespace

}  // namespace sorlinx::e2e

namespace sorlinx::testing {

void startHeapLog() {
  e2e::heapLog = {};
  e2e::logging = true;
}

HeapLog takeHeapLog() {
  e2e::logging = false;
  return std::move(e2e::heapLog);
}

}  // namespace sorlinx::testing

namespace sorlinx::e2e {

std::string moveEntry() { return INTERFACE == 4 ? "requestChannelMove" : "requestClientMove"; }

std::string placement(std::string_view arguments) {
  return "channelset3DAttributes(" + std::string(arguments) + (INTERFACE == 4 ? ",null)" : ")");
}

std::string cueFile(std::string_view name, bool idRegistered) {
  const std::string file = R"(sorlinx\)" + std::string(name) + ".wav";
  return INTERFACE == 26 && idRegistered ? std::string(PLUGIN_FOLDER) + "\\" + file
                                         : "plugins\\" + file;
}

ConfigFolder::ConfigFolder(const std::string& secrets) {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  folder_ = std::wstring(temp) + L"sorlinx-\u00e9t\u00e9-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder_.c_str(), nullptr);
  writer_ = CreateFileW(file().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(writer_, secrets.data(), static_cast<DWORD>(secrets.size()), &written, nullptr);
}

ConfigFolder::~ConfigFolder() {
  CloseHandle(writer_);
  DeleteFileW(file().c_str());
  RemoveDirectoryW(folder_.c_str());
}

std::string ConfigFolder::utf8Path() const {
  const std::wstring wide = folder_ + L"\\";
  std::string path(static_cast<std::size_t>(wide.size() * 4), '\0');
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), path.data(),
                          static_cast<int>(path.size()), nullptr, nullptr);
  path.resize(static_cast<std::size_t>(length));
  return path;
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
    resolve(module, "ts3plugin_infoTitle", panel.infoTitle);
    resolve(module, "ts3plugin_infoData", panel.infoData);
    resolve(module, "ts3plugin_freeMemory", panel.freeMemory);
  }
  logHeapOf(module);
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
