// Plugin interface 4: the voice clients of that era.
//
// The table has 171 pointer-sized slots, counted from 0, and the plugin uses the 14 named
// below; every other slot is a placeholder that keeps the named ones at their positions.
#pragma once

#include "shared/host.h"

namespace sorlinx::interface4 {

inline constexpr int API_VERSION = 4;

using UnusedEntry = void(SORLINX_CDECL*)();

struct FunctionTable {
  UnusedEntry unused0To3[4];
  HostError(SORLINX_CDECL* freeMemory)(void* pointer);
  HostError(SORLINX_CDECL* logMessage)(const char* text, int severity, const char* channel,
                                       std::uint64_t logId);
  UnusedEntry unused6To28[23];
  HostError(SORLINX_CDECL* playWaveFile)(ServerConnectionId connection, const char* path);
  UnusedEntry unused30To39[10];
  // The last argument is reserved; the plugin passes null.
  HostError(SORLINX_CDECL* channelset3DAttributes)(ServerConnectionId connection, ClientId client,
                                                   const Vector3* position, const void* reserved);
  HostError(SORLINX_CDECL* startConnection)(ServerConnectionId connection, const char* identity,
                                            const char* address, std::int32_t port,
                                            const char* nickname, const char* defaultChannel,
                                            const char* defaultChannelPassword,
                                            const char* serverPassword);
  HostError(SORLINX_CDECL* stopConnection)(ServerConnectionId connection, const char* quitMessage);
  // Moves a client into a channel, despite its name.
  HostError(SORLINX_CDECL* requestChannelMove)(ServerConnectionId connection, ClientId client,
                                               ChannelId channel, const char* password,
                                               const char* returnCode);
  UnusedEntry unused44To63[20];
  HostError(SORLINX_CDECL* getClientID)(ServerConnectionId connection, ClientId* result);
  UnusedEntry unused65To71[7];
  HostError(SORLINX_CDECL* getClientVariableAsString)(ServerConnectionId connection,
                                                      ClientId client, std::size_t property,
                                                      char** result);
  UnusedEntry unused73;
  HostError(SORLINX_CDECL* getChannelOfClient)(ServerConnectionId connection, ClientId client,
                                               ChannelId* result);
  UnusedEntry unused75To82[8];
  HostError(SORLINX_CDECL* getChannelClientList)(ServerConnectionId connection, ChannelId channel,
                                                 ClientId** result);
  UnusedEntry unused84To89[6];
  HostError(SORLINX_CDECL* getConnectionStatus)(ServerConnectionId connection,
                                                std::int32_t* result);
  UnusedEntry unused91To163[73];
  void(SORLINX_CDECL* getConfigPath)(char* path, std::size_t maxLength);
  UnusedEntry unused165;
  ServerConnectionId(SORLINX_CDECL* getCurrentServerConnectionHandlerID)();
  UnusedEntry unused167To170[4];
};

// The voice client finds each entry by its slot: pin every slot used and the table's size,
// on 32- and 64-bit builds alike.
#define SORLINX_PIN_SLOT(entry, slot)                                     \
  static_assert(offsetof(FunctionTable, entry) == (slot) * sizeof(void*), \
                #entry " is not at its slot")
SORLINX_PIN_SLOT(freeMemory, 4);
SORLINX_PIN_SLOT(logMessage, 5);
SORLINX_PIN_SLOT(playWaveFile, 29);
SORLINX_PIN_SLOT(channelset3DAttributes, 40);
SORLINX_PIN_SLOT(startConnection, 41);
SORLINX_PIN_SLOT(stopConnection, 42);
SORLINX_PIN_SLOT(requestChannelMove, 43);
SORLINX_PIN_SLOT(getClientID, 64);
SORLINX_PIN_SLOT(getClientVariableAsString, 72);
SORLINX_PIN_SLOT(getChannelOfClient, 74);
SORLINX_PIN_SLOT(getChannelClientList, 83);
SORLINX_PIN_SLOT(getConnectionStatus, 90);
SORLINX_PIN_SLOT(getConfigPath, 164);
SORLINX_PIN_SLOT(getCurrentServerConnectionHandlerID, 166);
#undef SORLINX_PIN_SLOT
static_assert(sizeof(FunctionTable) == 171 * sizeof(void*), "the table has 171 slots");
static_assert(sizeof(void*) != 4 || sizeof(FunctionTable) == 684);
static_assert(sizeof(void*) != 8 || sizeof(FunctionTable) == 1368);

// What ts3plugin_setFunctionPointers does with the table: hands its entries to the plugin,
// unless the plugin is running.
void setFunctionPointers(const FunctionTable& table) noexcept;

}  // namespace sorlinx::interface4
