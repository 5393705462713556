// The game's side of the clipboard in the end-to-end test: the real Windows clipboard.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sorlinx::e2e {

// Puts text on the clipboard, as a game does (retries while another thread holds it).
void putText(std::string_view text);
// Empties the clipboard: it holds no text at all afterwards.
void emptyClipboard();
// The clipboard's text, or nothing when it holds none or cannot be opened.
std::optional<std::string> clipboardText();

// Holds the clipboard open from a window of its own, on a thread of its own, so that the
// plugin's attempts to open it fail meanwhile (as when another program holds it).
class ClipboardHolder {
 public:
  ClipboardHolder();
  ClipboardHolder(const ClipboardHolder&) = delete;
  ClipboardHolder& operator=(const ClipboardHolder&) = delete;
  ~ClipboardHolder();  // releases it

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace sorlinx::e2e
