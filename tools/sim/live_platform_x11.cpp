// Live mode on Linux: the terminal's input and its interrupt, and whether a failed read of
// the X11 clipboard found no text at all. The clipboard itself is the plugin's
// (live_clipboard.cpp).
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "live_platform.h"

namespace sorlinx::system_clipboard {
bool lastReadFoundNoText() noexcept;  // clipboard_x11.h, as the build renamed it
}  // namespace sorlinx::system_clipboard

namespace sorlinx::sim::live_platform {

namespace {

std::atomic<bool> interruptedFlag{false};

extern "C" void onSignal(int /*signal*/) { interruptedFlag.store(true); }

}  // namespace

bool available() { return true; }

bool readFoundNoText() { return system_clipboard::lastReadFoundNoText(); }

bool readInputLine(std::string& line) {
  static std::string pending;
  for (;;) {
    const std::size_t end = pending.find('\n');
    if (end != std::string::npos) {
      line = pending.substr(0, end);
      pending.erase(0, end + 1);
      return true;
    }
    char buffer[256];
    const ssize_t count = read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      if (pending.empty()) {
        return false;
      }
      line.swap(pending);  // a last line without a line end
      pending.clear();
      return true;
    }
    pending.append(buffer, static_cast<std::size_t>(count));
  }
}

void onInterrupt(void (*handler)()) {
  // A signal handler may do next to nothing: it raises a flag, and a thread of its own
  // (left running at exit) hands it on.
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::thread([handler] {
    while (!interruptedFlag.exchange(false)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    handler();
  }).detach();
}

}  // namespace sorlinx::sim::live_platform
