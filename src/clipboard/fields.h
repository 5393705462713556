// How "SwitchPlayer" and "ConnectToServer" take their comma-separated fields apart.
//
// Games rely on these rules byte for byte, short argument texts included, so they stay
// exactly as they are; a number that does not read is reported rather than guessed.
#pragma once

#include <charconv>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace sorlinx {

// Takes the next field off the front of `remaining`: the text before the first ",", which
// is removed together with that comma. Without a comma the field is the whole remaining
// text, and the remaining text stays as it was, so that a short request repeats its last
// field ("12" moves client 12 into channel 12 with the password "12").
std::string takeField(std::string& remaining);

// Reads a decimal number the way a text stream's >> reads one that it accepts: leading
// white space skipped, an optional sign, digits up to the first other character, the rest
// of the field ignored. Nothing when no digit follows, when the value lies outside T's
// range, or when it is negative and T is unsigned (where a stream would quietly wrap it
// around or clamp it to some other client, channel or port).
template <std::integral Number>
std::optional<Number> readNumber(std::string_view field) noexcept {
  std::size_t at = field.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string_view::npos) {
    return std::nullopt;
  }
  const bool negative = field[at] == '-';
  if (negative || field[at] == '+') {
    ++at;
  }
  std::uint64_t magnitude = 0;
  const char* const last = field.data() + field.size();
  if (std::from_chars(field.data() + at, last, magnitude).ec != std::errc{}) {
    return std::nullopt;  // no digit, or more than 64 bits of them
  }
  constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<Number>::max());
  if (!negative) {
    return magnitude <= largest ? std::optional(static_cast<Number>(magnitude)) : std::nullopt;
  }
  if (magnitude == 0) {
    return Number{0};
  }
  if constexpr (std::is_unsigned_v<Number>) {
    return std::nullopt;
  } else {
    if (magnitude > largest + 1) {
      return std::nullopt;
    }
    // -(magnitude - 1) - 1 stays within range even for the type's smallest value.
    return static_cast<Number>(-static_cast<std::int64_t>(magnitude - 1) - 1);
  }
}

}  // namespace sorlinx
