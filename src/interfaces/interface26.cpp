#include "interfaces/interface26.h"

#include <mutex>
#include <new>
#include <string>

namespace sorlinx::interface26 {

namespace {

// The table's own entries behind the calls whose arguments differ from the plugin's.
// Written only while the plugin is not running, like the rest of the host.
FunctionTable table{};

// The plugin's ID, from registerPluginID on the voice client's thread, read by the cue
// worker; empty until it comes.
std::mutex idLock;
std::string pluginId;

HostError SORLINX_CDECL startConnection(ServerConnectionId connection, const char* identity,
                                        const char* address, std::int32_t port,
                                        const char* nickname, const char* defaultChannelPassword,
                                        const char* serverPassword) {
  return table.startConnection(connection, identity, address, static_cast<std::uint32_t>(port),
                               nickname, nullptr, defaultChannelPassword, serverPassword);
}

bool pluginFolder(char* path, std::size_t maxLength) {
  const std::lock_guard lock(idLock);
  if (pluginId.empty() || table.getPluginPath == nullptr) {
    return false;
  }
  table.getPluginPath(path, maxLength, pluginId.c_str());
  return true;
}

}  // namespace

void setFunctionPointers(const FunctionTable& functions) noexcept {
  const Host host{
      .freeMemory = functions.freeMemory,
      .logMessage = functions.logMessage,
      .playWaveFile = functions.playWaveFile,
      .channelset3DAttributes = functions.channelset3DAttributes,
      .startConnection =
          functions.startConnection == nullptr ? nullptr : &interface26::startConnection,
      .stopConnection = functions.stopConnection,
      .requestClientMove = functions.requestClientMove,
      .getClientID = functions.getClientID,
      .getClientVariableAsString = functions.getClientVariableAsString,
      .getChannelOfClient = functions.getChannelOfClient,
      .getChannelClientList = functions.getChannelClientList,
      .getConnectionStatus = functions.getConnectionStatus,
      .getConfigPath = functions.getConfigPath,
      .pluginFolder = &interface26::pluginFolder,
      .getCurrentServerConnectionHandlerID = functions.getCurrentServerConnectionHandlerID,
      .requestInfoUpdate = functions.requestInfoUpdate,
  };
  if (installHost(host)) {
    const std::lock_guard lock(idLock);
    table = functions;
  }
}

void registerPluginID(const char* id) noexcept {
  if (id == nullptr) {
    return;
  }
  const std::lock_guard lock(idLock);
  try {
    pluginId = id;
  } catch (const std::bad_alloc&) {
    // Without the ID the cue sounds fall back to relative paths, and say so in the log.
    pluginId.clear();
  }
}

}  // namespace sorlinx::interface26
