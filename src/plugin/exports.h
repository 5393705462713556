// The functions the voice client looks up in the library, by these exact names: the eight
// below, which every interface shares, and those of the interface built for
// (ts3plugin_apiVersion and ts3plugin_setFunctionPointers, in interfaces/interface*_exports.cpp).
//
// Lifecycle, as the voice client drives it:
// 1. name, version, apiVersion, author and description may be asked at any time; they
//    return constant texts that the library owns and never frees.
// 2. ts3plugin_setFunctionPointers hands over the voice client's table, by value; the
//    entries used are copied out of it, and it must come before init. Interfaces 19 to 26
//    may also hand the plugin its ID (ts3plugin_registerPluginID), before or after init.
// 3. ts3plugin_init reads the user's identity, learns the current connection and its status
//    and starts the worker threads. It always returns 0.
// 4. The two connection callbacks may come at any time, from the voice client's threads.
// 5. ts3plugin_shutdown stops the workers and waits for them, so that no thread of the
//    plugin runs once it returns; the library may then be unloaded.
// init may follow a shutdown; a second init without shutdown, and shutdown without init or
// twice, do nothing. No exception ever leaves these functions.
#pragma once

#include <cstdint>

#include "shared/host.h"

#if defined(_WIN32)
#define SORLINX_EXPORT __declspec(dllexport) SORLINX_CDECL
#else
#define SORLINX_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

SORLINX_EXPORT const char* ts3plugin_name();
SORLINX_EXPORT const char* ts3plugin_version();
SORLINX_EXPORT const char* ts3plugin_author();
SORLINX_EXPORT const char* ts3plugin_description();
SORLINX_EXPORT int ts3plugin_init();
SORLINX_EXPORT void ts3plugin_shutdown();
SORLINX_EXPORT void ts3plugin_onConnectStatusChangeEvent(std::uint64_t serverConnection,
                                                         int newStatus, unsigned int errorNumber);
SORLINX_EXPORT void ts3plugin_currentServerConnectionChanged(std::uint64_t serverConnection);
}
