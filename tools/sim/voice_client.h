// A simulated voice client: the entries of the function tables the plugin calls, interface
// 4's and interface 26's, answered from a small world (a server with channels, clients and
// their nicknames, the local client, a connection and its status, the folders it reports).
//
// It is the simulator's voice client and the tests' fake one. It records every call with
// its arguments and result, counts the memory it hands out and what comes back through
// freeMemory, and can be told to fail any entry, for every call or for one client.
//
// One VoiceClient exists at a time: the table's entries are plain functions with the
// voice client's calling convention and find it through a process-wide pointer. All of it
// is safe to call from any thread. It depends on nothing of the plugin but the table's
// declaration, so a program that loads the real DLL can use it too.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "interfaces/interface26.h"
#include "interfaces/interface4.h"
#include "shared/pacer.h"

namespace sorlinx::sim {

// The voice client's code for a client it does not know. Written out here rather than taken
// from the plugin's declarations, so that a wrong value on the plugin's side shows in tests.
inline constexpr HostError INVALID_CLIENT_ID = 512;

struct HostCall {
  std::string entry;
  // Each argument as written: numbers as a stream writes them, texts in double quotes, null
  // pointers as null, other pointers as pointer.
  std::vector<std::string> args;
  // The arguments joined by commas, for example 1,7,-3.25,0.5,10,null for a placement.
  std::string arguments;
  HostError result = 0;
  // What a successful getter handed back: "5", "40", the list "5,8", "\"Bob\"".
  std::string answer;
  // The clock at the call (see setClock); 0 without one.
  std::int64_t time = 0;
};

struct Placement {
  ServerConnectionId connection;
  ClientId client;
  Vector3 position;
};

struct ClientInfo {
  ClientId id = 0;
  std::string nickname;
  ChannelId channel = 0;
  // Every position the voice client accepted for this client, oldest first.
  std::vector<Vector3> trail;
};

class VoiceClient {
 public:
  VoiceClient();
  VoiceClient(const VoiceClient&) = delete;
  VoiceClient& operator=(const VoiceClient&) = delete;
  ~VoiceClient();

  // The tables whose entries call this client, one per plugin interface. Interfaces 21 to
  // 24 hand over the first slots of interface 26's; 20 that of 19, whose getPluginPath
  // takes no plugin ID.
  [[nodiscard]] interface4::FunctionTable table4() const;
  [[nodiscard]] interface26::Interface19Table table19() const;
  [[nodiscard]] interface26::FunctionTable table26() const;

  // --- The world ---
  // The connection in use and its status, set without reporting anything.
  void setConnection(ServerConnectionId connection, std::int32_t status);
  void setLocalClient(ClientId client);
  // A client joins (or, if known, changes channel and nickname). Listed in joining order.
  void addClient(ClientId client, ChannelId channel, std::string nickname);
  void removeClient(ClientId client);
  void renameClient(ClientId client, std::string nickname);
  void moveClient(ClientId client, ChannelId channel);
  // getConfigPath writes this text (cut to the buffer's size).
  void setConfigPath(std::string path);
  // getPluginPath (interfaces 19 to 26) writes this text (cut to the buffer's size).
  void setPluginPath(std::string path);

  [[nodiscard]] ClientId localClient() const;
  [[nodiscard]] std::vector<ClientInfo> clients() const;
  [[nodiscard]] std::optional<ClientInfo> client(ClientId client) const;

  // --- Behaving like a real voice client (the simulator turns these on) ---
  // Unknown clients are refused with the invalid-client error, and placements, moves,
  // nickname and channel queries about them fail.
  void setStrict(bool strict);
  // How status changes reach the plugin (its status callback), and how the client defers
  // work (a disconnect, the steps of a connection). Once set, stopConnection reports the
  // status 0 and startConnection reports 1 at once and 4 after `connectDelay`.
  using StatusReporter = std::function<void(ServerConnectionId, std::int32_t)>;
  using Scheduler = std::function<void(Milliseconds delay, std::function<void()> work)>;
  void setConnectionLifecycle(StatusReporter reporter, Scheduler scheduler,
                              Milliseconds connectDelay);
  // Changes the status and reports it through the reporter, if one is set.
  void reportStatus(std::int32_t status);

  // --- Faults ---
  // The entry answers `code` instead of 0 on every call from now on.
  void fail(std::string_view entry, HostError code);
  // The entry answers `code` for calls about this client only.
  void failForClient(std::string_view entry, ClientId client, HostError code);
  void heal(std::string_view entry);
  void healForClient(std::string_view entry, ClientId client);
  void clearFailures();

  // --- Hooks ---
  // Runs after every call of `entry`, outside the client's lock, on the calling thread.
  void setHook(std::string entry, std::function<void()> hook);
  // Runs after every call, outside the lock, with the call's record.
  void setObserver(std::function<void(const HostCall&)> observer);
  // Stamps every recorded call.
  void setClock(std::function<std::int64_t()> clock);

  // --- What the plugin did ---
  [[nodiscard]] std::vector<HostCall> calls() const;
  [[nodiscard]] std::vector<HostCall> callsTo(std::string_view entry) const;
  // The "entry(arguments)" of every call, in order: a compact transcript. Without the log
  // lines (logLines) and the info panel's refreshes, which come by themselves once a second
  // while the game talks (callsTo("requestInfoUpdate")).
  [[nodiscard]] std::vector<std::string> transcript() const;
  // The texts logged, in order. Lines that break the logging convention (severity 4,
  // channel "Plugin", log ID 0) are counted in conventionBreaks() as well.
  [[nodiscard]] std::vector<std::string> logLines() const;
  [[nodiscard]] int conventionBreaks() const;
  // Every placement the client accepted, in order.
  [[nodiscard]] std::vector<Placement> placements() const;
  void clearCalls();

  // --- Memory handed out by getChannelClientList and getClientVariableAsString ---
  [[nodiscard]] int outstandingAllocations() const;
  // freeMemory calls with a pointer never handed out, or already released.
  [[nodiscard]] int badFrees() const;

  struct Entries;

 private:
  friend struct Entries;
  struct Client {
    std::string nickname;
    ChannelId channel = 0;
    std::vector<Vector3> trail;
  };

  // Records a call and runs `body` under the lock when no fault is injected; body returns
  // the entry's result and may fill in the answer. Observers, hooks and deferred work run
  // after the lock is released.
  template <typename Body>
  HostError call(std::string_view entry, std::vector<std::string> args,
                 std::optional<ClientId> about, Body body);
  HostError injectedFault(std::string_view entry, std::optional<ClientId> about) const;
  HostError unknownClient(ClientId client) const;
  void* handOut(std::size_t size);
  void defer(std::function<void()> work);
  void schedule(Milliseconds delay, std::function<void()> work);

  mutable std::mutex mutex_;
  ServerConnectionId connection_ = 1;
  std::int32_t status_ = STATUS_CONNECTION_ESTABLISHED;
  ClientId localClient_ = 1;
  std::vector<ClientId> clientOrder_;
  std::map<ClientId, Client> clients_;
  std::string configPath_;
  std::string pluginPath_;
  bool strict_ = false;
  StatusReporter reporter_;
  Scheduler scheduler_;
  Milliseconds connectDelay_{0};
  std::map<std::string, HostError, std::less<>> failures_;
  std::map<std::pair<std::string, ClientId>, HostError> clientFailures_;
  std::map<std::string, std::function<void()>, std::less<>> hooks_;
  std::function<void(const HostCall&)> observer_;
  std::function<std::int64_t()> clock_;
  std::vector<std::function<void()>> deferred_;
  std::vector<HostCall> calls_;
  std::vector<std::string> logLines_;
  std::vector<Placement> placements_;
  int conventionBreaks_ = 0;
  std::set<const void*> handedOut_;
  std::vector<void*> released_;
  int badFrees_ = 0;
};

}  // namespace sorlinx::sim
