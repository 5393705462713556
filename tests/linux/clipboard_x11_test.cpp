// The X11 clipboard where the in-memory one cannot stand in: owners that answer late,
// refuse, or hand over what the plugin will not take, read through the clipboard channel's
// own passes; serving the plugin's text to other programs until one takes the selection
// over; the worker's wait between passes; and a missing display. Each test has an Xvfb
// server of its own. (A display that goes away and comes back is the end-to-end test's.)
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <future>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "clipboard/clipboard.h"
#include "clipboard/clipboard_channel.h"
#include "shared/plugin_state.h"
#include "x_display.h"

namespace sorlinx {
namespace {

using namespace std::chrono_literals;
using testing::Clock;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::TestOwner;

std::vector<std::string> logLines;
std::vector<std::string> dispatched;

HostError SORLINX_CDECL recordLine(const char* text, int, const char*, std::uint64_t) {
  logLines.emplace_back(text);
  return 0;
}

void recordRequest(std::string_view command, std::string& arguments) {
  dispatched.push_back(std::string(command) + " " + arguments);
}

class X11ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logLines.clear();
    dispatched.clear();
    pluginState.host.logMessage = &recordLine;
    setenv("DISPLAY", server.name().c_str(), 1);
    clipboard::release();
  }
  void TearDown() override {
    clipboard::release();
    pluginState.host.logMessage = nullptr;
  }

  // The text in `target` as xclip reads it while the worker's passes go on, as in the
  // plugin: it answers other programs only from within its calls.
  static std::optional<std::string> servedAs(const char* target) {
    auto result = std::async(std::launch::async, testing::XClipboard::text, target);
    while (result.wait_for(10ms) != std::future_status::ready) {
      clipboard::changeCount();
    }
    return result.get();
  }

  // The clipboard worker's reading passes, a polling period apart as in the plugin, for
  // `duration` or until `done` holds. Returns how long the longest pass took.
  Clock::duration passes(Clock::duration duration, const std::function<bool()>& done = {}) {
    const auto end = Clock::now() + duration;
    Clock::duration longest{};
    while (Clock::now() < end && !(done && done())) {
      const auto start = Clock::now();
      readClipboardRequest(channel, recordRequest, PassKind::regular);
      longest = std::max(longest, Clock::now() - start);
      std::this_thread::sleep_for(POLLING_PERIOD);
    }
    return longest;
  }

  // The worker's wait between two passes, for at most `timeout`: whether a notice ended it,
  // and how long it took.
  static std::pair<bool, Clock::duration> waitOn(ChangeNotices& notices, Milliseconds timeout) {
    const auto start = Clock::now();
    const bool notice = notices.wait(timeout);
    return {notice, Clock::now() - start};
  }
  void pass() { readClipboardRequest(channel, recordRequest, PassKind::notice); }

  testing::Xvfb server;
  ClipboardChannel channel;
};

// An owner that answers late (wine under load, a compositor bridging a Wayland game), or
// that holds its answer back until something else reaches it (wine at times), is asked once
// and read when its answer comes; a late answer of the owner before it, which comes in the
// meantime, is not taken for its text.
class SlowOwnerTest : public X11ClipboardTest,
                      public ::testing::WithParamInterface<
                          std::pair<TestOwner::Answer, std::chrono::milliseconds>> {};

TEST_P(SlowOwnerTest, IsAskedOnceAndReadWithItsOwnText) {
  passes(200ms);
  TestOwner earlier(
      {requestText("GetPlayerIDFromName", "earlier"), TestOwner::Answer::utf8, 300ms});
  TestOwner later(
      {requestText("GetPlayerIDFromName", "later"), GetParam().first, GetParam().second});
  const auto start = Clock::now();
  earlier.take();
  auto longest = passes(150ms);
  later.take();
  const auto taken = Clock::now();
  longest = std::max(longest, passes(3s, [] { return !dispatched.empty(); }));
  const auto readAfter = Clock::now() - taken;
  std::cout << "an owner answering after " << GetParam().second.count() << " ms was read "
            << std::chrono::duration_cast<std::chrono::milliseconds>(readAfter).count()
            << " ms after it took CLIPBOARD\n";
  longest = std::max(longest, passes(start + 1500ms - Clock::now()));

  EXPECT_THAT(dispatched, ElementsAre("GetPlayerIDFromName later"));
  EXPECT_LT(readAfter, GetParam().second + 3 * POLLING_PERIOD) << "not read within a few passes";
  EXPECT_THAT(later.questions(), ElementsAre("UTF8_STRING")) << "asked again before it answered";
  EXPECT_THAT(earlier.questions(), ElementsAre("UTF8_STRING"));
  EXPECT_LT(longest, 100ms) << "a pass waited for an owner beyond its bound";
  EXPECT_THAT(logLines, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(, SlowOwnerTest,
                         ::testing::Values(std::pair(TestOwner::Answer::utf8, 80ms),
                                           std::pair(TestOwner::Answer::utf8, 700ms),
                                           std::pair(TestOwner::Answer::held, 0ms)),
                         [](const auto& owner) {
                           return owner.param.first == TestOwner::Answer::held
                                      ? std::string("held")
                                      : std::to_string(owner.param.second.count()) + "ms";
                         });

TEST_F(X11ClipboardTest, ARefusalCountsAgainstItsOwnerOnlyAndIsAskedAgainAfterAWhile) {
  passes(200ms);
  // The game takes CLIPBOARD while a textless owner's refusal is on its way.
  TestOwner textless({"", TestOwner::Answer::utf8, 200ms, 100});
  textless.take();
  passes(150ms);
  testing::XClipboard game;
  game.put(requestText("GetVersion", ""));
  passes(2s, [] { return !dispatched.empty(); });
  EXPECT_THAT(dispatched, ElementsAre("GetVersion "));

  // An owner that refuses for a moment (wine, while a Windows program holds its clipboard)
  // gives its text to a later question.
  TestOwner wavering({requestText("GetPlayerID", ""), TestOwner::Answer::utf8, 0ms, 2});
  wavering.take();
  passes(3s, [] { return dispatched.size() == 2; });
  EXPECT_THAT(dispatched, ElementsAre("GetVersion ", "GetPlayerID "));
  EXPECT_THAT(wavering.questions(), ElementsAre("UTF8_STRING", "STRING", "UTF8_STRING"));
  EXPECT_THAT(logLines, IsEmpty());
}

// What the plugin does not take: a text that would come in pieces (INCR), and one larger
// than MAX_TEXT_SIZE. Either is refused once, logged once, and no piece is asked for, not
// even once the next owner's text has been read through the same property.
class TooLargeTest : public X11ClipboardTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TooLargeTest, IsRefusedOnceWithoutAPieceAskedFor) {
  const bool inPieces = GetParam();
  const auto notices = clipboard::listenForChanges();
  const std::string padding(inPieces ? 0 : clipboard::MAX_TEXT_SIZE / 4, ' ');
  TestOwner owner({requestText("GetVersion", "") + padding,
                   inPieces ? TestOwner::Answer::pieces : TestOwner::Answer::utf8, 0ms, 0, 5});
  owner.take();
  passes(1s);
  EXPECT_THAT(dispatched, IsEmpty());
  EXPECT_THAT(logLines, ElementsAre("erreur clipboardThread: texte trop grand"));
  EXPECT_THAT(owner.questions(), ElementsAre("UTF8_STRING"));
  EXPECT_EQ(owner.piecesAsked(), 0) << "the plugin deleted the INCR property";
  // The change's notice is taken once, though no read took the text.
  ASSERT_NE(notices, nullptr);
  notices->wait(Milliseconds(0));
  EXPECT_FALSE(waitOn(*notices, Milliseconds(100)).first) << "passes without end";
  TestOwner next({requestText("GetPlayerID", "")});
  next.take();
  passes(1s, [] { return !dispatched.empty(); });
  passes(200ms);
  EXPECT_THAT(dispatched, ElementsAre("GetPlayerID "));
  EXPECT_EQ(owner.piecesAsked(), 0) << "the plugin deleted a property the INCR owner waits on";
}

INSTANTIATE_TEST_SUITE_P(, TooLargeTest, ::testing::Bool(),
                         [](const auto& run) { return run.param ? "InPieces" : "OverTheLimit"; });

// The worker's wait between passes. Another program's text, and its owner's answer that came
// too late for the pass that asked, each end it at once; once the text is read, it lasts its
// whole time. The plugin's own write brings the one pass that reads it back, and no other;
// another program's request for it is served while the worker waits, without a pass. A stop
// ends the wait at once, and a pass that would wait for a slow owner's answer after it, so
// that shutdown does not wait out the owner.
TEST_F(X11ClipboardTest, OnlyAnotherOwnersTextItsLateAnswerAndAStopEndTheWait) {
  const auto notices = clipboard::listenForChanges();
  ASSERT_NE(notices, nullptr);
  pass();  // connects, and finds nothing there
  TestOwner owner({requestText("GetVersion", ""), TestOwner::Answer::utf8, 200ms});
  owner.take();
  EXPECT_TRUE(waitOn(*notices, 1s).first) << "the change of owner did not end the wait";
  pass();  // asks, and waits less than the owner takes
  EXPECT_THAT(dispatched, IsEmpty());
  EXPECT_TRUE(waitOn(*notices, 1s).first) << "the answer did not end the wait";
  pass();
  EXPECT_THAT(dispatched, ElementsAre("GetVersion "));
  const auto [notice, took] = waitOn(*notices, 300ms);
  EXPECT_FALSE(notice) << "a pass more than reading the text needs";
  EXPECT_GE(took, 250ms);
  EXPECT_THAT(owner.questions(), ElementsAre("UTF8_STRING"));

  testing::XClipboard game;
  std::uint64_t emptiedAt = 0;
  ASSERT_TRUE(clipboard::writeText("reply 8", emptiedAt));
  EXPECT_TRUE(waitOn(*notices, 2s).first);
  pass();
  auto waiting = std::async(std::launch::async, [&] { return waitOn(*notices, 1500ms); });
  const auto asked = Clock::now();
  EXPECT_EQ(game.read(), "reply 8");
  EXPECT_LT(Clock::now() - asked, 500ms) << "served only once the wait ended";
  const auto [served, waited] = waiting.get();
  EXPECT_FALSE(served) << "the own write or the serving brought a pass";
  EXPECT_GE(waited, 1400ms);

  TestOwner slow({requestText("GetVersion", ""), TestOwner::Answer::utf8, 700ms});
  slow.take();
  ASSERT_TRUE(waitOn(*notices, 2s).first);
  waiting = std::async(std::launch::async, [&] { return waitOn(*notices, 10s); });
  std::this_thread::sleep_for(50ms);
  notices->wake();
  EXPECT_LT(waiting.get().second, 1s) << "a stop did not end the wait";
  notices->wake();  // the same stop, come while a pass runs
  const auto start = Clock::now();
  pass();
  EXPECT_LT(Clock::now() - start, 25ms) << "the pass waited for the owner after the stop";
  // The pass did ask (it did not end for want of a question).
  EXPECT_TRUE(testing::eventually([&] { return slow.questions().size() == 1; }, 1s));
  EXPECT_THAT(dispatched, ElementsAre("GetVersion "));
  EXPECT_THAT(logLines, IsEmpty());
}

TEST_F(X11ClipboardTest, ItsTextIsServedInEveryTargetUntilAnotherProgramTakesTheSelection) {
  testing::XClipboard game;
  std::uint64_t emptiedAt = 0;
  const std::uint64_t before = clipboard::changeCount();
  ASSERT_TRUE(clipboard::writeText("reply 8", emptiedAt));
  const std::uint64_t written = clipboard::changeCount();
  EXPECT_NE(written, before);
  std::string text;
  ASSERT_TRUE(clipboard::readText(text));
  EXPECT_EQ(text, "reply 8");
  for (const char* target : {"UTF8_STRING", "STRING", "TEXT"}) {
    EXPECT_EQ(servedAs(target), "reply 8") << target;
  }
  const auto targets = servedAs("TARGETS");
  ASSERT_TRUE(targets);
  EXPECT_THAT(*targets,
              ::testing::AllOf(::testing::HasSubstr("UTF8_STRING"), ::testing::HasSubstr("TEXT"),
                               ::testing::HasSubstr("x-kde-passwordManagerHint")));
  // Clipboard managers leave a text out of their history when this says "secret".
  EXPECT_EQ(servedAs("x-kde-passwordManagerHint"), "secret");
  // Any client can send a SelectionClear: only another owner ends the serving.
  testing::sendSelectionClear(game.owner());
  EXPECT_EQ(servedAs("UTF8_STRING"), "reply 8");
  // Its own write counts once, not again when the server's notice of it comes.
  EXPECT_TRUE(testing::eventually([&] { return clipboard::changeCount() == written; }, 300ms));

  game.put(std::string("taken\0over", 10));
  EXPECT_TRUE(testing::eventually([&] { return clipboard::changeCount() != written; }));
  ASSERT_TRUE(clipboard::readText(text));
  EXPECT_EQ(text, "taken");  // up to the zero byte, as on Windows
  EXPECT_EQ(testing::XClipboard::text(), std::string("taken\0over", 10));
  EXPECT_THAT(logLines, IsEmpty());
}

TEST_F(X11ClipboardTest, WithoutADisplayEveryPassIsUnchangedAndOneLineSaysWhy) {
  unsetenv("DISPLAY");
  const std::uint64_t count = clipboard::changeCount();
  std::string text = "kept";
  std::uint64_t emptiedAt = 0;
  for (int pass = 0; pass < 5; ++pass) {
    EXPECT_EQ(clipboard::changeCount(), count);
    EXPECT_FALSE(clipboard::readText(text));
    EXPECT_FALSE(clipboard::writeText("reply", emptiedAt));
  }
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(emptiedAt, 0U);
  // The worker then waits for its next look, or a stop, and never spins.
  const auto notices = clipboard::listenForChanges();
  ASSERT_NE(notices, nullptr);
  const auto [notice, took] = waitOn(*notices, 100ms);
  EXPECT_FALSE(notice);
  EXPECT_GE(took, 90ms);
  notices->wake();  // a stop just before the wait ends it
  EXPECT_LT(waitOn(*notices, 10s).second, 1s);
  EXPECT_THAT(logLines, ElementsAre("erreur clipboard X11: pas d'affichage"));
}

}  // namespace
}  // namespace sorlinx
