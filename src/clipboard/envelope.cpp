#include "clipboard/envelope.h"

namespace sorlinx {

std::optional<std::string_view> envelopePayload(std::string_view text) noexcept {
  if (!text.starts_with(OPENING_TAG)) {
    return std::nullopt;
  }
  const std::string_view afterTag = text.substr(OPENING_TAG.size());
  const std::size_t closing = afterTag.find(CLOSING_TAG);
  if (closing == std::string_view::npos) {
    return std::nullopt;
  }
  return afterTag.substr(0, closing);
}

Request splitPayload(std::string_view payload) noexcept {
  const std::size_t close = payload.find(']');
  if (close == std::string_view::npos) {
    return {payload.substr(1), payload};
  }
  if (close == 0) {
    return {payload.substr(1), payload.substr(1)};
  }
  return {payload.substr(1, close - 1), payload.substr(close + 1)};
}

}  // namespace sorlinx
