// The process-wide state of the plugin: one set of variables, shared by the voice client's
// threads (the exports and callbacks), clipboardThread and soundCueThread.
//
// Who touches what:
// - host: written by ts3plugin_setFunctionPointers (through installHost) while the plugin is
//   not running; read by all.
// - currentServerConnection, connectionStatus: written by init and the connection callbacks,
//   read by every handler and both workers, each as a whole value and without a lock.
// - stopRequested: cleared by init, set by shutdown, read by both workers on every pass.
// - stateLock guards rcClients and rlClients and nothing else. No code holds it while
//   calling the voice client from soundCueThread, or while waiting for anything else.
// - identityBuffer: filled by init before the workers start, read by the connection
//   handler, wiped and freed by shutdown after both workers have ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "shared/host.h"
#include "shared/pacer.h"

namespace sorlinx {

// The version text, reported by ts3plugin_version and answered to "GetVersion".
extern const char* const VERSION_TEXT;

struct PluginState {
  PluginState() = default;
  PluginState(const PluginState&) = delete;
  PluginState& operator=(const PluginState&) = delete;
  ~PluginState();

  Host host{};
  std::atomic<bool> hostReceived{false};
  std::atomic<ServerConnectionId> currentServerConnection{0};
  std::atomic<std::int32_t> connectionStatus{STATUS_DISCONNECTED};
  StopFlag stopRequested;
  std::mutex stateLock;
  // The radio lists live from the library's load to its unload; neither init nor shutdown
  // empties them. members are built in declaration order: rlClients first, then rcClients.
  std::vector<ClientId> rlClients;
  std::vector<ClientId> rcClients;
  char* identityBuffer = nullptr;
  std::thread clipboardThreadHandle;
  std::thread soundCueThreadHandle;
  // True from a successful init to the matching shutdown.
  std::atomic<bool> running{false};
  // The "3DMUTE" setting: recorded on request, off at start; nothing consults it yet.
  std::atomic<bool> mute3D{false};
  // The wall clock, with pauses that stopRequested cuts short.
  SteadyPacer steadyPacer{stopRequested};
  // How the workers pause and tell time: steadyPacer, unless tests or the simulator point
  // it at a virtual clock, which must then outlive every worker pass that uses it.
  Pacer* pacer = &steadyPacer;
};

extern PluginState pluginState;

// Overwrites `size` bytes at `data` with zeros in a way the compiler may not drop, for
// memory that held a secret.
void secureZero(void* data, std::size_t size) noexcept;

}  // namespace sorlinx
