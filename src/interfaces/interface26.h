// Plugin interface 26: the voice clients of the 3.6 line and later.
//
// The table has 230 pointer-sized slots, counted from 0, and the plugin uses the 16 named
// below; every other slot is a placeholder that keeps the named ones at their positions.
// Clients are moved with requestClientMove here: the entry of this interface named
// requestChannelMove moves channels, and the plugin never calls it.
#pragma once

#include "shared/host.h"

namespace sorlinx::interface26 {

inline constexpr int API_VERSION = 26;

using UnusedEntry = void(SORLINX_CDECL*)();

struct FunctionTable {
  UnusedEntry unused0To4[5];
  HostError(SORLINX_CDECL* freeMemory)(void* pointer);
  HostError(SORLINX_CDECL* logMessage)(const char* text, int severity, const char* channel,
                                       std::uint64_t logId);
  UnusedEntry unused7To27[21];
  HostError(SORLINX_CDECL* playWaveFile)(ServerConnectionId connection, const char* path);
  UnusedEntry unused29To44[16];
  HostError(SORLINX_CDECL* channelset3DAttributes)(ServerConnectionId connection, ClientId client,
                                                   const Vector3* position);
  HostError(SORLINX_CDECL* startConnection)(ServerConnectionId connection, const char* identity,
                                            const char* address, std::uint32_t port,
                                            const char* nickname, const char** defaultChannelArray,
                                            const char* defaultChannelPassword,
                                            const char* serverPassword);
  HostError(SORLINX_CDECL* stopConnection)(ServerConnectionId connection, const char* quitMessage);
  HostError(SORLINX_CDECL* requestClientMove)(ServerConnectionId connection, ClientId client,
                                              ChannelId channel, const char* password,
                                              const char* returnCode);
  UnusedEntry unused49To72[24];
  HostError(SORLINX_CDECL* getClientID)(ServerConnectionId connection, ClientId* result);
  UnusedEntry unused74To80[7];
  HostError(SORLINX_CDECL* getClientVariableAsString)(ServerConnectionId connection,
                                                      ClientId client, std::size_t property,
                                                      char** result);
  UnusedEntry unused82;
  HostError(SORLINX_CDECL* getChannelOfClient)(ServerConnectionId connection, ClientId client,
                                               ChannelId* result);
  UnusedEntry unused84To93[10];
  HostError(SORLINX_CDECL* getChannelClientList)(ServerConnectionId connection, ChannelId channel,
                                                 ClientId** result);
  UnusedEntry unused95To100[6];
  HostError(SORLINX_CDECL* getConnectionStatus)(ServerConnectionId connection,
                                                std::int32_t* result);
  UnusedEntry unused102To180[79];
  void(SORLINX_CDECL* getConfigPath)(char* path, std::size_t maxLength);
  // Writes the folder of the installed plugins for the plugin with this ID.
  void(SORLINX_CDECL* getPluginPath)(char* path, std::size_t maxLength, const char* pluginId);
  ServerConnectionId(SORLINX_CDECL* getCurrentServerConnectionHandlerID)();
  UnusedEntry unused184To191[8];
  // Returns nothing the plugin reads (see Host::requestInfoUpdate).
  void(SORLINX_CDECL* requestInfoUpdate)(ServerConnectionId connection, int itemType,
                                         std::uint64_t itemId);
  UnusedEntry unused193To229[37];
};

#define SORLINX_PIN_SLOT(entry, slot)                                     \
  static_assert(offsetof(FunctionTable, entry) == (slot) * sizeof(void*), \
                #entry " is not at its slot")
SORLINX_PIN_SLOT(freeMemory, 5);
SORLINX_PIN_SLOT(logMessage, 6);
SORLINX_PIN_SLOT(playWaveFile, 28);
SORLINX_PIN_SLOT(channelset3DAttributes, 45);
SORLINX_PIN_SLOT(startConnection, 46);
SORLINX_PIN_SLOT(stopConnection, 47);
SORLINX_PIN_SLOT(requestClientMove, 48);
SORLINX_PIN_SLOT(getClientID, 73);
SORLINX_PIN_SLOT(getClientVariableAsString, 81);
SORLINX_PIN_SLOT(getChannelOfClient, 83);
SORLINX_PIN_SLOT(getChannelClientList, 94);
SORLINX_PIN_SLOT(getConnectionStatus, 101);
SORLINX_PIN_SLOT(getConfigPath, 181);
SORLINX_PIN_SLOT(getPluginPath, 182);
SORLINX_PIN_SLOT(getCurrentServerConnectionHandlerID, 183);
SORLINX_PIN_SLOT(requestInfoUpdate, 192);
#undef SORLINX_PIN_SLOT
static_assert(sizeof(FunctionTable) == 230 * sizeof(void*), "the table has 230 slots");
static_assert(sizeof(void*) != 4 || sizeof(FunctionTable) == 920);
static_assert(sizeof(void*) != 8 || sizeof(FunctionTable) == 1840);

// What ts3plugin_setFunctionPointers does with the table: hands its entries to the plugin,
// unless the plugin is running.
void setFunctionPointers(const FunctionTable& table) noexcept;

// What ts3plugin_registerPluginID does: keeps a copy of the plugin's ID (the text itself
// lives only during the call), which getPluginPath needs. It may come before or after init,
// or never; a null ID is ignored.
void registerPluginID(const char* id) noexcept;

}  // namespace sorlinx::interface26
