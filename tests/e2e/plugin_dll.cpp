#include "plugin_dll.h"

#include <cstring>
#include <future>
#include <stdexcept>

#include "support/trapped_table.h"

namespace sorlinx::testing {

namespace {

// The DLL's heap, as its imports of msvcrt's heap functions see it; logged on the thread
// that asks, while it asks (the workers' blocks are none of its business).
void*(__cdecl* realMalloc)(std::size_t) = nullptr;
void*(__cdecl* realCalloc)(std::size_t, std::size_t) = nullptr;
void*(__cdecl* realRealloc)(void*, std::size_t) = nullptr;
void(__cdecl* realFree)(void*) = nullptr;
thread_local bool logging = false;
thread_local HeapLog heapLog;

void* note(std::vector<const void*>& blocks, void* block) {
  if (logging && block != nullptr) {
    logging = false;  // this program's own heap, not the DLL's: nothing to log in here
    blocks.push_back(block);
    logging = true;
  }
  return block;
}

void* __cdecl loggedMalloc(std::size_t size) { return note(heapLog.allocated, realMalloc(size)); }
void* __cdecl loggedCalloc(std::size_t count, std::size_t size) {
  return note(heapLog.allocated, realCalloc(count, size));
}
void* __cdecl loggedRealloc(void* old, std::size_t size) {
  void* block = realRealloc(old, size);
  if (block != nullptr) {
    note(heapLog.freed, old);
    note(heapLog.allocated, block);
  }
  return block;
}
void __cdecl loggedFree(void* block) { realFree(note(heapLog.freed, block)); }

// Points the module's imports of msvcrt's heap functions at the logging ones above (the
// module carries its C++ runtime, so operator new and delete come through them too).
void logHeapOf(HMODULE module) {
  struct Hook {
    std::string_view name;
    void** real;
    void* logged;
  };
  const Hook hooks[] = {
      {"malloc", reinterpret_cast<void**>(&realMalloc), reinterpret_cast<void*>(&loggedMalloc)},
      {"calloc", reinterpret_cast<void**>(&realCalloc), reinterpret_cast<void*>(&loggedCalloc)},
      {"realloc", reinterpret_cast<void**>(&realRealloc), reinterpret_cast<void*>(&loggedRealloc)},
      {"free", reinterpret_cast<void**>(&realFree), reinterpret_cast<void*>(&loggedFree)}};
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
      const auto* name =
          IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
              ? nullptr
              : reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      for (const Hook& hook : hooks) {
        if (name == nullptr || hook.name != name->Name) {
          continue;
        }
        *hook.real = reinterpret_cast<void*>(slots->u1.Function);
        DWORD protection = 0;
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
        slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook.logged);
        VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
        ++patched;
      }
    }
  }
  ASSERT_GE(patched, 2) << "the DLL imports no malloc and free from msvcrt.dll";
}

}  // namespace

void startHeapLog() {
  heapLog = {};
  logging = true;
}

HeapLog takeHeapLog() {
  logging = false;
  return std::move(heapLog);
}

}  // namespace sorlinx::testing

namespace sorlinx::e2e {

namespace {

template <typename Function>
void resolve(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  ASSERT_NE(function, nullptr) << name << " is not exported";
}

}  // namespace

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

void PluginDllTest::SetUp() {
  // The wine server keeps the clipboard between runs: start from a neutral text.
  putText("neutral");
  host.setLocalClient(5);
  host.addClient(5, 40, "me");
  host.addClient(8, 40, "mate");
  host.setPluginPath(PLUGIN_FOLDER);
  table = testing::trappedTable([this] {
    if constexpr (INTERFACE == 4) {
      return host.table4();
    } else {
      return host.table26();
    }
  }());
  module = LoadLibraryA(SORLINX_DLL_FILE);
  ASSERT_NE(module, nullptr) << "cannot load " << SORLINX_DLL_FILE;
  resolve(module, "ts3plugin_apiVersion", dll.apiVersion);
  resolve(module, "ts3plugin_setFunctionPointers", dll.setFunctionPointers);
  resolve(module, "ts3plugin_init", dll.init);
  resolve(module, "ts3plugin_shutdown", dll.shutdown);
  resolve(module, "ts3plugin_onConnectStatusChangeEvent", dll.onConnectStatusChangeEvent);
  if constexpr (INTERFACE == 26) {
    resolve(module, "ts3plugin_registerPluginID", dll.registerPluginID);
    resolve(module, "ts3plugin_infoTitle", panel.infoTitle);
    resolve(module, "ts3plugin_infoData", panel.infoData);
    resolve(module, "ts3plugin_freeMemory", panel.freeMemory);
  }
  testing::logHeapOf(module);
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
    std::string text = "sorlinx-e2e-7";
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
    if (!game_clipboard::openClipboard(nullptr)) {
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

std::optional<std::string> clipboardText() {
  if (!game_clipboard::openClipboard(nullptr)) {
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

bool markedOutOfHistory() {
  if (!game_clipboard::openClipboard(nullptr)) {
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
    if (window == nullptr || !game_clipboard::openClipboard(window)) {
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
