// What tells one plugin interface from the other: where each call lands in the voice
// client's table, a table handed over too late, and, for interfaces 19 to 26, the plugin's
// ID and the cue files found under the folder the voice client reports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "interfaces/interface26.h"
#include "interfaces/interface4.h"
#include "positional/sound_cues.h"
#include "support/plugin_fixture.h"
#include "support/trapped_table.h"

namespace sorlinx::testing {
namespace {

using ::testing::Contains;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::size_t> slotsCalled;

class InterfaceTest : public PluginTest {
 protected:
  InterfaceTest() {
    slotsCalled.clear();
    trapHandler = [](std::size_t slot) { slotsCalled.push_back(slot); };
  }
  ~InterfaceTest() override { trapHandler = keepHandler_; }
  // Hands over a table of the test's interface whose every slot is a trap that records it.
  void handOverTraps() const {
    if (GetParam() == 4) {
      interface4::setFunctionPointers(trappedTable(interface4::FunctionTable{}, true));
    } else {
      interface26::setFunctionPointers(
          GetParam(), interface26::sharedSlots(trappedTable(interface26::FunctionTable{}, true)));
    }
  }

 private:
  decltype(trapHandler) keepHandler_ = trapHandler;
};

TEST_P(InterfaceTest, EachCallReachesItsOwnSlotAndNoOther) {
  handOverTraps();
  const Host& seam = pluginState.host;
  ClientId client = 0;
  ChannelId channelId = 0;
  ClientId* list = nullptr;
  char* text = nullptr;
  std::int32_t status = 0;
  char path[16] = {};
  const Vector3 position{1, 2, 3};
  // Interfaces 19 to 26 share every slot the plugin uses.
  struct Case {
    const char* entry;
    std::size_t slot4;
    std::size_t slot26;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"freeMemory", 4, 5, [&] { seam.freeMemory(nullptr); }},
      {"logMessage", 5, 6, [&] { logError("x"); }},
      {"playWaveFile", 29, 28, [&] { seam.playWaveFile(1, "a.wav"); }},
      {"channelset3DAttributes", 40, 45, [&] { seam.channelset3DAttributes(1, 2, &position); }},
      {"startConnection", 41, 46, [&] { seam.startConnection(1, "i", "a", 1, "n", "", ""); }},
      {"stopConnection", 42, 47, [&] { seam.stopConnection(1, "q"); }},
      {"client move", 43, 48, [&] { seam.requestClientMove(1, 2, 3, "", nullptr); }},
      {"getClientID", 64, 73, [&] { seam.getClientID(1, &client); }},
      {"getClientVariableAsString", 72, 81,
       [&] { seam.getClientVariableAsString(1, 2, CLIENT_PROPERTY_NICKNAME, &text); }},
      {"getChannelOfClient", 74, 83, [&] { seam.getChannelOfClient(1, 2, &channelId); }},
      {"getChannelClientList", 83, 94, [&] { seam.getChannelClientList(1, 3, &list); }},
      {"getConnectionStatus", 90, 101, [&] { seam.getConnectionStatus(1, &status); }},
      {"getConfigPath", 164, 181, [&] { seam.getConfigPath(path, sizeof path); }},
      {"getCurrentServerConnectionHandlerID", 166, 183,
       [&] { seam.getCurrentServerConnectionHandlerID(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry);
    slotsCalled.clear();
    c.call();
    EXPECT_THAT(slotsCalled, ElementsAre(GetParam() == 4 ? c.slot4 : c.slot26));
  }
  // The plugin folder: interface 4 has no such call; 19 asks for it as it is, 26 with the
  // ID, and not before the ID has come.
  slotsCalled.clear();
  if (GetParam() == 4) {
    EXPECT_EQ(seam.pluginFolder, nullptr);
  } else {
    interface26::registerPluginID("");
    EXPECT_EQ(seam.pluginFolder(path, sizeof path), GetParam() == 19) << "no ID has come yet";
    interface26::registerPluginID(TEST_PLUGIN_ID);
    EXPECT_TRUE(seam.pluginFolder(path, sizeof path));
    EXPECT_THAT(slotsCalled, Each(182U));
    EXPECT_EQ(slotsCalled.size(), GetParam() == 19 ? 2U : 1U);
  }
}

TEST_P(InterfaceTest, ATableHandedOverWhileRunningChangesNothing) {
  pluginState.pacer = &pluginState.steadyPacer;  // the real threads run here
  ts3plugin_init();
  handOverTraps();
  // Every call still reaches the first table, those the adapters wrap as well.
  const Host& seam = pluginState.host;
  const Vector3 position{1, 2, 3};
  seam.channelset3DAttributes(1, 8, &position);
  seam.startConnection(1, "i", "a", 1, "n", "", "");
  char path[64] = {};
  const bool folder = seam.pluginFolder != nullptr && seam.pluginFolder(path, sizeof path);
  logError("still the first table");
  ts3plugin_shutdown();
  EXPECT_THAT(slotsCalled, IsEmpty());
  EXPECT_THAT(host.logLines(), Contains("still the first table"));
  EXPECT_THAT(host.transcript(), Contains(placement("1,8,1,2,3")));
  EXPECT_EQ(host.callsTo("startConnection").size(), 1U);
  EXPECT_EQ(folder, GetParam() != 4);
  EXPECT_EQ(std::string(path), GetParam() == 4 ? "" : TEST_PLUGIN_FOLDER);
}

SORLINX_FOR_EACH_INTERFACE(InterfaceTest);

// Where the cue files are played from in interfaces 19 to 26: 19's client, which hands
// over no ID, stands for those whose getPluginPath takes none.
class CuePathTest : public PluginTest {
 protected:
  CuePathTest() { setLists({1}, {}); }
  // The paths of the cues played by `passes` passes of the cue worker, from a fresh start.
  std::vector<std::string> cuesPlayed(int passes = 2) {
    host.clearCalls();
    SoundCueState state;
    for (int i = 0; i < passes; ++i) {
      soundCuePass(state, pacer);
    }
    std::vector<std::string> paths;
    for (const sim::HostCall& call : host.callsTo("playWaveFile")) {
      paths.push_back(call.args.at(1));
    }
    return paths;
  }
  static std::string quoted(std::string_view path) { return '"' + std::string(path) + '"'; }
};

// A folder that cannot make a whole path (too long, or empty) gives the relative paths and
// one line however many cues play. "\sorlinx\bruit.wav" and the terminator take 19 bytes of
// the 1000.
TEST_P(CuePathTest, BuiltOnceUnderTheFolderWithOrWithoutItsSeparatorOrRelative) {
  const std::string fits(981, 'a');
  for (const auto& [folder, rc, line] :
       std::initializer_list<std::tuple<std::string, std::string, std::string>>{
           {R"(C:\p\plugins)", R"(C:\p\plugins\sorlinx\rc.wav)", ""},
           {R"(C:\p\plugins\)", R"(C:\p\plugins\sorlinx\rc.wav)", ""},
           {"/home/p/.ts3client/plugins", "/home/p/.ts3client/plugins/sorlinx/rc.wav", ""},
           {"/home/p/.ts3client/plugins/", "/home/p/.ts3client/plugins/sorlinx/rc.wav", ""},
           {fits, fits + "/sorlinx/rc.wav", ""},
           {std::string(982, 'a'), SON_RC, "erreur getPluginPath: chemin trop long"},
           {std::string(5000, 'a'), SON_RC, "erreur getPluginPath: chemin trop long"},
           {"", SON_RC, "erreur getPluginPath: dossier vide"}}) {
    SCOPED_TRACE(folder.substr(0, 30) + " (" + std::to_string(folder.size()) + ")");
    host.setPluginPath(folder);
    std::string bruit = rc;
    bruit.replace(bruit.size() - 6, 2, "bruit");
    EXPECT_THAT(cuesPlayed(3),
                ElementsAre(quoted(rc), quoted(bruit), quoted(bruit), quoted(bruit)));
    EXPECT_EQ(host.callsTo("getPluginPath").size(), 1U) << "built once";
    EXPECT_EQ(host.callsTo("getPluginPath").at(0).arguments,
              GetParam() == 19 ? "1000" : "1000,\"sorlinx_win64-1\"");
    EXPECT_EQ(host.logLines(), line.empty() ? std::vector<std::string>{} : std::vector{line});
  }
}

INSTANTIATE_TEST_SUITE_P(, CuePathTest, ::testing::Values(19, 26), interfaceName);

// From interface 21 on, getPluginPath takes the plugin's ID.
using PluginIdTest = CuePathTest;

TEST_P(PluginIdTest, TheIdIsCopiedAndMayComeBeforeOrAfterInitOrNever) {
  // The voice client's text dies with the call.
  char id[] = "sorlinx_win64-7";
  interface26::registerPluginID(id);
  std::memset(id, 'x', sizeof id - 1);
  cuesPlayed(1);
  EXPECT_EQ(host.callsTo("getPluginPath").at(0).args.at(1), "\"sorlinx_win64-7\"");

  // Never: the relative paths, with one line however many cues play.
  interface26::registerPluginID("");
  interface26::registerPluginID(nullptr);  // ignored
  EXPECT_THAT(cuesPlayed(3),
              ElementsAre(quoted(SON_RC), quoted(SON_BRUIT), quoted(SON_BRUIT), quoted(SON_BRUIT)));
  EXPECT_THAT(host.logLines(), ElementsAre("erreur getPluginPath: aucun ID"));

  // After init, while the cues already play: the next cue comes from the folder.
  host.clearCalls();
  SoundCueState state;
  soundCuePass(state, pacer);
  interface26::registerPluginID(TEST_PLUGIN_ID);
  soundCuePass(state, pacer);
  const auto cues = host.callsTo("playWaveFile");
  ASSERT_EQ(cues.size(), 3U);
  EXPECT_EQ(cues[1].args.at(1), quoted(SON_BRUIT));
  EXPECT_EQ(cues[2].args.at(1), quoted(cueFile("bruit.wav")));
}

INSTANTIATE_TEST_SUITE_P(, PluginIdTest, ::testing::Values(26), interfaceName);

}  // namespace
}  // namespace sorlinx::testing
