// Reading the voice client's secrets file, which the voice client owns and may write or
// replace at any moment, also while the plugin reads it: the file is opened for reading
// only, and nobody else is denied reading, writing or deleting it meanwhile.
//
// Two implementations, chosen by the build: secrets_file_win32.cpp (the shipped DLL) and
// secrets_file_posix.cpp (the tests and tools built for Linux).
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorlinx {

class SecretsFile {
 public:
  // Opens the file at `path`, a UTF-8 text as the voice client gives its folders.
  explicit SecretsFile(const char* path) noexcept;
  SecretsFile(const SecretsFile&) = delete;
  SecretsFile& operator=(const SecretsFile&) = delete;
  ~SecretsFile();

  [[nodiscard]] bool isOpen() const noexcept;
  // Reads the next bytes, as they stand in the file, into `buffer`. Returns how many: 0 at
  // the end of the file, -1 when the read failed.
  std::ptrdiff_t read(char* buffer, std::size_t size) noexcept;

 private:
  // The platform's handle of the open file; -1 when it is not open.
  std::intptr_t handle_ = -1;
};

}  // namespace sorlinx
