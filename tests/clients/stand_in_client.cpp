// A stand-in for one voice client of interfaces 19 to 26: a program that carries the
// client's version in its own version resource (made by the build, one program per client
// line) and plays what the client does with the shipped DLL beside it, as the real one
// would:
//
//   stand_in_client INTERFACE SLOTS
//
// INTERFACE is the one this client speaks and SLOTS the size of its table, both from the
// client lines as the build lists them. The DLL must report that interface; it gets a table
// of exactly that size whose every slot the plugin has no use for is a trap, ending right
// before an inaccessible page, so that a read past its end stops the program; the client
// of 19 or 20 hands over no plugin ID and its getPluginPath takes none, while from 21 on
// the client registers an ID and checks that getPluginPath gets it. A second table handed
// over while the plugin runs, all traps, must change nothing. Then one GetVersion round
// trip, one position frame with a radio flag (its cue must be played from the folder
// getPluginPath reports) and one query, through the real clipboard with the protocol
// guide's game code. Exit code 0 when all of it held.
#include <windows.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "game_clipboard_win32.cpp"
#include "hand_over.h"
#include "support/trapped_table.h"
#include "voice_client.h"

namespace sorlinx::clients {
namespace {

constexpr const char* PLUGIN_FOLDER = R"(C:\Users\p\AppData\Roaming\TS3Client\plugins)";
constexpr std::size_t NEWEST_TABLE_SLOTS = 230;

int failures = 0;

void check(bool holds, const std::string& what) {
  if (!holds) {
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    ++failures;
  }
}

void checkEqual(const std::string& actual, const std::string& expected, const std::string& what) {
  check(actual == expected, what + ": \"" + actual + "\", expected \"" + expected + "\"");
}

bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

template <typename Function>
Function resolve(HMODULE module, const char* name) {
  auto* const found = reinterpret_cast<void*>(GetProcAddress(module, name));
  if (found == nullptr) {
    std::fprintf(stderr, "FAIL: the DLL does not export %s\n", name);
    std::exit(1);
  }
  return reinterpret_cast<Function>(found);
}

// Writes a request as a game does; the clipboard's sequence number after it, or 0 when the
// write did not take (the plugin's worker in this same process may have the clipboard
// open: wine then lets both in, and one of them loses).
DWORD write(const std::string& command, const std::string& arguments) {
  static unsigned counter = 0;
  return game_clipboard::writeRequest(nullptr,
                                      game_clipboard::requestText(command, arguments, ++counter));
}

// Writes a request and waits for the reply `expected`, writing it again while it is not
// answered (a write may not take, and any other text is no reply).
bool ask(const std::string& command, const std::string& arguments, const std::string& expected) {
  return eventually([&] {
    DWORD sequence = write(command, arguments);
    std::string reply;
    return sequence != 0 && game_clipboard::readReply(nullptr, sequence, 1000, reply) &&
           reply == expected;
  });
}

// Writes a request that has no reply until `done` shows that the plugin acted on it.
bool tell(const std::string& command, const std::string& arguments,
          const std::function<bool()>& done) {
  return eventually(
      [&] { return write(command, arguments) != 0 && eventually(done, std::chrono::seconds(1)); });
}

// Hands `slots` (the table of a client of `slotCount` slots) to the DLL, guarded.
void handOverGuarded(void* setFunctionPointers,
                     const std::array<testing::Slot, NEWEST_TABLE_SLOTS>& slots,
                     std::size_t slotCount) {
  const GuardedArea area(slotCount * sizeof(testing::Slot));
  std::memcpy(area.table(), slots.data(), slotCount * sizeof(testing::Slot));
  handOver(setFunctionPointers, area);
}

int play(int interface, std::size_t slotCount, const char* dllFile) {
  const bool takesId = interface >= 21;
  sim::VoiceClient host;
  host.setLocalClient(5);
  host.addClient(5, 40, "me");
  host.addClient(8, 40, "mate");
  host.setPluginPath(PLUGIN_FOLDER);
  // The wine server keeps the clipboard between runs: start from a neutral text.
  game_clipboard::writeRequest(nullptr, "neutral");

  HMODULE const module = LoadLibraryA(dllFile);
  if (module == nullptr) {
    std::fprintf(stderr, "FAIL: cannot load %s\n", dllFile);
    return 1;
  }
  using Text = const char*(SORLINX_CDECL*)();
  const int reported = resolve<int(SORLINX_CDECL*)()>(module, "ts3plugin_apiVersion")();
  std::printf("%s reports interface %d to a client of interface %d\n", dllFile, reported,
              interface);
  if (reported != interface) {
    std::fprintf(stderr, "FAIL: the client refuses a plugin of interface %d\n", reported);
    return 1;
  }
  auto* const setFunctionPointers =
      reinterpret_cast<void*>(GetProcAddress(module, "ts3plugin_setFunctionPointers"));
  const auto registerPluginID =
      resolve<void(SORLINX_CDECL*)(const char*)>(module, "ts3plugin_registerPluginID");
  const auto init = resolve<int(SORLINX_CDECL*)()>(module, "ts3plugin_init");
  const auto shutdown = resolve<void(SORLINX_CDECL*)()>(module, "ts3plugin_shutdown");
  const std::string version = resolve<Text>(module, "ts3plugin_version")();

  std::printf("handing over a table of %zu slots that ends at an inaccessible page\n", slotCount);
  handOverGuarded(setFunctionPointers,
                  takesId ? testing::trappedSlots<NEWEST_TABLE_SLOTS>(host.table26())
                          : testing::trappedSlots<NEWEST_TABLE_SLOTS>(host.table19()),
                  slotCount);
  const std::string pluginId = "sorlinx_stand_in-" + std::to_string(interface);
  if (takesId) {
    std::string text = pluginId;  // the client's text dies with the call
    registerPluginID(text.c_str());
    text.assign(text.size(), '#');
  }
  check(init() == 0, "ts3plugin_init failed");
  // Forget what init did: it reads the identity, and logs that this client has no
  // configuration folder.
  host.clearCalls();
  // Too late: the plugin runs, and must go on calling the first table's entries.
  handOverGuarded(setFunctionPointers,
                  testing::trappedSlots<NEWEST_TABLE_SLOTS>(host.table26(), true), slotCount);

  check(ask("GetVersion", "", version), "no GetVersion reply");
  check(tell("3D", "{8[1,2,3][RC]}", [&host] { return !host.callsTo("playWaveFile").empty(); }),
        "no cue played after a frame with [RC]");
  check(ask("GetPlayerID", "", "5"), "no GetPlayerID reply");
  shutdown();
  FreeLibrary(module);

  const auto cues = host.callsTo("playWaveFile");
  if (!cues.empty()) {
    checkEqual(cues.front().args.at(1), '"' + std::string(PLUGIN_FOLDER) + R"(\sorlinx\rc.wav")",
               "the first cue");
  }
  // 19 and 20 take no ID; from 21 on the one registered, whatever the plugin passes.
  const std::vector<std::string> asked = {
      "1000", takesId ? '"' + pluginId + '"' : std::string("no third argument")};
  for (const sim::HostCall& call : host.callsTo("getPluginPath")) {
    checkEqual(call.args.at(0), asked[0], "getPluginPath's buffer size");
    checkEqual(call.args.size() > 1 ? call.args[1] : "no third argument", asked[1],
               "getPluginPath's plugin ID");
  }
  check(host.callsTo("getPluginPath").size() == 1, "the plugin folder was not asked for once");
  for (const std::string& line : host.logLines()) {
    // A lost reply write is wine letting this program's thread and the plugin's worker
    // into the clipboard at once; the request was answered again.
    check(line == "erreur writeClipboardText", "the plugin logged \"" + line + "\"");
  }
  check(host.outstandingAllocations() == 0 && host.badFrees() == 0,
        "the client's memory was not all given back once");
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace sorlinx::clients

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s INTERFACE SLOTS DLL\n", argv[0]);
    return 2;
  }
  const int interface = std::atoi(argv[1]);
  const auto slots = static_cast<std::size_t>(std::atoi(argv[2]));
  if (slots < 209 || slots > sorlinx::clients::NEWEST_TABLE_SLOTS) {
    std::fprintf(stderr, "a table has 209 to 230 slots, not %s\n", argv[2]);
    return 2;
  }
  return sorlinx::clients::play(interface, slots, argv[3]);
}
