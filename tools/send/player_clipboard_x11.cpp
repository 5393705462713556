// sorlinx-send on Linux: the X11 clipboard, through the plugin's own clipboard code.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

#include "clipboard/clipboard.h"
#include "clipboard/clipboard_x11.h"
#include "player_clipboard.h"

namespace sorlinx::send {

namespace {

void sleepBriefly() {
  constexpr timespec PAUSE{0, 20'000'000};  // a reader waits no longer than this
  nanosleep(&PAUSE, nullptr);
}

}  // namespace

void PlayerClipboard::save() {
  // The owner of the player's text may be slow to answer: give it a second.
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (clipboard::readText(utf8_)) {
      saved_ = true;
      return;
    }
    if (clipboard::lastReadFoundNoText()) {
      return;
    }
    sleepBriefly();
  }
}

bool PlayerClipboard::restore(std::uint64_t expected) {
  std::uint64_t emptiedAt = 0;
  return saved_ && clipboard::changeCount() == expected && clipboard::writeText(utf8_, emptiedAt);
}

std::vector<std::string> commandLine(int argc, char** argv) { return {argv, argv + argc}; }

void leaveOnClipboard() {
  if (!clipboard::holdsClipboard()) {
    return;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  if (fork() != 0) {
    return;  // this process ends; the child serves the text (or, unforked, it goes with it)
  }
  // Detached, and holding none of the caller's pipes open, so that it does not keep a
  // script that reads sorlinx-send's output waiting.
  setsid();
  const int nowhere = open("/dev/null", O_RDWR | O_CLOEXEC);
  for (const int stream : {0, 1, 2}) {
    dup2(nowhere, stream);
  }
  const std::uint64_t ours = clipboard::changeCount();
  while (clipboard::holdsClipboard() && clipboard::changeCount() == ours) {
    sleepBriefly();
  }
  _exit(0);
}

}  // namespace sorlinx::send
