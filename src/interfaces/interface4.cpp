#include "interfaces/interface4.h"

namespace sorlinx::interface4 {

namespace {

// The table's own entries behind the two calls whose arguments differ from the plugin's.
// Written only while the plugin is not running, like the rest of the host.
FunctionTable table{};

HostError SORLINX_CDECL channelset3DAttributes(ServerConnectionId connection, ClientId client,
                                               const Vector3* position) {
  return table.channelset3DAttributes(connection, client, position, nullptr);
}

HostError SORLINX_CDECL startConnection(ServerConnectionId connection, const char* identity,
                                        const char* address, std::int32_t port,
                                        const char* nickname, const char* defaultChannelPassword,
                                        const char* serverPassword) {
  return table.startConnection(connection, identity, address, port, nickname, nullptr,
                               defaultChannelPassword, serverPassword);
}

}  // namespace

void setFunctionPointers(const FunctionTable& functions) noexcept {
  const Host host{
      .freeMemory = functions.freeMemory,
      .logMessage = functions.logMessage,
      .playWaveFile = functions.playWaveFile,
      .channelset3DAttributes = functions.channelset3DAttributes == nullptr
                                    ? nullptr
                                    : &interface4::channelset3DAttributes,
      .startConnection =
          functions.startConnection == nullptr ? nullptr : &interface4::startConnection,
      .stopConnection = functions.stopConnection,
      .requestClientMove = functions.requestChannelMove,
      .getClientID = functions.getClientID,
      .getClientVariableAsString = functions.getClientVariableAsString,
      .getChannelOfClient = functions.getChannelOfClient,
      .getChannelClientList = functions.getChannelClientList,
      .getConnectionStatus = functions.getConnectionStatus,
      .getConfigPath = functions.getConfigPath,
      .pluginFolder = nullptr,
      .getCurrentServerConnectionHandlerID = functions.getCurrentServerConnectionHandlerID,
      .requestInfoUpdate = nullptr,
  };
  if (installHost(host)) {
    table = functions;
  }
}

}  // namespace sorlinx::interface4
