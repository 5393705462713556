// What sorlinx-send needs from the platform beside the plugin's clipboard code: the player's
// own clipboard text, kept aside while sorlinx-send uses the clipboard and put back
// afterwards in full Unicode; the command line in UTF-8; and, where a text lives only as
// long as the program that put it there (X11), a way to leave it on the clipboard.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
  // As the platform keeps text: UTF-16 code units on Windows, UTF-8 on X11.
  std::u16string wide_;
  std::string utf8_;
};

// The command line as UTF-8, the program's name first.
std::vector<std::string> commandLine(int argc, char** argv);

// Keeps the text that sorlinx-send last put on the clipboard there after it ends, until
// another program writes the clipboard. Nothing to do where the system keeps clipboard
// texts (Windows); on X11 a process of its own goes on serving it, as xclip does.
void leaveOnClipboard();

}  // namespace sorlinx::send
