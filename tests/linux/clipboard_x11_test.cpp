// The X11 clipboard where the in-memory one cannot stand in: serving the plugin's text to
// other programs until one takes the selection over, and a display that is missing, goes
// away and comes back. Each test has an Xvfb server of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <future>
#include <optional>
#include <string>
#include <vector>

#include "clipboard/clipboard.h"
#include "shared/plugin_state.h"
#include "x_display.h"

namespace sorlinx {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::vector<std::string> logLines;

HostError SORLINX_CDECL recordLine(const char* text, int, const char*, std::uint64_t) {
  logLines.emplace_back(text);
  return 0;
}

class X11ClipboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logLines.clear();
    pluginState.host.logMessage = &recordLine;
    setenv("DISPLAY", server->name().c_str(), 1);
    clipboard::release();
  }
  void TearDown() override {
    clipboard::release();
    pluginState.host.logMessage = nullptr;
  }

  // Runs `command` while the clipboard worker's passes go on, as they would in the plugin:
  // the plugin answers other programs only from within its calls.
  static std::optional<std::string> whilePassing(std::function<std::optional<std::string>()> read) {
    auto result = std::async(std::launch::async, std::move(read));
    while (result.wait_for(10ms) != std::future_status::ready) {
      clipboard::changeCount();
    }
    return result.get();
  }

  std::optional<testing::Xvfb> server{std::in_place};
};

TEST_F(X11ClipboardTest, ItsTextIsServedInEveryTargetUntilAnotherProgramTakesTheSelection) {
  std::uint64_t emptiedAt = 0;
  const std::uint64_t before = clipboard::changeCount();
  ASSERT_TRUE(clipboard::writeText("reply 8", emptiedAt));
  const std::uint64_t written = clipboard::changeCount();
  EXPECT_NE(written, before);
  std::string text;
  ASSERT_TRUE(clipboard::readText(text));
  EXPECT_EQ(text, "reply 8");
  for (const char* target : {"UTF8_STRING", "STRING", "TEXT"}) {
    EXPECT_EQ(whilePassing([target] { return testing::XClipboard::text(target); }), "reply 8")
        << target;
  }
  const auto targets = whilePassing([] { return testing::XClipboard::text("TARGETS"); });
  ASSERT_TRUE(targets);
  EXPECT_THAT(*targets,
              ::testing::AllOf(::testing::HasSubstr("UTF8_STRING"), ::testing::HasSubstr("TEXT")));
  // Its own write counts once, not again when the server's notice of it comes.
  EXPECT_TRUE(testing::eventually([&] { return clipboard::changeCount() == written; }, 300ms));

  testing::XClipboard game;
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
  EXPECT_THAT(logLines, ElementsAre("erreur clipboard X11: pas d'affichage"));
}

TEST_F(X11ClipboardTest, AServerThatGoesAwayIsTakenUpAgainWhenItComesBack) {
  std::uint64_t emptiedAt = 0;
  ASSERT_TRUE(clipboard::writeText("owned", emptiedAt));
  const int display = server->display();
  server.reset();
  std::string text = "kept";
  const std::uint64_t count = clipboard::changeCount();
  const auto lostAt = testing::Clock::now();
  while (testing::Clock::now() - lostAt < 500ms) {
    EXPECT_EQ(clipboard::changeCount(), count);
    EXPECT_FALSE(clipboard::readText(text));
    EXPECT_FALSE(clipboard::writeText("reply", emptiedAt));
  }
  EXPECT_EQ(text, "kept");
  EXPECT_THAT(logLines, ElementsAre("erreur clipboard X11: affichage perdu"));

  server.emplace(display);
  ASSERT_TRUE(testing::eventually([&] { return clipboard::changeCount() != count; }, 5s))
      << "the display that came back was not taken up";
  testing::XClipboard game;
  game.put("back");
  ASSERT_TRUE(testing::eventually([&] { return clipboard::readText(text) && text == "back"; }));
  ASSERT_TRUE(clipboard::writeText("answer", emptiedAt));
  EXPECT_EQ(whilePassing([] { return testing::XClipboard::text(); }), "answer");
  EXPECT_THAT(logLines, ElementsAre("erreur clipboard X11: affichage perdu"));
}

}  // namespace
}  // namespace sorlinx
