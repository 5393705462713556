// A clipboard text's whole way through the plugin (change detection, envelope, dispatcher,
// handlers, stale-frame reset, cue pass) against the simulated voice client, whose rules are
// checked after each pass.
//
// An input is clipboard texts separated by zero bytes (none can hold one). Each is put on the
// clipboard and a clipboard pass and a cue pass run; an empty one stands for a pass while
// another program holds the clipboard. Then passes enough for the stale-frame reset. Each
// input runs connected to a voice client that reports its connection changes, to one that
// refuses some calls and reports no disconnection, and not connected.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "clipboard/memory_clipboard.h"
#include "fuzz_check.h"
#include "interfaces/interface26.h"
#include "plugin/dispatcher.h"
#include "plugin/exports.h"
#include "plugin/lifecycle.h"
#include "plugin/workers.h"
#include "positional/sound_cues.h"
#include "shared/plugin_state.h"
#include "support/virtual_pacer.h"
#include "voice_client.h"

namespace sorlinx::fuzz {
namespace {

// Long and odd enough that no input holds it by chance; inputs that do are not checked for it.
constexpr std::string_view SECRET_IDENTITY = "S3cr3t-1dentity:9f2c61d0b84e47a3a5f0c2e1d7b6";

enum class World { connected, refusing, disconnected };

// Every reply is the version, "-1" or a plain decimal number, and a query is answered only
// while connected (a "ConnectToServer" may have connected meanwhile).
void checkReply(std::string_view reply) {
  const bool number =
      !reply.empty() && reply.size() <= 20 && reply.front() != '0' &&
      std::all_of(reply.begin(), reply.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (reply != VERSION_TEXT && reply != "-1" && reply != "0" && !number) {
    fail("a reply that is neither the version, -1 nor a plain decimal number", reply);
  }
  check(
      reply == VERSION_TEXT || pluginState.connectionStatus.load() == STATUS_CONNECTION_ESTABLISHED,
      "a query was answered while not connected");
}

void run(World world, const std::vector<std::string_view>& texts, bool secretInInput) {
  memory_clipboard::reset();
  {
    const std::lock_guard lock(pluginState.stateLock);
    pluginState.rcClients.clear();
    pluginState.rlClients.clear();
  }
  pluginState.mute3D.store(false);
  pluginState.stopRequested.clear();
  pluginState.running.store(false);
  testing::VirtualPacer pacer;
  pluginState.pacer = &pacer;

  sim::VoiceClient host;
  host.setStrict(true);
  host.setLocalClient(5);
  host.addClient(5, 40, "me");
  host.addClient(8, 40, "mate");
  host.addClient(9, 40, "mate");
  host.addClient(12, 41, "far");
  const bool connected = world != World::disconnected;
  const std::int32_t status = connected ? STATUS_CONNECTION_ESTABLISHED : STATUS_DISCONNECTED;
  host.setConnection(1, status);
  if (world == World::refusing) {
    host.failForClient("getClientVariableAsString", 9, 1);
    host.failForClient("channelset3DAttributes", 3, 1);
    host.failForClient("requestClientMove", 8, 2);
    host.fail("playWaveFile", 1);
  } else {
    // Connection changes come back at once through the plugin's callback.
    host.setConnectionLifecycle(
        [](ServerConnectionId connection, std::int32_t newStatus) {
          ts3plugin_onConnectStatusChangeEvent(connection, newStatus, 0);
        },
        [](Milliseconds /*delay*/, const std::function<void()>& work) { work(); }, Milliseconds(0));
  }
  // The identity reaches the voice client only as startConnection's identity.
  host.setObserver([secretInInput](const sim::HostCall& call) {
    for (std::size_t i = 0; i < call.args.size() && !secretInInput; ++i) {
      const bool identityArgument = call.entry == "startConnection" && i == 1;
      if (!identityArgument && call.args[i].find(SECRET_IDENTITY) != std::string::npos) {
        fail("the identity reached the voice client outside startConnection", call.entry);
      }
    }
  });
  memory_clipboard::setWriteObserver(checkReply);
  interface26::setFunctionPointers(host.table26());
  pluginState.currentServerConnection.store(1);
  pluginState.connectionStatus.store(status);
  // As init leaves it; the refusing world has found no identity.
  pluginState.identityBuffer = new char[PATH_BUFFER_SIZE]{};
  if (world != World::refusing) {
    SECRET_IDENTITY.copy(pluginState.identityBuffer, SECRET_IDENTITY.size());
  }

  ClipboardChannel channel;
  SoundCueState cues;
  const auto pass = [&] {
    clipboardPass(channel);
    soundCuePass(cues, pacer);
    check(host.badFrees() == 0, "memory was given back twice, or was never handed out");
    check(host.outstandingAllocations() == 0, "memory handed out was not given back");
    check(host.conventionBreaks() == 0, "a log line broke the logging convention");
    const std::lock_guard lock(pluginState.stateLock);
    std::vector<ClientId> clients = pluginState.rcClients;
    clients.insert(clients.end(), pluginState.rlClients.begin(), pluginState.rlClients.end());
    std::sort(clients.begin(), clients.end());
    check(std::adjacent_find(clients.begin(), clients.end()) == clients.end(),
          "a client stands twice in the radio lists, or in both");
  };
  for (const std::string_view text : texts) {
    // An empty text stands for a pass during which another program holds the clipboard.
    memory_clipboard::setHeld(text.empty());
    if (!text.empty()) {
      memory_clipboard::setText(text);
    }
    pass();
  }
  memory_clipboard::setHeld(false);
  for (std::uint32_t i = 0; i <= STALE_FRAME_PASSES; ++i) {
    pass();
  }
  finishStop();
  memory_clipboard::reset();
  pluginState.pacer = &pluginState.steadyPacer;
  pluginState.host = Host{};
}

}  // namespace
}  // namespace sorlinx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorlinx;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> texts;
  for (std::string_view rest = input;;) {
    const std::size_t zero = rest.find('\0');
    texts.push_back(rest.substr(0, zero));
    if (zero == std::string_view::npos) {
      break;
    }
    rest.remove_prefix(zero + 1);
  }
  const bool secretInInput = input.find(fuzz::SECRET_IDENTITY) != std::string_view::npos;
  for (const fuzz::World world :
       {fuzz::World::connected, fuzz::World::refusing, fuzz::World::disconnected}) {
    fuzz::run(world, texts, secretInInput);
  }
  return 0;
}
