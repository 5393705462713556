#include "shared/plugin_state.h"

#include <type_traits>

#include "version.h"

namespace sorlinx {

const char* const VERSION_TEXT = SORLINX_VERSION_TEXT;

// Built while the library is being loaded, where an exception could not be caught.
static_assert(std::is_nothrow_default_constructible_v<PluginState>);
PluginState pluginState;

PluginState::~PluginState() {
  // Reached at unload. A voice client that unloads without calling shutdown leaves the
  // workers running; destroying a joinable std::thread would abort the whole process, and
  // joining here (under the loader lock on Windows) could deadlock, so let them go.
  if (clipboardThreadHandle.joinable()) {
    clipboardThreadHandle.detach();
  }
  if (soundCueThreadHandle.joinable()) {
    soundCueThreadHandle.detach();
  }
}

bool installHost(const Host& host) noexcept {
  if (pluginState.running.load()) {
    return false;
  }
  pluginState.host = host;
  pluginState.hostReceived.store(true);
  return true;
}

void secureZero(void* data, std::size_t size) noexcept {
  auto* bytes = static_cast<volatile unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = 0;
  }
}

}  // namespace sorlinx
