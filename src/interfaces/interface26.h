// Plugin interfaces 19 to 26: the voice clients from 3.0.9 on. One library speaks them all
// and reports the interface of the client that loaded it (interfaces/client_version.h); it
// is named after the newest, 26, that of the 3.6 line.
//
// Their tables are one table cut at different lengths: 209 slots for 19, 20 and 21, 210 for
// 22 and 23, 221 for 24, 230 for 26, counted from 0. The plugin uses the 16 named below,
// every one at the same slot in all of them and all among the first 209; every other slot
// is a placeholder that keeps the named ones at their positions. Only getPluginPath's
// arguments differ: 19 and 20 take no plugin ID. Clients are moved with requestClientMove:
// the entry these interfaces name requestChannelMove moves channels, and the plugin never
// calls it.
#pragma once

#include <cstring>

#include "shared/host.h"

namespace sorlinx::interface26 {

// What the library reports when the client cannot be told: the newest interface.
inline constexpr int API_VERSION = 26;

using UnusedEntry = void(SORLINX_CDECL*)();

// getPluginPath writes the folder of the installed plugins, in one shape or the other.
using GetPluginPathWithoutId = void(SORLINX_CDECL*)(char* path, std::size_t maxLength);
using GetPluginPathWithId = void(SORLINX_CDECL*)(char* path, std::size_t maxLength,
                                                 const char* pluginId);

// The first slot past the entries the plugin uses.
inline constexpr std::size_t USED_SLOTS = 193;

// A table of `Slots` slots whose getPluginPath has the type given.
template <std::size_t Slots, typename GetPluginPath>
struct Table {
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
  GetPluginPath getPluginPath;
  ServerConnectionId(SORLINX_CDECL* getCurrentServerConnectionHandlerID)();
  UnusedEntry unused184To191[8];
  // Returns nothing the plugin reads (see Host::requestInfoUpdate).
  void(SORLINX_CDECL* requestInfoUpdate)(ServerConnectionId connection, int itemType,
                                         std::uint64_t itemId);
  UnusedEntry unusedFrom193[Slots - USED_SLOTS];
};

// One table per interface.
using Interface19Table = Table<209, GetPluginPathWithoutId>;
using Interface20Table = Table<209, GetPluginPathWithoutId>;
using Interface21Table = Table<209, GetPluginPathWithId>;
using Interface22Table = Table<210, GetPluginPathWithId>;
using Interface23Table = Table<210, GetPluginPathWithId>;
using Interface24Table = Table<221, GetPluginPathWithId>;
using FunctionTable = Table<230, GetPluginPathWithId>;  // interface 26's

// The slots that every table of 19 to 26 starts with, getPluginPath in neither shape: what
// ts3plugin_setFunctionPointers is declared to take. Whatever the client, the library then
// cannot read past the end of the table it was handed.
using SharedTable = Table<209, UnusedEntry>;

#define SORLINX_PIN_SLOT(entry, slot)                                   \
  static_assert(offsetof(SharedTable, entry) == (slot) * sizeof(void*), \
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
static_assert(offsetof(SharedTable, unusedFrom193) == USED_SLOTS * sizeof(void*));
static_assert(sizeof(Interface19Table) == 209 * sizeof(void*) &&
              sizeof(Interface20Table) == 209 * sizeof(void*) &&
              sizeof(Interface21Table) == 209 * sizeof(void*) &&
              sizeof(Interface22Table) == 210 * sizeof(void*) &&
              sizeof(Interface23Table) == 210 * sizeof(void*) &&
              sizeof(Interface24Table) == 221 * sizeof(void*) &&
              sizeof(FunctionTable) == 230 * sizeof(void*) &&
              sizeof(SharedTable) == sizeof(Interface19Table));
static_assert(sizeof(void*) != 4 || sizeof(FunctionTable) == 920);
static_assert(sizeof(void*) != 8 || sizeof(FunctionTable) == 1840);

// What ts3plugin_setFunctionPointers does with the table of a client of `interface` (19 to
// 26): hands its entries to the plugin, unless the plugin is running. Reads only the
// entries named above. getPluginPath is called in the shape of that interface.
void setFunctionPointers(int interface, const SharedTable& table) noexcept;

// The first slots of any of the tables above, as the library reads them.
template <std::size_t Slots, typename GetPluginPath>
SharedTable sharedSlots(const Table<Slots, GetPluginPath>& table) noexcept {
  SharedTable shared{};
  std::memcpy(&shared, &table, sizeof shared);
  return shared;
}

// Interface 26's table, handed over as a client of the 3.6 line does.
inline void setFunctionPointers(const FunctionTable& table) noexcept {
  setFunctionPointers(API_VERSION, sharedSlots(table));
}

// What ts3plugin_registerPluginID does: keeps a copy of the plugin's ID (the text itself
// lives only during the call), which getPluginPath takes from interface 21 on. It may come
// before or after init, or never; a null ID is ignored.
void registerPluginID(const char* id) noexcept;

}  // namespace sorlinx::interface26
