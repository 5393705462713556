#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "clipboard/command_names.h"
#include "clipboard/memory_clipboard.h"
#include "plugin/dispatcher.h"
#include "plugin/workers.h"
#include "shared/plugin_state.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ClipboardChannelTest : public PluginTest {
 protected:
  // Dispatches are seen through "GetVersion", whose reply is a clipboard write (every try
  // counts).
  static std::uint64_t replies() { return memory_clipboard::writeCount(); }
};

// Some platforms have no change counter: there every pass reads and compares.
TEST_P(ClipboardChannelTest, ARequestIsTakenOnceUntilAnotherTextStoodBetweenReadableOrNot) {
  for (const bool counted : {true, false}) {
    SCOPED_TRACE(counted ? "with a change counter" : "without a change counter");
    channel = ClipboardChannel{};
    memory_clipboard::reset();
    host.clearCalls();
    pluginState.mute3D.store(false);
    memory_clipboard::setChangeCountSupported(counted);
    passWith(request("GetVersion"));
    EXPECT_EQ(memory_clipboard::text(), "sorlinx beta 0.8");
    // The reply is new text without the envelope: it becomes the last text, nothing more.
    passes(1);
    EXPECT_TRUE(channel.lastText.matches("sorlinx beta 0.8"));
    EXPECT_EQ(channel.unchangedPasses, 0U);
    std::uint64_t reads = memory_clipboard::readCount();
    passes(3);
    EXPECT_EQ(channel.unchangedPasses, 3U);
    EXPECT_EQ(memory_clipboard::readCount() - reads, counted ? 0U : 3U);
    EXPECT_EQ(replies(), 1U);

    const std::string mute = request("3DMUTE", "ON");
    passWith(mute);
    EXPECT_TRUE(pluginState.mute3D.load());
    pluginState.mute3D.store(false);
    // Written again by the game, and the text ends at its first zero byte: equal to the last.
    passWith(mute + std::string(1, '\0') + "ignored");
    EXPECT_FALSE(pluginState.mute3D.load());
    EXPECT_EQ(channel.unchangedPasses, 1U);
    passWith("something else");
    passWith(mute);
    EXPECT_TRUE(pluginState.mute3D.load());

    // A text too large to copy is logged once, and counts as seen until another one.
    memory_clipboard::setReadsOutOfMemory(true);
    passWith("too large");
    reads = memory_clipboard::readCount();
    passes(9);
    EXPECT_EQ(memory_clipboard::readCount() - reads, counted ? 0U : 9U);
    EXPECT_THAT(host.logLines(), ElementsAre("erreur clipboardThread: texte trop grand"));
    EXPECT_EQ(channel.unchangedPasses, 10U);
    memory_clipboard::setReadsOutOfMemory(false);

    // A request whose handler consumes its argument text in place: what it leaves behind
    // must not be mistaken for a new text. Its first read fails: the next pass reads.
    memory_clipboard::setText(request("GetVersion", "leftover"));
    memory_clipboard::failNextOpens(1);
    passes(1);
    EXPECT_EQ(replies(), 1U);
    passes(1);
    ASSERT_EQ(replies(), 2U);
    memory_clipboard::setText(request("GetVersion", "leftover"));  // the game writes it again
    memory_clipboard::setHeld(true);                               // while another program holds it
    passes(3);
    EXPECT_EQ(channel.unchangedPasses, 3U);
    memory_clipboard::setHeld(false);
    passes(2);
    EXPECT_EQ(replies(), 2U) << "the same request was dispatched a second time";
    EXPECT_EQ(channel.unchangedPasses, 5U);
    // A clipboard that holds no text counts the same way.
    memory_clipboard::clear();
    passes(2);
    EXPECT_EQ(channel.unchangedPasses, 7U);
    EXPECT_TRUE(channel.lastText.matches(request("GetVersion", "leftover")));
  }
}

TEST_P(ClipboardChannelTest, AReplyIsTriedAgainOwedOrDroppedButNeverReplacesALaterText) {
  // Refused for a moment: written within the pass.
  memory_clipboard::failNextWrites(REPLY_ATTEMPTS - 1);
  passWith(request("GetVersion"));
  EXPECT_EQ(memory_clipboard::text(), "sorlinx beta 0.8");
  EXPECT_EQ(pacer.pauses(), std::vector<Milliseconds>(REPLY_ATTEMPTS - 1, REPLY_RETRY_PAUSE));
  EXPECT_TRUE(host.logLines().empty());
  passes(1);
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
  EXPECT_EQ(replies(), 3 * REPLY_ATTEMPTS + 2U);
  // An owed reply whose request gives way to another text is dropped with it.
  memory_clipboard::failNextWrites(REPLY_ATTEMPTS);
  passWith(request("GetVersion"));
  passWith("the player copied this");
  passes(2);
  EXPECT_EQ(memory_clipboard::text(), "the player copied this");
  EXPECT_EQ(host.logLines().size(), 2U);
  // Nor does a reply replace a text written after its request: the player copies something
  // while the voice client is asked for the answer...
  const std::uint64_t tried = replies();
  host.setHook("getClientID", [] { memory_clipboard::setText("copied meanwhile"); });
  passWith(request("GetPlayerID"));
  EXPECT_EQ(memory_clipboard::text(), "copied meanwhile");
  host.setHook("getClientID", nullptr);
  // ...or the game writes its next request while the reply waits for a second try.
  memory_clipboard::failNextWrites(1);
  pacer.setOnPause([](Milliseconds) { memory_clipboard::setText(request("3DMUTE", "ON")); });
  passWith(request("GetPlayerID", "again"));
  pacer.setOnPause(nullptr);
  EXPECT_EQ(replies() - tried, 1U);
  passes(1);
  EXPECT_TRUE(pluginState.mute3D.load());
  EXPECT_EQ(host.logLines().size(), 4U);
  // A clipboard emptied by the plugin's own refused try is still the plugin's to fill.
  memory_clipboard::refuseNextWritesAfterEmptying(1);
  passWith(request("GetVersion"));
  EXPECT_EQ(memory_clipboard::text(), "sorlinx beta 0.8");
  // Stopping ends the tries at once: the reply is owed to a later start instead.
  pluginState.pacer = &pluginState.steadyPacer;
  pluginState.stopRequested.set();
  memory_clipboard::failNextWrites(1);
  const std::uint64_t before = replies();
  passWith(request("GetVersion", "again"));
  EXPECT_EQ(replies() - before, 1U);
  EXPECT_TRUE(channel.replyOwed);
}

TEST_P(ClipboardChannelTest, AHugeTextIsRememberedByItsDigestAndItsBuffersLetGo) {
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

TEST(EnvelopeTest, ThePayloadStandsInTheEnvelopeAndSplitsAsTheGameWritesIt) {
  EXPECT_EQ(envelopePayload("[kex_sorlinx][GetVersion][/kex_sorlinx]"), "[GetVersion]");
  EXPECT_EQ(envelopePayload("[kex_sorlinx][3D]a[/kex_sorlinx]b[/kex_sorlinx]"), "[3D]a");
  EXPECT_EQ(envelopePayload("[kex_sorlinx][/kex_sorlinx] and more"), "");
  // Texts that are not requests. The closing tag must follow the opening one, not overlap it.
  for (const char* text :
       {" [kex_sorlinx][GetVersion][/kex_sorlinx]", "x[kex_sorlinx][GetVersion][/kex_sorlinx]",
        "[kex_sorlinx][GetVersion]", "[KEX_SORLINX][GetVersion][/KEX_SORLINX]", "[kex_sorlinx", "",
        "[kex_sorlinx]/kex_sorlinx]"}) {
    EXPECT_EQ(envelopePayload(text), std::nullopt) << text;
  }
  // Payload, command, arguments.
  for (const auto& [payload, command, arguments] :
       std::initializer_list<std::array<std::string_view, 3>>{
           // "]" at k >= 1: command [1, k), arguments after it.
           {"[GetVersion]", "GetVersion", ""},
           {"[3D]{5[1,2,3]}", "3D", "{5[1,2,3]}"},
           {"[]args", "", "args"},
           // The first character is skipped unseen, whatever it is.
           {"xGetVersion]tail", "GetVersion", "tail"},
           // "]" at 0: command and arguments are both the rest.
           {"]GetVersion", "GetVersion", "GetVersion"},
           {"]", "", ""},
           // No "]": the command is the rest, the arguments the whole payload.
           {"[GetVersion", "GetVersion", "[GetVersion"},
           {"x", "", "x"},
           // Only the first "]" closes the command.
           {"[SwitchPlayer]1,2,]pw]", "SwitchPlayer", "1,2,]pw]"}}) {
    const Request split = splitPayload(payload);
    EXPECT_EQ(split.command, command) << payload;
    EXPECT_EQ(split.arguments, arguments) << payload;
  }
}

// The fuzz dictionary cannot include the list of commands: it holds each of them, as a game
// writes it, and no command the plugin does not know.
TEST(EnvelopeTest, TheFuzzDictionaryHoldsEveryCommandAndNoOther) {
  std::ifstream dictionary(SORLINX_REQUEST_DICTIONARY);
  ASSERT_TRUE(dictionary) << SORLINX_REQUEST_DICTIONARY;
  std::set<std::string> commands;
  for (std::string line; std::getline(dictionary, line);) {
    // A word in brackets that is neither a tag of the envelope nor a radio flag.
    if (line.size() > 4 && line.starts_with("\"[") && line.ends_with("]\"") && line[2] != '/' &&
        line != "\"[kex_sorlinx]\"" && line != "\"[RC]\"" && line != "\"[RL]\"" &&
        line != "\"[CD]\"") {
      commands.insert(line.substr(2, line.size() - 4));
    }
  }
  std::set<std::string> known;
  for (const CommandName& command : COMMAND_NAMES) {
    known.emplace(command.name);
  }
  EXPECT_EQ(commands, known);
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

// The worker's turns on the virtual clock, with the in-memory clipboard's notices: each
// change brings an extra pass at once, while the regular looks keep their grid.
class NoticeTest : public ClipboardChannelTest {
 protected:
  NoticeTest() {
    host.setClock([this] { return pacer.now().count(); });
    memory_clipboard::setWriteObserver([this](std::string_view text) {
      written.push_back({pacer.now(), std::string(text)});
    });
  }
  // The times of the voice client's calls to `entry`.
  std::vector<std::int64_t> timesOf(std::string_view entry) const {
    std::vector<std::int64_t> times;
    for (const auto& call : host.callsTo(entry)) {
      times.push_back(call.time);
    }
    return times;
  }
  std::vector<std::pair<Milliseconds, std::string>> written;
};

using Pass = LoggedPass;
constexpr PassKind REGULAR = PassKind::regular;
constexpr PassKind NOTICE = PassKind::notice;

TEST_P(NoticeTest, AChangeIsTakenAtOnceAndTheRegularLooksKeepTheirGrid) {
  // A query, and the game's next frame 10 ms later: both are taken, the query's reply
  // before the frame replaces it. The reply brings one pass of its own, which reads it.
  memory_clipboard::setText("neutral");
  pacer.at(Milliseconds(130), [] { memory_clipboard::setText(request("GetPlayerID")); });
  pacer.at(Milliseconds(140), [] { memory_clipboard::setText(request("3D", "{8[1,2,3]}")); });
  runWorker(Milliseconds(420));
  EXPECT_EQ(passLog, (std::vector<Pass>{{Milliseconds(0), REGULAR},
                                        {Milliseconds(100), REGULAR},
                                        {Milliseconds(130), NOTICE},
                                        {Milliseconds(130), NOTICE},
                                        {Milliseconds(140), NOTICE},
                                        {Milliseconds(200), REGULAR},
                                        {Milliseconds(300), REGULAR},
                                        {Milliseconds(400), REGULAR}}));
  EXPECT_EQ(written, (decltype(written){{Milliseconds(130), "5"}}));
  EXPECT_EQ(timesOf("channelset3DAttributes"), std::vector<std::int64_t>{140});
  EXPECT_EQ(memory_clipboard::readCount(), 4U) << "a text was read twice, or one never";
  EXPECT_EQ(channel.unchangedPasses, 3U);

  // Without notices (a platform that sends none) the worker looks every period, as ever:
  // only the frame, which stood at the next look, is taken.
  passLog.clear();
  pacer.at(Milliseconds(530), [] { memory_clipboard::setText(request("GetPlayerID", "#2")); });
  pacer.at(Milliseconds(540), [] { memory_clipboard::setText(request("3D", "{8[4,5,6]}")); });
  runWorker(Milliseconds(620), false);
  EXPECT_EQ(passLog,
            (std::vector<Pass>{{Milliseconds(500), REGULAR}, {Milliseconds(600), REGULAR}}));
  EXPECT_EQ(written.size(), 1U);
  EXPECT_EQ(timesOf("channelset3DAttributes"), (std::vector<std::int64_t>{140, 600}));
}

TEST_P(NoticeTest, TheResetComesTwentyRegularLooksAfterTheLastRequestWhateverTheNotices) {
  // The player copies a text every 100 ms, each one twice in a row: the first copy of each
  // is a new text, the second the same one again. Only the regular looks count.
  pacer.at(Milliseconds(30), [] { memory_clipboard::setText(request("3D", "{8[1,2,3]}")); });
  for (int i = 0; i < 40; ++i) {
    pacer.at(Milliseconds(150 + 100 * i),
             [i] { memory_clipboard::setText("copied " + std::to_string(i / 2)); });
  }
  runWorker(Milliseconds(4500));
  // Placed at 30, then back at the origin, with client 5, at the twentieth regular look.
  EXPECT_EQ(timesOf("channelset3DAttributes"), (std::vector<std::int64_t>{30, 2000, 2000}));
  EXPECT_EQ(std::count(passLog.begin(), passLog.end(), Pass{Milliseconds(2000), REGULAR}), 1);
  EXPECT_EQ(memory_clipboard::readCount(), 42U);
}

SORLINX_FOR_EACH_INTERFACE(ClipboardChannelTest);
SORLINX_FOR_EACH_INTERFACE(NoticeTest);

class DispatcherTest : public PluginTest {
 protected:
  // The reset's calls: the local player's channel, each of its clients at the origin.
  [[nodiscard]] std::vector<std::string> placedAtOrigin() const {
    return {"getClientID(1)",       "getChannelOfClient(1,5)", "getChannelClientList(1,40)",
            placement("1,5,0,0,0"), placement("1,8,0,0,0"),    "freeMemory(pointer)"};
  }
};

TEST_P(DispatcherTest, CommandsMatchWholeAndCaseSensitiveAndMuteTakesOnlyAnExactOn) {
  for (const char* name : {"getversion", "GETVERSION", "GetVersion ", " GetVersion", "GetVersio",
                           "GetChannelIDFromName", ""}) {
    std::string arguments;
    dispatchRequest(name, arguments);
  }
  const auto mute = [](std::string arguments) {
    dispatchRequest("3DMUTE", arguments);
    return pluginState.mute3D.load();
  };
  for (const char* arguments : {"on", "ON ", "ONx", ""}) {
    EXPECT_TRUE(mute("ON"));
    EXPECT_FALSE(mute(arguments)) << arguments;
  }
  EXPECT_EQ(memory_clipboard::writeCount(), 0U);
  EXPECT_THAT(host.calls(), IsEmpty());
}

// Clipboard texts, each followed by unchanged passes (the lists refilled before each); the
// reset must come on the very last, and put the local player's channel at the origin, once.
// With the connection lost it stops the radio when it is due all the same (frames are
// ignored meanwhile, so nothing else would), and puts the voices back once connected.
TEST_P(DispatcherTest, WhatArmsAndRestartsTheResetConnectedOrNot) {
  struct Step {
    std::string text;
    int passes;
    bool connected = true;
  };
  const std::vector<std::vector<Step>> cases{
      // A reply changes the clipboard once more: the pass that reads it does not count.
      {{request("GetVersion"), 21}},
      {{request("NoSuchCommand"), 20}},
      {{"[kex_sorlinx][/kex_sorlinx]", 20}},
      {{request("GetChannelIDFromName", "x"), 20}},
      // A new request starts the count again.
      {{request("3DMUTE", "a"), 15}, {request("3DMUTE", "b"), 20}},
      // A text without the envelope neither arms the reset nor restarts its count.
      {{"not a request", 30}, {request("3DMUTE", "c"), 10}, {"not a request", 10}},
      {{request("3DMUTE", "d"), 20, false}},
      // The first reset came unconnected already; the second is not a second placement.
      {{request("3DMUTE", "e"), 25, false}, {request("3DMUTE", "f"), 20, false}},
  };
  for (const auto& steps : cases) {
    SCOPED_TRACE(steps.front().text);
    host.clearCalls();
    for (std::size_t i = 0; i < steps.size(); ++i) {
      setLists({3, 4}, {6});
      setConnected(steps[i].connected);
      passWith(steps[i].text);
      passes(steps[i].passes - (i + 1 == steps.size() ? 1 : 0));
    }
    EXPECT_NE(lists(), Lists()) << "emptied before the reset was due";
    EXPECT_THAT(host.placements(), IsEmpty());
    passes(1);
    EXPECT_EQ(lists(), Lists()) << "the radio goes on";
    if (!steps.back().connected) {
      passes(30);
      EXPECT_THAT(host.calls(), IsEmpty());
      setConnected(true);
      passes(1);
    }
    EXPECT_EQ(host.transcript(), placedAtOrigin());
    passes(40);
    EXPECT_EQ(host.transcript(), placedAtOrigin()) << "reset twice";
  }
}

// Each request, and the reset, asks all its questions of the connection that was current
// when it began, even when a status change makes another one current halfway.
TEST_P(DispatcherTest, EachRequestAndTheResetKeepToTheConnectionTheyBeganOn) {
  host.addClient(12, 40, "third");
  const auto switchConnection = [] { pluginState.currentServerConnection.store(2); };
  host.setHook("getClientID", switchConnection);
  host.setHook("channelset3DAttributes", switchConnection);
  for (const std::string& text :
       {request("GetCurrentChannelID"), request("GetPlayerIDFromName", "third"),
        request("3D", "{5[1,2,3]}{8[1,2,3]}{12[1,2,3]}"), std::string()}) {
    SCOPED_TRACE(text);
    host.clearCalls();
    pluginState.currentServerConnection.store(1);
    if (text.empty()) {
      passes(20);  // the reset, twenty passes after the last request
    } else {
      passWith(text);
    }
    const auto calls = host.calls();
    ASSERT_GE(calls.size(), 2U);
    for (const sim::HostCall& call : calls) {
      if (call.entry != "freeMemory") {
        EXPECT_EQ(call.args.at(0), "1") << call.entry;
      }
    }
  }
}

// The reset's calls stop at the one that failed, which is logged; a refused placement skips
// only that client (5): 8 is placed all the same.
TEST_P(DispatcherTest, EachFailureOfTheResetIsLogged) {
  for (const auto& [entry, line, callsMade] :
       std::initializer_list<std::tuple<std::string_view, const char*, std::ptrdiff_t>>{
           {"getClientID", "erreur getClientID", 1},
           {"getChannelOfClient", "erreur getChannelOfClient", 2},
           {"getChannelClientList", "erreur getChannelClientList", 3},
           {"channelset3DAttributes", "erreur Channelset3DAttributes", 6}}) {
    SCOPED_TRACE(entry);
    host.clearCalls();
    host.clearFailures();
    callsMade < 6 ? host.fail(entry, 1) : host.failForClient(entry, 5, 0x200);
    setLists({3, 4}, {6});
    passWith(request("3DMUTE", entry));
    passes(20);
    EXPECT_EQ(lists(), Lists());
    EXPECT_THAT(host.logLines(), ElementsAre(line));
    expectHostRulesKept();
    const std::vector<std::string> calls = placedAtOrigin();
    EXPECT_EQ(host.transcript(), decltype(calls)(calls.begin(), calls.begin() + callsMade));
    EXPECT_EQ(host.placements().size(), callsMade < 6 ? 0U : 1U);
    passes(40);  // not retried until another request arms it
    EXPECT_EQ(host.logLines().size(), 1U);
  }
}

SORLINX_FOR_EACH_INTERFACE(DispatcherTest);

}  // namespace
}  // namespace sorlinx::testing
