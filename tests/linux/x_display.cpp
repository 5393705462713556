#include "x_display.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
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

namespace {

// What xcb hands out (replies, events), freed with free().
struct Free {
  void operator()(void* block) const { free(block); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

xcb_atom_t intern(xcb_connection_t* c, std::string_view name) {
  const Owned<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()), nullptr));
  return atom ? atom->atom : XCB_NONE;
}

std::string atomName(xcb_connection_t* c, xcb_atom_t atom) {
  const Owned<xcb_get_atom_name_reply_t> name(
      xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr));
  return name ? std::string(xcb_get_atom_name_name(name.get()),
                            static_cast<std::size_t>(xcb_get_atom_name_name_length(name.get())))
              : std::string();
}

xcb_window_t clipboardOwner(xcb_connection_t* c, xcb_atom_t clipboard) {
  const Owned<xcb_get_selection_owner_reply_t> reply(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, clipboard), nullptr));
  return reply ? reply->owner : XCB_NONE;
}

void sendEvent(xcb_connection_t* c, xcb_window_t window, const void* event, std::size_t size,
               bool flush = true) {
  std::array<char, 32> wire{};  // events travel as 32 bytes
  std::memcpy(wire.data(), event, size);
  xcb_send_event(c, 0, window, XCB_EVENT_MASK_NO_EVENT, wire.data());
  if (flush) {
    xcb_flush(c);
  }
}

// A connection to $DISPLAY with a window of its own, as the game's and the owner's side
// both need.
struct Client {
  Client() {
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client() { xcb_disconnect(c); }
  static xcb_connection_t* connect() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) {
      xcb_disconnect(c);
      throw std::runtime_error("no X display");
    }
    return c;
  }

  xcb_connection_t* c = connect();
  xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  xcb_window_t window = xcb_generate_id(c);
  xcb_atom_t clipboard = intern(c, "CLIPBOARD");
  xcb_atom_t utf8 = intern(c, "UTF8_STRING");
};

}  // namespace

struct XClipboard::Connection : Client {
  xcb_atom_t property = intern(c, "SORLINX_TEST_READ");  // where the owner puts read()'s text
  std::uint8_t firstEvent = xcb_get_extension_data(c, &xcb_xfixes_id)->first_event;
};

XClipboard::XClipboard() : connection_(std::make_unique<Connection>()) {
  auto& x = *connection_;
  free(xcb_xfixes_query_version_reply(x.c, xcb_xfixes_query_version(x.c, 5, 0), nullptr));
  xcb_xfixes_select_selection_input(x.c, x.root, x.clipboard,
                                    XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
  xcb_flush(x.c);
}

XClipboard::~XClipboard() = default;

std::uint32_t XClipboard::owner() { return clipboardOwner(connection_->c, connection_->clipboard); }

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
  const auto landed = [&] {
    const Owned<xcb_generic_event_t> event(xcb_poll_for_event(x.c));
    return event && (event->response_type & 0x7f) == x.firstEvent + XCB_XFIXES_SELECTION_NOTIFY &&
           reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event.get())->owner != before;
  };
  if (!eventually(landed, std::chrono::seconds(5))) {
    throw std::runtime_error("xclip never took the clipboard");
  }
}

std::optional<std::string> XClipboard::read(std::chrono::milliseconds timeout) {
  auto& x = *connection_;
  xcb_convert_selection(x.c, x.window, x.clipboard, x.utf8, x.property, XCB_CURRENT_TIME);
  xcb_flush(x.c);
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    while (const Owned<xcb_generic_event_t> event{xcb_poll_for_event(x.c)}) {
      const auto& notify = *reinterpret_cast<xcb_selection_notify_event_t*>(event.get());
      if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY || notify.requestor != x.window) {
        continue;  // the owners' changes, which put() looks for afresh
      }
      const Owned<xcb_get_property_reply_t> value(
          notify.property == XCB_NONE
              ? nullptr
              : xcb_get_property_reply(x.c,
                                       xcb_get_property(x.c, 1, x.window, x.property,
                                                        XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 24),
                                       nullptr));
      if (!value) {
        return std::nullopt;
      }
      return std::string(static_cast<const char*>(xcb_get_property_value(value.get())),
                         static_cast<std::size_t>(xcb_get_property_value_length(value.get())));
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || xcb_connection_has_error(x.c) != 0) {
      return std::nullopt;
    }
    pollfd socket{xcb_get_file_descriptor(x.c), POLLIN, 0};
    poll(&socket, 1, static_cast<int>(left.count()));
  }
}

std::optional<std::string> XClipboard::text(std::string_view target) {
  return run("timeout 5 xclip -selection clipboard -o -t " + std::string(target) + " 2>/dev/null");
}

struct TestOwner::State : Client {
  Behaviour behaviour;
  xcb_atom_t targets = intern(c, "TARGETS");
  xcb_atom_t incr = intern(c, "INCR");
  std::mutex mutex;
  std::vector<std::string> questions;
  int pieces = 0;
  std::vector<std::pair<Clock::time_point, xcb_selection_request_event_t>> pending;
  std::vector<std::pair<xcb_window_t, xcb_atom_t>> transfers;  // INCR answers given
  std::atomic<bool> stop{false};
  std::thread thread;

  void answer(const xcb_selection_request_event_t& request) {
    const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
    const bool latin1Only = behaviour.answer == Answer::latin1Only;
    bool given = --behaviour.refusals < 0;
    if (given && request.target == targets) {
      std::vector<xcb_atom_t> offered{targets, XCB_ATOM_STRING};
      if (!latin1Only) {
        offered.push_back(utf8);
      }
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                          static_cast<std::uint32_t>(offered.size()), offered.data());
    } else if (given &&
               (request.target == XCB_ATOM_STRING || (request.target == utf8 && !latin1Only))) {
      const auto size = static_cast<std::uint32_t>(behaviour.text.size());
      if (behaviour.answer == Answer::pieces) {
        // Its owner waits for the requestor to delete the property before each piece.
        const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &events);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, incr, 32, 1,
                            &size);
        transfers.emplace_back(request.requestor, property);
      } else {
        for (int i = 0; i < behaviour.repeat; ++i) {
          xcb_change_property(c, i == 0 ? XCB_PROP_MODE_REPLACE : XCB_PROP_MODE_APPEND,
                              request.requestor, property, request.target, 8, size,
                              behaviour.text.data());
        }
      }
    } else {
      given = false;
    }
    xcb_selection_notify_event_t notify{};
    notify.response_type = XCB_SELECTION_NOTIFY;
    notify.time = request.time;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.property = given ? property : XCB_NONE;
    sendEvent(c, request.requestor, &notify, sizeof notify, behaviour.answer != Answer::held);
  }

  void serve() {
    while (!stop.load() && xcb_connection_has_error(c) == 0) {
      pollfd socket{xcb_get_file_descriptor(c), POLLIN, 0};
      poll(&socket, 1, 5);
      while (const Owned<xcb_generic_event_t> owned{xcb_poll_for_event(c)}) {
        xcb_generic_event_t* event = owned.get();
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_SELECTION_REQUEST) {
          const auto& request = *reinterpret_cast<xcb_selection_request_event_t*>(event);
          std::string target = atomName(c, request.target);
          const std::lock_guard lock(mutex);
          questions.push_back(std::move(target));
          pending.emplace_back(Clock::now() + behaviour.delay, request);
        } else if (type == XCB_CLIENT_MESSAGE) {
          xcb_flush(c);  // what a held answer waits for
        } else if (type == XCB_PROPERTY_NOTIFY) {
          const auto& notice = *reinterpret_cast<xcb_property_notify_event_t*>(event);
          const std::pair<xcb_window_t, xcb_atom_t> where{notice.window, notice.atom};
          const std::lock_guard lock(mutex);
          if (notice.state == XCB_PROPERTY_DELETE &&
              std::find(transfers.begin(), transfers.end(), where) != transfers.end()) {
            ++pieces;
          }
        }
      }
      const std::lock_guard lock(mutex);
      for (auto due = pending.begin(); due != pending.end();) {
        if (due->first <= Clock::now()) {
          answer(due->second);
          due = pending.erase(due);
        } else {
          ++due;
        }
      }
    }
  }
};

TestOwner::TestOwner(Behaviour behaviour) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.behaviour = std::move(behaviour);
  s.thread = std::thread([&s] { s.serve(); });
}

TestOwner::~TestOwner() {
  state_->stop.store(true);
  state_->thread.join();
}

void TestOwner::take() {
  State& s = *state_;
  xcb_set_selection_owner(s.c, s.window, s.clipboard, XCB_CURRENT_TIME);
  if (clipboardOwner(s.c, s.clipboard) != s.window) {
    throw std::runtime_error("the test owner could not take CLIPBOARD");
  }
}

std::vector<std::string> TestOwner::questions() {
  const std::lock_guard lock(state_->mutex);
  return state_->questions;
}

int TestOwner::piecesAsked() {
  const std::lock_guard lock(state_->mutex);
  return state_->pieces;
}

void sendSelectionClear(std::uint32_t window) {
  const Client sender;
  xcb_selection_clear_event_t clear{};
  clear.response_type = XCB_SELECTION_CLEAR;
  clear.time = XCB_CURRENT_TIME;
  clear.owner = window;
  clear.selection = sender.clipboard;
  sendEvent(sender.c, window, &clear, sizeof clear);
  free(xcb_get_input_focus_reply(sender.c, xcb_get_input_focus(sender.c), nullptr));  // gone out
}

namespace {

// Binds or connects the socket `fd` to an X display: to its abstract name, which xcb tries
// first, or to its file.
template <typename Call>
bool onDisplay(Call call, int fd, int display, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(display);
  std::memcpy(address.sun_path + (abstract ? 1 : 0), path.data(), path.size());
  const auto length = abstract ? offsetof(sockaddr_un, sun_path) + 1 + path.size() : sizeof address;
  return call(fd, reinterpret_cast<const sockaddr*>(&address), static_cast<socklen_t>(length)) == 0;
}

}  // namespace

struct XProxy::State {
  int display = -1;
  int serverDisplay = -1;
  std::mutex mutex;
  int listener = -1;
  struct Pair {
    int client;
    int server;
    bool deaf = false;  // the client's writes are refused
  };
  std::vector<Pair> pairs;
  int accepted = 0;
  std::atomic<bool> stop{false};
  std::thread thread;

  bool listen() {
    listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (!onDisplay(bind, listener, display, true) || ::listen(listener, 8) != 0) {
      ::close(listener);
      listener = -1;
      return false;
    }
    return true;
  }

  static void pass(int from, int to) {
    std::array<char, 65536> buffer{};
    const ssize_t got = read(from, buffer.data(), buffer.size());
    for (ssize_t sent = 0; got > 0 && sent < got;) {
      const ssize_t wrote =
          send(to, buffer.data() + sent, static_cast<std::size_t>(got - sent), MSG_NOSIGNAL);
      if (wrote <= 0) {
        return;
      }
      sent += wrote;
    }
  }

  void run() {
    while (!stop.load()) {
      std::vector<pollfd> watched;
      {
        const std::lock_guard lock(mutex);
        watched.push_back({listener, POLLIN, 0});  // -1, which poll() passes over, while gone
        for (const Pair& pair : pairs) {
          watched.push_back({pair.deaf ? -1 : pair.client, POLLIN, 0});
          watched.push_back({pair.server, POLLIN, 0});
        }
      }
      poll(watched.data(), watched.size(), 5);
      const std::lock_guard lock(mutex);
      if (watched.front().revents != 0 && watched.front().fd == listener) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (onDisplay(connect, server, serverDisplay, false)) {
          pairs.push_back({client, server});
          ++accepted;
        } else {
          ::close(client);
          ::close(server);
        }
        continue;  // the pairs changed
      }
      for (std::size_t i = 0, at = 1; i < pairs.size() && at + 1 < watched.size(); ++i, at += 2) {
        if (watched.at(at).revents != 0) {
          pass(pairs.at(i).client, pairs.at(i).server);
        }
        if (watched.at(at + 1).revents != 0) {
          pass(pairs.at(i).server, pairs.at(i).client);
        }
      }
    }
  }

  void closeAll() {
    for (const Pair& pair : pairs) {
      ::close(pair.client);
      ::close(pair.server);
    }
    pairs.clear();
    if (listener >= 0) {
      ::close(listener);
      listener = -1;
    }
  }
};

XProxy::XProxy(int serverDisplay) : state_(std::make_unique<State>()) {
  state_->serverDisplay = serverDisplay;
  // Far above the numbers Xvfb picks for itself.
  for (display_ = 400; display_ < 500; ++display_) {
    state_->display = display_;
    if (state_->listen()) {
      state_->thread = std::thread([this] { state_->run(); });
      return;
    }
  }
  throw std::runtime_error("no free display for the proxy");
}

XProxy::~XProxy() {
  state_->stop.store(true);
  state_->thread.join();
  state_->closeAll();
}

int XProxy::connections() {
  const std::lock_guard lock(state_->mutex);
  return state_->accepted;
}

void XProxy::refuseWrites(int connection) {
  const std::lock_guard lock(state_->mutex);
  auto& pair = state_->pairs.at(static_cast<std::size_t>(connection));
  shutdown(pair.client, SHUT_RD);
  pair.deaf = true;
}

void XProxy::vanish(std::chrono::milliseconds gone) {
  std::unique_lock lock(state_->mutex);
  state_->closeAll();
  lock.unlock();
  std::this_thread::sleep_for(gone);
  lock.lock();
  if (!state_->listen()) {
    throw std::runtime_error("the proxy's display was taken meanwhile");
  }
}

Xvfb::Xvfb() {
  std::array<int, 2> ready{};
  if (pipe(ready.data()) != 0) {
    throw std::runtime_error("pipe");
  }
  // Xvfb writes the display's number on this pipe once it accepts connections.
  const std::string fd = std::to_string(ready[1]);
  // -noreset: a server that resets when its last client leaves drops a connection made
  // at that moment, as the next test's is once the last one shut the plugin down.
  const std::array<const char*, 7> argv{"Xvfb",       "-nolisten", "tcp",  "-noreset",
                                        "-displayfd", fd.c_str(),  nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr,
                                   const_cast<char* const*>(argv.data()), environ);
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
