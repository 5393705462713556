// The game's and the player's side of a real X server's clipboard, for the Linux tests:
// xclip writes and reads CLIPBOARD, XFixes tells when a write has landed, and Xvfb gives a
// server of the test's own where one must come and go.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/eventually.h"

namespace sorlinx::testing {

// Runs a shell command and returns its standard output, or nothing when it fails.
std::optional<std::string> run(const std::string& command);

// The CLIPBOARD selection of $DISPLAY, as a game or a player uses it through xclip.
class XClipboard {
 public:
  XClipboard();  // connects to $DISPLAY; throws when it cannot
  XClipboard(const XClipboard&) = delete;
  XClipboard& operator=(const XClipboard&) = delete;
  ~XClipboard();

  // Puts the text there with xclip, and returns once the server has given xclip the
  // selection.
  void put(std::string_view text);
  // The text, as `xclip -o` reads it in `target`; nothing when the owner gives none.
  static std::optional<std::string> text(std::string_view target = "UTF8_STRING");
  // The selection's owner now (0: none).
  std::uint32_t owner();

 private:
  struct Connection;
  Connection* connection_;
};

// An Xvfb server of the test's own, on a free display (or the one given).
class Xvfb {
 public:
  explicit Xvfb(int display = -1);  // throws when it cannot start
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;
  ~Xvfb();
  [[nodiscard]] int display() const { return display_; }
  [[nodiscard]] std::string name() const { return ":" + std::to_string(display_); }

 private:
  pid_t pid_ = -1;
  int display_ = -1;
};

}  // namespace sorlinx::testing
