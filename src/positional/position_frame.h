// The position frame: the text the game sends with "3D". One record per client whose voice
// is to be placed, written back to back with nothing between them:
//
//   {3[12.5,40,1.75]}{7[-3.25,10,0.5][RC]}{9[100,-20.75,2][RL]}
//
// A record is "{", the client, "[", three coordinates separated by ",", "]", an optional
// flag, "}". The game writes the coordinates in the order x, z, y.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "shared/host.h"

namespace sorlinx {

// What a record's flag asks of the radio lists: nothing, leave both (CD), join the RC list,
// join the RL list.
enum class RadioFlag : std::uint8_t { None, CD, RC, RL };

struct PositionRecord {
  ClientId clientId = 0;
  Vector3 position{};
  RadioFlag flag = RadioFlag::None;
};

// Why a record was skipped: the field that does not read.
enum class SkipReason : std::uint8_t {
  noOpeningBracket,  // no "[" after the client
  noFirstComma,
  noSecondComma,
  noClosingBracket,  // no "]" after the coordinates
  badClient,         // no digits, negative, or above 65535
  badX,              // no number, or beyond the float range
  badZ,
  badY,
};

// One record taken off the front of a frame: read, or skipped and why.
struct FrameRecord {
  // The record as it was cut, from its "{" to its end (the next "}" that a "{" follows, or
  // the end of the frame).
  std::string_view text;
  std::optional<PositionRecord> record;
  SkipReason skipped = SkipReason::noOpeningBracket;  // when there is no record
};

// Takes the next record off the front of `frameText`, by the rules below; nothing once
// `frameText` is empty or does not begin with "{". The plugin itself reads frames with
// readPositionRecord; the simulator shows what this skips, and why.
std::optional<FrameRecord> takeFrameRecord(std::string_view& frameText) noexcept;

// Takes records off the front of `frameText` until one is well formed, and returns it;
// returns nothing, once `frameText` is empty or does not begin with "{".
//
// How a record is cut, for games that depart from the form:
// - The record ends at the first "}{" of the text. Without one it is the last record: its
//   body is the text without its first and its last character, whatever that last
//   character is; so "{5[1,2,3][RC]}\n" keeps "}" in its flag text and has no flag, and
//   "{5[1,2,3]} {6[4,5,6]}" is one record, for client 5.
// - The client is the text before the body's first "["; the coordinates run to the next
//   ",", the next "," and the next "]"; whatever follows is the flag text, which must be
//   "[CD]", "[RC]" or "[RL]" exactly, or the record has no flag.
// - Each number is read from its field alone as a stream in the classic locale reads it:
//   leading white space skipped, an optional sign, the longest leading number, the rest of
//   the field ignored. So " 12 " is 12, "1.5abc" is 1.5, "3e2" is 300, but "1e" is no
//   number (a stream takes the "e" and then fails). Hexadecimal reads as its leading 0
//   ("0x10" is 0: reading stops at the "x"); "inf" and "nan" are no numbers; a coordinate
//   too small for a float is 0. The client is read as an integer, its digits up to the
//   first other character: "7.9" is client 7.
// - A record is skipped, and the next one read, when its body lacks the "[", either ",",
//   or the "]"; when the client has no digits, is negative ("-5" is skipped, where a
//   stream would wrap it to 65531; "-0" is 0) or is above 65535; or when a coordinate is no
//   number or beyond the float range.
//
// Allocates nothing and touches no shared state.
std::optional<PositionRecord> readPositionRecord(std::string_view& frameText) noexcept;

}  // namespace sorlinx
