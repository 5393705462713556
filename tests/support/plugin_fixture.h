// The unit tests' common ground: the simulator's voice client (records every call, fails any
// entry on demand) as the plugin's host through interface 4's, 19's or 26's table (the
// test's parameter, see SORLINX_FOR_EACH_INTERFACE; 19 stands for the tables whose
// getPluginPath takes no plugin ID, 26 for those whose does), local client 5 in channel 40
// beside client 8, client 9 in channel 41, connection 1 established; the in-memory clipboard
// empty, the plugin's process-wide state as at load, a virtual clock for the workers. The
// fixture calls ts3plugin_shutdown at its end in any case.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clipboard/memory_clipboard.h"
#include "plugin/exports.h"
#include "plugin/workers.h"
#include "shared/plugin_state.h"
#include "support/virtual_pacer.h"
#include "voice_client.h"

namespace sorlinx::testing {

// The text a game writes for a command and its argument text.
inline std::string request(std::string_view command, std::string_view arguments = {}) {
  return requestText(command, arguments);
}

// Puts the plugin's process-wide state back as it is at load: workers stopped, lists
// empty, no connection, no identity, the real pacer.
void resetPluginState();

// The radio lists, RC and RL, read and set under their lock.
using Lists = std::pair<std::vector<ClientId>, std::vector<ClientId>>;
Lists lists();
void setLists(std::vector<ClientId> rc, std::vector<ClientId> rl);

// The voice client of interfaces 19 to 26 in the tests: the folder it reports for the
// plugins, and the ID that interface 26's hands over (19's hands over none).
inline constexpr std::string_view TEST_PLUGIN_FOLDER =
    R"(C:\Users\p\AppData\Roaming\TS3Client\plugins)";
inline constexpr const char* TEST_PLUGIN_ID = "sorlinx_win64-1";

// A clipboard pass as PluginTest::runWorker ran it.
struct LoggedPass {
  Milliseconds time;
  PassKind kind;
  bool operator==(const LoggedPass&) const = default;
};

class PluginTest : public ::testing::TestWithParam<int> {
 protected:
  PluginTest();
  ~PluginTest() override;

  // Hands the fake's table of the test's interface to the plugin, as the voice client does
  // before init; interface 26's client also hands over the plugin's ID. Its entry that
  // refreshes the info panel only `withInfoPanel`: the other tests' transcripts are the
  // request's own calls.
  void installHost(bool withInfoPanel = false);
  // What differs in the fake's records from one interface to the other: the entry that
  // moves a client, a placement with its arguments as the transcript shows it, and the
  // path a cue file is played from.
  [[nodiscard]] std::string moveEntry() const;
  [[nodiscard]] std::string placement(std::string_view arguments) const;
  [[nodiscard]] std::string cueFile(std::string_view name) const;
  // Sets the plugin's view of the connection directly, as the callbacks would.
  static void setConnected(bool connected);
  // Puts `text` on the clipboard and runs one clipboard pass.
  void passWith(std::string_view text);
  // Runs `count` clipboard passes.
  void passes(int count);
  // Runs clipboardThread's turns on the virtual clock, from a regular pass at its current
  // time, until the clock reaches `end`: with the in-memory clipboard's notices, or as a
  // platform without any. Each pass goes into passLog with its time and kind.
  void runWorker(Milliseconds end, bool notices = true);
  std::vector<LoggedPass> passLog;
  // The voice client's rules were kept: all memory handed out given back once, every log
  // line by the convention.
  void expectHostRulesKept() const;

  sim::VoiceClient host;
  VirtualPacer pacer;
  ClipboardChannel channel;
};

// Names the runs of a fixture's tests after the interface: Interface4, Interface19, ...
std::string interfaceName(const ::testing::TestParamInfo<int>& info);

}  // namespace sorlinx::testing

// Runs every TEST_P of the fixture once per plugin interface.
#define SORLINX_FOR_EACH_INTERFACE(Fixture)                         \
  INSTANTIATE_TEST_SUITE_P(, Fixture, ::testing::Values(4, 19, 26), \
                           ::sorlinx::testing::interfaceName)
