#include "send.h"

#include <gtest/gtest.h>

#include <string>

#include "clipboard/memory_clipboard.h"
#include "support/virtual_pacer.h"

namespace sorlinx::send {
namespace {

constexpr std::string_view REQUEST = "[kex_sorlinx][GetPlayerID][/kex_sorlinx]";

// The plugin's reply comes at once, while the request is being written (as on a loaded
// machine where sorlinx-send looks again only after the plugin has answered), 30 ms later,
// or never. Each is told apart by the outcome, and the request stays when nothing answers.
TEST(SendTest, AReplyIsTakenHoweverSoonItComesAndNoReplyIsTold) {
  for (const int replyAfter : {0, 30, -1}) {
    memory_clipboard::reset();
    memory_clipboard::setText("the player's text");
    testing::VirtualPacer pacer;
    memory_clipboard::setWriteObserver([&](std::string_view written) {
      if (written == REQUEST && replyAfter == 0) {
        memory_clipboard::setText("7");
      } else if (written == REQUEST && replyAfter > 0) {
        pacer.at(pacer.now() + Milliseconds(replyAfter), [] { memory_clipboard::setText("7"); });
      }
    });
    const Result result = sendRequest(REQUEST, Options{}, pacer);
    if (replyAfter >= 0) {
      EXPECT_EQ(result.outcome, Outcome::replied) << replyAfter;
      EXPECT_EQ(result.reply, "7") << replyAfter;
    } else {
      EXPECT_EQ(result.outcome, Outcome::noReply);
      EXPECT_EQ(pacer.now(), Milliseconds(2000));
      EXPECT_EQ(memory_clipboard::text(), REQUEST);
    }
  }
}

}  // namespace
}  // namespace sorlinx::send
