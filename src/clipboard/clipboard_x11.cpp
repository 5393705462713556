// The X11 clipboard: the CLIPBOARD selection, through libxcb and its XFixes extension.
//
// X keeps no clipboard text itself: a selection has an owner, a window of some program,
// which hands its data to whoever asks. So here:
// - The change counter counts XFixes's notices that CLIPBOARD changed hands. The server
//   sends them unasked; a pass takes what has arrived without waiting, so that an idle
//   pass costs no request to the server and allocates nothing.
// - Reading asks the owner to convert CLIPBOARD to UTF8_STRING (or, refused, to STRING,
//   which is Latin-1 and is made UTF-8 here) into a property of a window of the plugin's
//   own. The pass that asks waits a bounded time for the answer; an owner that needs longer
//   (wine under load, a compositor bridging a Wayland game) is not asked again: its answer
//   is taken by whichever later pass finds it arrived. Each question carries the server's
//   time of the change of owner it belongs to and a property of its own, and the answer
//   carries both back, so a late answer of an earlier owner is never taken for the text of
//   a later one. An owner that refuses is asked again after a while: wine refuses while a
//   Windows program holds its clipboard. An owner whose answer is slow to come gets a nudge
//   (see nudge()): wine at times leaves its answer unsent until something else reaches it.
//   A transfer in pieces (INCR), which owners use only for texts far larger than any
//   request, and a text over MAX_TEXT_SIZE are refused the way a text too large to copy
//   is, without a piece being asked for.
// - Writing makes that window the owner; the text is then handed to every program that
//   asks, as TARGETS, UTF8_STRING, STRING or TEXT, and offered with the hint that clipboard
//   managers read as "do not keep this in the history", until another program takes
//   CLIPBOARD over. The requests are answered by the clipboard worker the moment they come,
//   while it waits between passes; no other thread ever touches the connection. When the
//   plugin stops, its text leaves the clipboard with its window.
// - Between passes the worker waits (listenForChanges) on the connection and on an eventfd
//   that a stop signals, handling each event as it comes: another program taking CLIPBOARD,
//   or an owner's answer to the question for the current text, brings a pass at once. The
//   plugin's own write brings the one pass that reads it back, and nothing more.
// - Without a display (no DISPLAY, a refused connection, a server gone) the clipboard is
//   simply absent: reads and writes fail and the counter stands still. One line says so,
//   and a connection is tried again every few seconds.
//
// handleEvents() is the one place where events are taken from the connection; it never
// waits, and may run whenever the connection is readable.
#include "clipboard/clipboard_x11.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "clipboard/clipboard.h"
#include "shared/host.h"

namespace sorlinx {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto RECONNECT_INTERVAL = std::chrono::seconds(2);
// How long the pass that asks the owner for its text waits for the answer: well inside the
// polling period, so that a slow owner never delays the next pass. Later passes only look.
constexpr auto READ_WAIT = std::chrono::milliseconds(50);
// After an owner refused to give text, it is asked again after this pause, doubled after
// each further refusal up to the longest: a refusal may be momentary, and an owner of a
// picture is not worth a question every pass.
constexpr Clock::duration FIRST_RETRY = std::chrono::milliseconds(250);
constexpr Clock::duration LONGEST_RETRY = std::chrono::seconds(4);
// An owner's answer not there after this long gets a nudge, and so does a question still
// open at each of the next passes, up to MAX_NUDGES in all.
constexpr auto NUDGE_AFTER = std::chrono::milliseconds(10);
constexpr int MAX_NUDGES = 4;
// Room for a ChangeProperty request's own fields beside the text it carries.
constexpr std::size_t REQUEST_OVERHEAD = 64;
// Questions that may be waiting for an answer at once: the one for the current owner, and
// those of earlier owners that never answered, each with a property of its own so that a
// late answer cannot land on a later one.
constexpr std::size_t TRANSFER_SLOTS = 4;
// What clipboard managers (Klipper, CopyQ, GPaste and others) read beside a text to leave
// it out of their history.
constexpr std::string_view HISTORY_HINT = "secret";

struct FreeXcb {
  void operator()(void* pointer) const noexcept { std::free(pointer); }  // NOLINT
};
template <typename T>
using XcbPointer = std::unique_ptr<T, FreeXcb>;

enum Atom : std::size_t {
  CLIPBOARD,
  UTF8_STRING,
  TEXT,
  TARGETS,
  INCR,
  PASSWORD_HINT,
  NUDGE,
  TRANSFER,  // the first of TRANSFER_SLOTS
  ATOM_COUNT = TRANSFER + TRANSFER_SLOTS
};
constexpr std::array<const char*, ATOM_COUNT> ATOM_NAMES{"CLIPBOARD",
                                                         "UTF8_STRING",
                                                         "TEXT",
                                                         "TARGETS",
                                                         "INCR",
                                                         "x-kde-passwordManagerHint",
                                                         "SORLINX_NUDGE",
                                                         "SORLINX_TRANSFER_0",
                                                         "SORLINX_TRANSFER_1",
                                                         "SORLINX_TRANSFER_2",
                                                         "SORLINX_TRANSFER_3"};

// A question put to an owner: convert CLIPBOARD to `target` into the property of its slot.
struct Conversion {
  bool asked = false;
  bool answered = false;     // the text stands in the slot's property
  std::uint64_t change = 0;  // the change of owner it belongs to
  xcb_timestamp_t time = XCB_CURRENT_TIME;
  xcb_atom_t target = XCB_NONE;
  int nudges = 0;
};

struct X11Clipboard {
  xcb_connection_t* connection = nullptr;
  xcb_window_t window = XCB_NONE;
  std::array<xcb_atom_t, ATOM_COUNT> atoms{};
  std::uint8_t xfixesFirstEvent = 0;
  std::size_t maxRequestBytes = 0;
  // Never 0, which would mean that the platform cannot tell.
  std::uint64_t changes = 1;
  // The server's time of the last change of owner (CurrentTime until one was seen), and
  // whether it left CLIPBOARD without an owner.
  xcb_timestamp_t changeTime = XCB_CURRENT_TIME;
  bool ownerless = false;
  // The window that owns CLIPBOARD since that change, where a nudge goes.
  xcb_window_t owner = XCB_NONE;
  // While the plugin owns CLIPBOARD: the text it hands out.
  bool owned = false;
  std::string ownText;
  std::array<Conversion, TRANSFER_SLOTS> slots{};
  // The owner of change `refusedChange` gave no text; it is asked again from `retryAt`.
  std::uint64_t refusedChange = 0;
  Clock::time_point retryAt{};
  Clock::duration retryPause = FIRST_RETRY;
  // The last read that failed found no text at all, rather than an answer still to come.
  bool noText = false;
  // Something came that a pass should see without waiting for the next look: another owner,
  // the answer to the current question, or the plugin's own write (read back once). Taken
  // by the worker's wait for notices, and by a read, which sees all that came before it.
  bool passWanted = false;
  Clock::time_point nextAttempt{};
  bool outageLogged = false;
  // The worker's notices' eventfd while they exist: a stop makes it readable, which ends a
  // pass's wait for a slow owner too (the wait between passes empties it).
  int stopFd = -1;
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
  b.slots = {};
  b.changeTime = XCB_CURRENT_TIME;
  b.ownerless = false;
  b.owner = XCB_NONE;
  b.refusedChange = 0;
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

// The window the server lists as CLIPBOARD's owner (none when it does not answer).
xcb_window_t ownerNow(const X11Clipboard& b) {
  const XcbPointer<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
      b.connection, xcb_get_selection_owner(b.connection, b.atoms[CLIPBOARD]), nullptr));
  return owner != nullptr ? owner->owner : xcb_window_t{XCB_NONE};
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
  b.owner = ownerNow(b);
  b.outageLogged = false;
  ++b.changes;  // whatever this display's clipboard holds has not been read yet
  return true;
}

xcb_atom_t slotProperty(const X11Clipboard& b, std::size_t slot) {
  return b.atoms.at(TRANSFER + slot);
}

void serve(X11Clipboard& b, const xcb_selection_request_event_t& request) {
  const auto& atoms = b.atoms;
  // Clients older than the ICCCM give no property: the target's name stands for it.
  const xcb_atom_t property = request.property == XCB_NONE ? request.target : request.property;
  bool served = false;
  if (b.owned && request.owner == b.window && request.selection == atoms[CLIPBOARD]) {
    if (request.target == atoms[TARGETS]) {
      const std::array<xcb_atom_t, 5> targets{atoms[TARGETS], atoms[UTF8_STRING], XCB_ATOM_STRING,
                                              atoms[TEXT], atoms[PASSWORD_HINT]};
      xcb_change_property(b.connection, XCB_PROP_MODE_REPLACE, request.requestor, property,
                          XCB_ATOM_ATOM, 32, targets.size(), targets.data());
      served = true;
    } else if (request.target == atoms[PASSWORD_HINT]) {
      xcb_change_property(b.connection, XCB_PROP_MODE_REPLACE, request.requestor, property,
                          atoms[PASSWORD_HINT], 8, static_cast<std::uint32_t>(HISTORY_HINT.size()),
                          HISTORY_HINT.data());
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

void ask(X11Clipboard& b, std::size_t slot, xcb_atom_t target) {
  Conversion& conversion = b.slots.at(slot);
  conversion.asked = true;
  conversion.answered = false;
  conversion.change = b.changes;
  conversion.time = b.changeTime;
  conversion.target = target;
  conversion.nudges = 0;
  xcb_convert_selection(b.connection, b.window, b.atoms[CLIPBOARD], target, slotProperty(b, slot),
                        conversion.time);
  xcb_flush(b.connection);
}

// Counts a refusal against the owner of the current change only, and says when to ask it
// again.
void refused(X11Clipboard& b) {
  b.retryPause =
      b.refusedChange == b.changes ? std::min(b.retryPause * 2, LONGEST_RETRY) : FIRST_RETRY;
  b.refusedChange = b.changes;
  b.retryAt = Clock::now() + b.retryPause;
}

// An owner's answer to one of the plugin's questions. Found by what the answer carries back:
// the property (a slot of its own per question) and the time the question was asked with,
// or for a refusal, which names no property, the target and the time.
void answered(X11Clipboard& b, const xcb_selection_notify_event_t& notify) {
  if (notify.requestor != b.window || notify.selection != b.atoms[CLIPBOARD]) {
    return;
  }
  std::optional<std::size_t> found;
  for (std::size_t slot = 0; slot < TRANSFER_SLOTS; ++slot) {
    const Conversion& conversion = b.slots.at(slot);
    const bool matches = notify.property != XCB_NONE ? notify.property == slotProperty(b, slot)
                                                     : notify.target == conversion.target;
    // The oldest question first, where two owners' answers look alike.
    if (conversion.asked && !conversion.answered && matches && notify.time == conversion.time &&
        (!found || conversion.change < b.slots.at(*found).change)) {
      found = slot;
    }
  }
  if (!found) {
    return;  // no question of ours waits for it: a stray answer, or one long given up on
  }
  Conversion& conversion = b.slots.at(*found);
  if (conversion.change != b.changes) {
    // The clipboard changed hands since: that text is gone from it. Its property is left
    // alone; the next question of this slot replaces it.
    conversion.asked = false;
  } else if (notify.property != XCB_NONE) {
    conversion.answered = true;  // the pass takes it, at once
    b.passWanted = true;
  } else if (notify.target == b.atoms[UTF8_STRING]) {
    ask(b, *found, XCB_ATOM_STRING);  // older programs give Latin-1 only
  } else {
    conversion.asked = false;
    refused(b);
  }
}

void handle(X11Clipboard& b, const xcb_generic_event_t& event) noexcept {
  const std::uint8_t type = event.response_type & 0x7f;
  if (type == XCB_SELECTION_REQUEST) {
    serve(b, reinterpret_cast<const xcb_selection_request_event_t&>(event));
  } else if (type == XCB_SELECTION_NOTIFY) {
    answered(b, reinterpret_cast<const xcb_selection_notify_event_t&>(event));
  } else if (type == XCB_SELECTION_CLEAR) {
    // A SelectionClear may be older than the plugin's last taking of the selection (it was
    // queued before that took effect), or sent by any client: only the server's word that
    // another window owns CLIPBOARD now ends the serving.
    if (reinterpret_cast<const xcb_selection_clear_event_t&>(event).selection ==
            b.atoms[CLIPBOARD] &&
        b.owned && ownerNow(b) != b.window) {
      b.owned = false;
      std::string().swap(b.ownText);
    }
  } else if (type == b.xfixesFirstEvent + XCB_XFIXES_SELECTION_NOTIFY) {
    // The plugin's own writes count when they are made, like every other change.
    const auto& notice = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event);
    if (notice.owner != b.window) {
      ++b.changes;
      b.changeTime = notice.timestamp;
      b.ownerless = notice.owner == XCB_NONE;
      b.owner = notice.owner;
      b.passWanted = true;
    }
  }
  // Anything else (errors of requests whose requestor vanished, property notices) needs
  // nothing.
}

// Handles every event that has arrived, without waiting. False, and disconnected, when the
// server is gone.
bool handleEvents(X11Clipboard& b) noexcept {
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

bool ready(X11Clipboard& b) noexcept { return connect(b) && handleEvents(b); }

// The slot of the question put to the current owner, if one was.
std::optional<std::size_t> currentQuestion(const X11Clipboard& b) {
  for (std::size_t slot = 0; slot < TRANSFER_SLOTS; ++slot) {
    if (b.slots.at(slot).asked && b.slots.at(slot).change == b.changes) {
      return slot;
    }
  }
  return std::nullopt;
}

// A free slot, or else the one whose owner has kept silent longest.
std::size_t freeSlot(const X11Clipboard& b) {
  std::size_t chosen = 0;
  for (std::size_t slot = 0; slot < TRANSFER_SLOTS; ++slot) {
    if (!b.slots.at(slot).asked) {
      return slot;
    }
    if (b.slots.at(slot).change < b.slots.at(chosen).change) {
      chosen = slot;
    }
  }
  return chosen;
}

// Sends the owner of the current change an event that means nothing to it, once more for
// the question in `conversion`. Some owners write their answer into their connection's
// buffer and leave it there until something else arrives on that connection: wine does so
// now and then, and its answer then waits for the game's next write, seconds later or never.
// Reading this event makes them send what they hold. A ClientMessage of a type of the
// plugin's own is ignored by every program that does not know it, and a silent owner gets
// only a few.
void nudge(X11Clipboard& b, Conversion& conversion) {
  if (b.owner == XCB_NONE || conversion.nudges >= MAX_NUDGES) {
    return;
  }
  ++conversion.nudges;
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = b.owner;
  message.type = b.atoms[NUDGE];
  // Events travel as 32 bytes, longer than the structure.
  std::array<char, 32> wire{};
  std::memcpy(wire.data(), &message, sizeof message);
  xcb_send_event(b.connection, 0, b.owner, XCB_EVENT_MASK_NO_EVENT, wire.data());
  xcb_flush(b.connection);
}

// Waits until `deadline` for the answer to the question in `slot`, or a stop, handling
// every event meanwhile, and nudges the owner once if the answer is slow.
void await(X11Clipboard& b, std::size_t slot, Clock::time_point deadline) {
  Conversion& conversion = b.slots.at(slot);
  const auto nudgeAt = Clock::now() + NUDGE_AFTER;
  bool nudged = false;
  while (handleEvents(b) && conversion.asked && !conversion.answered &&
         conversion.change == b.changes) {
    const auto now = Clock::now();
    if (now >= deadline) {
      return;
    }
    if (!nudged && now >= nudgeAt) {
      nudge(b, conversion);
      nudged = true;
    }
    // Never negative, which poll() would take for "no limit".
    const auto until = nudged ? deadline : std::min(nudgeAt, deadline);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
    std::array<pollfd, 2> ends{
        {{xcb_get_file_descriptor(b.connection), POLLIN, 0}, {b.stopFd, POLLIN, 0}}};
    poll(ends.data(), ends.size(), static_cast<int>(left));
    if (ends[1].revents != 0) {
      return;  // the question stands; the worker winds up
    }
  }
}

void appendLatin1AsUtf8(std::string& text, std::string_view latin1) {
  for (const char byte : latin1) {
    const auto code = static_cast<unsigned char>(byte);
    if (code < 0x80) {
      text.push_back(byte);
    } else {
      text.push_back(static_cast<char>(0xc0 | (code >> 6)));
      text.push_back(static_cast<char>(0x80 | (code & 0x3f)));
    }
  }
}

// Takes the answer out of the slot's property. Asks for no more than MAX_TEXT_SIZE: a
// larger text, or one that comes in pieces, throws std::bad_alloc, which the caller counts
// as a text too large to copy, once. A text read whole is emptied out of the property, never
// deleted: a delete is what tells an owner that hands over in pieces (INCR) to send the next
// one, and an owner whose INCR answer was refused here may still be waiting for it on this
// very property (xclip waits for ever); it would then write a piece there, over the answer
// of the next owner asked in this slot. An INCR answer is left as it is.
bool fetch(X11Clipboard& b, std::size_t slot, std::string& text) {
  const xcb_atom_t property = slotProperty(b, slot);
  const auto cookie =
      xcb_get_property(b.connection, 0, b.window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                       static_cast<std::uint32_t>(clipboard::MAX_TEXT_SIZE / 4 + 1));
  const XcbPointer<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(b.connection, cookie, nullptr));
  if (reply == nullptr) {
    handleEvents(b);
    return false;
  }
  if (reply->type == b.atoms[INCR]) {
    throw std::bad_alloc();
  }
  xcb_change_property(b.connection, XCB_PROP_MODE_REPLACE, b.window, property, XCB_ATOM_STRING, 8,
                      0, nullptr);
  xcb_flush(b.connection);
  const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
  if (reply->bytes_after > 0 || length > clipboard::MAX_TEXT_SIZE) {
    throw std::bad_alloc();
  }
  if (reply->format != 8) {
    refused(b);  // not text, whatever it was called
    return false;
  }
  std::string_view whole(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
  whole = whole.substr(0, whole.find('\0'));
  if (reply->type == XCB_ATOM_STRING) {
    text.clear();
    appendLatin1AsUtf8(text, whole);
  } else {
    text.assign(whole);
  }
  return true;
}

// readText's work once connected and up to date.
bool readCurrent(X11Clipboard& b, std::string& text) {
  if (b.owned) {
    const std::string_view own(b.ownText);
    text.assign(own.substr(0, own.find('\0')));
    return true;
  }
  std::optional<std::size_t> slot = currentQuestion(b);
  if (slot && !b.slots.at(*slot).answered) {
    nudge(b, b.slots.at(*slot));  // a later pass: the answer may be held up
  } else if (!slot) {
    if (b.ownerless || (b.refusedChange == b.changes && Clock::now() < b.retryAt)) {
      b.noText = true;
      return false;
    }
    slot = freeSlot(b);
    ask(b, *slot, b.atoms[UTF8_STRING]);
    await(b, *slot, Clock::now() + READ_WAIT);
  }
  Conversion& conversion = b.slots.at(*slot);
  if (b.connection == nullptr || !conversion.asked || conversion.change != b.changes) {
    // Refused meanwhile, the owner gone, or the clipboard changed hands: the next pass asks
    // whoever owns it then.
    b.noText = b.refusedChange == b.changes;
    return false;
  }
  if (!conversion.answered) {
    return false;  // the question stands; a later pass takes the answer
  }
  conversion.asked = false;
  return fetch(b, *slot, text);
}

class X11Notices final : public ChangeNotices {
 public:
  X11Notices() { board().stopFd = wakeFd_; }
  X11Notices(const X11Notices&) = delete;
  X11Notices& operator=(const X11Notices&) = delete;
  ~X11Notices() override {
    board().stopFd = -1;
    if (wakeFd_ >= 0) {
      close(wakeFd_);
    }
  }

  [[nodiscard]] bool ready() const { return wakeFd_ >= 0; }

  // Serves every request for the plugin's text as it comes, and returns only when a pass
  // is wanted, the time is up or a stop woke it: the other events (property notices of the
  // plugin's window, the server's notice of its own write) do not end the wait.
  bool wait(Milliseconds timeout) override {
    auto& b = board();
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      // Events that came in with the replies of the last pass already sit in the
      // connection's queue, where poll() cannot see them: they are handled first. Without a
      // display, or with one just lost (said once), only a stop or the time ends the wait,
      // and the passes connect again when they can.
      const bool connected = b.connection != nullptr && handleEvents(b);
      const auto left = std::chrono::ceil<Milliseconds>(deadline - Clock::now()).count();
      if (b.passWanted || left <= 0) {
        break;
      }
      std::array<pollfd, 2> ends{
          {{wakeFd_, POLLIN, 0},
           {connected ? xcb_get_file_descriptor(b.connection) : -1, POLLIN, 0}}};
      const int ready = poll(ends.data(), ends.size(), static_cast<int>(left));
      if ((ready < 0 && errno != EINTR) || ends[0].revents != 0) {
        break;
      }
    }
    std::uint64_t wakes = 0;
    static_cast<void>(read(wakeFd_, &wakes, sizeof wakes));  // non-blocking: empties it
    const bool wanted = b.passWanted;
    b.passWanted = false;
    return wanted;
  }

  void wake() noexcept override {
    const std::uint64_t one = 1;
    static_cast<void>(write(wakeFd_, &one, sizeof one));
  }

 private:
  int wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
};

}  // namespace

bool clipboard::readText(std::string& text) {
  auto& b = board();
  b.noText = false;
  if (!ready(b)) {
    return false;
  }
  // What came before this read is what it reads, unless the clipboard changes hands while
  // it waits for the owner: then the next pass comes at once for the new owner.
  const std::uint64_t change = b.changes;
  const bool taken = readCurrent(b, text);
  if (b.changes == change) {
    b.passWanted = false;
  }
  return taken;
}

std::uint64_t clipboard::changeCount() noexcept {
  auto& b = board();
  ready(b);
  return b.changes;
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
    handleEvents(b);
    return false;
  }
  b.ownText.swap(copy);
  b.owned = true;
  ++b.changes;
  b.passWanted = true;  // the pass that reads it back, as another program's text is read
  return true;
}

std::unique_ptr<ChangeNotices> clipboard::listenForChanges() noexcept {
  std::unique_ptr<X11Notices> notices(new (std::nothrow) X11Notices);
  if (notices == nullptr || !notices->ready()) {
    logError("erreur clipboard X11: eventfd");
    return nullptr;
  }
  return notices;
}

void clipboard::release() noexcept {
  auto& b = board();
  disconnect(b);
  b.nextAttempt = {};
  b.outageLogged = false;
}

bool clipboard::lastReadFoundNoText() noexcept { return board().noText; }

bool clipboard::holdsClipboard() noexcept { return board().owned; }

}  // namespace sorlinx
