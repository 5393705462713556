#include "plugin/lifecycle.h"

#include <mutex>
#include <new>

#include "commands/client_identity.h"
#include "shared/info_board.h"
#include "shared/plugin_state.h"

namespace sorlinx {

void prepareStart() {
  const Host& host = pluginState.host;
  {
    // A new run for the info panel, first, so that what the start logs shows there.
    const std::lock_guard lock(pluginState.stateLock);
    infoBoard.startRun(pluginState.rcClients, pluginState.rlClients);
  }

  // Zeroed, so that it holds a defined empty text until an identity is read into it.
  pluginState.identityBuffer = new (std::nothrow) char[PATH_BUFFER_SIZE]{};
  // Before the workers start, so that they see the identity complete without a lock.
  readClientIdentity();

  pluginState.currentServerConnection.store(host.getCurrentServerConnectionHandlerID());
  pluginState.connectionStatus.store(STATUS_DISCONNECTED);
  std::int32_t status = STATUS_DISCONNECTED;
  if (host.getConnectionStatus(pluginState.currentServerConnection.load(), &status) == 0) {
    pluginState.connectionStatus.store(status);
  }
}

void finishStop() noexcept {
  if (pluginState.identityBuffer != nullptr) {
    // It held the user's private identity: leave nothing of it behind in freed memory.
    secureZero(pluginState.identityBuffer, PATH_BUFFER_SIZE);
    delete[] pluginState.identityBuffer;
    pluginState.identityBuffer = nullptr;
  }
}

}  // namespace sorlinx
