// A stand-in for one voice client of interfaces 19 to 26, run as
//
//   stand_in_client_<version> INTERFACE SLOTS DLL
//
// It carries that client's version in its version resource (made by the build), and plays
// what the client does with the DLL: the DLL must report INTERFACE; it gets a table of
// SLOTS slots, a trap in every one the plugin has no use for, ending right before an
// inaccessible page; before 21 the client hands over no plugin ID and its getPluginPath
// takes none, from 21 on it registers one and its getPluginPath must get it. A second
// table, all traps, handed over while the plugin runs must change nothing. Then a
// GetVersion round trip, a frame with a radio flag (its cue played from the folder
// getPluginPath reports) and a query, through the real clipboard with the protocol guide's
// game code; the frame has the info panel refreshed. Exit code 0 when all of it held.
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "e2e/game.h"
#include "hand_over.h"
#include "support/eventually.h"
#include "support/trapped_table.h"
#include "voice_client.h"

namespace sorlinx::clients {
namespace {

using testing::eventually;

constexpr const char* PLUGIN_FOLDER = R"(C:\Users\p\AppData\Roaming\TS3Client\plugins)";
constexpr std::size_t NEWEST_TABLE_SLOTS = 230;
using Slots = std::array<testing::Slot, NEWEST_TABLE_SLOTS>;

int failures = 0;

void check(bool holds, const std::string& what) {
  if (!holds) {
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    ++failures;
  }
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

// Asks again until the reply `expected` comes: the plugin's reply may be lost too, when wine
// lets its worker and this thread into the clipboard at once.
bool asks(const std::string& command, const std::string& arguments, const std::string& expected) {
  return eventually([&] { return game::ask(command, arguments, 1000) == expected; },
                    std::chrono::seconds(5));
}

// Hands the first `count` of `slots` over, guarded.
void handOverGuarded(void* setFunctionPointers, const Slots& slots, std::size_t count) {
  const GuardedArea area(count * sizeof(testing::Slot));
  std::memcpy(area.table(), slots.data(), count * sizeof(testing::Slot));
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
  const int reported = resolve<int(SORLINX_CDECL*)()>(module, "ts3plugin_apiVersion")();
  std::printf("%s reports interface %d to a client of %d\n", dllFile, reported, interface);
  if (reported != interface) {
    std::fprintf(stderr, "FAIL: the client refuses a plugin of interface %d\n", reported);
    return 1;
  }
  auto* const setFunctionPointers = resolve<void*>(module, "ts3plugin_setFunctionPointers");
  const auto registerPluginID =
      resolve<void(SORLINX_CDECL*)(const char*)>(module, "ts3plugin_registerPluginID");
  const auto init = resolve<int(SORLINX_CDECL*)()>(module, "ts3plugin_init");
  const auto shutdown = resolve<void(SORLINX_CDECL*)()>(module, "ts3plugin_shutdown");
  const std::string version = resolve<const char*(SORLINX_CDECL*)()>(module, "ts3plugin_version")();

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
  host.clearCalls();  // init reads the identity, and logs that this client has no folder for it
  // Too late: the plugin runs, and must go on calling the first table's entries.
  handOverGuarded(setFunctionPointers,
                  testing::trappedSlots<NEWEST_TABLE_SLOTS>(host.table26(), true), slotCount);

  check(asks("GetVersion", "", version), "no GetVersion reply");
  check(eventually(
            [&host] {
              return game::write(game::request("3D", "{8[1,2,3][RC]}")) != 0 &&
                     eventually([&host] { return !host.callsTo("playWaveFile").empty(); });
            },
            std::chrono::seconds(5)),
        "no cue played after a frame with [RC]");
  check(asks("GetPlayerID", "", "5"), "no GetPlayerID reply");
  // The info panel's refresh, asked for through slot 192, which every client's table holds.
  // (What the panel shows, the end-to-end program checks for this same DLL.)
  check(!host.callsTo("requestInfoUpdate").empty(), "no refresh of the info panel asked for");
  shutdown();
  FreeLibrary(module);

  const auto cues = host.callsTo("playWaveFile");
  const std::string rc = '"' + std::string(PLUGIN_FOLDER) + R"(\sorlinx\rc.wav")";
  check(!cues.empty() && cues[0].args.at(1) == rc, "the first cue is not " + rc);
  // 19 and 20 ask with buffer and size; from 21 on also with the ID registered.
  const auto asked = host.callsTo("getPluginPath");
  const std::string expected = takesId ? "1000,\"" + pluginId + '"' : "1000";
  check(asked.size() == 1 && asked[0].arguments == expected,
        "getPluginPath was not asked once with " + expected +
            (asked.empty() ? "" : ", but with " + asked[0].arguments));
  for (const std::string& line : host.logLines()) {
    // A reply write lost to wine's shared clipboard (see asks); the request was answered.
    check(line == "erreur writeClipboardText", "the plugin logged \"" + line + "\"");
  }
  check(host.outstandingAllocations() == 0 && host.badFrees() == 0,
        "the client's memory was not all given back once");
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace sorlinx::clients

int main(int argc, char** argv) {
  const auto slots = argc == 4 ? static_cast<std::size_t>(std::atoi(argv[2])) : 0;
  if (slots < 209 || slots > sorlinx::clients::NEWEST_TABLE_SLOTS) {
    std::fprintf(stderr, "usage: %s INTERFACE SLOTS(209 to 230) DLL\n", argv[0]);
    return 2;
  }
  return sorlinx::clients::play(std::atoi(argv[1]), slots, argv[3]);
}
