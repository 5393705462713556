#include "session.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "clipboard/envelope.h"

namespace sorlinx::sim {

SessionError::SessionError(SourcePosition position, const std::string& message)
    : std::runtime_error("line " + std::to_string(position.line) + ", column " +
                         std::to_string(position.column) + ": " + message),
      at(position) {}

bool isExpectation(StepKind kind) { return kind >= StepKind::expectReply; }

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Reads one line of a session, left to right.
class LineReader {
 public:
  LineReader(std::string_view line, int lineNumber) : line_(line), lineNumber_(lineNumber) {}

  // Where the next word starts: errors point there.
  SourcePosition here() {
    skipBlanks();
    return {lineNumber_, static_cast<int>(position_) + 1};
  }

  [[noreturn]] void fail(const std::string& message) { throw SessionError(here(), message); }

  void skipBlanks() {
    while (position_ < line_.size() && isBlank(line_[position_])) {
      ++position_;
    }
  }

  // The line ends here, or a comment starts.
  bool atEnd() {
    skipBlanks();
    return position_ >= line_.size() || line_[position_] == '#';
  }

  // A word: up to the next blank. Empty at the end of the line.
  std::string_view word() {
    if (atEnd()) {
      return {};
    }
    const std::size_t start = position_;
    while (position_ < line_.size() && !isBlank(line_[position_])) {
      ++position_;
    }
    return line_.substr(start, position_ - start);
  }

  std::string_view expectWord(const char* what) {
    const std::string_view found = word();
    if (found.empty()) {
      fail(std::string("expected ") + what);
    }
    return found;
  }

  // The next word if it equals `keyword` (which is then consumed).
  bool accept(std::string_view keyword) {
    const std::size_t saved = position_;
    if (word() == keyword) {
      return true;
    }
    position_ = saved;
    return false;
  }

  void require(std::string_view keyword) {
    if (!accept(keyword)) {
      fail("expected \"" + std::string(keyword) + "\"");
    }
  }

  // A text: in double quotes (with \" \\ \n \r \t \xHH), or one word.
  std::string text(const char* what) {
    if (atEnd()) {
      fail(std::string("expected ") + what);
    }
    if (line_[position_] == '"') {
      return quoted();
    }
    return std::string(word());
  }

  // The rest of the line: a quoted text, or everything up to a comment with the blanks
  // around it trimmed.
  std::string rest() {
    if (atEnd()) {
      return {};
    }
    if (line_[position_] == '"') {
      std::string value = quoted();
      if (!atEnd()) {
        fail("unexpected text after the closing quote");
      }
      return value;
    }
    const std::size_t start = position_;
    std::size_t end = start;
    while (position_ < line_.size()) {
      if (line_[position_] == '#' && isBlank(line_[position_ - 1])) {
        break;
      }
      ++position_;
      if (!isBlank(line_[position_ - 1])) {
        end = position_;
      }
    }
    return std::string(line_.substr(start, end - start));
  }

  template <typename Number>
  Number integer(const char* what, Number low, Number high) {
    const SourcePosition at = here();
    const std::string_view token = expectWord(what);
    int base = 10;
    std::string_view digits = token;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
      base = 16;
      digits.remove_prefix(2);
    }
    long long value = 0;
    unsigned long long unsignedValue = 0;
    std::from_chars_result result{};
    if constexpr (std::numeric_limits<Number>::is_signed) {
      result = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    } else {
      result = std::from_chars(digits.data(), digits.data() + digits.size(), unsignedValue, base);
    }
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size() || digits.empty()) {
      throw SessionError(
          at, std::string("expected ") + what + ", found \"" + std::string(token) + "\"");
    }
    if constexpr (std::numeric_limits<Number>::is_signed) {
      if (value < static_cast<long long>(low) || value > static_cast<long long>(high)) {
        throw SessionError(at, std::string(what) + " out of range: " + std::string(token));
      }
      return static_cast<Number>(value);
    } else {
      if (unsignedValue < low || unsignedValue > high) {
        throw SessionError(at, std::string(what) + " out of range: " + std::string(token));
      }
      return static_cast<Number>(unsignedValue);
    }
  }

  float coordinate(const char* what) {
    const SourcePosition at = here();
    const std::string_view token = expectWord(what);
    float value = 0;
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    if (result.ec != std::errc() || result.ptr != token.data() + token.size() ||
        !std::isfinite(value)) {
      throw SessionError(
          at, std::string("expected ") + what + ", found \"" + std::string(token) + "\"");
    }
    return value;
  }

  void end() {
    if (!atEnd()) {
      const SourcePosition at = here();
      throw SessionError(at, "unexpected \"" + std::string(word()) + "\" at the end of the step");
    }
  }

  // The text from `start` to where the step ended, before any comment, blanks trimmed.
  [[nodiscard]] std::string_view stepText(std::size_t start) const {
    std::size_t end = std::min(position_, line_.size());
    while (end > start && isBlank(line_[end - 1])) {
      --end;
    }
    return line_.substr(start, end - start);
  }

  [[nodiscard]] std::size_t offset() const { return position_; }

 private:
  std::string quoted() {
    const SourcePosition opening = here();
    ++position_;
    std::string value;
    while (position_ < line_.size()) {
      const char c = line_[position_++];
      if (c == '"') {
        return value;
      }
      if (c != '\\') {
        value += c;
        continue;
      }
      if (position_ >= line_.size()) {
        break;
      }
      const char escaped = line_[position_++];
      switch (escaped) {
        case 'n':
          value += '\n';
          break;
        case 'r':
          value += '\r';
          break;
        case 't':
          value += '\t';
          break;
        case 'x': {
          unsigned byte = 0;
          const auto result =
              std::from_chars(line_.data() + position_,
                              line_.data() + std::min(position_ + 2, line_.size()), byte, 16);
          if (result.ptr != line_.data() + position_ + 2) {
            fail("\\x takes two hexadecimal digits");
          }
          position_ += 2;
          value += static_cast<char>(byte);
          break;
        }
        default:
          value += escaped;  // \" and \\ and anything else stand for themselves
      }
    }
    throw SessionError(opening, "this quote is never closed");
  }

  std::string_view line_;
  int lineNumber_;
  std::size_t position_ = 0;
};

Milliseconds readTime(LineReader& reader, Milliseconds previous) {
  const SourcePosition at = reader.here();
  std::string_view token = reader.word();
  const bool relative = token.starts_with('+');
  if (relative) {
    token.remove_prefix(1);
  }
  const std::optional<Milliseconds> time = parseTime(token);
  if (!time) {
    throw SessionError(at,
                       "a step starts with its time in milliseconds (like 0, 2500, +100 "
                       "or 2.5s)");
  }
  const Milliseconds absolute = relative ? previous + *time : *time;
  if (absolute < previous) {
    throw SessionError(at, "time " + std::to_string(absolute.count()) +
                               " ms comes before the previous step's " +
                               std::to_string(previous.count()) + " ms");
  }
  return absolute;
}

// A duration inside a step (repeat's period and length), in the times' own syntax.
Milliseconds readDuration(LineReader& reader, const char* what) {
  const SourcePosition at = reader.here();
  const std::string_view token = reader.expectWord(what);
  const std::optional<Milliseconds> time = parseTime(token);
  if (!time) {
    throw SessionError(at, std::string("expected ") + what +
                               " (like 500, 500ms or 2.5s), found \"" + std::string(token) + "\"");
  }
  return *time;
}

ClientId clientNumber(LineReader& reader) {
  return reader.integer<ClientId>("a client number (0 to 65535)", 0, 65535);
}

ChannelId channelNumber(LineReader& reader) {
  return reader.integer<ChannelId>("a channel number", 0, std::numeric_limits<ChannelId>::max());
}

void readExpectation(LineReader& reader, Step& step) {
  const SourcePosition whatAt = reader.here();
  const std::string_view what = reader.expectWord(
      "what to expect: reply, place, cue, move, connect, disconnect, log, "
      "nothing, no reply or no cue");
  if (what == "reply") {
    step.kind = StepKind::expectReply;
    step.text = reader.rest();
  } else if (what == "no") {
    if (reader.accept("reply")) {
      step.kind = StepKind::expectNoReply;
    } else if (reader.accept("cue")) {
      step.kind = StepKind::expectNoCue;
    } else {
      reader.fail("expected \"reply\" or \"cue\" after \"no\"");
    }
  } else if (what == "place") {
    step.kind = StepKind::expectPlace;
    step.client = clientNumber(reader);
    // Either "x 1 y 2 z 3" or three numbers in x, y, z order.
    if (reader.accept("x")) {
      step.position.x = reader.coordinate("the x coordinate");
      reader.require("y");
      step.position.y = reader.coordinate("the y coordinate");
      reader.require("z");
      step.position.z = reader.coordinate("the z coordinate");
    } else {
      step.position.x = reader.coordinate("the x coordinate");
      step.position.y = reader.coordinate("the y coordinate");
      step.position.z = reader.coordinate("the z coordinate");
    }
  } else if (what == "cue") {
    step.kind = StepKind::expectCue;
    const SourcePosition at = reader.here();
    std::string cue(reader.expectWord("rc, rl or bruit"));
    if (cue.ends_with(".wav")) {
      cue.resize(cue.size() - 4);
    }
    if (cue != "rc" && cue != "rl" && cue != "bruit") {
      throw SessionError(at, "the cues are rc, rl and bruit");
    }
    step.text = cue;
  } else if (what == "move") {
    step.kind = StepKind::expectMove;
    step.client = clientNumber(reader);
    reader.require("to");
    step.channel = channelNumber(reader);
    if (reader.accept("password")) {
      step.password = reader.text("the password");
    }
  } else if (what == "connect") {
    step.kind = StepKind::expectConnect;
    step.text = reader.text("the server address");
    reader.require("port");
    step.number = reader.integer<std::int32_t>("a port number", std::numeric_limits<int>::min(),
                                               std::numeric_limits<int>::max());
    while (!reader.atEnd()) {
      if (reader.accept("nickname")) {
        step.nickname = reader.text("the nickname");
      } else if (reader.accept("password")) {
        step.password = reader.text("the server password");
      } else {
        reader.fail("expected \"nickname\" or \"password\"");
      }
    }
  } else if (what == "disconnect") {
    step.kind = StepKind::expectDisconnect;
  } else if (what == "log") {
    step.kind = StepKind::expectLog;
    step.text = reader.rest();
  } else if (what == "nothing") {
    step.kind = StepKind::expectNothing;
  } else {
    throw SessionError(
        whatAt, "cannot expect \"" + std::string(what) +
                    "\": expect reply, place, cue, move, connect, disconnect, log, nothing, no "
                    "reply or no cue");
  }
}

Step readStep(LineReader& reader, Milliseconds previous, bool& started) {
  Step step;
  step.at = reader.here();
  step.time = readTime(reader, previous);
  reader.skipBlanks();
  const SourcePosition actionAt = reader.here();
  const std::size_t actionStart = reader.offset();
  std::string_view action = reader.expectWord("an action after the time");
  if (action == "repeat") {
    const SourcePosition everyAt = reader.here();
    step.every = readDuration(reader, "how often to repeat");
    if (step.every.count() == 0) {
      throw SessionError(everyAt, "a repeat needs a period of at least 1 ms");
    }
    reader.require("for");
    const SourcePosition lastingAt = reader.here();
    step.lasting = readDuration(reader, "how long to repeat");
    const long long repeats = (step.lasting.count() + step.every.count() - 1) / step.every.count();
    if (repeats == 0) {
      throw SessionError(lastingAt, "a repeat lasts at least 1 ms");
    }
    if (repeats > MAX_REPEATS) {
      throw SessionError(lastingAt, "that repeats " + std::to_string(repeats) +
                                        " times; one step repeats at most " +
                                        std::to_string(MAX_REPEATS) + " times");
    }
    const SourcePosition repeatedAt = reader.here();
    action = reader.expectWord("send or clip after the repeat's length");
    if (action != "send" && action != "clip") {
      throw SessionError(repeatedAt,
                         "a repeat repeats send or clip, not \"" + std::string(action) + "\"");
    }
  }
  if (action == "send") {
    step.kind = StepKind::send;
    step.command = std::string(reader.expectWord("the command to send, like 3D or GetVersion"));
    step.text = reader.rest();
  } else if (action == "clip") {
    step.kind = StepKind::clip;
    step.text = reader.rest();
  } else if (action == "empty") {
    step.kind = StepKind::empty;
    reader.accept("clipboard");
  } else if (action == "hold" || action == "release") {
    step.kind = action == "hold" ? StepKind::hold : StepKind::release;
    reader.accept("clipboard");
    // "hold for N attempts": only the plugin's next N attempts to open the clipboard fail;
    // "hold for N writes": only its next N attempts to write its reply.
    if (step.kind == StepKind::hold && reader.accept("for")) {
      step.flag = true;
      step.number = reader.integer<int>("a number of attempts", 1, 1000000);
      if (reader.accept("writes") || reader.accept("write")) {
        step.text = "writes";
      } else if (!reader.accept("attempts") && !reader.accept("attempt")) {
        reader.fail("expected \"attempts\" or \"writes\" after the number");
      }
    }
  } else if (action == "notices") {
    // "notices after DELAY": from now on a change of the clipboard wakes the plugin DELAY
    // after it; "notices off": no notices, the plugin finds changes on its regular looks.
    step.kind = StepKind::notices;
    step.flag = !reader.accept("off");
    if (step.flag) {
      reader.require("after");
      step.number = readDuration(reader, "the notices' delay").count();
    }
  } else if (action == "client") {
    step.kind = StepKind::client;
    step.client = clientNumber(reader);
    step.text = reader.text("the client's nickname");
    reader.require("in");
    step.channel = channelNumber(reader);
    step.flag = reader.accept("local");
  } else if (action == "leave") {
    step.kind = StepKind::leave;
    step.client = clientNumber(reader);
  } else if (action == "rename") {
    step.kind = StepKind::rename;
    step.client = clientNumber(reader);
    step.text = reader.text("the new nickname");
  } else if (action == "move") {
    step.kind = StepKind::move;
    step.client = clientNumber(reader);
    reader.require("to");
    step.channel = channelNumber(reader);
  } else if (action == "local") {
    step.kind = StepKind::local;
    step.client = clientNumber(reader);
  } else if (action == "connect") {
    step.kind = StepKind::connect;
  } else if (action == "disconnect") {
    step.kind = StepKind::disconnect;
  } else if (action == "status") {
    step.kind = StepKind::status;
    step.number = reader.integer<std::int32_t>("a connection status", -1000000, 1000000);
  } else if (action == "fail" || action == "heal") {
    step.kind = action == "fail" ? StepKind::fail : StepKind::heal;
    step.text = std::string(reader.expectWord("a voice client entry, like getClientID"));
    step.number = 1;
    while (!reader.atEnd()) {
      if (reader.accept("client")) {
        step.client = clientNumber(reader);
        step.flag = true;
      } else if (step.kind == StepKind::fail && reader.accept("code")) {
        step.number = reader.integer<HostError>("an error code", 1, 0xFFFFFFFF);
      } else {
        reader.fail(step.kind == StepKind::fail ? "expected \"client\" or \"code\""
                                                : "expected \"client\"");
      }
    }
  } else if (action == "identity") {
    step.kind = StepKind::identity;
    if (started) {
      throw SessionError(actionAt,
                         "the identity is read once, at start: give it before any "
                         "other step at time 0");
    }
    step.flag = !reader.accept("none");
    if (step.flag) {
      step.text = reader.text("the identity, or none");
    }
  } else if (action == "expect") {
    readExpectation(reader, step);
  } else {
    throw SessionError(actionAt,
                       "unknown action \"" + std::string(action) +
                           "\"; the actions are send, clip, repeat, empty, hold, "
                           "release, notices, client, leave, rename, move, local, connect, "
                           "disconnect, status, fail, heal, identity and expect");
  }
  reader.end();
  step.source = std::string(reader.stepText(actionStart));
  if (step.kind != StepKind::identity || step.time.count() != 0) {
    started = true;
  }
  return step;
}

}  // namespace

std::optional<Milliseconds> parseTime(std::string_view token) {
  double scale = 1;
  if (token.ends_with("ms")) {
    token.remove_suffix(2);
  } else if (token.ends_with('s')) {
    token.remove_suffix(1);
    scale = 1000;
  }
  double value = 0;
  const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
  if (token.empty() || result.ec != std::errc() || result.ptr != token.data() + token.size() ||
      !(value >= 0) || value * scale > 1e12) {
    return std::nullopt;
  }
  return Milliseconds{static_cast<long long>(std::llround(value * scale))};
}

std::vector<Step> expandRepeats(const std::vector<Step>& steps) {
  std::vector<Step> played;
  for (const Step& step : steps) {
    if (step.every.count() == 0) {
      played.push_back(step);
      continue;
    }
    for (Milliseconds offset{0}; offset < step.lasting; offset += step.every) {
      Step once = step;
      once.time = step.time + offset;
      // A request's counter goes after its closing tag: the repetition puts the whole text.
      if (step.kind == StepKind::send) {
        once.kind = StepKind::clip;
        once.text = requestText(step.command, step.text);
      }
      played.push_back(std::move(once));
    }
  }
  std::stable_sort(played.begin(), played.end(),
                   [](const Step& a, const Step& b) { return a.time < b.time; });
  long long counter = 0;
  for (Step& step : played) {
    if (step.every.count() != 0) {
      step.text += "#" + std::to_string(++counter);
      step.every = step.lasting = Milliseconds{0};
    }
  }
  return played;
}

std::vector<Step> parseSession(std::string_view text) {
  // A byte-order mark, which some editors put at the start of a UTF-8 file, is no step.
  constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
  if (text.starts_with(BYTE_ORDER_MARK)) {
    text.remove_prefix(BYTE_ORDER_MARK.size());
  }
  std::vector<Step> steps;
  Milliseconds previous{0};
  bool started = false;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t lineEnd = text.find('\n');
    const std::string_view line = text.substr(0, lineEnd);
    text.remove_prefix(lineEnd == std::string_view::npos ? text.size() : lineEnd + 1);
    ++lineNumber;
    LineReader reader(line, lineNumber);
    if (reader.atEnd()) {
      continue;
    }
    Step step = readStep(reader, previous, started);
    previous = step.time;
    steps.push_back(std::move(step));
  }
  return steps;
}

}  // namespace sorlinx::sim
