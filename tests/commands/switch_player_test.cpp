#include "commands/switch_player.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using SwitchPlayerTest = PluginTest;

TEST_F(SwitchPlayerTest, FieldsAreTakenAsGamesWriteThem) {
  struct Case {
    std::string arguments;
    std::string move;  // the arguments of requestChannelMove
    std::string left;  // what the argument text holds afterwards
  };
  const std::vector<Case> cases{
      {"12,34,", R"(1,12,34,"",null)", ""},
      {"12,34,a,b", R"(1,12,34,"a,b",null)", "a,b"},
      {"12,34", R"(1,12,34,"34",null)", "34"},
      {"12", R"(1,12,12,"12",null)", "12"},
      {"12x,34,", R"(1,12,34,"",null)", ""},
      {" 12 ,34,", R"(1,12,34,"",null)", ""},
      {"\t+7,0034 pw,", R"(1,7,34,"",null)", ""},
      {"65535,18446744073709551615, p w ", R"(1,65535,18446744073709551615," p w ",null)", " p w "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    host.clearCalls();
    std::string text = c.arguments;
    handleSwitchPlayer(text);
    EXPECT_THAT(host.transcript(), ElementsAre("requestChannelMove(" + c.move + ")"));
    EXPECT_EQ(text, c.left);
  }
  EXPECT_THAT(host.logLines(), IsEmpty());
  EXPECT_EQ(memory_clipboard::writeCount(), 0U);
}

TEST_F(SwitchPlayerTest, ANumberThatDoesNotReadMovesNobody) {
  for (const char* arguments : {"x,34,", ",34,", "65536,34,", "-1,34,", "12,,", "12, ,pw", "12,-5,",
                                "12,18446744073709551616,", "+-3,34,"}) {
    SCOPED_TRACE(arguments);
    host.clearCalls();
    std::string text = arguments;
    handleSwitchPlayer(text);
    EXPECT_THAT(host.transcript(), IsEmpty());
    EXPECT_THAT(host.logLines(), ElementsAre("erreur SwitchPlayer: nombre illisible"));
  }
}

TEST_F(SwitchPlayerTest, ARefusedMoveIsLoggedOnce) {
  host.fail("requestChannelMove", ERROR_INVALID_CLIENT_ID);
  std::string text = "12,34,";
  handleSwitchPlayer(text);
  EXPECT_EQ(host.transcript().size(), 1U);
  EXPECT_THAT(host.logLines(), ElementsAre("erreur requestChannelMove"));
  EXPECT_EQ(host.conventionBreaks(), 0);
  EXPECT_EQ(memory_clipboard::writeCount(), 0U);
}

TEST_F(SwitchPlayerTest, NotConnectedLeavesEverythingAlone) {
  pluginState.connectionStatus.store(3);
  std::string text = "12,34,pw";
  handleSwitchPlayer(text);
  EXPECT_EQ(text, "12,34,pw");
  EXPECT_THAT(host.calls(), IsEmpty());
}

}  // namespace
}  // namespace sorlinx::testing
