// Which plugin interface the voice client that loaded the library speaks (19 to 26), told by
// the version in the version resource of its executable.
//
// Every client refuses a plugin that reports another interface than its own (or, for 22
// and 24, the one before), and ts3plugin_apiVersion is the first thing it asks, before it
// hands over its table: the log and the heap of the plugin's own making are not there to
// help yet. So the answer is read from memory that is already mapped (the executable's
// resource), with bounds checked at every step, and nothing here allocates or logs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace sorlinx {

// A Windows file version: 3.5.6.0 is major 3, minor 5, patch 6, build 0.
struct ClientVersion {
  std::uint16_t major = 0;
  std::uint16_t minor = 0;
  std::uint16_t patch = 0;
  std::uint16_t build = 0;
  friend bool operator==(const ClientVersion&, const ClientVersion&) = default;
};

// The file version of a version resource (VS_VERSIONINFO: its header, the key
// "VS_VERSION_INFO" in UTF-16, then the fixed-info block, VS_FIXEDFILEINFO, whose signature
// is 0xFEEF04BD). Nothing when the bytes are not such a resource: too short for what they
// claim, a length that says more than there is, another key, no fixed-info block or
// another signature. A pure function of the bytes, whatever the platform.
std::optional<ClientVersion> readVersionResource(std::span<const unsigned char> resource) noexcept;

// The plugin interface of a client of that version, from the client lines: 3.0.9 to 3.0.13
// speak 19, 3.0.14 to 3.0.19 20, 3.1.0 21, 3.1.1 to 3.2.x 22, 3.3.x 23, 3.5.x 24, 3.6 and
// later 26. A version outside those lines, or none, gives 26: the interface of the clients
// that players mostly have, and of every client whose version cannot be told.
int interfaceOfClient(std::optional<ClientVersion> version) noexcept;

// The version resource of the running program's executable, as mapped in memory; empty
// when it has none. On Windows (client_version_win32.cpp) it is the client's; elsewhere
// (client_version_none.cpp) there is no such resource.
std::span<const unsigned char> ownVersionResource() noexcept;

// The interface of the client running the plugin: decided at the first call from its
// executable's version resource, then the same answer on every call.
int clientInterface() noexcept;

}  // namespace sorlinx
