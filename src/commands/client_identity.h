// The user's identity, read once while the plugin starts from the voice client's secrets
// file, and handed to startConnection only ("ConnectToServer").
//
// The identity is the user's private key to every server: it is never logged, never put on
// the clipboard and never copied anywhere but pluginState.identityBuffer, whose every byte
// is zeroed again at shutdown. Whatever held a piece of it on the way is zeroed as well.
#pragma once

#include <cstddef>
#include <string_view>

namespace sorlinx {

// The voice client's secrets file, in the folder that getConfigPath names.
inline constexpr std::string_view SECRETS_FILE_NAME = "ts3clientui_qt.secrets.conf";
// What stands before the identity, anywhere in the file; the identity runs to the line end.
inline constexpr std::string_view IDENTITY_KEY = "identity=";

// Fills pluginState.identityBuffer (allocated zeroed by init) with the identity: the text
// after the first "identity=" in the secrets file, up to the end of that line, verbatim.
// Leaves it empty, with one log line naming the reason but never the identity, when there
// is no folder, no readable file, no "identity=", a failed read, or a value too long for
// the buffer.
// Called by ts3plugin_init only, before the workers start.
void readClientIdentity();

// Finds the identity in the bytes of a secrets file, fed in chunks of any size, without
// ever holding more of the file than the value itself. A CR right before the LF that ends
// the value is part of the line end, as a text-mode read would have it.
class IdentityScanner {
 public:
  enum class Outcome { noKey, found, tooLong };

  // The value is written to `value` as a zero-terminated text; `capacity` counts the zero.
  // The block must start zeroed: it is left that way unless the outcome is found.
  IdentityScanner(char* value, std::size_t capacity) noexcept
      : value_(value), capacity_(capacity) {}

  // Takes the next bytes of the file. Returns false once the outcome is settled and the
  // rest of the file need not be read.
  bool feed(std::string_view bytes) noexcept;
  // The outcome, once the file has ended (or feed has returned false).
  Outcome finish() noexcept;

 private:
  void matchKey(char byte) noexcept;
  void takeValueByte(char byte) noexcept;
  void append(char byte) noexcept;
  void settle(Outcome outcome) noexcept;

  char* value_;
  std::size_t capacity_;
  std::size_t length_ = 0;
  std::size_t keyMatched_ = 0;
  bool inValue_ = false;
  bool settled_ = false;
  bool pendingReturn_ = false;
  Outcome outcome_ = Outcome::noKey;
};

}  // namespace sorlinx
