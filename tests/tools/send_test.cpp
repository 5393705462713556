#include "send.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clipboard/clipboard_channel.h"
#include "clipboard/memory_clipboard.h"
#include "support/virtual_pacer.h"

namespace sorlinx::send {
namespace {

using ::testing::ElementsAre;

class SendTest : public ::testing::Test {
 protected:
  SendTest() {
    memory_clipboard::reset();
    memory_clipboard::setWriteObserver(
        [this](std::string_view text) { written.emplace_back(text); });
  }
  ~SendTest() override { memory_clipboard::reset(); }

  // Plays the plugin: on the first pause that finds the request, answers `reply`.
  void answerWith(const std::string& reply) {
    pacer.setOnPause([reply](Milliseconds) {
      const auto text = memory_clipboard::text();
      if (text && text->starts_with("[kex_sorlinx]")) {
        memory_clipboard::setText(reply);
      }
    });
  }

  testing::VirtualPacer pacer;
  std::vector<std::string> written;
};

TEST_F(SendTest, WrapsTheRequestAndReturnsTheReply) {
  answerWith("5");
  const Result result = sendRequest("GetPlayerID", "", {}, pacer);
  EXPECT_EQ(result.outcome, Outcome::replied);
  EXPECT_EQ(result.reply, "5");
  EXPECT_THAT(written, ElementsAre("[kex_sorlinx][GetPlayerID][/kex_sorlinx]"));
}

TEST_F(SendTest, TheSameRequestAgainIsPrecededByANeutralText) {
  // The plugin would take an identical text for the request it has already seen.
  memory_clipboard::setText(requestText("3D", "{5[1,2,3]}"));
  const Result result = sendRequest("3D", "{5[1,2,3]}", {.waitForReply = false}, pacer);
  EXPECT_EQ(result.outcome, Outcome::sent);
  ASSERT_EQ(written.size(), 2U);
  EXPECT_NE(written[0], written[1]);
  EXPECT_EQ(written[1], "[kex_sorlinx][3D]{5[1,2,3]}[/kex_sorlinx]");
  EXPECT_GE(pacer.now(), Milliseconds(200)) << "the plugin needs a poll to see the neutral text";
}

TEST_F(SendTest, NoReplyWithinTheTimeout) {
  const Result result = sendRequest("GetVersion", "", {.timeout = Milliseconds(500)}, pacer);
  EXPECT_EQ(result.outcome, Outcome::noReply);
  EXPECT_GE(pacer.now(), Milliseconds(500));
  EXPECT_LT(pacer.now(), Milliseconds(600));
}

TEST_F(SendTest, AClipboardHeldElsewhereIsReported) {
  memory_clipboard::setHeld(true);
  EXPECT_EQ(sendRequest("GetVersion", "", {}, pacer).outcome, Outcome::clipboardUnavailable);
  EXPECT_TRUE(written.empty());
}

}  // namespace
}  // namespace sorlinx::send
