#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "commands/queries.h"
#include "commands/switch_player.h"
#include "plugin/dispatcher.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The queries and SwitchPlayer.
class QueriesTest : public PluginTest {
 protected:
  // The clipboard's text after the request; "untouched" when nothing was written.
  static std::string ask(std::string_view command, std::string arguments = "") {
    memory_clipboard::setText("untouched");
    dispatchRequest(command, arguments);
    return memory_clipboard::text().value_or("(no text)");
  }
  // The argument text after a SwitchPlayer.
  static std::string move(std::string arguments) {
    handleSwitchPlayer(arguments);
    return arguments;
  }
};

TEST_P(QueriesTest, TheNameMustMatchByteForByteAndTheLastMatchWins) {
  host.addClient(12, 40, "mate");
  host.addClient(13, 40, "");
  for (const auto& [name, answer] :
       std::initializer_list<std::array<const char*, 2>>{{"me", "5"},
                                                         {"mate", "12"},
                                                         {"Mate", "-1"},
                                                         {"mate ", "-1"},
                                                         {" mate", "-1"},
                                                         {"far", "-1"},
                                                         {"", "13"}}) {
    SCOPED_TRACE(name);
    host.clearCalls();
    EXPECT_EQ(ask("GetPlayerIDFromName", name), answer);
    EXPECT_EQ(host.callsTo("getClientVariableAsString").size(), 4U);  // the walk never stops
  }
  host.setLocalClient(77);  // in no channel the fake knows: an empty list
  EXPECT_EQ(ask("GetPlayerIDFromName", ""), "-1");
  EXPECT_THAT(host.logLines(), IsEmpty());
  expectHostRulesKept();
}

TEST_P(QueriesTest, EveryFailureAnswersMinusOneAndReleasesWhatWasHandedOut) {
  struct Case {
    const char* command;
    const char* entry;
    ClientId client;  // 0: the entry fails for every client
    std::vector<std::string> logLines;
  };
  const std::vector<Case> cases{
      {"GetPlayerID", "getClientID", 0, {"erreur getClientID"}},
      {"GetCurrentChannelID", "getClientID", 0, {"erreur getClientID"}},
      {"GetCurrentChannelID", "getChannelOfClient", 0, {"erreur getChannelOfClient"}},
      {"GetPlayerIDFromName", "getClientID", 0, {"erreur getClientID"}},
      {"GetPlayerIDFromName", "getChannelOfClient", 0, {"erreur getChannelOfClient"}},
      {"GetPlayerIDFromName", "getChannelClientList", 0, {"erreur getChannelClientList"}},
      {"GetPlayerIDFromName", "getClientVariableAsString", 5, {}},
      // "me" has matched already; the failed read of a later nickname still answers "-1".
      {"GetPlayerIDFromName", "getClientVariableAsString", 8, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + c.entry + " " + std::to_string(c.client));
    host.clearCalls();
    host.clearFailures();
    c.client == 0 ? host.fail(c.entry, 1) : host.failForClient(c.entry, c.client, 1);
    EXPECT_EQ(ask(c.command, "me"), "-1");
    EXPECT_EQ(host.logLines(), c.logLines);
    expectHostRulesKept();
  }
}

TEST_P(QueriesTest, NothingAtAllWhileTheConnectionIsNotEstablished) {
  for (const std::int32_t status : {0, 1, 2, 3}) {
    pluginState.connectionStatus.store(status);
    for (const char* command : {"GetPlayerID", "GetCurrentChannelID", "GetPlayerIDFromName"}) {
      EXPECT_EQ(ask(command, "me"), "untouched");
    }
    EXPECT_EQ(move("12,34,pw"), "12,34,pw");
  }
  EXPECT_THAT(host.calls(), IsEmpty());
  EXPECT_EQ(memory_clipboard::writeCount(), 0U);
}

TEST_P(QueriesTest, SwitchPlayerTakesFieldsAsGamesWriteThem) {
  // The arguments, the move's, and what the argument text holds afterwards.
  for (const auto& [arguments, moved, left] : std::initializer_list<std::array<const char*, 3>>{
           {"12,34,", R"(1,12,34,"",null)", ""},
           {"12,34,a,b", R"(1,12,34,"a,b",null)", "a,b"},
           {"12,34", R"(1,12,34,"34",null)", "34"},
           {"12", R"(1,12,12,"12",null)", "12"},
           {"12x,34,", R"(1,12,34,"",null)", ""},
           {" 12 ,34,", R"(1,12,34,"",null)", ""},
           {"\t+7,0034 pw,", R"(1,7,34,"",null)", ""},
           {"65535,18446744073709551615, p", R"(1,65535,18446744073709551615," p",null)", " p"}}) {
    SCOPED_TRACE(arguments);
    host.clearCalls();
    EXPECT_EQ(move(arguments), left);
    EXPECT_THAT(host.transcript(), ElementsAre(moveEntry() + "(" + moved + ")"));
  }
  EXPECT_THAT(host.logLines(), IsEmpty());
  EXPECT_EQ(memory_clipboard::writeCount(), 0U);
  // A number that does not read moves nobody.
  for (const char* arguments : {"x,34,", ",34,", "65536,34,", "-1,34,", "12,,", "12, ,pw", "12,-5,",
                                "12,18446744073709551616,", "+-3,34,"}) {
    SCOPED_TRACE(arguments);
    host.clearCalls();
    move(arguments);
    EXPECT_THAT(host.transcript(), IsEmpty());
    EXPECT_THAT(host.logLines(), ElementsAre("erreur SwitchPlayer: nombre illisible"));
  }
  // A refused move is logged once.
  host.clearCalls();
  host.fail(moveEntry(), sim::INVALID_CLIENT_ID);
  move("12,34,");
  EXPECT_EQ(host.transcript().size(), 1U);
  EXPECT_THAT(host.logLines(), ElementsAre("erreur requestChannelMove"));
}

SORLINX_FOR_EACH_INTERFACE(QueriesTest);

}  // namespace
}  // namespace sorlinx::testing
