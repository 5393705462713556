#include "clipboard/clipboard_channel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clipboard/memory_clipboard.h"
#include "plugin/plugin_state.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;

class ClipboardChannelTest : public PluginTest {
 protected:
  // Dispatches are seen through "GetVersion", whose reply is a clipboard write (every try
  // counts).
  static std::uint64_t replies() { return memory_clipboard::writeCount(); }
};

TEST_F(ClipboardChannelTest, ARequestLeftOnTheClipboardIsDispatchedOnce) {
  passWith(request("GetVersion"));
  EXPECT_EQ(memory_clipboard::text(), "sorlinx beta 0.8");
  EXPECT_EQ(replies(), 1U);
  // The reply is new text without the envelope: it becomes the last text, nothing more.
  passes(1);
  EXPECT_TRUE(channel.lastText.matches("sorlinx beta 0.8"));
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
  EXPECT_TRUE(channel.lastText.matches(request("GetVersion", "leftover")));
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
  EXPECT_TRUE(channel.lastText.matches(request("GetVersion")));
  passWith(std::string("[kex_sorlinx][GetVersion]") + std::string(1, '\0') + "[/kex_sorlinx]");
  EXPECT_EQ(replies(), 1U);
}

TEST_F(ClipboardChannelTest, AReplyRefusedForAMomentIsWrittenWithinThePass) {
  memory_clipboard::failNextWrites(REPLY_ATTEMPTS - 1);
  passWith(request("GetVersion"));
  EXPECT_EQ(memory_clipboard::text(), "sorlinx beta 0.8");
  EXPECT_EQ(pacer.pauses(), std::vector<Milliseconds>(REPLY_ATTEMPTS - 1, REPLY_RETRY_PAUSE));
  EXPECT_TRUE(host.logLines().empty());
  // Stopping ends the tries at once: the reply is owed to a later start instead.
  pluginState.pacer = &pluginState.steadyPacer;
  pluginState.stopRequested.set();
  memory_clipboard::failNextWrites(1);
  passWith(request("GetVersion", "again"));
  EXPECT_EQ(replies(), REPLY_ATTEMPTS + 1U);
  EXPECT_TRUE(channel.replyOwed);
}

TEST_F(ClipboardChannelTest, ALostReplyIsOwedUntilThePassThatFindsTheRequestAgain) {
  // Every try of two passes fails, as when the game keeps the clipboard open.
  memory_clipboard::failNextWrites(2 * REPLY_ATTEMPTS);
  passWith(request("GetVersion"));
  passes(1);  // the counter did not move, yet the request is read and taken again
  EXPECT_EQ(memory_clipboard::text(), request("GetVersion"));
  passes(1);
  EXPECT_EQ(memory_clipboard::text(), "sorlinx beta 0.8");
  EXPECT_THAT(host.logLines(), ElementsAre("erreur writeClipboardText"));
  // Answered: once the reply was read, the same request again is new, and taken once.
  passes(1);
  passWith(request("GetVersion"));
  passes(3);
  EXPECT_EQ(replies(), 2 * REPLY_ATTEMPTS + 2U);
  // An owed reply whose request gives way to another text is dropped with it.
  memory_clipboard::failNextWrites(REPLY_ATTEMPTS);
  passWith(request("GetVersion"));
  passWith("the player copied this");
  passes(2);
  EXPECT_EQ(memory_clipboard::text(), "the player copied this");
  EXPECT_EQ(host.logLines().size(), 2U);
}

TEST_F(ClipboardChannelTest, AHugeTextIsRememberedByItsDigestAndItsBuffersLetGo) {
  std::string huge = request("GetVersion", std::string(std::size_t{4} << 20, 'x'));
  passWith(huge);
  EXPECT_EQ(replies(), 1U);
  passWith("y" + huge.substr(1));  // not a request: it stays on the clipboard
  EXPECT_LT(channel.lastText.retainedBytes(), 1024U * 1024U);
  EXPECT_LT(channel.currentText.capacity() + channel.argumentText.capacity(), 1024U * 1024U);
  passWith(huge);
  passWith(huge);  // written again identically: not new
  huge[huge.size() - CLOSING_TAG.size() - 1] = 'z';
  passWith(huge);  // one byte differs: new
  EXPECT_EQ(replies(), 3U);
  EXPECT_EQ(channel.unchangedPasses, 0U);
  passWith(huge.substr(0, 100));  // and a short text after a long one
  passWith(huge.substr(0, 100));
  EXPECT_EQ(channel.unchangedPasses, 1U);
}

TEST_F(ClipboardChannelTest, ATextTooLargeToCopyIsLoggedOnceAndCountsAsSeen) {
  for (const bool counted : {true, false}) {  // with and without a change counter
    memory_clipboard::setChangeCountSupported(counted);
    memory_clipboard::setReadsOutOfMemory(true);
    const std::uint64_t readsBefore = memory_clipboard::readCount();
    passWith("too large");
    passes(9);
    // With a counter, the text is not even tried again.
    EXPECT_EQ(memory_clipboard::readCount() - readsBefore, counted ? 1U : 10U);
    EXPECT_THAT(host.logLines(), ElementsAre("erreur clipboardThread: texte trop grand"));
    EXPECT_EQ(channel.unchangedPasses, 10U);
    memory_clipboard::setReadsOutOfMemory(false);
    passWith(request("GetVersion", counted ? "1" : "2"));
    EXPECT_EQ(replies(), counted ? 1U : 2U);
    host.clearCalls();
  }
}

TEST_F(ClipboardChannelTest, AReplyNeverReplacesATextWrittenAfterItsRequest) {
  // The player copies something while the voice client is asked for the answer...
  host.setHook("getClientID", [] { memory_clipboard::setText("copied meanwhile"); });
  passWith(request("GetPlayerID"));
  EXPECT_EQ(memory_clipboard::text(), "copied meanwhile");
  host.setHook("getClientID", nullptr);
  // ...or the game writes its next request while the reply waits for a second try.
  memory_clipboard::failNextWrites(1);
  pacer.setOnPause([](Milliseconds) { memory_clipboard::setText(request("3DMUTE", "ON")); });
  passWith(request("GetPlayerID", "again"));
  pacer.setOnPause(nullptr);
  EXPECT_EQ(replies(), 1U);
  passes(1);
  EXPECT_TRUE(pluginState.mute3D.load());
  EXPECT_EQ(host.logLines().size(), 2U);
}

TEST(ReplyDigest, KnownAnswers) {
  const auto hex = [](std::string_view text) {
    std::string out;
    for (const std::uint8_t byte : sha256(text)) {
      out += "0123456789abcdef"[byte >> 4];
      out += "0123456789abcdef"[byte & 15];
    }
    return out;
  };
  EXPECT_EQ(hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // Two blocks of padding: 56 bytes leave no room for the length in the first.
  EXPECT_EQ(hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
}  // namespace sorlinx::testing
