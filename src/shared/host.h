// The voice client as the plugin's logic sees it: the types and constants of its
// interface, and the set of functions the plugin calls (Host).
//
// The voice client hands its function table over once, by value, before init. Tables differ
// from one plugin interface to the next (their size, the slot of each entry, an argument
// here and there); one adapter per shape of table (interfaces/interface4.cpp, and
// interfaces/interface26.cpp for interfaces 19 to 26) copies what the plugin uses out of its
// table into a Host, and the rest of the plugin calls through that Host only. Adding an
// interface means adding such a file, its exports and a build preset; nothing above this
// header changes.
//
// Every entry returns an unsigned error code, 0 for success, unless it says otherwise;
// callers test zero against non-zero only. The voice client accepts calls from any thread.
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

// The calls the plugin makes. Every entry but pluginFolder and requestInfoUpdate is set by
// every interface.
struct Host {
  HostError(SORLINX_CDECL* freeMemory)(void* pointer);
  HostError(SORLINX_CDECL* logMessage)(const char* text, int severity, const char* channel,
                                       std::uint64_t logId);
  HostError(SORLINX_CDECL* playWaveFile)(ServerConnectionId connection, const char* path);
  // Places one client's voice.
  HostError(SORLINX_CDECL* channelset3DAttributes)(ServerConnectionId connection, ClientId client,
                                                   const Vector3* position);
  // Connects to a server, without a default channel.
  HostError(SORLINX_CDECL* startConnection)(ServerConnectionId connection, const char* identity,
                                            const char* address, std::int32_t port,
                                            const char* nickname,
                                            const char* defaultChannelPassword,
                                            const char* serverPassword);
  HostError(SORLINX_CDECL* stopConnection)(ServerConnectionId connection, const char* quitMessage);
  // Moves a client (any client, not only the local one) into a channel.
  HostError(SORLINX_CDECL* requestClientMove)(ServerConnectionId connection, ClientId client,
                                              ChannelId channel, const char* password,
                                              const char* returnCode);
  HostError(SORLINX_CDECL* getClientID)(ServerConnectionId connection, ClientId* result);
  HostError(SORLINX_CDECL* getClientVariableAsString)(ServerConnectionId connection,
                                                      ClientId client, std::size_t property,
                                                      char** result);
  HostError(SORLINX_CDECL* getChannelOfClient)(ServerConnectionId connection, ClientId client,
                                               ChannelId* result);
  HostError(SORLINX_CDECL* getChannelClientList)(ServerConnectionId connection, ChannelId channel,
                                                 ClientId** result);
  HostError(SORLINX_CDECL* getConnectionStatus)(ServerConnectionId connection,
                                                std::int32_t* result);
  // Writes the folder of the voice client's configuration, zero-terminated and cut to
  // maxLength; it returns nothing.
  void(SORLINX_CDECL* getConfigPath)(char* path, std::size_t maxLength);
  // Writes the folder that holds the installed plugins, zero-terminated and cut to
  // maxLength, and answers true; answers false, writing nothing, while it cannot tell yet.
  // Null where the interface has no such call: the cue sounds are then found by relative
  // paths.
  bool (*pluginFolder)(char* path, std::size_t maxLength);
  // Returns the connection in use, not an error code.
  ServerConnectionId(SORLINX_CDECL* getCurrentServerConnectionHandlerID)();
  // Asks the voice client to ask the plugin again for the info panel's text of that item
  // (INFO_ITEM_SERVER with the connection as its ID, INFO_ITEM_CLIENT with a client's), if
  // it is on show. Declared as returning nothing: the plugin has no use for a result, and
  // reading one the voice client may not set would read garbage. Null where the interface
  // has no info panel (interface 4).
  void(SORLINX_CDECL* requestInfoUpdate)(ServerConnectionId connection, int itemType,
                                         std::uint64_t itemId);
};

// The kinds of item the player may select in the voice client's info panel.
inline constexpr int INFO_ITEM_SERVER = 0;
inline constexpr int INFO_ITEM_CHANNEL = 1;
inline constexpr int INFO_ITEM_CLIENT = 2;

// Hands the plugin the voice client's calls, as each interface's setFunctionPointers does
// with its table. Refused while the plugin runs: replacing the calls under running workers
// would race with them. True when the calls were taken.
bool installHost(const Host& host) noexcept;

// Writes one line to the voice client's log the way every failure of the plugin is
// reported: the text given, severity 4, log channel "Plugin", log ID 0. Does nothing
// when the voice client has handed over no logMessage entry.
void logError(std::string_view text) noexcept;

}  // namespace sorlinx
