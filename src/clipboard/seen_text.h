// What the clipboard channel remembers of the last text it took, to tell a text written
// again from a new one.
//
// A short text is kept as it is. A long one (a clipboard can hold many megabytes that have
// nothing to do with us) is kept as its length and SHA-256 digest, so that one huge text
// does not pin its size in memory for as long as it stands on the clipboard, while a text
// rewritten identically still matches and any other text still does not.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sorlinx {

using Sha256 = std::array<std::uint8_t, 32>;

Sha256 sha256(std::string_view data) noexcept;

class SeenText {
 public:
  // Texts up to this size are kept whole; above it, only their length and digest.
  static constexpr std::size_t KEPT_TEXT_SIZE = std::size_t{64} * 1024;

  [[nodiscard]] bool matches(std::string_view text) const noexcept;
  // Remembers `text` in place of the last text; returns whether it differs from it. A long
  // text is digested once. Keeping a short text reuses the buffer of the ones before, so
  // that the steady state allocates nothing.
  bool replace(std::string_view text);
  // Heap bytes held for the remembered text.
  [[nodiscard]] std::size_t retainedBytes() const noexcept { return kept_.capacity(); }

 private:
  std::string kept_;
  bool digested_ = false;
  std::size_t length_ = 0;
  Sha256 digest_{};
};

}  // namespace sorlinx
