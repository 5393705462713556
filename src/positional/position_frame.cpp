#include "positional/position_frame.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "clipboard/fields.h"

namespace sorlinx {

namespace {

// The white space a stream skips before a number in the classic locale:
// space, \t, \n, \v, \f and \r.
constexpr bool isStreamSpace(char c) noexcept { return c == ' ' || (c >= '\t' && c <= '\r'); }

constexpr bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

std::string_view skipStreamSpace(std::string_view field) noexcept {
  std::size_t start = 0;
  while (start < field.size() && isStreamSpace(field[start])) {
    ++start;
  }
  return field.substr(start);
}

// Takes an optional "+" or "-" off the front; true when it was "-".
bool takeSign(std::string_view& field) noexcept {
  if (field.empty() || (field.front() != '+' && field.front() != '-')) {
    return false;
  }
  const bool negative = field.front() == '-';
  field.remove_prefix(1);
  return negative;
}

// Called only for numbers that from_chars finds beyond the float range: whether the
// number is huge (rather than tiny). `number` is digits with at most one ".", then an
// optional exponent; its first significant digit stands at 10^(lead + exponent).
bool isHuge(std::string_view number) noexcept {
  long lead = -1;
  long fractionZeros = 0;
  bool significant = false;
  bool afterPoint = false;
  std::size_t i = 0;
  for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
    const char c = number[i];
    if (c == '.') {
      afterPoint = true;
    } else if (!afterPoint) {
      significant = significant || c != '0';
      lead += significant ? 1 : 0;
    } else if (!significant) {
      significant = c != '0';
      fractionZeros += significant ? 0 : 1;
    }
  }
  if (lead < 0) {
    lead = -1 - fractionZeros;
  }
  // The written exponent, held within bounds: its sign is all that matters beyond them.
  std::string_view exponentText = i < number.size() ? number.substr(i + 1) : std::string_view{};
  const bool negativeExponent = takeSign(exponentText);
  long exponent = 0;
  for (const char c : exponentText) {
    exponent = std::min(exponent * 10 + (c - '0'), 1'000'000L);
  }
  return lead + (negativeExponent ? -exponent : exponent) >= 0;
}

// A coordinate, read as a stream reads a float. The stream collects the longest run of
// characters that may belong to a number (digits, one "." before any exponent, one "e" or
// "E" with an optional sign after it) and then converts that run whole, or fails. from_chars
// takes the same numbers but stops short of an "e" that no exponent digits follow, where
// the stream takes the "e" and then fails: "1e", "1e+" and "1.e" are no numbers. It also
// takes "inf" and "nan", which a stream never does. A number beyond the float range fails;
// one too small for it is a zero of its sign.
std::optional<float> readCoordinateField(std::string_view field) noexcept {
  field = skipStreamSpace(field);
  const bool negative = takeSign(field);
  if (field.empty() || (!isDigit(field.front()) && field.front() != '.')) {
    return std::nullopt;
  }
  const char* const end = field.data() + field.size();
  float value = 0.0F;
  const auto result = std::from_chars(field.data(), end, value);
  const std::string_view number(field.data(), static_cast<std::size_t>(result.ptr - field.data()));
  if (result.ptr != end && (*result.ptr == 'e' || *result.ptr == 'E') &&
      number.find_first_of("eE") == std::string_view::npos) {
    return std::nullopt;
  }
  if (result.ec == std::errc::result_out_of_range) {
    if (isHuge(number)) {
      return std::nullopt;
    }
    value = 0.0F;
  } else if (result.ec != std::errc{} || !std::isfinite(value)) {
    // (libstdc++ reports an overflow as out of range; the finiteness test keeps an infinity
    // out of the voice client should another library answer one instead.)
    return std::nullopt;
  }
  return negative ? -value : value;
}

RadioFlag readFlag(std::string_view text) noexcept {
  if (text == "[RC]") {
    return RadioFlag::RC;
  }
  if (text == "[RL]") {
    return RadioFlag::RL;
  }
  if (text == "[CD]") {
    return RadioFlag::CD;
  }
  return RadioFlag::None;
}

// Cuts a body into its five fields and reads them; nothing, with the reason, when the
// record is skipped.
std::optional<PositionRecord> readBody(std::string_view body, SkipReason& skipped) noexcept {
  const std::size_t open = body.find('[');
  if (open == std::string_view::npos) {
    skipped = SkipReason::noOpeningBracket;
    return std::nullopt;
  }
  const std::string_view clientField = body.substr(0, open);
  std::string_view rest = body.substr(open + 1);
  const std::size_t firstComma = rest.find(',');
  if (firstComma == std::string_view::npos) {
    skipped = SkipReason::noFirstComma;
    return std::nullopt;
  }
  const std::string_view xField = rest.substr(0, firstComma);
  rest.remove_prefix(firstComma + 1);
  const std::size_t secondComma = rest.find(',');
  if (secondComma == std::string_view::npos) {
    skipped = SkipReason::noSecondComma;
    return std::nullopt;
  }
  const std::string_view zField = rest.substr(0, secondComma);
  rest.remove_prefix(secondComma + 1);
  const std::size_t close = rest.find(']');
  if (close == std::string_view::npos) {
    skipped = SkipReason::noClosingBracket;
    return std::nullopt;
  }
  const std::string_view yField = rest.substr(0, close);
  const std::string_view flagText = rest.substr(close + 1);

  // The same integer reading as the other requests' fields: a negative client such as
  // "-5", which a stream would wrap around to 65531, is no client at all.
  const auto client = readNumber<ClientId>(clientField);
  const auto x = readCoordinateField(xField);
  const auto z = readCoordinateField(zField);
  const auto y = readCoordinateField(yField);
  if (!client || !x || !y || !z) {
    skipped = !client ? SkipReason::badClient
              : !x    ? SkipReason::badX
              : !z    ? SkipReason::badZ
                      : SkipReason::badY;
    return std::nullopt;
  }
  return PositionRecord{*client, Vector3{*x, *y, *z}, readFlag(flagText)};
}

}  // namespace

std::optional<FrameRecord> takeFrameRecord(std::string_view& frameText) noexcept {
  if (frameText.empty() || frameText.front() != '{') {
    return std::nullopt;
  }
  FrameRecord taken;
  std::string_view body;
  const std::size_t next = frameText.find("}{");
  if (next != std::string_view::npos) {
    taken.text = frameText.substr(0, next + 1);
    body = frameText.substr(1, next - 1);
    frameText.remove_prefix(next + 1);
  } else {
    // The last record: drop the first and the last character, whatever the last is.
    taken.text = frameText;
    body = frameText.substr(1, frameText.size() >= 2 ? frameText.size() - 2 : 0);
    frameText = frameText.substr(frameText.size());
  }
  taken.record = readBody(body, taken.skipped);
  return taken;
}

std::optional<PositionRecord> readPositionRecord(std::string_view& frameText) noexcept {
  while (const auto taken = takeFrameRecord(frameText)) {
    if (taken->record) {
      return taken->record;
    }
  }
  return std::nullopt;
}

}  // namespace sorlinx
