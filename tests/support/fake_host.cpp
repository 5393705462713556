#include "support/fake_host.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace sorlinx::testing {

namespace {

FakeHost* current = nullptr;

std::string quoted(const char* text) {
  return text == nullptr ? std::string("null") : "\"" + std::string(text) + "\"";
}

template <typename... Values>
std::string joined(const Values&... values) {
  std::ostringstream out;
  const char* separator = "";
  ((out << separator << values, separator = ","), ...);
  return out.str();
}

}  // namespace

// The table's entries: plain functions with the voice client's calling convention, each
// forwarding to the current fake.
struct FakeHost::Entries {
  static HostError SORLINX_CDECL freeMemory(void* pointer) {
    FakeHost& host = *current;
    {
      const std::lock_guard lock(host.mutex_);
      host.calls_.push_back({"freeMemory", pointer == nullptr ? "null" : "pointer", 0});
      if (host.handedOut_.erase(pointer) == 0) {
        ++host.badFrees_;
      } else {
        // Kept until the fake goes, so that no later allocation reuses the address and
        // hides a second release of it.
        host.released_.push_back(pointer);
      }
    }
    return 0;
  }

  static HostError SORLINX_CDECL logMessage(const char* text, int severity, const char* channel,
                                            std::uint64_t logId) {
    FakeHost& host = *current;
    const std::lock_guard lock(host.mutex_);
    const std::string line = text == nullptr ? "(null)" : text;
    host.calls_.push_back({"logMessage", joined(quoted(text), severity, quoted(channel), logId),
                           host.clock_ ? host.clock_() : 0});
    host.logLines_.push_back(line);
    if (severity != 4 || channel == nullptr || std::strcmp(channel, "Plugin") != 0 || logId != 0) {
      ++host.conventionBreaks_;
    }
    return 0;
  }

  static HostError SORLINX_CDECL playWaveFile(ServerConnectionId connection, const char* path) {
    const HostError result = current->record("playWaveFile", joined(connection, quoted(path)));
    current->runHook("playWaveFile");
    return result;
  }

  static HostError SORLINX_CDECL channelset3DAttributes(ServerConnectionId connection,
                                                        ClientId client, const Vector3* position,
                                                        const void* reserved) {
    const Vector3 at = position == nullptr ? Vector3{} : *position;
    const HostError result = current->record(
        "channelset3DAttributes",
        joined(connection, client, at.x, at.y, at.z, reserved == nullptr ? "null" : "pointer"),
        client, true);
    if (result == 0) {
      const std::lock_guard lock(current->mutex_);
      current->placements_.push_back({connection, client, at});
    }
    current->runHook("channelset3DAttributes");
    return result;
  }

  static HostError SORLINX_CDECL startConnection(ServerConnectionId connection,
                                                 const char* identity, const char* address,
                                                 std::int32_t port, const char* nickname,
                                                 const char* defaultChannel,
                                                 const char* defaultChannelPassword,
                                                 const char* serverPassword) {
    const HostError result = current->record(
        "startConnection",
        joined(connection, quoted(identity), quoted(address), port, quoted(nickname),
               quoted(defaultChannel), quoted(defaultChannelPassword), quoted(serverPassword)));
    current->runHook("startConnection");
    return result;
  }

  static HostError SORLINX_CDECL stopConnection(ServerConnectionId connection,
                                                const char* quitMessage) {
    const HostError result =
        current->record("stopConnection", joined(connection, quoted(quitMessage)));
    current->runHook("stopConnection");
    return result;
  }

  static HostError SORLINX_CDECL requestChannelMove(ServerConnectionId connection, ClientId client,
                                                    ChannelId channel, const char* password,
                                                    const char* returnCode) {
    const HostError result = current->record(
        "requestChannelMove",
        joined(connection, client, channel, quoted(password), quoted(returnCode)), client, true);
    current->runHook("requestChannelMove");
    return result;
  }

  static HostError SORLINX_CDECL getClientID(ServerConnectionId connection, ClientId* result) {
    const HostError error = current->record("getClientID", joined(connection));
    if (error == 0) {
      const std::lock_guard lock(current->mutex_);
      *result = current->localClient_;
    }
    current->runHook("getClientID");
    return error;
  }

  static HostError SORLINX_CDECL getClientVariableAsString(ServerConnectionId connection,
                                                           ClientId client, std::size_t property,
                                                           char** result) {
    const HostError error = current->record("getClientVariableAsString",
                                            joined(connection, client, property), client, true);
    if (error == 0) {
      FakeHost& host = *current;
      const std::lock_guard lock(host.mutex_);
      const auto found = host.nicknames_.find(client);
      const std::string nickname = found == host.nicknames_.end() ? "" : found->second;
      auto* copy = static_cast<char*>(::operator new(nickname.size() + 1));
      std::memcpy(copy, nickname.c_str(), nickname.size() + 1);
      host.handedOut_.insert(copy);
      ++host.allocations_;
      *result = copy;
    }
    current->runHook("getClientVariableAsString");
    return error;
  }

  static HostError SORLINX_CDECL getChannelOfClient(ServerConnectionId connection, ClientId client,
                                                    ChannelId* result) {
    const HostError error =
        current->record("getChannelOfClient", joined(connection, client), client, true);
    if (error == 0) {
      const std::lock_guard lock(current->mutex_);
      const auto found = current->channelOf_.find(client);
      *result = found == current->channelOf_.end() ? 0 : found->second;
    }
    current->runHook("getChannelOfClient");
    return error;
  }

  static HostError SORLINX_CDECL getChannelClientList(ServerConnectionId connection,
                                                      ChannelId channel, ClientId** result) {
    const HostError error = current->record("getChannelClientList", joined(connection, channel));
    if (error == 0) {
      FakeHost& host = *current;
      const std::lock_guard lock(host.mutex_);
      std::vector<ClientId> members;
      for (const ClientId client : host.clientOrder_) {
        if (host.channelOf_[client] == channel) {
          members.push_back(client);
        }
      }
      members.push_back(0);
      auto* list = static_cast<ClientId*>(::operator new(members.size() * sizeof(ClientId)));
      std::copy(members.begin(), members.end(), list);
      host.handedOut_.insert(list);
      ++host.allocations_;
      *result = list;
    }
    current->runHook("getChannelClientList");
    return error;
  }

  static HostError SORLINX_CDECL getConnectionStatus(ServerConnectionId connection,
                                                     std::int32_t* result) {
    const HostError error = current->record("getConnectionStatus", joined(connection));
    if (error == 0) {
      const std::lock_guard lock(current->mutex_);
      *result = current->status_;
    }
    current->runHook("getConnectionStatus");
    return error;
  }

  static void SORLINX_CDECL getConfigPath(char* path, std::size_t maxLength) {
    // Told to fail, it leaves the buffer as it found it, as a voice client that has no
    // folder to give may.
    const HostError error = current->record("getConfigPath", joined(maxLength));
    if (error == 0) {
      const std::lock_guard lock(current->mutex_);
      if (path != nullptr && maxLength > 0) {
        const std::size_t length = std::min(current->configPath_.size(), maxLength - 1);
        std::memcpy(path, current->configPath_.data(), length);
        path[length] = '\0';
      }
    }
    current->runHook("getConfigPath");
  }

  static ServerConnectionId SORLINX_CDECL getCurrentServerConnectionHandlerID() {
    current->record("getCurrentServerConnectionHandlerID", "");
    const std::lock_guard lock(current->mutex_);
    return current->connection_;
  }
};

FakeHost::FakeHost() { current = this; }

FakeHost::~FakeHost() {
  for (const void* pointer : handedOut_) {
    ::operator delete(const_cast<void*>(pointer));
  }
  for (void* pointer : released_) {
    ::operator delete(pointer);
  }
  if (current == this) {
    current = nullptr;
  }
}

HostFunctions FakeHost::table() const {
  HostFunctions table{};
  table.freeMemory = &Entries::freeMemory;
  table.logMessage = &Entries::logMessage;
  table.playWaveFile = &Entries::playWaveFile;
  table.channelset3DAttributes = &Entries::channelset3DAttributes;
  table.startConnection = &Entries::startConnection;
  table.stopConnection = &Entries::stopConnection;
  table.requestChannelMove = &Entries::requestChannelMove;
  table.getClientID = &Entries::getClientID;
  table.getClientVariableAsString = &Entries::getClientVariableAsString;
  table.getChannelOfClient = &Entries::getChannelOfClient;
  table.getChannelClientList = &Entries::getChannelClientList;
  table.getConnectionStatus = &Entries::getConnectionStatus;
  table.getConfigPath = &Entries::getConfigPath;
  table.getCurrentServerConnectionHandlerID = &Entries::getCurrentServerConnectionHandlerID;
  return table;
}

HostError FakeHost::record(std::string_view entry, std::string arguments, ClientId client,
                           bool hasClient) {
  const std::lock_guard lock(mutex_);
  calls_.push_back({std::string(entry), std::move(arguments), clock_ ? clock_() : 0});
  if (hasClient) {
    const auto found = clientFailures_.find({std::string(entry), client});
    if (found != clientFailures_.end()) {
      return found->second;
    }
  }
  const auto found = failures_.find(entry);
  return found == failures_.end() ? 0 : found->second;
}

void FakeHost::runHook(std::string_view entry) {
  std::function<void()> hook;
  {
    const std::lock_guard lock(mutex_);
    const auto found = hooks_.find(entry);
    if (found == hooks_.end()) {
      return;
    }
    hook = found->second;
  }
  hook();
}

void FakeHost::setConnection(ServerConnectionId connection, std::int32_t status) {
  const std::lock_guard lock(mutex_);
  connection_ = connection;
  status_ = status;
}

void FakeHost::setLocalClient(ClientId client) {
  const std::lock_guard lock(mutex_);
  localClient_ = client;
}

void FakeHost::addClient(ClientId client, ChannelId channel, std::string nickname) {
  const std::lock_guard lock(mutex_);
  if (channelOf_.count(client) == 0) {
    clientOrder_.push_back(client);
  }
  channelOf_[client] = channel;
  nicknames_[client] = std::move(nickname);
}

void FakeHost::removeClient(ClientId client) {
  const std::lock_guard lock(mutex_);
  std::erase(clientOrder_, client);
  channelOf_.erase(client);
  nicknames_.erase(client);
}

void FakeHost::setConfigPath(std::string path) {
  const std::lock_guard lock(mutex_);
  configPath_ = std::move(path);
}

void FakeHost::fail(std::string_view entry, HostError code) {
  const std::lock_guard lock(mutex_);
  failures_[std::string(entry)] = code;
}

void FakeHost::failForClient(std::string_view entry, ClientId client, HostError code) {
  const std::lock_guard lock(mutex_);
  clientFailures_[{std::string(entry), client}] = code;
}

void FakeHost::clearFailures() {
  const std::lock_guard lock(mutex_);
  failures_.clear();
  clientFailures_.clear();
}

void FakeHost::setHook(std::string entry, std::function<void()> hook) {
  const std::lock_guard lock(mutex_);
  hooks_[std::move(entry)] = std::move(hook);
}

void FakeHost::setClock(std::function<std::int64_t()> clock) {
  const std::lock_guard lock(mutex_);
  clock_ = std::move(clock);
}

std::vector<HostCall> FakeHost::calls() const {
  const std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<HostCall> FakeHost::callsTo(std::string_view entry) const {
  const std::lock_guard lock(mutex_);
  std::vector<HostCall> selected;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(selected),
               [entry](const HostCall& call) { return call.entry == entry; });
  return selected;
}

std::vector<std::string> FakeHost::transcript() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  for (const HostCall& call : calls_) {
    if (call.entry != "logMessage") {
      lines.push_back(call.entry + "(" + call.arguments + ")");
    }
  }
  return lines;
}

std::vector<std::string> FakeHost::logLines() const {
  const std::lock_guard lock(mutex_);
  return logLines_;
}

int FakeHost::conventionBreaks() const {
  const std::lock_guard lock(mutex_);
  return conventionBreaks_;
}

std::vector<Placement> FakeHost::placements() const {
  const std::lock_guard lock(mutex_);
  return placements_;
}

void FakeHost::clearCalls() {
  const std::lock_guard lock(mutex_);
  calls_.clear();
  logLines_.clear();
  placements_.clear();
  conventionBreaks_ = 0;
}

int FakeHost::outstandingAllocations() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(handedOut_.size());
}

int FakeHost::allocationsHandedOut() const {
  const std::lock_guard lock(mutex_);
  return allocations_;
}

int FakeHost::badFrees() const {
  const std::lock_guard lock(mutex_);
  return badFrees_;
}

}  // namespace sorlinx::testing
