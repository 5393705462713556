#include "commands/switch_player.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class SwitchPlayerTest : public PluginTest {
 protected:
  static std::string move(std::string arguments) {
    handleSwitchPlayer(arguments);
    return arguments;
  }
};

TEST_P(SwitchPlayerTest, FieldsAreTakenAsGamesWriteThem) {
  struct Case {
    const char* arguments;
    const char* move;  // the arguments of the move
    const char* left;  // what the argument text holds afterwards
  };
  for (const Case& c :
       {Case{"12,34,", R"(1,12,34,"",null)", ""}, Case{"12,34,a,b", R"(1,12,34,"a,b",null)", "a,b"},
        Case{"12,34", R"(1,12,34,"34",null)", "34"}, Case{"12", R"(1,12,12,"12",null)", "12"},
        Case{"12x,34,", R"(1,12,34,"",null)", ""}, Case{" 12 ,34,", R"(1,12,34,"",null)", ""},
        Case{"\t+7,0034 pw,", R"(1,7,34,"",null)", ""},
        Case{"65535,18446744073709551615, p", R"(1,65535,18446744073709551615," p",null)", " p"}}) {
    SCOPED_TRACE(c.arguments);
    host.clearCalls();
    EXPECT_EQ(move(c.arguments), c.left);
    EXPECT_THAT(host.transcript(), ElementsAre(moveEntry() + "(" + c.move + ")"));
  }
  EXPECT_THAT(host.logLines(), IsEmpty());
  EXPECT_EQ(memory_clipboard::writeCount(), 0U);
}

TEST_P(SwitchPlayerTest, ANumberThatDoesNotReadMovesNobody) {
  for (const char* arguments : {"x,34,", ",34,", "65536,34,", "-1,34,", "12,,", "12, ,pw", "12,-5,",
                                "12,18446744073709551616,", "+-3,34,"}) {
    SCOPED_TRACE(arguments);
    host.clearCalls();
    move(arguments);
    EXPECT_THAT(host.transcript(), IsEmpty());
    EXPECT_THAT(host.logLines(), ElementsAre("erreur SwitchPlayer: nombre illisible"));
  }
}

TEST_P(SwitchPlayerTest, ARefusedMoveIsLoggedOnceAndNothingHappensUnconnected) {
  host.fail(moveEntry(), sim::INVALID_CLIENT_ID);
  move("12,34,");
  EXPECT_EQ(host.transcript().size(), 1U);
  EXPECT_THAT(host.logLines(), ElementsAre("erreur requestChannelMove"));
  host.clearCalls();
  pluginState.connectionStatus.store(3);
  EXPECT_EQ(move("12,34,pw"), "12,34,pw");
  EXPECT_THAT(host.calls(), IsEmpty());
}

SORLINX_FOR_EACH_INTERFACE(SwitchPlayerTest);

}  // namespace
}  // namespace sorlinx::testing
