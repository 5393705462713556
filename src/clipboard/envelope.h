// The envelope a game writes its requests in, and how a request is taken apart. Shared by
// the plugin, which reads requests, and the tools that write them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorlinx {

inline constexpr std::string_view OPENING_TAG = "[kex_sorlinx]";
inline constexpr std::string_view CLOSING_TAG = "[/kex_sorlinx]";

// The text a game writes for a request: "[" command "]" and the argument text, in the
// envelope. The plugin only reads requests; the tools and tests that play the game write them.
inline std::string requestText(std::string_view command, std::string_view arguments) {
  std::string text(OPENING_TAG);
  text.append("[").append(command).append("]").append(arguments).append(CLOSING_TAG);
  return text;
}

// The payload of an enveloped text: what stands between the opening tag at position 0 and
// the first closing tag after it. Nothing when the text is not a request.
std::optional<std::string_view> envelopePayload(std::string_view text) noexcept;

struct Request {
  std::string_view command;
  std::string_view arguments;
};

// Cuts a non-empty payload into command and arguments. The first character is skipped
// unseen (the game writes "[" there) and the command runs up to the first "]":
//   "]" at k >= 1: command = [1, k), arguments = (k, end)
//   "]" at 0:      command = arguments = [1, end)
//   no "]":        command = [1, end), arguments = the whole payload
Request splitPayload(std::string_view payload) noexcept;

}  // namespace sorlinx
