#include "interfaces/interface26.h"

#include <mutex>
#include <new>
#include <string>

namespace sorlinx::interface26 {

namespace {

// The table's own entries behind the Host's calls that add to them, and nothing else of the
// table. Written only when the Host itself is taken, that is while the plugin is not
// running, and read by the workers.
decltype(SharedTable::startConnection) tableStartConnection = nullptr;
UnusedEntry tableGetPluginPath = nullptr;

// The plugin's ID, from registerPluginID on the voice client's thread, read by the cue
// worker; empty until it comes.
std::mutex idLock;
std::string pluginId;

HostError SORLINX_CDECL startConnection(ServerConnectionId connection, const char* identity,
                                        const char* address, std::int32_t port,
                                        const char* nickname, const char* defaultChannelPassword,
                                        const char* serverPassword) {
  return tableStartConnection(connection, identity, address, static_cast<std::uint32_t>(port),
                              nickname, nullptr, defaultChannelPassword, serverPassword);
}

// The two shapes of getPluginPath. Interfaces 19 and 20 write the folder without more ado.
bool pluginFolderWithoutId(char* path, std::size_t maxLength) {
  reinterpret_cast<GetPluginPathWithoutId>(tableGetPluginPath)(path, maxLength);
  return true;
}

// From interface 21 on the client wants the plugin's ID, and the folder cannot be asked
// before the ID has come.
bool pluginFolderWithId(char* path, std::size_t maxLength) {
  const std::lock_guard lock(idLock);
  if (pluginId.empty()) {
    return false;
  }
  reinterpret_cast<GetPluginPathWithId>(tableGetPluginPath)(path, maxLength, pluginId.c_str());
  return true;
}

}  // namespace

void setFunctionPointers(int interface, const SharedTable& functions) noexcept {
  constexpr int FIRST_WITH_ID = 21;
  auto* const pluginFolder = functions.getPluginPath == nullptr ? nullptr
                             : interface < FIRST_WITH_ID        ? &pluginFolderWithoutId
                                                                : &pluginFolderWithId;
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
      .pluginFolder = pluginFolder,
      .getCurrentServerConnectionHandlerID = functions.getCurrentServerConnectionHandlerID,
      .requestInfoUpdate = functions.requestInfoUpdate,
  };
  if (installHost(host)) {
    const std::lock_guard lock(idLock);
    tableStartConnection = functions.startConnection;
    tableGetPluginPath = functions.getPluginPath;
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
