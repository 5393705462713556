#include <array>
#include <string>

#include "shared/host.h"
#include "shared/info_board.h"
#include "shared/plugin_state.h"

namespace sorlinx {

namespace {
constexpr int LOG_SEVERITY_ERROR = 4;
constexpr const char* LOG_CHANNEL = "Plugin";
constexpr std::uint64_t LOG_ID = 0;
}  // namespace

void logError(std::string_view text) noexcept {
  // The info panel shows the last failure, whether or not the voice client has a log.
  infoBoard.noteFailure(text, pluginState.pacer->now());
  const auto logMessage = pluginState.host.logMessage;
  if (logMessage == nullptr) {
    return;
  }
  // Every line the plugin writes is short; a fixed buffer keeps logging free of the heap,
  // so that it works even when memory runs out. Longer texts are cut, never overrun.
  std::array<char, 256> line{};
  const std::size_t length = text.copy(line.data(), line.size() - 1);
  line[length] = '\0';
  logMessage(line.data(), LOG_SEVERITY_ERROR, LOG_CHANNEL, LOG_ID);
}

}  // namespace sorlinx
