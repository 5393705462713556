#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>

#include "default_session.h"
#include "recording.h"
#include "session.h"
#include "simulation.h"
#include "svg_map.h"
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
           {"0 repeat 0ms for 1s send 3D x", "column 10: a repeat needs a period of at least 1 ms"},
           {"0 repeat 1 for 1000s send 3D x", "column 16: that repeats 1000000 times"},
           {"0 repeat 100 for 1m send 3D x", "column 18: expected how long to repeat (like 500"},
           {"0 repeat 100 for 1s leave 5", "column 21: a repeat repeats send or clip"},
           {"0 hold for 2", "column 13: expected \"attempts\""},
       }) {
    EXPECT_THAT(errorOf(text), HasSubstr(message)) << text;
  }
}

TEST(SessionTest, TimesTextsAndCommentsReadForgivingly) {
  const auto steps = parseSession(
      "\xEF\xBB\xBF# a comment after a byte-order mark\n"
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

// A time reads the same in a session and on the command line, and a unit it does not know
// is no time at all.
TEST(SessionTest, TimesReadAlikeEverywhere) {
  for (const auto& [text, milliseconds] : std::initializer_list<std::pair<const char*, long long>>{
           {"0", 0}, {"2500", 2500}, {"2500ms", 2500}, {"2.5s", 2500}, {"0.0004s", 0}}) {
    EXPECT_EQ(parseTime(text), Milliseconds(milliseconds)) << text;
  }
  for (const char* text : {"3m", "", "s", "ms", "-1", "+5", "1e13", "2.5.1s", "5 s", "3h"}) {
    EXPECT_EQ(parseTime(text), std::nullopt) << text;
  }
}

Options options(int pluginInterface, Milliseconds until = {}, bool realtime = false) {
  Options chosen;
  chosen.pluginInterface = pluginInterface;
  chosen.until = until;
  chosen.realtime = realtime;
  return chosen;
}

Outcome run(const std::string& text, const Options& options = {}) {
  return runSession(parseSession(text), options);
}

std::vector<std::string> eventsOf(const Outcome& outcome, EventKind kind) {
  std::vector<std::string> texts;
  for (const Event& event : outcome.events) {
    if (event.kind == kind) {
      std::ostringstream line;
      printText(line, event);
      texts.push_back(line.str());
    }
  }
  return texts;
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

// A session runs alike against either interface's voice client: the entry that moves
// clients answers to both its names, the timeline names the one in use, and the cues play
// without a complaint in the log (interface 26's client hands over an ID and a folder).
// Each expectation claims its own event: a second one like it finds none.
TEST(SimulationTest, EitherInterfaceRunsTheSameSessionAndEachExpectationClaimsItsOwnEvent) {
  for (const int pluginInterface : {26, 4}) {
    SCOPED_TRACE(pluginInterface);
    const Outcome outcome =
        run("0 client 7 Bo in 1\n"
            "0 send 3D {7[1,2,3][RC]}\n"
            "0 expect cue rc\n"
            "0 expect place 7 x 1 y 3 z 2\n"
            "0 expect place 7 x 1 y 3 z 2\n"  // one placement only: the second finds none
            "50 expect no reply\n"
            "60 send GetPlayerID\n"
            "200 expect reply 1\n"
            "200 expect no reply\n"  // the one reply is claimed already; no other came
            "200 fail requestChannelMove\n"
            "200 send SwitchPlayer 7,2,\n"
            "300 expect log erreur requestChannelMove\n"
            "400 heal requestClientMove\n"
            "400 send SwitchPlayer 7,3,\n"
            "500 expect move 7 to 3\n",
            options(pluginInterface));
    EXPECT_EQ(outcome.expectations, 8);
    ASSERT_EQ(failures(outcome).size(), 1U);
    EXPECT_THAT(failures(outcome)[0], HasSubstr("nothing like it between 0 ms and 0 ms"));
    EXPECT_THAT(failures(outcome)[0], HasSubstr("saw: 0 ms  place      client 7 (Bo)"));
    const std::string entry = pluginInterface == 4 ? "requestChannelMove" : "requestClientMove";
    EXPECT_THAT(eventsOf(outcome, EventKind::world),
                ::testing::IsSupersetOf({HasSubstr("world      " + entry + " fails with error 1"),
                                         HasSubstr("world      " + entry + " works again")}));
    EXPECT_THAT(eventsOf(outcome, EventKind::log),
                ::testing::ElementsAre(HasSubstr("erreur requestChannelMove")));
  }
}

// Each repetition is a new text to the plugin: every one is placed, and the frames keep
// the stale-frame reset away until two seconds after the last. The counters run through
// the session in time order.
TEST(SimulationTest, ARepeatedFrameIsANewRequestEachTime) {
  const Outcome outcome =
      run("0 client 2 Red in 1\n"
          "0 send 3D {2[9,9,9]}\n"
          "100 repeat 500ms for 2s send 3D {2[1,2,3]}\n"
          "100 clip same\n"  // a step of the repeat's time that comes after it in the file
          "300 repeat 1s for 1s clip other\n",
          options(26, Milliseconds(3600)));
  EXPECT_THAT(eventsOf(outcome, EventKind::clipboard),
              ::testing::ElementsAre(
                  HasSubstr("[3D]{2[9,9,9]}[/kex_sorlinx]\n"),
                  HasSubstr("     100 ms  clipboard  [kex_sorlinx][3D]{2[1,2,3]}[/kex_sorlinx]#1"),
                  HasSubstr("same"), HasSubstr("     300 ms  clipboard  other#2"),
                  HasSubstr("600 ms  clipboard  [kex_sorlinx][3D]{2[1,2,3]}[/kex_sorlinx]#3"),
                  HasSubstr("#4"), HasSubstr("1600 ms  clipboard  [kex_sorlinx][3D]")));
  std::vector<std::string> placed = eventsOf(outcome, EventKind::place);
  // At 100 ms "same" came after the first repetition, before the plugin looked.
  EXPECT_THAT(placed, ::testing::ElementsAre(
                          HasSubstr("     0 ms"), HasSubstr("600 ms"), HasSubstr("1100 ms"),
                          HasSubstr("1600 ms"), HasSubstr("3600 ms  place      client 1"),
                          HasSubstr("3600 ms  place      client 2 (Red)  x 0  y 0  z 0")));
}

// A failed expectation names the mistake that explains it, when one does. Each session's
// last expectation fails.
TEST(SimulationTest, AFailedExpectationSaysWhy) {
  const std::string world = "0 client 1 Me in 10 local\n0 client 2 Red in 10\n";
  for (const auto& [session, hint] : std::initializer_list<std::pair<const char*, const char*>>{
           {"0 send 3D {2[10,1.7,30]}\n0 expect place 2 x 10 y 1.7 z 30",
            "frames are x, z, y (the height last): client 2 was placed at this position with y "
            "and z swapped"},
           {"0 send 3D {2[1,2,3]}\n200 send 3D {2[1,2,3]}\n300 expect place 2 1 3 2",
            "the text put on the clipboard at 200 ms is the one that stood there before"},
           {"0 disconnect\n0 send GetPlayerID\n300 expect reply 1",
            "was not connected (status 0) when the request came at 0 ms: queries get no reply"},
           {"0 clip \" [kex_sorlinx][GetVersion][/kex_sorlinx]\"\n100 expect reply sorlinx beta "
            "0.8",
            "has 1 byte before [kex_sorlinx]: a request must begin with it"},
           {"0 send getversion\n100 expect reply sorlinx beta 0.8",
            "knows no command \"getversion\": names are compared byte for byte, did you mean "
            "GetVersion?"},
           {"0 send SwitchPlayer 2,11,\n100 expect reply 0",
            "SwitchPlayer gives no reply: the clipboard keeps the request"},
           {"0 notices off\n150 send GetPlayerID\n180 expect reply 1",
            "it came at 200 ms, after this expectation's window ends at 180 ms"},
           {"0 send 3D {99[1,2,3]}\n100 expect place 99 1 3 2",
            "refused it (error 512): client 99 is not on the server"},
           {"0 send 3D {2[1,2,3][RC]}\n0 disconnect\n500 send 3D {2[1,2,3][RL]}\n600 expect cue rl",
            "was not connected (status 0): the cues start only while connected"},
           {"0 notices off\n10 send GetPlayerID\n50 send GetVersion\n100 expect reply 1",
            "the request put on the clipboard at 10 ms was written over at 50 ms, before the "
            "plugin looked"},
           {"0 notices off\n0 send GetPlayerID\n50 expect reply 1\n60 send GetPlayerID\n150 expect "
            "reply 1",
            "the text put on the clipboard at 60 ms is the one the plugin read last, at 0 ms: it "
            "had not yet read its own reply"},
           {"0 send 3D {2[1,2]}\n100 expect place 2 x 1 y 3 z 2",
            "the plugin skipped the record {2[1,2]}: no \",\" after z"},
           {"0 send 3D {2[1,2,3][RC]}\n2500 expect cue rc\n4000 expect cue bruit",
            "the stale-frame reset at 2000 ms (twenty looks, about two seconds, without a new "
            "request) emptied the radio lists"},
           {"0 send GetVersion\n100 expect reply sorlinx beta 0.8\n2500 expect nothing",
            "it is the stale-frame reset at 2000 ms"},
           {"100 expect reply 1", "nothing was put on the clipboard between 0 ms and 100 ms"},
           {"100 send GetPlayerID\n200 expect nothing",
            "it answers the text put on the clipboard at 100 ms: "
            "[kex_sorlinx][GetPlayerID][/kex_sorlinx]"},
       }) {
    const std::vector<Event>& events = run(world + session).events;
    const auto last = std::find_if(events.rbegin(), events.rend(), [](const Event& event) {
      return event.kind == EventKind::expectation;
    });
    ASSERT_NE(last, events.rend()) << session;
    EXPECT_FALSE(last->met) << session;
    EXPECT_THAT(last->hint, HasSubstr(hint)) << session;
  }
}

std::string timeline(const Outcome& outcome) {
  std::ostringstream out;
  for (const Event& event : outcome.events) {
    printJson(out, event);
  }
  return out.str();
}

bool validUtf8(std::string_view text) {
  for (std::size_t length = 0; !text.empty(); text.remove_prefix(length)) {
    if ((length = utf8SequenceLength(text)) == 0) {
      return false;
    }
  }
  return true;
}

// Each record of a frame that the plugin skips shows, with the reason; texts go into JSON
// and the map as UTF-8, with only the bytes that are no part of it escaped; the radio lists
// carry their text in JSON as simulator.md says.
TEST(TimelineTest, SkippedRecordsValidUtf8AndTheListsText) {
  const Outcome outcome =
      run("0 client 2 \"Zo\\xc3\\xab\" in 1\n"
          "0 client 3 \"Bad\\xeb\\xc3\" in 1\n"
          "0 send 3D {2[1,2,3][RC]}{3[1,2]}{x[1,2,3]}{3[1,1e,1]}{3[4,5,6]}\n"
          "100 clip \"Zo\\xc3\\xab \\xeb \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80 \\x7f\"\n");
  EXPECT_THAT(eventsOf(outcome, EventKind::skipped),
              ::testing::ElementsAre(HasSubstr("skipped    {3[1,2]}: no \",\" after z\n"),
                                     HasSubstr("{x[1,2,3]}: the client is no number from 0"),
                                     HasSubstr("{3[1,1e,1]}: z is no number, or beyond")));
  const std::string json = timeline(outcome);
  EXPECT_THAT(json, HasSubstr(R"({"time_ms":0,"event":"skipped","text":"{3[1,2]}",)"
                              R"("why":"no \",\" after z"})"));
  EXPECT_THAT(json,
              HasSubstr("\"event\":\"lists\",\"rc\":[2],\"rl\":[],\"text\":\"RC 2 (Zo\xc3\xab); "
                        "RL empty\"}"));
  EXPECT_THAT(json, HasSubstr("\"nickname\":\"Zo\xc3\xab\""));
  // Overlong, surrogate and beyond-U+10FFFF forms are no UTF-8 either.
  EXPECT_THAT(json, HasSubstr("\"text\":\"Zo\xc3\xab \\u00eb \\u00ed\\u00a0\\u0080 "
                              "\\u00f4\\u0090\\u0080\\u0080 \\u007f\""));
  EXPECT_TRUE(validUtf8(json));
  std::ostringstream map;
  writeSvgMap(map, outcome);
  EXPECT_THAT(map.str(), HasSubstr("2 Zo\xc3\xab"));
  EXPECT_THAT(map.str(), HasSubstr("3 Bad\\xeb\\xc3"));
  EXPECT_TRUE(validUtf8(map.str()));
}

// The plugin's own threads in real time, kept in step with the session, give the virtual
// clock's timeline, event for event: cues, the stale-frame reset, a connection's steps, and
// the plugin's first look at a clipboard held for it at time 0.
TEST(SimulationTest, RealTimeGivesTheVirtualClocksTimeline) {
  for (const std::string& session :
       {std::string(DEFAULT_SESSION),
        std::string(
            "0 hold for 1 attempt\n0 send GetVersion\n100 expect reply sorlinx beta 0.8")}) {
    const std::string virtualTimeline = timeline(run(session));
    EXPECT_EQ(virtualTimeline, timeline(run(session)));
    EXPECT_EQ(virtualTimeline, timeline(run(session, options(26, {}, true))));
    if (session == DEFAULT_SESSION) {
      EXPECT_THAT(virtualTimeline,
                  HasSubstr("\"event\":\"place\",\"client\":7,\"x\":-3.25,\"y\":0.5,\"z\":10"));
      EXPECT_THAT(virtualTimeline, ::testing::Not(HasSubstr("sim-identity")));
    }
  }
}

// What a live run records replays with every expectation met, and the plugin does the same
// again: the recording of a session's run stands in for a live one here, where the plugin
// hears of no change and finds every text at a regular look.
TEST(RecordingTest, ARecordingReplaysWhatItRecorded) {
  std::vector<Step> world;
  std::vector<Step> steps =
      parseSession("0 notices off\n" + std::string(DEFAULT_SESSION) +
                   "6500 clip \"quote \\\" backslash \\\\ line\\nbyte \\x80 # not a comment\"\n"
                   "6600 empty\n");
  std::copy_if(steps.begin(), steps.end(), std::back_inserter(world),
               [](const Step& step) { return step.kind == StepKind::client; });
  const Outcome original = runSession(steps, {});
  std::ostringstream recording;
  writeRecording(recording, world, original, 26);
  const Outcome replayed = run(recording.str());
  EXPECT_EQ(replayed.failedExpectations, 0) << recording.str();
  EXPECT_GT(replayed.expectations, 20);
  for (const EventKind kind :
       {EventKind::clipboard, EventKind::reply, EventKind::place, EventKind::cue, EventKind::move,
        EventKind::connect, EventKind::disconnect, EventKind::log}) {
    EXPECT_EQ(eventsOf(replayed, kind), eventsOf(original, kind)) << kindName(kind);
  }
  EXPECT_THAT(recording.str(), HasSubstr("6600   empty\n"));
}

// The map says that y and z look swapped only when the frames say so.
TEST(MapTest, SaysYAndZLookSwappedOnlyWhenTheFramesDo) {
  const std::string world = "0 client 2 Red in 1\n0 client 3 Blue in 1\n";
  for (const auto& [session, swapped] : std::initializer_list<std::pair<std::string, bool>>{
           {DEFAULT_SESSION, false},
           {world + "0 send 3D {2[10,1.7,30]}{3[-20,1.7,5]}", true},
           {world + "0 send 3D {2[10,30,1.7]}{3[-20,5,1.7]}", false},
           // Heights spread five times as far as z: too little to tell.
           {world + "0 send 3D {2[0,0,1]}{3[10,1,6]}", false},
           // One player walking on level ground, then one sent as x, y, z.
           {world + "0 send 3D {2[0,0,1]}\n100 send 3D {2[5,10,1]}", false},
           {world + "0 send 3D {2[0,1,0]}\n100 send 3D {2[5,1,10]}", true},
           // Two frames right, one swapped: the right ones win.
           {world + "0 send 3D {2[1,20,0]}{3[9,-4,0.5]}\n100 send 3D {2[1,0,20]}{3[9,0.5,-4]}\n"
                    "200 send 3D {2[2,21,0]}{3[9,-5,0.5]}",
            false},
       }) {
    EXPECT_EQ(voteOnHeights(run(session).events).looksSwapped(), swapped) << session;
    std::ostringstream map;
    writeSvgMap(map, run(session));
    EXPECT_EQ(map.str().find("y and z look swapped") != std::string::npos, swapped) << session;
  }
}

// A session that ends after the stale-frame reset still shows where the game put everyone,
// and what the reset did.
TEST(MapTest, ShowsTheLastPositionsBeforeAReset) {
  std::ostringstream map;
  writeSvgMap(map, run("0 client 2 Red in 1\n0 send 3D {2[7,8,9]}\n300 send 3D {2[6,8,9]}\n"
                       "2500 expect place 2 0 0 0"));
  EXPECT_THAT(map.str(), HasSubstr("2 Red: 6, 9, 8 at 300 ms"));
  EXPECT_THAT(map.str(), HasSubstr("back at the origin at 2300 ms (reset)"));
  EXPECT_THAT(map.str(), HasSubstr("height y 9</text>"));
  EXPECT_THAT(map.str(), HasSubstr("Red at 0 ms: x 7, y 9, z 8</title>"));
  EXPECT_THAT(map.str(), HasSubstr("1 Player (you): only the reset placed it"));
}

// Labels crowded around one spot all find room: none covers another or a dot, and none
// leaves the drawing.
TEST(MapTest, LabelsDoNotOverlap) {
  const Box area{0, 0, 600, 500};
  const std::vector<Box> dots{{288, 238, 24, 24}, {320, 240, 24, 24}, {100, 100, 24, 24}};
  std::vector<LabelWish> wishes(14, LabelWish{300, 250, 90, 30});
  wishes.push_back({590, 490, 120, 30});  // at the corner: the label goes inside
  const std::vector<Box> labels = placeLabels(wishes, dots, area);
  ASSERT_EQ(labels.size(), wishes.size());
  for (std::size_t i = 0; i < labels.size(); ++i) {
    EXPECT_GE(labels[i].left, area.left);
    EXPECT_LE(labels[i].left + labels[i].width, area.left + area.width);
    EXPECT_GE(labels[i].top, area.top);
    EXPECT_LE(labels[i].top + labels[i].height, area.top + area.height);
    for (const Box& dot : dots) {
      EXPECT_FALSE(labels[i].overlaps(dot)) << i;
    }
    for (std::size_t j = 0; j < i; ++j) {
      EXPECT_FALSE(labels[i].overlaps(labels[j])) << i << " and " << j;
    }
  }
}

}  // namespace
}  // namespace sorlinx::sim
