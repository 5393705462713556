// The X11 clipboard: the CLIPBOARD selection, through libxcb and its XFixes extension.
//
// X keeps no clipboard text itself: a selection has an owner, a window of some program,
// which hands its data to whoever asks. So here:
// - The change counter counts XFixes's notices that CLIPBOARD changed hands. The server
//   sends them unasked; a pass takes what has arrived without waiting, so that an idle
//   pass costs no request to the server and allocates nothing.
// - Reading asks the owner to convert CLIPBOARD to UTF8_STRING (or else STRING) into a
//   property of a window of the plugin's own, and waits a bounded time for its answer. A
//   transfer in pieces (INCR), which owners use only for texts far larger than any
//   request, is refused the way a text too large to copy is.
// - Writing makes that window the owner; the text is then handed to every program that
//   asks, as TARGETS, UTF8_STRING, STRING or TEXT, until another program takes CLIPBOARD
//   over. The requests are answered in the clipboard worker's passes, so a reader waits at
//   most one polling period; no other thread ever touches the connection. When the plugin
//   stops, its text leaves the clipboard with its window.
// - Without a display (no DISPLAY, a refused connection, a server gone) the clipboard is
//   simply absent: reads and writes fail and the counter stands still. One line says so,
//   and a connection is tried again every few seconds.
#include <poll.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "clipboard/clipboard.h"
#include "shared/host.h"

namespace sorlinx {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto RECONNECT_INTERVAL = std::chrono::seconds(2);
// How long a read waits for the owner's answer, both targets together: well inside the
// polling period, so that a slow owner never delays the next pass.
constexpr auto READ_WAIT = std::chrono::milliseconds(50);
// Room for a ChangeProperty request's own fields beside the text it carries.
constexpr std::size_t REQUEST_OVERHEAD = 64;

struct FreeXcb {
  void operator()(void* pointer) const noexcept { std::free(pointer); }  // NOLINT
};
template <typename T>
using XcbPointer = std::unique_ptr<T, FreeXcb>;

enum Atom : std::size_t { CLIPBOARD, UTF8_STRING, TEXT, TARGETS, INCR, TRANSFER, ATOM_COUNT };
constexpr std::array<const char*, ATOM_COUNT> ATOM_NAMES{
    "CLIPBOARD", "UTF8_STRING", "TEXT", "TARGETS", "INCR", "SORLINX_TRANSFER"};

struct X11Clipboard {
  xcb_connection_t* connection = nullptr;
  xcb_window_t window = XCB_NONE;
  std::array<xcb_atom_t, ATOM_COUNT> atoms{};
  std::uint8_t xfixesFirstEvent = 0;
  std::size_t maxRequestBytes = 0;
  // Never 0, which would mean that the platform cannot tell.
  std::uint64_t changes = 1;
  // While the plugin owns CLIPBOARD: the text it hands out.
  bool owned = false;
  std::string ownText;
  // The counter when the owner last had no text to give: no need to ask again before it
  // moves.
  std::uint64_t textlessAt = 0;
  Clock::time_point nextAttempt{};
  bool outageLogged = false;
};

X11Clipboard& board() {
  static X11Clipboard instance;
  return instance;
}

void logOutage(X11Clipboard& b, std::string_view text) {
  if (!b.outageLogged) {
    logError(text);
    b.outageLogged = true;
  }
}

void disconnect(X11Clipboard& b) noexcept {
  if (b.connection != nullptr) {
    xcb_disconnect(b.connection);
  }
  b.connection = nullptr;
  b.window = XCB_NONE;
  b.owned = false;
  std::string().swap(b.ownText);
}

// Makes the plugin's window on a fresh connection and asks for the notices of CLIPBOARD's
// changes of owner. False when the server lacks something that needs.
bool setUp(X11Clipboard& b, xcb_connection_t* connection, int screenNumber) {
  const xcb_setup_t* setup = xcb_get_setup(connection);
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
    xcb_screen_next(&screens);
  }
  const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
  if (screens.rem == 0 || xfixes == nullptr || xfixes->present == 0) {
    return false;
  }
  std::array<xcb_intern_atom_cookie_t, ATOM_COUNT> cookies{};
  for (std::size_t i = 0; i < ATOM_COUNT; ++i) {
    const std::string_view name = ATOM_NAMES.at(i);
    cookies.at(i) =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data());
  }
  // XFixes must hear the version the client speaks before it takes any other request.
  const XcbPointer<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
      connection, xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, 0), nullptr));
  bool complete = version != nullptr;
  for (std::size_t i = 0; i < ATOM_COUNT; ++i) {
    const XcbPointer<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(connection, cookies.at(i), nullptr));
    complete = complete && atom != nullptr;
    b.atoms.at(i) = atom != nullptr ? atom->atom : XCB_NONE;
  }
  if (!complete) {
    return false;
  }
  // Never mapped: it exists to own the selection and to receive the owners' answers.
  const xcb_window_t window = xcb_generate_id(connection);
  const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screens.data->root, 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
  xcb_xfixes_select_selection_input(connection, window, b.atoms[CLIPBOARD],
                                    XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
  b.window = window;
  b.xfixesFirstEvent = xfixes->first_event;
  b.maxRequestBytes = static_cast<std::size_t>(xcb_get_maximum_request_length(connection)) * 4;
  return xcb_flush(connection) > 0;
}

// Connects when there is no connection and the last attempt is old enough. Cheap when
// connected.
bool connect(X11Clipboard& b) noexcept {
  if (b.connection != nullptr) {
    return true;
  }
  const auto now = Clock::now();
  if (now < b.nextAttempt) {
    return false;
  }
  b.nextAttempt = now + RECONNECT_INTERVAL;
  // A server that goes away while a request is being written must not end the voice client
  // with SIGPIPE: the failed write is enough. Only this thread ever writes to it.
  sigset_t pipe{};
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  int screen = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screen);
  if (xcb_connection_has_error(connection) != 0 || !setUp(b, connection, screen)) {
    xcb_disconnect(connection);
    b.window = XCB_NONE;
    logOutage(b, "erreur clipboard X11: pas d'affichage");
    return false;
  }
  b.connection = connection;
  b.outageLogged = false;
  ++b.changes;  // whatever this display's clipboard holds has not been read yet
  return true;
}

void serve(X11Clipboard& b, const xcb_selection_request_event_t& request) {
  const auto& atoms = b.atoms;
  // Clients older than the ICCCM give no property: the target's name stands for it.
  const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
  bool served = false;
  if (b.owned && request.owner == b.window && request.selection == atoms[CLIPBOARD]) {
    if (request.target == atoms[TARGETS]) {
      const std::array<xcb_atom_t, 4> targets{atoms[TARGETS], atoms[UTF8_STRING], XCB_ATOM_STRING,
                                              atoms[TEXT]};
      xcb_change_property(b.connection, XCB_PROP_MODE_REPLACE, request.requestor, property,
                          XCB_ATOM_ATOM, 32, targets.size(), targets.data());
      served = true;
    } else if ((request.target == atoms[UTF8_STRING] || request.target == XCB_ATOM_STRING ||
                request.target == atoms[TEXT]) &&
               b.ownText.size() + REQUEST_OVERHEAD <= b.maxRequestBytes) {
      // The plugin's texts are 8-bit as the game wrote them; STRING gets them unchanged.
      const xcb_atom_t type =
          request.target == XCB_ATOM_STRING ? xcb_atom_t{XCB_ATOM_STRING} : atoms[UTF8_STRING];
      xcb_change_property(b.connection, XCB_PROP_MODE_REPLACE, request.requestor, property, type, 8,
                          static_cast<std::uint32_t>(b.ownText.size()), b.ownText.data());
      served = true;
    }
  }
  xcb_selection_notify_event_t notify{};
  notify.response_type = XCB_SELECTION_NOTIFY;
  notify.time = request.time;
  notify.requestor = request.requestor;
  notify.selection = request.selection;
  notify.target = request.target;
  notify.property = served ? property : XCB_NONE;
  // Events travel as 32 bytes, longer than the structure.
  std::array<char, 32> wire{};
  std::memcpy(wire.data(), &notify, sizeof notify);
  xcb_send_event(b.connection, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, wire.data());
  xcb_flush(b.connection);
}

void handle(X11Clipboard& b, const xcb_generic_event_t& event) {
  const std::uint8_t type = event.response_type & 0x7f;
  if (type == XCB_SELECTION_REQUEST) {
    serve(b, reinterpret_cast<const xcb_selection_request_event_t&>(event));
  } else if (type == XCB_SELECTION_CLEAR) {
    // Only the server knows who owns it now: this notice, not XFixes's, ends the serving.
    if (reinterpret_cast<const xcb_selection_clear_event_t&>(event).selection ==
        b.atoms[CLIPBOARD]) {
      b.owned = false;
      std::string().swap(b.ownText);
    }
  } else if (type == b.xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY) {
    // The plugin's own writes count when they are made, like every other change.
    if (reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event).owner != b.window) {
      ++b.changes;
    }
  }
  // Anything else (errors of requests whose requestor vanished, property notices) needs
  // nothing.
}

// Handles every event that has arrived, without waiting. False, and disconnected, when the
// server is gone.
bool drain(X11Clipboard& b) noexcept {
  while (xcb_generic_event_t* event = xcb_poll_for_event(b.connection)) {
    const XcbPointer<xcb_generic_event_t> held(event);
    handle(b, *event);
  }
  if (xcb_connection_has_error(b.connection) != 0) {
    disconnect(b);
    b.nextAttempt = Clock::now() + RECONNECT_INTERVAL;
    logOutage(b, "erreur clipboard X11: affichage perdu");
    return false;
  }
  return true;
}

bool ready(X11Clipboard& b) noexcept { return connect(b) && drain(b); }

enum class Answer { converted, refused, none };

// Waits until `deadline` for the owner's answer to the conversion to `target`, handling
// every other event meanwhile.
Answer awaitConversion(X11Clipboard& b, xcb_atom_t target, Clock::time_point deadline) {
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(b.connection)) {
      const XcbPointer<xcb_generic_event_t> held(event);
      if ((event->response_type & 0x7f) == XCB_SELECTION_NOTIFY) {
        const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(*event);
        if (notify.requestor == b.window && notify.selection == b.atoms[CLIPBOARD] &&
            notify.target == target) {
          return notify.property == XCB_NONE ? Answer::refused : Answer::converted;
        }
      } else {
        handle(b, *event);
      }
    }
    if (!drain(b)) {
      return Answer::none;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return Answer::none;
    }
    pollfd socket{xcb_get_file_descriptor(b.connection), POLLIN, 0};
    poll(&socket, 1, static_cast<int>(left));
  }
}

// Takes the converted text out of the plugin's property, deleting it there.
bool fetch(X11Clipboard& b, std::string& text) {
  const auto cookie = xcb_get_property(b.connection, 1, b.window, b.atoms[TRANSFER],
                                       XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4);
  const XcbPointer<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(b.connection, cookie, nullptr));
  if (reply == nullptr) {
    drain(b);
    return false;
  }
  if (reply->type == b.atoms[INCR]) {
    // Only texts far larger than any request come in pieces: count it as too large, which
    // the caller logs once and does not ask again for.
    throw std::bad_alloc();
  }
  if (reply->format != 8) {
    return false;
  }
  const std::string_view whole(
      static_cast<const char*>(xcb_get_property_value(reply.get())),
      static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
  text.assign(whole.substr(0, whole.find('\0')));
  return true;
}

}  // namespace

std::uint64_t clipboard::changeCount() noexcept {
  auto& b = board();
  ready(b);
  return b.changes;
}

bool clipboard::readText(std::string& text) {
  auto& b = board();
  if (!ready(b)) {
    return false;
  }
  if (b.owned) {
    const std::string_view own(b.ownText);
    text.assign(own.substr(0, own.find('\0')));
    return true;
  }
  if (b.textlessAt == b.changes) {
    return false;
  }
  const auto deadline = Clock::now() + READ_WAIT;
  for (const xcb_atom_t target : {b.atoms[UTF8_STRING], xcb_atom_t{XCB_ATOM_STRING}}) {
    xcb_convert_selection(b.connection, b.window, b.atoms[CLIPBOARD], target, b.atoms[TRANSFER],
                          XCB_CURRENT_TIME);
    xcb_flush(b.connection);
    switch (awaitConversion(b, target, deadline)) {
      case Answer::converted:
        return fetch(b, text);
      case Answer::none:
        return false;  // no answer in time, or no server: the next pass asks again
      case Answer::refused:
        break;
    }
  }
  b.textlessAt = b.changes;
  return false;
}

bool clipboard::writeText(std::string_view text, std::uint64_t& /*emptiedAt*/) noexcept {
  // X never empties a selection before filling it: a failed write leaves it as it was, and
  // emptiedAt is never needed.
  auto& b = board();
  if (!ready(b) || text.size() + REQUEST_OVERHEAD > b.maxRequestBytes) {
    return false;
  }
  std::string copy;
  try {
    copy.assign(text);
  } catch (...) {
    return false;
  }
  xcb_set_selection_owner(b.connection, b.window, b.atoms[CLIPBOARD], XCB_CURRENT_TIME);
  const XcbPointer<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
      b.connection, xcb_get_selection_owner(b.connection, b.atoms[CLIPBOARD]), nullptr));
  if (owner == nullptr || owner->owner != b.window) {
    drain(b);
    return false;
  }
  b.ownText.swap(copy);
  b.owned = true;
  ++b.changes;
  return true;
}

void clipboard::release() noexcept {
  auto& b = board();
  disconnect(b);
  b.nextAttempt = {};
  b.outageLogged = false;
}

}  // namespace sorlinx
