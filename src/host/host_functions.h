// The voice client's function table, as this plugin declares and uses it.
//
// The voice client hands the table over once, by value, in ts3plugin_setFunctionPointers;
// the plugin copies it whole and calls through the copy for the rest of its life. The
// entries are addressed by position: the table has 171 pointer-sized slots, counted from 0,
// and only the 14 slots named below are called. Every other slot is a placeholder that
// keeps the named ones at their positions.
//
// Every entry used returns an unsigned error code, 0 for success; callers test zero
// against non-zero only. The voice client accepts calls from any thread.
//
// Memory that a getter hands out (client lists, nicknames) belongs to the voice client's
// allocator and goes back through freeMemory, never through ours.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The 32-bit voice client calls, and is called, with the C calling convention; the 64-bit
// one has only one convention, so the attribute is left out there (GCC warns about it).
#if defined(_WIN32) && defined(__i386__)
#define SORLINX_CDECL __attribute__((cdecl))
#else
#define SORLINX_CDECL
#endif

namespace sorlinx {

// The voice client's handle of a server connection.
using ServerConnectionId = std::uint64_t;
// A client's ID on a server; 0 ends the client lists that the voice client returns.
using ClientId = std::uint16_t;
// A channel's ID on a server.
using ChannelId = std::uint64_t;
// An error code of the voice client; 0 for success.
using HostError = unsigned int;

// A position in the voice client's space, in the units that the game sends.
struct Vector3 {
  float x;
  float y;
  float z;
};

// Error code that the voice client gives for an unknown client ID.
inline constexpr HostError ERROR_INVALID_CLIENT_ID = 0x200;
// Connection status: the connection to the server is established.
inline constexpr std::int32_t STATUS_CONNECTION_ESTABLISHED = 4;
// Connection status: disconnected.
inline constexpr std::int32_t STATUS_DISCONNECTED = 0;
// Client property asked for with getClientVariableAsString: the nickname.
inline constexpr std::size_t CLIENT_PROPERTY_NICKNAME = 1;
// Size of the buffer handed to getConfigPath, and of the identity buffer.
inline constexpr std::size_t PATH_BUFFER_SIZE = 1000;

using UnusedEntry = void(SORLINX_CDECL*)();

struct HostFunctions {
  UnusedEntry unused0To3[4];
  HostError(SORLINX_CDECL* freeMemory)(void* pointer);
  HostError(SORLINX_CDECL* logMessage)(const char* text, int severity, const char* channel,
                                       std::uint64_t logId);
  UnusedEntry unused6To28[23];
  HostError(SORLINX_CDECL* playWaveFile)(ServerConnectionId connection, const char* path);
  UnusedEntry unused30To39[10];
  HostError(SORLINX_CDECL* channelset3DAttributes)(ServerConnectionId connection, ClientId client,
                                                   const Vector3* position, const void* reserved);
  HostError(SORLINX_CDECL* startConnection)(ServerConnectionId connection, const char* identity,
                                            const char* address, std::int32_t port,
                                            const char* nickname, const char* defaultChannel,
                                            const char* defaultChannelPassword,
                                            const char* serverPassword);
  HostError(SORLINX_CDECL* stopConnection)(ServerConnectionId connection, const char* quitMessage);
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
  // The only entry whose result the plugin never looks at: what counts is the folder path
  // written into the buffer, so the result is declared away rather than read.
  void(SORLINX_CDECL* getConfigPath)(char* path, std::size_t maxLength);
  UnusedEntry unused165;
  ServerConnectionId(SORLINX_CDECL* getCurrentServerConnectionHandlerID)();
  UnusedEntry unused167To170[4];
};

// The voice client finds each entry by its slot: pin every slot used and the table's size,
// on 32- and 64-bit builds alike.
#define SORLINX_PIN_SLOT(entry, slot)                                     \
  static_assert(offsetof(HostFunctions, entry) == (slot) * sizeof(void*), \
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
static_assert(sizeof(HostFunctions) == 171 * sizeof(void*), "the table has 171 slots");
static_assert(sizeof(void*) != 4 || sizeof(HostFunctions) == 684);
static_assert(sizeof(void*) != 8 || sizeof(HostFunctions) == 1368);

// Writes one line to the voice client's log the way every failure of the plugin is
// reported: the text given, severity 4, log channel "Plugin", log ID 0. Does nothing
// when the voice client has handed over no logMessage entry.
void logError(std::string_view text) noexcept;

}  // namespace sorlinx
