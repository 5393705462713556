#include "expectations.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <optional>
#include <sstream>

#include "clipboard/command_names.h"
#include "clipboard/envelope.h"
#include "shared/plugin_state.h"

namespace sorlinx::sim {

namespace {

bool near(float actual, float expected) {
  return std::fabs(actual - expected) <= 1e-5F * std::max(1.0F, std::fabs(expected));
}

bool matches(const Step& step, const Event& event) {
  switch (step.kind) {
    case StepKind::expectReply:
      return event.kind == EventKind::reply && event.text == step.text;
    case StepKind::expectPlace:
      return event.kind == EventKind::place && event.result == 0 && event.client == step.client &&
             near(event.position.x, step.position.x) && near(event.position.y, step.position.y) &&
             near(event.position.z, step.position.z);
    case StepKind::expectCue:
      return event.kind == EventKind::cue && event.text == step.text;
    case StepKind::expectMove:
      return event.kind == EventKind::move && event.client == step.client &&
             event.channel == step.channel && (!step.password || event.password == step.password);
    case StepKind::expectConnect:
      return event.kind == EventKind::connect && event.text == step.text &&
             event.number == step.number && (!step.nickname || event.nickname == step.nickname) &&
             (!step.password || event.password == step.password);
    case StepKind::expectDisconnect:
      return event.kind == EventKind::disconnect;
    case StepKind::expectLog:
      return event.kind == EventKind::log && event.text == step.text;
    case StepKind::expectNoReply:
      return event.kind == EventKind::reply;
    case StepKind::expectNoCue:
      return event.kind == EventKind::cue;
    case StepKind::expectNothing:
      // Whatever the plugin does in answer; the cues go on by themselves (the question of
      // where the plugin is installed, before the first, with them), and the start sequence
      // answers nothing.
      return event.fromPlugin && !event.atStart && event.kind != EventKind::cue &&
             !(event.kind == EventKind::query && event.text == "getPluginPath");
    default:
      return false;
  }
}

bool isNegative(StepKind kind) {
  return kind == StepKind::expectNoReply || kind == StepKind::expectNoCue ||
         kind == StepKind::expectNothing;
}

// The kind of event a positive expectation is about.
std::optional<EventKind> subjectOf(StepKind kind) {
  switch (kind) {
    case StepKind::expectReply:
      return EventKind::reply;
    case StepKind::expectPlace:
      return EventKind::place;
    case StepKind::expectCue:
      return EventKind::cue;
    case StepKind::expectMove:
      return EventKind::move;
    case StepKind::expectConnect:
      return EventKind::connect;
    case StepKind::expectDisconnect:
      return EventKind::disconnect;
    case StepKind::expectLog:
      return EventKind::log;
    default:
      return std::nullopt;
  }
}

// An event as the timeline prints it, on one line without the leading blanks.
std::string oneLine(const Event& event) {
  std::ostringstream line;
  printText(line, event);
  std::string text = line.str();
  text.pop_back();
  return text.substr(text.find_first_not_of(' '));
}

std::string ms(Milliseconds time) { return std::to_string(time.count()) + " ms"; }

// What a failed expectation is checked against: its window, every event, which of them are
// claimed, and the connection over time.
struct Context {
  const Step& step;
  Milliseconds from;
  Milliseconds to;
  // The time of the expectation before this one (0 for the first).
  Milliseconds since;
  const std::vector<Event>& events;
  const std::vector<bool>& used;
  const PluginTrace& trace;

  [[nodiscard]] bool inWindow(const Event& event) const {
    return event.time >= from && event.time <= to;
  }

  [[nodiscard]] std::int32_t statusAt(Milliseconds time) const {
    std::int32_t status = STATUS_CONNECTION_ESTABLISHED;
    for (const StatusChange& change : trace.statuses) {
      if (change.time <= time) {
        status = change.status;
      }
    }
    return status;
  }

  // The last text the game put on the clipboard in the window, or failing that before it.
  [[nodiscard]] const Event* lastText() const {
    const Event* found = nullptr;
    for (const Event& event : events) {
      if (event.time > to) {
        break;
      }
      if (event.kind == EventKind::clipboard) {
        found = &event;
      }
    }
    return found;
  }

  // The last text the plugin read before `time`, and when.
  [[nodiscard]] const PluginRead* lastReadBefore(Milliseconds time) const {
    const PluginRead* found = nullptr;
    for (const PluginRead& read : trace.reads) {
      if (read.time >= time) {
        break;
      }
      found = &read;
    }
    return found;
  }

  // When the text the game put on the clipboard (events[at]) was replaced by the next one,
  // or emptied away; nothing when it never was. (The plugin looks after the steps of its
  // time: a text replaced at the time of a look was not seen by it.)
  [[nodiscard]] std::optional<Milliseconds> replacedAt(std::size_t at) const {
    for (std::size_t i = at + 1; i < events.size(); ++i) {
      if (events[i].kind == EventKind::clipboard || events[i].noText) {
        return events[i].time;
      }
    }
    return std::nullopt;
  }

  [[nodiscard]] bool readBefore(const Event& text, Milliseconds replaced) const {
    return std::any_of(trace.reads.begin(), trace.reads.end(), [&](const PluginRead& read) {
      return read.time >= text.time && read.time < replaced && read.text == text.text;
    });
  }

  // What stood on the clipboard just before `text` was put there: the text before it, a
  // reply, or nothing.
  [[nodiscard]] std::optional<std::string> textBefore(const Event& text) const {
    std::optional<std::string> before;
    for (const Event& event : events) {
      if (&event == &text) {
        break;
      }
      if (event.kind == EventKind::clipboard || event.kind == EventKind::reply) {
        before = event.text;
      } else if (event.noText) {
        before.reset();
      }
    }
    return before;
  }
};

std::optional<Request> requestOf(const std::string& text) {
  const auto payload = envelopePayload(text);
  if (!payload || payload->empty()) {
    return std::nullopt;
  }
  return splitPayload(*payload);
}

bool sameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// A matching event after the window, in answer to the same text (no other text came
// between); cues, which go on by themselves, at any time after.
std::optional<std::string> cameLater(const Context& c) {
  const bool cue = c.step.kind == StepKind::expectCue;
  for (std::size_t i = 0; i < c.events.size(); ++i) {
    const Event& event = c.events[i];
    if (event.time <= c.to) {
      continue;
    }
    if (!cue && event.kind == EventKind::clipboard) {
      break;
    }
    if (!c.used[i] && matches(c.step, event)) {
      return "it came at " + ms(event.time) + ", after this expectation's window ends at " +
             ms(c.to) +
             (cue ? ""
                  : ": the plugin looks at the clipboard every 100 ms, so expect it at " +
                        ms(event.time));
    }
  }
  return std::nullopt;
}

std::optional<std::string> swappedHeight(const Context& c) {
  if (c.step.kind != StepKind::expectPlace) {
    return std::nullopt;
  }
  const Vector3& want = c.step.position;
  for (const Event& event : c.events) {
    if (c.inWindow(event) && event.kind == EventKind::place && event.result == 0 &&
        event.client == c.step.client && near(event.position.x, want.x) &&
        near(event.position.y, want.z) && near(event.position.z, want.y)) {
      return "frames are x, z, y (the height last): client " + std::to_string(event.client) +
             " was placed at this position with y and z swapped";
    }
  }
  return std::nullopt;
}

std::optional<std::string> notConnected(const Context& c) {
  const StepKind kind = c.step.kind;
  if (kind == StepKind::expectCue) {
    const std::int32_t status = c.statusAt(c.to);
    if (status != STATUS_CONNECTION_ESTABLISHED) {
      return "the voice client was not connected (status " + std::to_string(status) +
             "): the cues start only while connected";
    }
    return std::nullopt;
  }
  if (kind != StepKind::expectReply && kind != StepKind::expectPlace &&
      kind != StepKind::expectMove) {
    return std::nullopt;
  }
  const Event* text = c.lastText();
  if (text == nullptr || !requestOf(text->text)) {
    return std::nullopt;
  }
  const std::int32_t status = c.statusAt(text->time);
  if (status == STATUS_CONNECTION_ESTABLISHED) {
    return std::nullopt;
  }
  const char* what = kind == StepKind::expectReply   ? "queries get no reply"
                     : kind == StepKind::expectPlace ? "frames are ignored"
                                                     : "moves are not asked for";
  return "the voice client was not connected (status " + std::to_string(status) +
         ") when the request came at " + ms(text->time) + ": " + what + " while not connected";
}

// The plugin takes a text only when it differs from the last one it read: the same text
// written again, or a question asked again before the plugin has read its own reply (which
// it does on its next look), is no new request.
std::optional<std::string> sameTextAgain(const Context& c) {
  for (auto event = c.events.rbegin(); event != c.events.rend(); ++event) {
    if (event->kind != EventKind::clipboard || !c.inWindow(*event)) {
      continue;
    }
    const PluginRead* lastRead = c.lastReadBefore(event->time);
    if (lastRead == nullptr || lastRead->text != event->text) {
      return std::nullopt;  // only the last text of the window counts
    }
    const std::string advice =
        ": the same text again is not a new request (a counter after the closing tag, like #2, "
        "makes it new)";
    if (c.textBefore(*event) == event->text) {
      return "the text put on the clipboard at " + ms(event->time) +
             " is the one that stood there before" + advice;
    }
    return "the text put on the clipboard at " + ms(event->time) +
           " is the one the plugin read last, at " + ms(lastRead->time) +
           ": it had not yet read its own reply, which it does on its next look" + advice;
  }
  return std::nullopt;
}

// Whether a request of this command could have met the expectation.
bool couldMeet(StepKind kind, std::string_view command) {
  switch (kind) {
    case StepKind::expectReply:
      return commandReplies(command);
    case StepKind::expectPlace:
    case StepKind::expectCue:
      return command == "3D";
    case StepKind::expectMove:
      return command == "SwitchPlayer";
    case StepKind::expectConnect:
    case StepKind::expectDisconnect:
      return command == "ConnectToServer";
    default:
      return true;
  }
}

// A request that could have met the expectation, written over before the plugin looked:
// it never saw it. Any since the expectation before this one.
std::optional<std::string> replacedUnread(const Context& c) {
  for (std::size_t i = c.events.size(); i-- > 0;) {
    const Event& text = c.events[i];
    const auto request = text.kind == EventKind::clipboard ? requestOf(text.text) : std::nullopt;
    if (!request || text.time < c.since || text.time > c.to ||
        !couldMeet(c.step.kind, request->command)) {
      continue;
    }
    const std::optional<Milliseconds> replaced = c.replacedAt(i);
    if (replaced && !c.readBefore(text, *replaced)) {
      return "the request put on the clipboard at " + ms(text.time) + " was written over at " +
             ms(*replaced) +
             ", before the plugin looked (it looks every 100 ms): it never saw it. Let a "
             "request stand 200 ms, or until its reply";
    }
  }
  return std::nullopt;
}

// A record of the frame that the plugin skipped, about the client expected.
std::optional<std::string> recordSkipped(const Context& c) {
  if (c.step.kind != StepKind::expectPlace) {
    return std::nullopt;
  }
  const std::string start = "{" + std::to_string(c.step.client) + "[";
  for (const Event& event : c.events) {
    if (c.inWindow(event) && event.kind == EventKind::skipped && event.text.starts_with(start)) {
      return "the plugin skipped the record " + printable(event.text, 80) + ": " + event.detail;
    }
  }
  return std::nullopt;
}

// The last stale-frame reset at or before `time`.
std::optional<Milliseconds> resetBefore(const Context& c, Milliseconds time) {
  std::optional<Milliseconds> found;
  for (const Milliseconds reset : c.trace.resets) {
    if (reset <= time) {
      found = reset;
    }
  }
  return found;
}

std::string resetText(Milliseconds reset) {
  return "the stale-frame reset at " + ms(reset) +
         " (twenty looks, about two seconds, without a new request) emptied the radio lists "
         "and put the local channel back at the origin";
}

// Cues expected after the reset stopped them.
std::optional<std::string> stoppedByReset(const Context& c) {
  if (c.step.kind != StepKind::expectCue) {
    return std::nullopt;
  }
  const std::optional<Milliseconds> reset = resetBefore(c, c.to);
  if (!reset) {
    return std::nullopt;
  }
  const bool frameSince =
      std::any_of(c.trace.reads.begin(), c.trace.reads.end(), [&](const PluginRead& read) {
        const auto request = requestOf(read.text);
        return read.time > *reset && read.time <= c.to && request && request->command == "3D";
      });
  if (frameSince) {
    return std::nullopt;
  }
  return resetText(*reset) +
         ": the cues stopped with them. Keep frames coming while the game "
         "runs";
}

std::optional<std::string> notARequest(const Context& c) {
  const Event* text = c.lastText();
  if (text == nullptr || !c.inWindow(*text) || envelopePayload(text->text)) {
    return std::nullopt;
  }
  const std::size_t tag = text->text.find(OPENING_TAG);
  if (tag == std::string::npos) {
    return "the text put on the clipboard at " + ms(text->time) +
           " is not a request: a request begins with " + std::string(OPENING_TAG) +
           " and ends with " + std::string(CLOSING_TAG);
  }
  if (tag > 0) {
    return "the text put on the clipboard at " + ms(text->time) + " has " + std::to_string(tag) +
           " byte" + (tag == 1 ? "" : "s") + " before " + std::string(OPENING_TAG) +
           ": a request must begin with it, not even a blank before";
  }
  return "the text put on the clipboard at " + ms(text->time) + " has no " +
         std::string(CLOSING_TAG) + ": it is not a request";
}

std::optional<std::string> wrongCommand(const Context& c) {
  const Event* text = c.lastText();
  if (text == nullptr || !c.inWindow(*text)) {
    return std::nullopt;
  }
  const auto request = requestOf(text->text);
  if (!request) {
    return std::nullopt;
  }
  const std::string command(request->command);
  if (!commandNamed(request->command)) {
    const auto alike =
        std::find_if(COMMAND_NAMES.begin(), COMMAND_NAMES.end(),
                     [&](const CommandName& known) { return sameLetters(known.name, command); });
    return "the plugin knows no command \"" + printable(command, 40) + "\"" +
           (alike != COMMAND_NAMES.end() ? ": names are compared byte for byte, did you mean " +
                                               std::string(alike->name) + "?"
                                         : "");
  }
  if (c.step.kind == StepKind::expectReply && !commandReplies(request->command)) {
    return command + " gives no reply: the clipboard keeps the request";
  }
  return std::nullopt;
}

std::optional<std::string> refused(const Context& c) {
  if (c.step.kind != StepKind::expectPlace && c.step.kind != StepKind::expectMove) {
    return std::nullopt;
  }
  const std::optional<EventKind> subject = subjectOf(c.step.kind);
  for (const Event& event : c.events) {
    if (c.inWindow(event) && event.kind == subject && event.client == c.step.client &&
        event.result != 0) {
      std::string why = "the voice client refused it (error " + std::to_string(event.result) + ")";
      if (event.result == 512) {
        why += ": client " + std::to_string(event.client) +
               " is not on the server (a session brings clients in with client steps)";
      }
      return why;
    }
  }
  return std::nullopt;
}

std::optional<std::string> nothingWritten(const Context& c) {
  if (c.step.kind == StepKind::expectCue) {
    return std::nullopt;
  }
  const bool wrote = std::any_of(c.events.begin(), c.events.end(), [&c](const Event& event) {
    return event.kind == EventKind::clipboard && c.inWindow(event);
  });
  if (wrote) {
    return std::nullopt;
  }
  return "nothing was put on the clipboard between " + ms(c.from) + " and " + ms(c.to);
}

// The first of the usual mistakes that explains a positive expectation's failure.
std::string hintFor(const Context& c) {
  using Explainer = std::optional<std::string> (*)(const Context&);
  for (const Explainer explain :
       {cameLater, swappedHeight, recordSkipped, refused, stoppedByReset, notConnected,
        sameTextAgain, replacedUnread, notARequest, wrongCommand, nothingWritten}) {
    if (auto hint = explain(c)) {
      return *hint;
    }
  }
  return {};
}

// For a negative expectation: what the unwanted event answered, or the stale-frame reset
// that made it.
std::string answeredText(const std::vector<Event>& events, const Event& unwanted,
                         const PluginTrace& trace) {
  if (std::find(trace.resets.begin(), trace.resets.end(), unwanted.time) != trace.resets.end() &&
      unwanted.kind != EventKind::reply && unwanted.kind != EventKind::cue) {
    return "it is the stale-frame reset at " + ms(unwanted.time) +
           ": twenty looks (about two seconds) after the last request the plugin empties the "
           "radio lists and puts the local channel back at the origin";
  }
  const Event* text = nullptr;
  for (const Event& event : events) {
    if (event.time > unwanted.time) {
      break;
    }
    if (event.kind == EventKind::clipboard) {
      text = &event;
    }
  }
  if (text == nullptr || unwanted.kind == EventKind::cue) {
    return {};
  }
  return "it answers the text put on the clipboard at " + ms(text->time) + ": " +
         printable(text->text, 80);
}

// For a failed expectation, the events of its kind that did happen in its window: a hint
// at what the game got wrong.
std::string seenInWindow(const std::vector<Event>& events, Milliseconds from, Milliseconds to,
                         const Step& step) {
  const std::optional<EventKind> subject = subjectOf(step.kind);
  std::string seen;
  int shown = 0;
  for (const Event& event : events) {
    if (!subject || event.kind != *subject || event.time < from || event.time > to) {
      continue;
    }
    if (++shown > 3) {
      seen += "; ...";
      break;
    }
    seen += (seen.empty() ? "saw: " : "; ") + oneLine(event);
  }
  return seen;
}

}  // namespace

Tally checkExpectations(const std::vector<Step>& steps, std::vector<Event>& events,
                        const PluginTrace& trace) {
  Tally tally;
  std::vector<bool> used(events.size(), false);
  Milliseconds from{0};
  Milliseconds groupTime{0};
  Milliseconds lastExpectation{0};
  std::vector<Event> checked;
  for (const Step& step : steps) {
    if (step.time > groupTime) {
      from = groupTime;
      groupTime = step.time;
    }
    if (!isExpectation(step.kind)) {
      continue;
    }
    const Milliseconds to = step.time;
    Event result;
    result.time = step.time;
    result.kind = EventKind::expectation;
    result.text = step.source;
    result.line = step.at.line;
    std::size_t found = events.size();
    for (std::size_t i = 0; i < events.size(); ++i) {
      const Event& event = events[i];
      if (event.time >= from && event.time <= to && !used[i] && matches(step, event)) {
        found = i;
        break;
      }
    }
    const std::string window = "between " + ms(from) + " and " + ms(to);
    if (isNegative(step.kind)) {
      result.met = found == events.size();
      if (!result.met) {
        result.detail = "but " + window + " there was: " + oneLine(events[found]);
        result.hint = answeredText(events, events[found], trace);
      }
    } else {
      result.met = found != events.size();
      if (result.met) {
        used[found] = true;
      } else {
        const std::string seen = seenInWindow(events, from, to, step);
        result.detail = "nothing like it " + window + (seen.empty() ? "" : "; " + seen);
        result.hint = hintFor({step, from, to, lastExpectation, events, used, trace});
      }
    }
    lastExpectation = step.time;
    ++tally.expectations;
    if (!result.met) {
      ++tally.failed;
    }
    checked.push_back(std::move(result));
  }
  // Each expectation shows after the events of its time.
  for (Event& event : checked) {
    const auto position =
        std::upper_bound(events.begin(), events.end(), event.time,
                         [](Milliseconds time, const Event& other) { return time < other.time; });
    events.insert(position, std::move(event));
  }
  return tally;
}

}  // namespace sorlinx::sim
