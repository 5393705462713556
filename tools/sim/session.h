// A session: what the game and the world do over time, and what the plugin is expected
// to do in answer. A plain text file, one step per line:
//
//   # comment                      (from "#" to the end of the line, outside quotes)
//   TIME ACTION ARGUMENTS...
//
// TIME is milliseconds from the start ("0", "2500", "2500ms", "2.5s"), or "+N" for N after
// the previous step's time. See docs/simulator.md, docs/protocol.md and examples/ for the
// actions.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "shared/host.h"
#include "shared/pacer.h"

namespace sorlinx::sim {

struct SourcePosition {
  int line = 0;
  int column = 0;
};

// A line that cannot be read. what() names the line and column.
class SessionError : public std::runtime_error {
 public:
  SessionError(SourcePosition at, const std::string& message);
  SourcePosition at;
};

enum class StepKind {
  // The game
  clip,   // put text on the clipboard as it stands
  send,   // put a request (command + argument text) in its envelope on the clipboard
  empty,  // empty the clipboard
  hold,   // another program holds the clipboard open; flag: for the plugin's next `number`
          // attempts to open it only (text "writes": its attempts to write only)
  release,
  notices,  // flag: the clipboard's changes wake the plugin, `number` ms after each; clear: never
  // The world
  client,  // a client joins: client, nickname (text), channel; flag: it is the local client
  leave,
  rename,
  move,
  local,
  connect,
  disconnect,
  status,
  fail,      // text: the entry; client (optional, flag set); number: the code
  heal,      // text: the entry or "all"; client (optional, flag set)
  identity,  // text: the identity, or nothing (flag clear) for none
  // Expectations
  expectReply,
  expectNoReply,
  expectPlace,
  expectCue,  // text: "rc", "rl" or "bruit"
  expectNoCue,
  expectMove,     // client, channel; password optional
  expectConnect,  // text: address; number: port; nickname, password optional
  expectDisconnect,
  expectLog,
  expectNothing,
};

bool isExpectation(StepKind kind);

struct Step {
  Milliseconds time{0};
  StepKind kind = StepKind::clip;
  SourcePosition at;
  // The step as written, from its action to its end (no time, no comment), for messages.
  std::string source;
  std::string text;
  std::string command;  // send
  ClientId client = 0;
  ChannelId channel = 0;
  long long number = 0;
  bool flag = false;
  Vector3 position{};
  std::optional<std::string> nickname;
  std::optional<std::string> password;
  // send and clip after "repeat EVERY for DURATION": the text goes on the clipboard every
  // `every` from the step's time, as long as less than `lasting` has gone by. Zero: once.
  Milliseconds every{0};
  Milliseconds lasting{0};
};

// The most times one repeat step puts its text on the clipboard.
inline constexpr long long MAX_REPEATS = 100000;

std::vector<Step> parseSession(std::string_view text);

// A time as a session writes it, without the "+": "2500", "2500ms" or "2.5s". Nothing when
// the text is not one (a unit other than ms and s, say). The command line reads its times
// with it too.
std::optional<Milliseconds> parseTime(std::string_view text);

// The steps as they play: each repeated send or clip becomes one step per repetition, in
// time order (steps of one time in the order of the file). Every repetition carries a
// counter after its text, "#1", "#2" and so on through the session, so that each is a new
// text to the plugin, which takes a text equal to the last one for no new request (and
// ignores what follows a request's closing tag).
std::vector<Step> expandRepeats(const std::vector<Step>& steps);

}  // namespace sorlinx::sim
