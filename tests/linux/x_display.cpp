#include "x_display.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;  // NOLINT

namespace sorlinx::testing {

std::optional<std::string> run(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return std::nullopt;
  }
  std::string output;
  std::array<char, 4096> chunk{};
  for (std::size_t got = 0; (got = fread(chunk.data(), 1, chunk.size(), pipe)) > 0;) {
    output.append(chunk.data(), got);
  }
  if (pclose(pipe) != 0) {
    return std::nullopt;
  }
  return output;
}

struct XClipboard::Connection {
  xcb_connection_t* c = nullptr;
  xcb_atom_t clipboard = XCB_NONE;
  std::uint8_t firstEvent = 0;
};

XClipboard::XClipboard() : connection_(new Connection) {
  auto& x = *connection_;
  x.c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(x.c) != 0) {
    throw std::runtime_error("no X display");
  }
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&free)> atom(
      xcb_intern_atom_reply(x.c, xcb_intern_atom(x.c, 0, 9, "CLIPBOARD"), nullptr), &free);
  x.clipboard = atom->atom;
  free(xcb_xfixes_query_version_reply(x.c, xcb_xfixes_query_version(x.c, 5, 0), nullptr));
  x.firstEvent = xcb_get_extension_data(x.c, &xcb_xfixes_id)->first_event;
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x.c)).data->root;
  xcb_xfixes_select_selection_input(x.c, root, x.clipboard,
                                    XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
  xcb_flush(x.c);
}

XClipboard::~XClipboard() {
  xcb_disconnect(connection_->c);
  delete connection_;
}

std::uint32_t XClipboard::owner() {
  auto& x = *connection_;
  std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&free)> reply(
      xcb_get_selection_owner_reply(x.c, xcb_get_selection_owner(x.c, x.clipboard), nullptr),
      &free);
  return reply ? reply->owner : 0;
}

void XClipboard::put(std::string_view text) {
  auto& x = *connection_;
  while (xcb_generic_event_t* event = xcb_poll_for_event(x.c)) {
    free(event);  // changes before this write
  }
  const std::uint32_t before = owner();
  // xclip forks and takes the selection in the background: wait for the server's notice
  // that a new owner has it. Whatever answers it later (the plugin) comes after that notice.
  // Its background half must not hold the output pipe open.
  FILE* xclip = popen("xclip -selection clipboard -i >/dev/null 2>&1", "w");
  const bool written =
      xclip != nullptr && fwrite(text.data(), 1, text.size(), xclip) == text.size();
  if (xclip == nullptr || pclose(xclip) != 0 || !written) {
    throw std::runtime_error("xclip -i failed");
  }
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (Clock::now() < deadline) {
    std::unique_ptr<xcb_generic_event_t, decltype(&free)> event(xcb_poll_for_event(x.c), &free);
    if (!event) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else if ((event->response_type & 0x7f) == x.firstEvent + XCB_XFIXES_SELECTION_NOTIFY &&
               reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event.get())->owner !=
                   before) {
      return;
    }
  }
  throw std::runtime_error("xclip never took the clipboard");
}

std::optional<std::string> XClipboard::text(std::string_view target) {
  return run("timeout 5 xclip -selection clipboard -o -t " + std::string(target) + " 2>/dev/null");
}

Xvfb::Xvfb(int display) {
  std::array<int, 2> ready{};
  if (pipe(ready.data()) != 0) {
    throw std::runtime_error("pipe");
  }
  // Xvfb writes the display's number on this pipe once it accepts connections.
  const std::string fd = std::to_string(ready[1]);
  std::vector<std::string> words{"Xvfb", "-nolisten", "tcp", "-displayfd", fd};
  if (display >= 0) {
    words.insert(words.begin() + 1, ":" + std::to_string(display));
  }
  std::vector<char*> argv;
  for (auto& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  std::array<char, 16> number{};
  const ssize_t got = spawned == 0 ? read(ready[0], number.data(), number.size() - 1) : -1;
  close(ready[0]);
  if (got <= 0) {
    throw std::runtime_error("Xvfb did not start");
  }
  display_ = std::atoi(number.data());
}

Xvfb::~Xvfb() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

}  // namespace sorlinx::testing
