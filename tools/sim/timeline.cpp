#include "timeline.h"

#include <charconv>
#include <cstdio>
#include <ostream>
#include <sstream>

namespace sorlinx::sim {

namespace {

// The text argument of a recorded call, without its quotes ("null" stays as it is).
std::string unquoted(const std::string& argument) {
  if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"') {
    return argument.substr(1, argument.size() - 2);
  }
  return argument;
}

template <typename Number>
Number parsed(const std::string& argument) {
  Number value{};
  std::from_chars(argument.data(), argument.data() + argument.size(), value);
  return value;
}

float parsedFloat(const std::string& argument) {
  // The recorder wrote the shortest text that reads back exactly.
  float value = 0;
  std::from_chars(argument.data(), argument.data() + argument.size(), value);
  return value;
}

std::string cueName(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0) {
    name.resize(name.size() - 4);
  }
  return name;
}

std::string formatted(float value) {
  char digits[32];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  return std::string(digits, result.ptr);
}

// A JSON string: UTF-8 as it stands, control characters escaped, and each byte that is no
// part of well-formed UTF-8 (the clipboard holds 8-bit text) as \u00XX, its value.
std::string jsonString(const std::string& text) {
  std::string quoted = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const auto byte = static_cast<unsigned char>(c);
    const std::size_t length = utf8SequenceLength(std::string_view(text).substr(at));
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte == 0x7F || length == 0) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      quoted += escape;
    } else {
      quoted.append(text, at, length);
      at += length;
      continue;
    }
    ++at;
  }
  return quoted + "\"";
}

std::string clientLabel(const Event& event) {
  std::string label = "client " + std::to_string(event.client);
  if (event.nickname) {
    label += " (" + printable(*event.nickname, 40) + ")";
  }
  return label;
}

std::string refusal(const Event& event) {
  return event.result == 0 ? "" : "  REFUSED (error " + std::to_string(event.result) + ")";
}

std::string describe(const Event& event) {
  switch (event.kind) {
    case EventKind::clipboard:
    case EventKind::reply:
      return printable(event.text);
    case EventKind::place:
      return clientLabel(event) + "  x " + formatted(event.position.x) + "  y " +
             formatted(event.position.y) + "  z " + formatted(event.position.z) + refusal(event);
    case EventKind::cue:
      return event.text + ".wav" + refusal(event);
    case EventKind::move:
      return clientLabel(event) + " to channel " + std::to_string(event.channel) +
             (event.password && !event.password->empty()
                  ? ", password \"" + printable(*event.password, 40) + "\""
                  : "") +
             refusal(event);
    case EventKind::connect:
      return printable(event.text, 80) + " port " + std::to_string(event.number) + " as \"" +
             printable(event.nickname.value_or(""), 40) + "\"" +
             (event.password && !event.password->empty() ? " with a server password" : "") +
             (event.detail.empty() ? "" : ", " + event.detail) + refusal(event);
    case EventKind::disconnect:
      return "quit message \"" + printable(event.text, 80) + "\"" + refusal(event);
    case EventKind::log:
      return printable(event.text);
    case EventKind::query:
      return event.text + "(" + event.arguments + ")" +
             (event.result != 0 ? refusal(event)
                                : (event.answer.empty() ? "" : " -> " + event.answer));
    case EventKind::world:
      return event.text;
    case EventKind::lists:
      return printable(event.text, 400);
    case EventKind::skipped:
      return printable(event.text, 80) + ": " + event.detail;
    case EventKind::expectation:
      return std::string(event.met ? "met    " : "FAILED ") + "line " + std::to_string(event.line) +
             ": " + event.text + (event.met ? "" : "\n" + std::string(22, ' ') + event.detail) +
             (event.hint.empty() ? "" : "\n" + std::string(22, ' ') + "hint: " + event.hint);
  }
  return {};
}

}  // namespace

const char* skipReasonText(SkipReason reason) {
  switch (reason) {
    case SkipReason::noOpeningBracket:
      return "no \"[\" after the client";
    case SkipReason::noFirstComma:
      return "no \",\" after x";
    case SkipReason::noSecondComma:
      return "no \",\" after z";
    case SkipReason::noClosingBracket:
      return "no \"]\" after y";
    case SkipReason::badClient:
      return "the client is no number from 0 to 65535";
    case SkipReason::badX:
      return "x is no number, or beyond the float range";
    case SkipReason::badZ:
      return "z is no number, or beyond the float range";
    case SkipReason::badY:
      return "y is no number, or beyond the float range";
  }
  return "?";
}

std::size_t utf8SequenceLength(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) {
    return 1;
  }
  // The lead byte gives the length and the range of the second byte, which rules out
  // overlong forms, surrogates and code points beyond U+10FFFF.
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) {
      return 0;
    }
  }
  return length;
}

std::string printable(const std::string& text, std::size_t limit) {
  std::string shown;
  for (const char c : text) {
    if (shown.size() >= limit) {
      shown += "... (" + std::to_string(text.size()) + " bytes)";
      break;
    }
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", byte);
      shown += escape;
    } else {
      shown += c;
    }
  }
  return shown;
}

Event eventFromCall(const HostCall& call, Milliseconds time,
                    const std::optional<std::string>& nickname) {
  Event event;
  event.time = time;
  event.result = call.result;
  event.fromPlugin = true;
  const auto& args = call.args;
  if (call.entry == "channelset3DAttributes" && args.size() >= 5) {
    event.kind = EventKind::place;
    event.client = parsed<ClientId>(args[1]);
    event.position = {parsedFloat(args[2]), parsedFloat(args[3]), parsedFloat(args[4])};
  } else if (call.entry == "playWaveFile" && args.size() == 2) {
    event.kind = EventKind::cue;
    event.text = cueName(unquoted(args[1]));
  } else if ((call.entry == "requestChannelMove" || call.entry == "requestClientMove") &&
             args.size() == 5) {
    event.kind = EventKind::move;
    event.client = parsed<ClientId>(args[1]);
    event.channel = parsed<ChannelId>(args[2]);
    event.password = unquoted(args[3]);
  } else if (call.entry == "startConnection" && args.size() == 8) {
    event.kind = EventKind::connect;
    // The identity is the user's secret: the timeline only tells whether one was given.
    event.detail = unquoted(args[1]).empty() || args[1] == "null" ? "WITHOUT an identity"
                                                                  : "with the identity";
    event.text = unquoted(args[2]);
    event.number = parsed<long long>(args[3]);
    event.nickname = unquoted(args[4]);
    event.password = unquoted(args[7]);
    return event;
  } else if (call.entry == "stopConnection" && args.size() == 2) {
    event.kind = EventKind::disconnect;
    event.text = unquoted(args[1]);
  } else if (call.entry == "logMessage" && !args.empty()) {
    event.kind = EventKind::log;
    event.text = unquoted(args[0]);
  } else {
    event.kind = EventKind::query;
    event.text = call.entry;
    event.arguments = call.arguments;
    event.answer = call.answer;
  }
  if (event.client != 0) {
    event.nickname = nickname;
  }
  return event;
}

const char* kindName(EventKind kind) {
  switch (kind) {
    case EventKind::clipboard:
      return "clipboard";
    case EventKind::reply:
      return "reply";
    case EventKind::place:
      return "place";
    case EventKind::cue:
      return "cue";
    case EventKind::move:
      return "move";
    case EventKind::connect:
      return "connect";
    case EventKind::disconnect:
      return "disconnect";
    case EventKind::log:
      return "log";
    case EventKind::query:
      return "call";
    case EventKind::world:
      return "world";
    case EventKind::lists:
      return "lists";
    case EventKind::skipped:
      return "skipped";
    case EventKind::expectation:
      return "expect";
  }
  return "?";
}

void printText(std::ostream& out, const Event& event) {
  char head[32];
  std::snprintf(head, sizeof head, "%8lld ms  %-10s ", static_cast<long long>(event.time.count()),
                kindName(event.kind));
  out << head << describe(event) << '\n';
}

void printJson(std::ostream& out, const Event& event) {
  out << "{\"time_ms\":" << event.time.count() << ",\"event\":\"" << kindName(event.kind) << '"';
  const auto field = [&out](const char* name, const std::string& value) {
    out << ",\"" << name << "\":" << jsonString(value);
  };
  switch (event.kind) {
    case EventKind::place:
      out << ",\"client\":" << event.client << ",\"x\":" << formatted(event.position.x)
          << ",\"y\":" << formatted(event.position.y) << ",\"z\":" << formatted(event.position.z);
      break;
    case EventKind::move:
      out << ",\"client\":" << event.client << ",\"channel\":" << event.channel;
      field("password", event.password.value_or(""));
      break;
    case EventKind::connect:
      field("address", event.text);
      out << ",\"port\":" << event.number;
      field("nickname", event.nickname.value_or(""));
      field("server_password", event.password.value_or(""));
      out << ",\"identity_given\":" << (event.detail == "with the identity" ? "true" : "false");
      break;
    case EventKind::lists: {
      const auto ids = [&out](const char* name, const std::vector<ClientId>& list) {
        out << ",\"" << name << "\":[";
        for (std::size_t i = 0; i < list.size(); ++i) {
          out << (i == 0 ? "" : ",") << list[i];
        }
        out << ']';
      };
      ids("rc", event.rc);
      ids("rl", event.rl);
      field("text", event.text);
      break;
    }
    case EventKind::skipped:
      field("text", event.text);
      field("why", event.detail);
      break;
    case EventKind::query:
      field("entry", event.text);
      field("arguments", event.arguments);
      field("answer", event.answer);
      break;
    case EventKind::expectation:
      out << ",\"met\":" << (event.met ? "true" : "false") << ",\"line\":" << event.line;
      field("step", event.text);
      if (!event.met) {
        field("why", event.detail);
        if (!event.hint.empty()) {
          field("hint", event.hint);
        }
      }
      break;
    default:
      field("text", event.text);
  }
  if (event.nickname && event.kind != EventKind::connect) {
    field("nickname", *event.nickname);
  }
  if (event.fromPlugin) {
    out << ",\"result\":" << event.result;
  }
  out << "}\n";
}

void printSummary(std::ostream& out, bool json, int expectations, int failed,
                  std::optional<Milliseconds> behind) {
  if (json) {
    out << "{\"event\":\"summary\",\"expectations\":" << expectations << ",\"failed\":" << failed;
    if (behind) {
      out << ",\"behind_ms\":" << behind->count();
    }
    out << "}\n";
    return;
  }
  out << "\n" << expectations << " expectation" << (expectations == 1 ? "" : "s");
  if (failed != 0) {
    out << ", " << failed << " FAILED";
  } else if (expectations != 0) {
    out << ", all met";
  }
  if (behind) {
    out << "; in real time, at most " << behind->count() << " ms behind the wall clock";
  }
  out << "\n";
}

}  // namespace sorlinx::sim
