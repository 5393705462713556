// What happened during a session, one event per line: what the game put on the clipboard,
// each call the plugin made into the voice client, each reply, each change of the world,
// and each expectation checked. Printed as aligned text or as JSON Lines.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "positional/position_frame.h"
#include "shared/host.h"
#include "shared/pacer.h"
#include "voice_client.h"

namespace sorlinx::sim {

enum class EventKind {
  clipboard,    // the game (or another program) put text on the clipboard
  reply,        // the plugin wrote a reply on the clipboard
  place,        // channelset3DAttributes
  cue,          // playWaveFile
  move,         // requestClientMove (interface 26), requestChannelMove (interface 4)
  connect,      // startConnection
  disconnect,   // stopConnection
  log,          // logMessage
  query,        // any other voice client entry
  world,        // the world changed (a client joined, the status changed, ...)
  lists,        // the plugin's radio lists changed
  skipped,      // the plugin skipped a record of a frame it took
  expectation,  // an expectation was checked
};

struct Event {
  Milliseconds time{0};
  EventKind kind = EventKind::world;
  // The main text: clipboard text, reply, log line, cue name (rc, rl, bruit), server
  // address, entry name (query), what changed (world), the record (skipped), the step
  // (expectation).
  std::string text;
  ClientId client = 0;
  std::optional<std::string> nickname;  // of `client`, when known
  ChannelId channel = 0;
  Vector3 position{};
  long long number = 0;  // port
  std::optional<std::string> password;
  // The voice client's answer to the call (0: accepted).
  HostError result = 0;
  // query: the arguments and what came back.
  std::string arguments;
  std::string answer;
  // expectation: met or not, where it stands, why it failed (`detail`), and the mistake that
  // likely made it fail, when one of the usual ones does. skipped: why (`detail`).
  bool met = true;
  int line = 0;
  std::string detail;
  std::string hint;
  // lists: the RC and RL lists, in their order.
  std::vector<ClientId> rc;
  std::vector<ClientId> rl;
  // A call the plugin made was recorded with everything above.
  bool fromPlugin = false;
  // Made by the plugin's start sequence, not in answer to anything.
  bool atStart = false;
  // world: the clipboard holds no text from now on (emptied, or something else than text).
  bool noText = false;
  // world (live): the plugin's attempt to read the clipboard at this time (or to write it:
  // writeFails) failed, as when another program holds it open; a replay makes it fail too.
  bool attemptFails = false;
  bool writeFails = false;
};

// Turns a recorded call into an event; `nicknameOf` names clients in the event.
Event eventFromCall(const HostCall& call, Milliseconds time,
                    const std::optional<std::string>& nickname);

const char* kindName(EventKind kind);

void printText(std::ostream& out, const Event& event);
void printJson(std::ostream& out, const Event& event);

// The last line: how many expectations there were and how many failed, and in real time
// how far behind the wall clock the plugin's work ran at worst. As JSON, one object
// {"event":"summary",...}.
void printSummary(std::ostream& out, bool json, int expectations, int failed,
                  std::optional<Milliseconds> behind);

// A text made printable on one line: control characters and bytes outside ASCII as escapes.
std::string printable(const std::string& text, std::size_t limit = 200);

// Why the plugin skips a record, in the words of the protocol guide.
const char* skipReasonText(SkipReason reason);

// The length of the well-formed UTF-8 sequence at the start of `text` (1 for ASCII), or 0
// when the first byte starts none.
std::size_t utf8SequenceLength(std::string_view text);

}  // namespace sorlinx::sim
