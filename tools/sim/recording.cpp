#include "recording.h"

#include <charconv>
#include <cstdio>
#include <ostream>

namespace sorlinx::sim {

namespace {

std::string number(float value) {
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

// The step that stands for an event: a clipboard text, or an expectation of what the plugin
// did. Empty for the events that a session does not write down (the world's own changes,
// queries, refused placements, the start sequence).
std::string stepFor(const Event& event) {
  switch (event.kind) {
    case EventKind::clipboard:
      return "clip " + sessionQuoted(event.text);
    case EventKind::world:
      if (event.writeFails) {
        return "hold for 1 write";
      }
      return event.noText ? "empty" : event.attemptFails ? "hold for 1 attempt" : "";
    default:
      break;
  }
  if (!event.fromPlugin || event.atStart) {
    return {};
  }
  switch (event.kind) {
    case EventKind::reply:
      return "expect reply " + sessionQuoted(event.text);
    case EventKind::place:
      if (event.result != 0) {
        return {};  // the log line that follows tells of it
      }
      return "expect place " + std::to_string(event.client) + " x " + number(event.position.x) +
             " y " + number(event.position.y) + " z " + number(event.position.z);
    case EventKind::cue:
      return "expect cue " + event.text;
    case EventKind::move:
      return "expect move " + std::to_string(event.client) + " to " +
             std::to_string(event.channel) + " password " +
             sessionQuoted(event.password.value_or(""));
    case EventKind::connect:
      return "expect connect " + sessionQuoted(event.text) + " port " +
             std::to_string(event.number) + " nickname " +
             sessionQuoted(event.nickname.value_or("")) + " password " +
             sessionQuoted(event.password.value_or(""));
    case EventKind::disconnect:
      return "expect disconnect";
    case EventKind::log:
      return "expect log " + sessionQuoted(event.text);
    default:
      return {};
  }
}

void line(std::ostream& out, Milliseconds time, const std::string& step) {
  char head[32];
  std::snprintf(head, sizeof head, "%-7lld", static_cast<long long>(time.count()));
  out << head << step << '\n';
}

}  // namespace

std::string sessionQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (byte < 0x20 || byte >= 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02x", byte);
          quoted += escape;
        } else {
          quoted += c;
        }
    }
  }
  return quoted + "\"";
}

void writeRecording(std::ostream& out, const std::vector<Step>& worldSteps, const Outcome& outcome,
                    int pluginInterface) {
  out << "# Recorded by sorlinx-sim --live against plugin interface " << pluginInterface
      << ": the game's clipboard texts as the\n"
      << "# plugin read them, and what the plugin did, as expectations. Replay it with\n"
      << "#   sorlinx-sim" << (pluginInterface == 4 ? " --interface 4" : "") << " THIS-FILE\n"
      << "# Texts that were not requests (what the player copied) stand as their length.\n"
      << "# Live, the plugin found each text at a regular look: the replay hears of no change.\n";
  line(out, Milliseconds(0), "notices off");
  auto world = worldSteps.begin();
  for (const Event& event : outcome.events) {
    // The world's steps come before what happened at their time.
    for (; world != worldSteps.end() && world->time <= event.time; ++world) {
      line(out, world->time, world->source);
    }
    if (const std::string step = stepFor(event); !step.empty()) {
      line(out, event.time, step);
    }
  }
  for (; world != worldSteps.end(); ++world) {
    line(out, world->time, world->source);
  }
}

}  // namespace sorlinx::sim
