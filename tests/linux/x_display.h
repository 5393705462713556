// The game's and the player's side of a real X server's clipboard, for the Linux tests:
// xclip writes and reads CLIPBOARD, XFixes tells when a write has landed, and Xvfb gives a
// server of the test's own where one must come and go.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/eventually.h"

namespace sorlinx::testing {

// Runs a shell command and returns its standard output, or nothing when it fails.
std::optional<std::string> run(const std::string& command);

// The CLIPBOARD selection of $DISPLAY, as a game or a player uses it through xclip.
class XClipboard {
 public:
  XClipboard();  // connects to $DISPLAY; throws when it cannot
  ~XClipboard();

  // Puts the text there with xclip, and returns once the server has given xclip the
  // selection.
  void put(std::string_view text);
  // The text, as `xclip -o` reads it in `target`; nothing when the owner gives none.
  static std::optional<std::string> text(std::string_view target = "UTF8_STRING");
  // The text as a game reads it itself, without a process of its own: asks the owner for
  // UTF8_STRING into a property of this connection's window and waits up to `timeout` for
  // the answer. Nothing when there is no owner, it refuses, or it does not answer in time.
  std::optional<std::string> read(std::chrono::milliseconds timeout = std::chrono::seconds(2));
  // The selection's owner now (0: none).
  std::uint32_t owner();

 private:
  struct Connection;
  std::unique_ptr<Connection> connection_;
};

// A program that owns CLIPBOARD on an X connection of its own, and answers the plugin as
// slowly or as unwillingly as a test needs. It serves from a thread of its own until it is
// destroyed.
class TestOwner {
 public:
  enum class Answer {
    utf8,        // UTF8_STRING and STRING, the text as it is
    latin1Only,  // STRING only, the text as it is (give it in Latin-1)
    pieces,      // INCR: the text would follow in pieces, each asked for by deleting it
    held,        // as utf8, but its answers stay in its connection's buffer until some
                 // other event reaches it, as wine's do at times
  };
  struct Behaviour {
    std::string text;
    Answer answer = Answer::utf8;
    std::chrono::milliseconds delay{0};  // before each answer
    int refusals = 0;                    // the first questions it refuses
    int repeat = 1;                      // the text written this many times in one property
  };
  explicit TestOwner(Behaviour behaviour);  // connects to $DISPLAY; throws when it cannot
  ~TestOwner();

  // Takes CLIPBOARD, and returns once the server lists it as the owner.
  void take();
  // The targets it was asked for, in order.
  std::vector<std::string> questions();
  // How many pieces of an INCR transfer were asked for.
  int piecesAsked();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Sends `window` a SelectionClear for CLIPBOARD by SendEvent, as any client can.
void sendSelectionClear(std::uint32_t window);

// A display of its own that passes every connection on to an Xvfb server, and fails on
// cue as a server that dies does: first a connection's writes (EPIPE, as a write to a
// server that died in the middle of it), then the whole display.
class XProxy {
 public:
  explicit XProxy(int serverDisplay);  // throws when it finds no free display
  ~XProxy();
  [[nodiscard]] std::string name() const { return ":" + std::to_string(display_); }
  // The connections taken so far, the first 0.
  int connections();
  // From now on, writes to the server on that connection fail; reads still come.
  void refuseWrites(int connection);
  // Ends every connection and takes no new one for `gone`: the display goes, and comes back.
  void vanish(std::chrono::milliseconds gone);

 private:
  struct State;
  std::unique_ptr<State> state_;
  int display_ = -1;
};

// An Xvfb server of the test's own, on a free display.
class Xvfb {
 public:
  Xvfb();  // throws when it cannot start
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  ~Xvfb();
  [[nodiscard]] std::string name() const { return ":" + std::to_string(display_); }

 private:
  pid_t pid_ = -1;
  int display_ = -1;
};

}  // namespace sorlinx::testing
