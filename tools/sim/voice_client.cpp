#include "voice_client.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <sstream>

namespace sorlinx::sim {

namespace {

VoiceClient* current = nullptr;

std::string text(const char* value) {
  if (value == nullptr) {
    return "null";
  }
  // Appended piece by piece: GCC 12 misreads "literal" + std::string at -O3 (-Wrestrict).
  std::string quoted(1, '"');
  quoted.append(value).push_back('"');
  return quoted;
}

std::string pointer(const void* value) { return value == nullptr ? "null" : "pointer"; }

template <typename Value>
std::string number(Value value) {
  if constexpr (std::is_floating_point_v<Value>) {
    // The shortest text that reads back as the same float: exact, and as short as the
    // game wrote it (0.1, not 0.100000001).
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
  }
  std::ostringstream out;
  if constexpr (sizeof(Value) == 1) {
    out << static_cast<int>(value);
  } else {
    out << value;
  }
  return out.str();
}

std::string joined(const std::vector<std::string>& parts) {
  std::string line;
  for (const std::string& part : parts) {
    if (!line.empty()) {
      line += ',';
    }
    line += part;
  }
  return line;
}

}  // namespace

template <typename Body>
HostError VoiceClient::call(std::string_view entry, std::vector<std::string> args,
                            std::optional<ClientId> about, Body body) {
  HostCall record;
  std::function<void()> hook;
  std::function<void(const HostCall&)> observer;
  std::vector<std::function<void()>> deferred;
  {
    const std::lock_guard lock(mutex_);
    record.entry = std::string(entry);
    record.arguments = joined(args);
    record.args = std::move(args);
    record.time = clock_ ? clock_() : 0;
    record.result = injectedFault(entry, about);
    if (record.result == 0) {
      record.result = body(record);
    }
    calls_.push_back(record);
    if (const auto found = hooks_.find(entry); found != hooks_.end()) {
      hook = found->second;
    }
    observer = observer_;
    deferred.swap(deferred_);
  }
  if (observer) {
    observer(record);
  }
  for (const auto& work : deferred) {
    work();
  }
  if (hook) {
    hook();
  }
  return record.result;
}

HostError VoiceClient::injectedFault(std::string_view entry, std::optional<ClientId> about) const {
  if (about) {
    const auto found = clientFailures_.find({std::string(entry), *about});
    if (found != clientFailures_.end()) {
      return found->second;
    }
  }
  const auto found = failures_.find(entry);
  return found == failures_.end() ? 0 : found->second;
}

HostError VoiceClient::unknownClient(ClientId client) const {
  return strict_ && clients_.count(client) == 0 ? INVALID_CLIENT_ID : 0;
}

void* VoiceClient::handOut(std::size_t size) {
  void* block = ::operator new(size);
  handedOut_.insert(block);
  return block;
}

void VoiceClient::defer(std::function<void()> work) { deferred_.push_back(std::move(work)); }

void VoiceClient::schedule(Milliseconds delay, std::function<void()> work) {
  if (scheduler_) {
    defer([scheduler = scheduler_, delay, work = std::move(work)] { scheduler(delay, work); });
  }
}

// The table's entries: plain functions with the voice client's calling convention, each
// forwarding to the current client.
struct VoiceClient::Entries {
  static HostError SORLINX_CDECL freeMemory(void* block) {
    VoiceClient& vc = *current;
    return vc.call("freeMemory", {pointer(block)}, std::nullopt, [&](HostCall&) -> HostError {
      if (vc.handedOut_.erase(block) == 0) {
        ++vc.badFrees_;
      } else {
        // Kept until the client goes, so that no later allocation reuses the address and
        // hides a second release of it.
        vc.released_.push_back(block);
      }
      return 0;
    });
  }

  static HostError SORLINX_CDECL logMessage(const char* line, int severity, const char* channel,
                                            std::uint64_t logId) {
    VoiceClient& vc = *current;
    return vc.call("logMessage", {text(line), number(severity), text(channel), number(logId)},
                   std::nullopt, [&](HostCall&) -> HostError {
                     vc.logLines_.emplace_back(line == nullptr ? "(null)" : line);
                     if (severity != 4 || channel == nullptr ||
                         std::strcmp(channel, "Plugin") != 0 || logId != 0) {
                       ++vc.conventionBreaks_;
                     }
                     return 0;
                   });
  }

  static HostError SORLINX_CDECL playWaveFile(ServerConnectionId connection, const char* path) {
    return current->call("playWaveFile", {number(connection), text(path)}, std::nullopt,
                         [](HostCall&) -> HostError { return 0; });
  }

  // Interface 4 passes a fourth, reserved argument; interface 26 has none. The record shows
  // what came: the reserved pointer as a sixth argument, or no sixth argument at all.
  static HostError place(ServerConnectionId connection, ClientId client, const Vector3* position,
                         std::optional<const void*> reserved) {
    VoiceClient& vc = *current;
    const Vector3 at = position == nullptr ? Vector3{} : *position;
    std::vector<std::string> args{number(connection), number(client), number(at.x), number(at.y),
                                  number(at.z)};
    if (reserved) {
      args.push_back(pointer(*reserved));
    }
    return vc.call("channelset3DAttributes", std::move(args), client, [&](HostCall&) -> HostError {
      if (const HostError refused = vc.unknownClient(client)) {
        return refused;
      }
      vc.placements_.push_back({connection, client, at});
      if (const auto found = vc.clients_.find(client); found != vc.clients_.end()) {
        found->second.trail.push_back(at);
      }
      return 0;
    });
  }

  static HostError SORLINX_CDECL channelset3DAttributes4(ServerConnectionId connection,
                                                         ClientId client, const Vector3* position,
                                                         const void* reserved) {
    return place(connection, client, position, reserved);
  }

  static HostError SORLINX_CDECL channelset3DAttributes26(ServerConnectionId connection,
                                                          ClientId client,
                                                          const Vector3* position) {
    return place(connection, client, position, std::nullopt);
  }

  // The default channel is a text in interface 4 and an array of texts in interface 26;
  // either is recorded as null or pointer.
  static HostError connect(ServerConnectionId connection, const char* identity, const char* address,
                           std::int64_t port, const char* nickname, const void* defaultChannel,
                           const char* defaultChannelPassword, const char* serverPassword) {
    VoiceClient& vc = *current;
    return vc.call("startConnection",
                   {number(connection), text(identity), text(address), number(port), text(nickname),
                    pointer(defaultChannel), text(defaultChannelPassword), text(serverPassword)},
                   std::nullopt, [&](HostCall&) -> HostError {
                     if (vc.reporter_) {
                       vc.schedule(Milliseconds(0), [&vc] { vc.reportStatus(1); });
                       vc.schedule(vc.connectDelay_,
                                   [&vc] { vc.reportStatus(STATUS_CONNECTION_ESTABLISHED); });
                     }
                     return 0;
                   });
  }

  static HostError SORLINX_CDECL startConnection4(ServerConnectionId connection,
                                                  const char* identity, const char* address,
                                                  std::int32_t port, const char* nickname,
                                                  const char* defaultChannel,
                                                  const char* defaultChannelPassword,
                                                  const char* serverPassword) {
    return connect(connection, identity, address, port, nickname, defaultChannel,
                   defaultChannelPassword, serverPassword);
  }

  static HostError SORLINX_CDECL startConnection26(ServerConnectionId connection,
                                                   const char* identity, const char* address,
                                                   std::uint32_t port, const char* nickname,
                                                   const char** defaultChannelArray,
                                                   const char* defaultChannelPassword,
                                                   const char* serverPassword) {
    return connect(connection, identity, address, port, nickname, defaultChannelArray,
                   defaultChannelPassword, serverPassword);
  }

  static HostError SORLINX_CDECL stopConnection(ServerConnectionId connection,
                                                const char* quitMessage) {
    VoiceClient& vc = *current;
    return vc.call("stopConnection", {number(connection), text(quitMessage)}, std::nullopt,
                   [&](HostCall&) -> HostError {
                     if (vc.reporter_) {
                       vc.schedule(Milliseconds(0),
                                   [&vc] { vc.reportStatus(STATUS_DISCONNECTED); });
                     }
                     return 0;
                   });
  }

  // Interface 4 moves clients with requestChannelMove, interface 26 with requestClientMove;
  // each is recorded under its own name.
  static HostError move(std::string_view entry, ServerConnectionId connection, ClientId client,
                        ChannelId channel, const char* password, const char* returnCode) {
    VoiceClient& vc = *current;
    return vc.call(
        entry,
        {number(connection), number(client), number(channel), text(password), text(returnCode)},
        client, [&](HostCall&) -> HostError {
          if (const HostError refused = vc.unknownClient(client)) {
            return refused;
          }
          if (const auto found = vc.clients_.find(client); found != vc.clients_.end()) {
            found->second.channel = channel;
          }
          return 0;
        });
  }

  static HostError SORLINX_CDECL requestChannelMove(ServerConnectionId connection, ClientId client,
                                                    ChannelId channel, const char* password,
                                                    const char* returnCode) {
    return move("requestChannelMove", connection, client, channel, password, returnCode);
  }

  static HostError SORLINX_CDECL requestClientMove(ServerConnectionId connection, ClientId client,
                                                   ChannelId channel, const char* password,
                                                   const char* returnCode) {
    return move("requestClientMove", connection, client, channel, password, returnCode);
  }

  static HostError SORLINX_CDECL getClientID(ServerConnectionId connection, ClientId* result) {
    VoiceClient& vc = *current;
    return vc.call("getClientID", {number(connection)}, std::nullopt,
                   [&](HostCall& record) -> HostError {
                     *result = vc.localClient_;
                     record.answer = number(vc.localClient_);
                     return 0;
                   });
  }

  static HostError SORLINX_CDECL getClientVariableAsString(ServerConnectionId connection,
                                                           ClientId client, std::size_t property,
                                                           char** result) {
    VoiceClient& vc = *current;
    return vc.call(
        "getClientVariableAsString", {number(connection), number(client), number(property)}, client,
        [&](HostCall& record) -> HostError {
          if (const HostError refused = vc.unknownClient(client)) {
            return refused;
          }
          const auto found = vc.clients_.find(client);
          const std::string nickname = found == vc.clients_.end() ? "" : found->second.nickname;
          auto* copy = static_cast<char*>(vc.handOut(nickname.size() + 1));
          std::memcpy(copy, nickname.c_str(), nickname.size() + 1);
          *result = copy;
          record.answer = text(copy);
          return 0;
        });
  }

  static HostError SORLINX_CDECL getChannelOfClient(ServerConnectionId connection, ClientId client,
                                                    ChannelId* result) {
    VoiceClient& vc = *current;
    return vc.call("getChannelOfClient", {number(connection), number(client)}, client,
                   [&](HostCall& record) -> HostError {
                     if (const HostError refused = vc.unknownClient(client)) {
                       return refused;
                     }
                     const auto found = vc.clients_.find(client);
                     *result = found == vc.clients_.end() ? 0 : found->second.channel;
                     record.answer = number(*result);
                     return 0;
                   });
  }

  static HostError SORLINX_CDECL getChannelClientList(ServerConnectionId connection,
                                                      ChannelId channel, ClientId** result) {
    VoiceClient& vc = *current;
    return vc.call("getChannelClientList", {number(connection), number(channel)}, std::nullopt,
                   [&](HostCall& record) -> HostError {
                     std::vector<ClientId> members;
                     for (const ClientId client : vc.clientOrder_) {
                       if (vc.clients_.at(client).channel == channel) {
                         members.push_back(client);
                         if (!record.answer.empty()) {
                           record.answer += ',';
                         }
                         record.answer += number(client);
                       }
                     }
                     members.push_back(0);
                     auto* list =
                         static_cast<ClientId*>(vc.handOut(members.size() * sizeof(ClientId)));
                     std::copy(members.begin(), members.end(), list);
                     *result = list;
                     return 0;
                   });
  }

  static HostError SORLINX_CDECL getConnectionStatus(ServerConnectionId connection,
                                                     std::int32_t* result) {
    VoiceClient& vc = *current;
    return vc.call("getConnectionStatus", {number(connection)}, std::nullopt,
                   [&](HostCall& record) -> HostError {
                     *result = vc.status_;
                     record.answer = number(vc.status_);
                     return 0;
                   });
  }

  static void SORLINX_CDECL getConfigPath(char* path, std::size_t maxLength) {
    VoiceClient& vc = *current;
    vc.call("getConfigPath", {number(maxLength)}, std::nullopt, [&](HostCall&) -> HostError {
      writeCut(vc.configPath_, path, maxLength);
      return 0;
    });
  }

  static void SORLINX_CDECL getPluginPath(char* path, std::size_t maxLength, const char* pluginId) {
    pluginPath({number(maxLength), text(pluginId)}, path, maxLength);
  }

  // Interfaces 19 and 20: the same without the plugin's ID.
  static void SORLINX_CDECL getPluginPathWithoutId(char* path, std::size_t maxLength) {
    pluginPath({number(maxLength)}, path, maxLength);
  }

  static void pluginPath(std::vector<std::string> args, char* path, std::size_t maxLength) {
    VoiceClient& vc = *current;
    vc.call("getPluginPath", std::move(args), std::nullopt, [&](HostCall&) -> HostError {
      writeCut(vc.pluginPath_, path, maxLength);
      return 0;
    });
  }

  // Writes `value` zero-terminated, cut to the buffer, as the voice client's path getters do.
  static void writeCut(const std::string& value, char* path, std::size_t maxLength) {
    if (path != nullptr && maxLength > 0) {
      const std::size_t length = std::min(value.size(), maxLength - 1);
      std::memcpy(path, value.data(), length);
      path[length] = '\0';
    }
  }

  static void SORLINX_CDECL requestInfoUpdate(ServerConnectionId connection, int itemType,
                                              std::uint64_t itemId) {
    current->call("requestInfoUpdate", {number(connection), number(itemType), number(itemId)},
                  std::nullopt, [](HostCall&) -> HostError { return 0; });
  }

  static ServerConnectionId SORLINX_CDECL getCurrentServerConnectionHandlerID() {
    VoiceClient& vc = *current;
    ServerConnectionId connection = 0;
    vc.call("getCurrentServerConnectionHandlerID", {}, std::nullopt,
            [&](HostCall& record) -> HostError {
              connection = vc.connection_;
              record.answer = number(connection);
              return 0;
            });
    return connection;
  }
};

VoiceClient::VoiceClient() { current = this; }

VoiceClient::~VoiceClient() {
  for (const void* block : handedOut_) {
    ::operator delete(const_cast<void*>(block));
  }
  for (void* block : released_) {
    ::operator delete(block);
  }
  if (current == this) {
    current = nullptr;
  }
}

interface4::FunctionTable VoiceClient::table4() const {
  interface4::FunctionTable table{};
  table.freeMemory = &Entries::freeMemory;
  table.logMessage = &Entries::logMessage;
  table.playWaveFile = &Entries::playWaveFile;
  table.channelset3DAttributes = &Entries::channelset3DAttributes4;
  table.startConnection = &Entries::startConnection4;
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

interface26::Interface19Table VoiceClient::table19() const {
  // The same entries at the same slots, but for getPluginPath.
  const interface26::FunctionTable newest = table26();
  interface26::Interface19Table table{};
  std::memcpy(&table, &newest, sizeof table);
  table.getPluginPath = &Entries::getPluginPathWithoutId;
  return table;
}

interface26::FunctionTable VoiceClient::table26() const {
  interface26::FunctionTable table{};
  table.freeMemory = &Entries::freeMemory;
  table.logMessage = &Entries::logMessage;
  table.playWaveFile = &Entries::playWaveFile;
  table.channelset3DAttributes = &Entries::channelset3DAttributes26;
  table.startConnection = &Entries::startConnection26;
  table.stopConnection = &Entries::stopConnection;
  table.requestClientMove = &Entries::requestClientMove;
  table.getClientID = &Entries::getClientID;
  table.getClientVariableAsString = &Entries::getClientVariableAsString;
  table.getChannelOfClient = &Entries::getChannelOfClient;
  table.getChannelClientList = &Entries::getChannelClientList;
  table.getConnectionStatus = &Entries::getConnectionStatus;
  table.getConfigPath = &Entries::getConfigPath;
  table.getPluginPath = &Entries::getPluginPath;
  table.getCurrentServerConnectionHandlerID = &Entries::getCurrentServerConnectionHandlerID;
  table.requestInfoUpdate = &Entries::requestInfoUpdate;
  return table;
}

void VoiceClient::setConnection(ServerConnectionId connection, std::int32_t status) {
  const std::lock_guard lock(mutex_);
  connection_ = connection;
  status_ = status;
}

void VoiceClient::setLocalClient(ClientId client) {
  const std::lock_guard lock(mutex_);
  localClient_ = client;
}

void VoiceClient::addClient(ClientId client, ChannelId channel, std::string nickname) {
  const std::lock_guard lock(mutex_);
  if (clients_.count(client) == 0) {
    clientOrder_.push_back(client);
  }
  Client& entry = clients_[client];
  entry.channel = channel;
  entry.nickname = std::move(nickname);
}

void VoiceClient::removeClient(ClientId client) {
  const std::lock_guard lock(mutex_);
  std::erase(clientOrder_, client);
  clients_.erase(client);
}

void VoiceClient::renameClient(ClientId client, std::string nickname) {
  const std::lock_guard lock(mutex_);
  if (const auto found = clients_.find(client); found != clients_.end()) {
    found->second.nickname = std::move(nickname);
  }
}

void VoiceClient::moveClient(ClientId client, ChannelId channel) {
  const std::lock_guard lock(mutex_);
  if (const auto found = clients_.find(client); found != clients_.end()) {
    found->second.channel = channel;
  }
}

void VoiceClient::setConfigPath(std::string path) {
  const std::lock_guard lock(mutex_);
  configPath_ = std::move(path);
}

void VoiceClient::setPluginPath(std::string path) {
  const std::lock_guard lock(mutex_);
  pluginPath_ = std::move(path);
}

ClientId VoiceClient::localClient() const {
  const std::lock_guard lock(mutex_);
  return localClient_;
}

std::vector<ClientInfo> VoiceClient::clients() const {
  const std::lock_guard lock(mutex_);
  std::vector<ClientInfo> list;
  for (const ClientId id : clientOrder_) {
    const Client& entry = clients_.at(id);
    list.push_back({id, entry.nickname, entry.channel, entry.trail});
  }
  return list;
}

std::optional<ClientInfo> VoiceClient::client(ClientId id) const {
  const std::lock_guard lock(mutex_);
  const auto found = clients_.find(id);
  if (found == clients_.end()) {
    return std::nullopt;
  }
  return ClientInfo{id, found->second.nickname, found->second.channel, found->second.trail};
}

void VoiceClient::setStrict(bool strict) {
  const std::lock_guard lock(mutex_);
  strict_ = strict;
}

void VoiceClient::setConnectionLifecycle(StatusReporter reporter, Scheduler scheduler,
                                         Milliseconds connectDelay) {
  const std::lock_guard lock(mutex_);
  reporter_ = std::move(reporter);
  scheduler_ = std::move(scheduler);
  connectDelay_ = connectDelay;
}

void VoiceClient::reportStatus(std::int32_t status) {
  StatusReporter reporter;
  ServerConnectionId connection = 0;
  {
    const std::lock_guard lock(mutex_);
    status_ = status;
    reporter = reporter_;
    connection = connection_;
  }
  if (reporter) {
    reporter(connection, status);
  }
}

void VoiceClient::fail(std::string_view entry, HostError code) {
  const std::lock_guard lock(mutex_);
  failures_[std::string(entry)] = code;
}

void VoiceClient::failForClient(std::string_view entry, ClientId client, HostError code) {
  const std::lock_guard lock(mutex_);
  clientFailures_[{std::string(entry), client}] = code;
}

void VoiceClient::heal(std::string_view entry) {
  const std::lock_guard lock(mutex_);
  if (const auto found = failures_.find(entry); found != failures_.end()) {
    failures_.erase(found);
  }
}

void VoiceClient::healForClient(std::string_view entry, ClientId client) {
  const std::lock_guard lock(mutex_);
  clientFailures_.erase({std::string(entry), client});
}

void VoiceClient::clearFailures() {
  const std::lock_guard lock(mutex_);
  failures_.clear();
  clientFailures_.clear();
}

void VoiceClient::setHook(std::string entry, std::function<void()> hook) {
  const std::lock_guard lock(mutex_);
  hooks_[std::move(entry)] = std::move(hook);
}

void VoiceClient::setObserver(std::function<void(const HostCall&)> observer) {
  const std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void VoiceClient::setClock(std::function<std::int64_t()> clock) {
  const std::lock_guard lock(mutex_);
  clock_ = std::move(clock);
}

std::vector<HostCall> VoiceClient::calls() const {
  const std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<HostCall> VoiceClient::callsTo(std::string_view entry) const {
  const std::lock_guard lock(mutex_);
  std::vector<HostCall> selected;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(selected),
               [entry](const HostCall& call) { return call.entry == entry; });
  return selected;
}

std::vector<std::string> VoiceClient::transcript() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  for (const HostCall& call : calls_) {
    if (call.entry != "logMessage" && call.entry != "requestInfoUpdate") {
      lines.push_back(call.entry + "(" + call.arguments + ")");
    }
  }
  return lines;
}

std::vector<std::string> VoiceClient::logLines() const {
  const std::lock_guard lock(mutex_);
  return logLines_;
}

int VoiceClient::conventionBreaks() const {
  const std::lock_guard lock(mutex_);
  return conventionBreaks_;
}

std::vector<Placement> VoiceClient::placements() const {
  const std::lock_guard lock(mutex_);
  return placements_;
}

void VoiceClient::clearCalls() {
  const std::lock_guard lock(mutex_);
  calls_.clear();
  logLines_.clear();
  placements_.clear();
  conventionBreaks_ = 0;
}

int VoiceClient::outstandingAllocations() const {
  const std::lock_guard lock(mutex_);
  return static_cast<int>(handedOut_.size());
}

int VoiceClient::badFrees() const {
  const std::lock_guard lock(mutex_);
  return badFrees_;
}

}  // namespace sorlinx::sim
