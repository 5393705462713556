#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "commands/secrets_file.h"

namespace sorlinx {

// A plain read-only open already leaves every other process free to write, rename or
// delete the file.
SecretsFile::SecretsFile(const char* path) noexcept : handle_(::open(path, O_RDONLY | O_CLOEXEC)) {}

SecretsFile::~SecretsFile() {
  if (isOpen()) {
    ::close(static_cast<int>(handle_));
  }
}

bool SecretsFile::isOpen() const noexcept { return handle_ >= 0; }

std::ptrdiff_t SecretsFile::read(char* buffer, std::size_t size) noexcept {
  if (!isOpen()) {
    return -1;
  }
  ssize_t count = 0;
  do {
    count = ::read(static_cast<int>(handle_), buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

}  // namespace sorlinx
