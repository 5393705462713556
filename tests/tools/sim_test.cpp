#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>

#include "default_session.h"
#include "session.h"
#include "simulation.h"
#include "timeline.h"

namespace sorlinx::sim {
namespace {

using ::testing::HasSubstr;

std::string errorOf(const std::string& text) {
  try {
    parseSession(text);
  } catch (const SessionError& error) {
    return error.what();
  }
  return "no error";
}

TEST(SessionTest, AnUnreadableLineIsNamedWithItsColumn) {
  for (const auto& [text, message] : std::initializer_list<std::pair<const char*, const char*>>{
           {"0 send GetVersion\nsoon send GetVersion", "line 2, column 1: a step starts with"},
           {"0 client 70000 Al in 1",
            "line 1, column 10: a client number (0 to 65535) out of range"},
           {"0 client 5 Al 1", "line 1, column 15: expected \"in\""},
           {"100 send X\n50 send Y", "line 2, column 1: time 50 ms comes before"},
           {"0 expect place 5 x 1 y 2", "line 1, column 25: expected \"z\""},
           {"0 expect cue horn", "line 1, column 14: the cues are rc, rl and bruit"},
           {"0 jump", "line 1, column 3: unknown action \"jump\""},
           {"0 clip \"unclosed", "line 1, column 8: this quote is never closed"},
           {"0 leave 5 now", "line 1, column 11: unexpected \"now\""},
           {"0 send 3D x\n100 identity abc", "line 2, column 5: the identity is read once"},
       }) {
    EXPECT_THAT(errorOf(text), HasSubstr(message)) << text;
  }
}

TEST(SessionTest, TimesTextsAndCommentsReadForgivingly) {
  const auto steps = parseSession(
      "# a comment\n"
      "\n"
      "  1.5s   send   3D {5[1,2,3]}   # placed\r\n"
      "+250 clip \"tab\\there\\x21\"\n"
      "+0ms expect place 5 1 2.5 -3\n");
  ASSERT_EQ(steps.size(), 3U);
  EXPECT_EQ(steps[0].time.count(), 1500);
  EXPECT_EQ(steps[0].command, "3D");
  EXPECT_EQ(steps[0].text, "{5[1,2,3]}");
  EXPECT_EQ(steps[0].source, "send   3D {5[1,2,3]}");
  EXPECT_EQ(steps[1].time.count(), 1750);
  EXPECT_EQ(steps[1].text, "tab\there!");
  EXPECT_EQ(steps[2].time.count(), 1750);
  EXPECT_EQ(steps[2].position.y, 2.5F);
}

Outcome run(const std::string& text, const Options& options = {}) {
  return runSession(parseSession(text), options);
}

std::vector<std::string> failures(const Outcome& outcome) {
  std::vector<std::string> lines;
  for (const Event& event : outcome.events) {
    if (event.kind == EventKind::expectation && !event.met) {
      lines.push_back(event.text + " | " + event.detail);
    }
  }
  return lines;
}

TEST(SimulationTest, EachExpectationClaimsItsOwnEvent) {
  const Outcome outcome =
      run("0 client 5 Al in 1\n"
          "0 send 3D {5[1,2,3]}\n"
          "0 expect place 5 x 1 y 3 z 2\n"
          "0 expect place 5 x 1 y 3 z 2\n"  // one placement only: the second finds none
          "50 expect no reply\n"
          "60 send GetPlayerID\n"
          "200 expect reply 1\n"
          "200 expect no reply\n");  // the one reply is claimed already; no other came
  EXPECT_EQ(outcome.expectations, 5);
  ASSERT_EQ(failures(outcome).size(), 1U);
  EXPECT_THAT(failures(outcome)[0], HasSubstr("nothing like it between 0 and 0 ms"));
  EXPECT_THAT(failures(outcome)[0], HasSubstr("saw: 0 ms  place      client 5 (Al)"));
}

// A session runs alike against either interface's voice client: the entry that moves
// clients answers to both its names, the timeline names the one in use, and the cues play
// without a complaint in the log (interface 26's client hands over an ID and a folder).
TEST(SimulationTest, EitherInterfaceRunsTheSameSession) {
  for (const int pluginInterface : {26, 4}) {
    SCOPED_TRACE(pluginInterface);
    const Outcome outcome =
        run("0 client 7 Bo in 1\n"
            "0 send 3D {7[1,2,3][RC]}\n"
            "0 expect cue rc\n"
            "200 fail requestChannelMove\n"
            "200 send SwitchPlayer 7,2,\n"
            "300 expect log erreur requestChannelMove\n"
            "400 heal requestClientMove\n"
            "400 send SwitchPlayer 7,3,\n"
            "500 expect move 7 to 3\n",
            Options{.pluginInterface = pluginInterface});
    EXPECT_THAT(failures(outcome), ::testing::IsEmpty());
    std::vector<std::string> world;
    std::vector<std::string> logs;
    for (const Event& event : outcome.events) {
      if (event.kind == EventKind::world) {
        world.push_back(event.text);
      } else if (event.kind == EventKind::log) {
        logs.push_back(event.text);
      }
    }
    const std::string entry = pluginInterface == 4 ? "requestChannelMove" : "requestClientMove";
    EXPECT_THAT(world,
                ::testing::IsSupersetOf({entry + " fails with error 1", entry + " works again"}));
    EXPECT_THAT(logs, ::testing::ElementsAre("erreur requestChannelMove"));
  }
}

TEST(SimulationTest, TheVirtualClockGivesTheSameTimelineEveryRun) {
  const auto timeline = [] {
    std::ostringstream out;
    for (const Event& event : run(DEFAULT_SESSION).events) {
      printJson(out, event);
    }
    return out.str();
  };
  const std::string first = timeline();
  EXPECT_EQ(first, timeline());
  EXPECT_THAT(first, HasSubstr("\"event\":\"place\",\"client\":7,\"x\":-3.25,\"y\":0.5,\"z\":10"));
  EXPECT_THAT(first, ::testing::Not(HasSubstr("sim-identity")));
}

TEST(SimulationTest, RealTimeRunsThePluginsOwnThreads) {
  const Outcome outcome =
      run("0 send GetVersion\n200 expect reply sorlinx beta 0.8\n", Options{.realtime = true});
  EXPECT_EQ(outcome.expectations, 1);
  EXPECT_EQ(outcome.failedExpectations, 0);
}

}  // namespace
}  // namespace sorlinx::sim
