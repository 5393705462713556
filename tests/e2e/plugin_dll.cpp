#include "plugin_dll.h"

#include <thread>

#include "clipboard/clipboard_channel.h"

namespace sorlinx::e2e {

namespace {

template <typename Function>
void resolve(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  ASSERT_NE(function, nullptr) << name << " is not exported";
}

}  // namespace

std::string request(const std::string& command, const std::string& arguments) {
  return requestText(command, arguments);
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
}

void PluginDllTest::TearDown() {
  if (module != nullptr) {
    if (dll.shutdown != nullptr) {
      dll.shutdown();
    }
    FreeLibrary(module);
  }
}

void PluginDllTest::start() {
  dll.setFunctionPointers(host.table());
  ASSERT_EQ(dll.init(), 0);
}

}  // namespace sorlinx::e2e
