// The player's own clipboard text, kept aside while sorlinx-send uses the clipboard and put
// back afterwards, in full Unicode.
#pragma once

#include <cstdint>
#include <string>

namespace sorlinx::send {

class PlayerClipboard {
 public:
  // Copies the clipboard's Unicode text, if it holds any.
  void save();
  // Puts the saved text back, but only while the clipboard still shows the change counter
  // `expected` (what sorlinx-send or the plugin left there): a text another program wrote
  // meanwhile is newer than the saved one and stays. Without a saved text, nothing is done.
  // True when the text was put back.
  bool restore(std::uint64_t expected);
  [[nodiscard]] bool saved() const { return saved_; }

 private:
  bool saved_ = false;
  std::wstring text_;
};

}  // namespace sorlinx::send
