// A voice client for tests: it hands the plugin a full function table, records every call
// with its arguments, answers from a small scripted world, counts the memory it hands out
// and what comes back through freeMemory, and can be told to fail any entry.
//
// Builds for Linux and, in the end-to-end test program, for Windows, where the real DLL
// calls it through the table. One FakeHost exists at a time: the table's entries are plain
// functions and find it through a process-wide pointer. Safe to call from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_functions.h"

namespace sorlinx::testing {

struct HostCall {
  std::string entry;
  // The arguments, comma-separated: numbers as a stream writes them, texts in double
  // quotes, null pointers as null, for example 1,7,-3.25,0.5,10,null for a placement.
  std::string arguments;
  // The fake's clock at the call (see setClock); 0 without one.
  std::int64_t time = 0;
};

struct Placement {
  ServerConnectionId connection;
  ClientId client;
  Vector3 position;
};

class FakeHost {
 public:
  FakeHost();
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;
  ~FakeHost();

  // The table whose entries call this fake.
  [[nodiscard]] HostFunctions table() const;

  // --- The world the entries answer from ---
  // getCurrentServerConnectionHandlerID and getConnectionStatus answer these.
  void setConnection(ServerConnectionId connection, std::int32_t status);
  // getClientID answers this client.
  void setLocalClient(ClientId client);
  // Puts a client into a channel (getChannelOfClient, getChannelClientList), with a
  // nickname (getClientVariableAsString). Clients are listed in the order added.
  void addClient(ClientId client, ChannelId channel, std::string nickname);
  void removeClient(ClientId client);
  // getConfigPath writes this text (cut to the buffer's size); failed, it writes nothing.
  void setConfigPath(std::string path);

  // --- Faults ---
  // The entry answers `code` instead of 0 on every call from now on.
  void fail(std::string_view entry, HostError code);
  // The entry answers `code` for calls about this client only (entries taking a client).
  void failForClient(std::string_view entry, ClientId client, HostError code);
  void clearFailures();

  // --- Hooks ---
  // Runs after every call of `entry`, outside the fake's lock, on the calling thread: a test
  // can react there as a voice client would (report a status change, say).
  void setHook(std::string entry, std::function<void()> hook);
  // Stamps every recorded call; for tests on a virtual clock.
  void setClock(std::function<std::int64_t()> clock);

  // --- What the plugin did ---
  [[nodiscard]] std::vector<HostCall> calls() const;
  [[nodiscard]] std::vector<HostCall> callsTo(std::string_view entry) const;
  // The "entry(arguments)" of every call but logMessage, in order: a compact transcript.
  [[nodiscard]] std::vector<std::string> transcript() const;
  // The texts logged, in order. Lines that break the logging convention (severity 4,
  // channel "Plugin", log ID 0) are counted in conventionBreaks() as well.
  [[nodiscard]] std::vector<std::string> logLines() const;
  [[nodiscard]] int conventionBreaks() const;
  [[nodiscard]] std::vector<Placement> placements() const;
  void clearCalls();

  // --- Memory handed out by getChannelClientList and getClientVariableAsString ---
  [[nodiscard]] int outstandingAllocations() const;
  [[nodiscard]] int allocationsHandedOut() const;
  // freeMemory calls with a pointer never handed out, or already released.
  [[nodiscard]] int badFrees() const;

  // The entries of the table (public so that the plain table functions can reach them).
  struct Entries;

 private:
  friend struct Entries;
  HostError record(std::string_view entry, std::string arguments, ClientId client = 0,
                   bool hasClient = false);
  void runHook(std::string_view entry);

  mutable std::mutex mutex_;
  ServerConnectionId connection_ = 1;
  std::int32_t status_ = STATUS_CONNECTION_ESTABLISHED;
  ClientId localClient_ = 1;
  std::vector<ClientId> clientOrder_;
  std::map<ClientId, ChannelId> channelOf_;
  std::map<ClientId, std::string> nicknames_;
  std::string configPath_;
  std::map<std::string, HostError, std::less<>> failures_;
  std::map<std::pair<std::string, ClientId>, HostError> clientFailures_;
  std::map<std::string, std::function<void()>, std::less<>> hooks_;
  std::function<std::int64_t()> clock_;
  std::vector<HostCall> calls_;
  std::vector<std::string> logLines_;
  std::vector<Placement> placements_;
  int conventionBreaks_ = 0;
  std::set<const void*> handedOut_;
  std::vector<void*> released_;
  int allocations_ = 0;
  int badFrees_ = 0;
};

}  // namespace sorlinx::testing
