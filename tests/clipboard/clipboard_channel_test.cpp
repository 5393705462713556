#include "clipboard/clipboard_channel.h"

#include <gtest/gtest.h>

#include <string>

#include "clipboard/memory_clipboard.h"
#include "plugin/plugin_state.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

class ClipboardChannelTest : public PluginTest {
 protected:
  // Dispatches are seen through "GetVersion", whose reply is a clipboard write.
  static std::uint64_t replies() { return memory_clipboard::writeCount(); }
};

TEST_F(ClipboardChannelTest, ARequestLeftOnTheClipboardIsDispatchedOnce) {
  passWith(request("GetVersion"));
  EXPECT_EQ(memory_clipboard::text(), "sorlinx beta 0.8");
  EXPECT_EQ(replies(), 1U);
  // The reply is new text without the envelope: it becomes the last text, nothing more.
  passes(1);
  EXPECT_EQ(channel.lastText, "sorlinx beta 0.8");
  EXPECT_EQ(channel.unchangedPasses, 0U);
  passes(3);
  EXPECT_EQ(channel.unchangedPasses, 3U);
  EXPECT_EQ(replies(), 1U);
}

TEST_F(ClipboardChannelTest, TheSameTextAgainIsNotANewRequestUntilAnotherTextStoodBetween) {
  const std::string mute = request("3DMUTE", "ON");
  passWith(mute);
  EXPECT_TRUE(pluginState.mute3D.load());
  pluginState.mute3D.store(false);
  passWith(mute);  // written again by the game: equal to the last text
  EXPECT_FALSE(pluginState.mute3D.load());
  EXPECT_EQ(channel.unchangedPasses, 1U);
  passWith("something else");
  passWith(mute);
  EXPECT_TRUE(pluginState.mute3D.load());
}

TEST_F(ClipboardChannelTest, AnUnreadableClipboardCountsAsUnchangedAndNeverRedispatches) {
  // A request whose handler consumes its argument text in place: what it leaves behind
  // must not be mistaken for a new clipboard text.
  passWith(request("GetVersion", "leftover"));
  ASSERT_EQ(replies(), 1U);
  memory_clipboard::setText(request("GetVersion", "leftover"));  // the game writes it again
  memory_clipboard::setHeld(true);                               // while another program holds it
  passes(3);
  EXPECT_EQ(channel.unchangedPasses, 3U);
  memory_clipboard::setHeld(false);
  passes(2);
  EXPECT_EQ(replies(), 1U) << "the same request was dispatched a second time";
  EXPECT_EQ(channel.unchangedPasses, 5U);
  // A clipboard that holds no text counts the same way.
  memory_clipboard::clear();
  passes(2);
  EXPECT_EQ(channel.unchangedPasses, 7U);
  EXPECT_EQ(channel.lastText, request("GetVersion", "leftover"));
}

TEST_F(ClipboardChannelTest, AFailedOpenIsRetriedOnTheNextPass) {
  memory_clipboard::setText(request("GetVersion"));
  memory_clipboard::failNextOpens(1);
  passes(1);
  EXPECT_EQ(replies(), 0U);
  passes(1);
  EXPECT_EQ(replies(), 1U);
}

TEST_F(ClipboardChannelTest, WithoutAChangeCounterEveryPassReadsAndCompares) {
  memory_clipboard::setChangeCountSupported(false);
  passWith(request("GetVersion"));
  EXPECT_EQ(replies(), 1U);
  passes(3);
  EXPECT_EQ(replies(), 1U);
  EXPECT_EQ(channel.unchangedPasses, 2U);  // the first of them read the reply
  memory_clipboard::setText(request("GetVersion"));
  passes(1);
  EXPECT_EQ(replies(), 2U);
}

TEST_F(ClipboardChannelTest, AnIdlePassDoesNotReadTheClipboard) {
  passWith("some text");
  const std::uint64_t reads = memory_clipboard::readCount();
  passes(5);
  EXPECT_EQ(memory_clipboard::readCount(), reads);
}

TEST_F(ClipboardChannelTest, TextsThatAreNotRequestsBecomeTheLastTextWithoutCounting) {
  passWith(request("3DMUTE", "ON"));
  passes(4);
  ASSERT_EQ(channel.unchangedPasses, 4U);
  passWith(" " + request("3DMUTE", "ON"));
  EXPECT_EQ(channel.unchangedPasses, 4U);
  passWith(std::string(OPENING_TAG) + "[GetVersion]");
  EXPECT_EQ(channel.unchangedPasses, 4U);
  EXPECT_EQ(replies(), 0U);
}

TEST_F(ClipboardChannelTest, AnEmptyPayloadArmsTheResetButDispatchesNothing) {
  passes(3);
  passWith("[kex_sorlinx][/kex_sorlinx]");
  EXPECT_TRUE(channel.requestSeen);
  EXPECT_EQ(channel.unchangedPasses, 0U);
  EXPECT_EQ(replies(), 0U);
}

TEST_F(ClipboardChannelTest, TheTextEndsAtItsFirstZeroByte) {
  passWith(std::string(request("GetVersion")) + std::string(1, '\0') + "ignored");
  EXPECT_EQ(channel.lastText, request("GetVersion"));
  passWith(std::string("[kex_sorlinx][GetVersion]") + std::string(1, '\0') + "[/kex_sorlinx]");
  EXPECT_EQ(replies(), 1U);
}

TEST_F(ClipboardChannelTest, AReplyThatCannotBeWrittenIsLostQuietly) {
  memory_clipboard::failNextWrites(1);
  passWith(request("GetVersion"));
  EXPECT_EQ(memory_clipboard::text(), request("GetVersion"));
  EXPECT_TRUE(host.logLines().empty());
  passes(2);  // the request still on the clipboard is not taken again
  EXPECT_EQ(memory_clipboard::text(), request("GetVersion"));
  EXPECT_EQ(replies(), 1U);
}

TEST_F(ClipboardChannelTest, AHugeTextIsReadOnceAndItsBufferLetGo) {
  const std::string huge(16 * 1024 * 1024, 'x');
  passWith(huge);
  passWith(request("GetVersion"));
  EXPECT_EQ(replies(), 1U);
  EXPECT_LT(channel.currentText.capacity(), 1024U * 1024U);
  EXPECT_LT(channel.lastText.capacity(), 1024U * 1024U);
}

}  // namespace
}  // namespace sorlinx::testing
