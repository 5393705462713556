#include <windows.h>

#include <string>

#include "commands/secrets_file.h"

namespace sorlinx {

namespace {

// The path as UTF-16 for the wide API, the only one that reaches every folder name.
// The voice client gives its paths in UTF-8; a path that is not valid UTF-8 can only have
// come in the system's ANSI code page, which the narrow API would have used anyway.
std::wstring widePath(const char* path) {
  for (const UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int length = MultiByteToWideChar(codePage, flags, path, -1, nullptr, 0);
    if (length > 0) {
      std::wstring wide(static_cast<std::size_t>(length), L'\0');
      if (MultiByteToWideChar(codePage, flags, path, -1, wide.data(), length) == length) {
        wide.resize(static_cast<std::size_t>(length - 1));  // the terminating zero
        return wide;
      }
    }
  }
  return {};
}

// The header keeps the handle as an integer, so that it needs no windows.h; turning it back
// into a HANDLE is all there is to it.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
HANDLE handleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

SecretsFile::SecretsFile(const char* path) noexcept {
  try {
    const std::wstring wide = widePath(path);
    if (wide.empty()) {
      return;
    }
    // The voice client keeps the file open and rewrites it while it runs: share it for
    // reading, writing and deleting, so that neither side ever fails because of the other.
    const HANDLE file = CreateFileW(
        wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(file);
    }
  } catch (...) {
    // Out of memory for the path: the file stays closed, as a missing one would.
  }
}

SecretsFile::~SecretsFile() {
  if (isOpen()) {
    CloseHandle(handleOf(handle_));
  }
}

bool SecretsFile::isOpen() const noexcept { return handle_ != -1; }

std::ptrdiff_t SecretsFile::read(char* buffer, std::size_t size) noexcept {
  if (!isOpen()) {
    return -1;
  }
  DWORD count = 0;
  const auto wanted = static_cast<DWORD>(size > MAXDWORD ? MAXDWORD : size);
  if (ReadFile(handleOf(handle_), buffer, wanted, &count, nullptr) == FALSE) {
    return -1;
  }
  return static_cast<std::ptrdiff_t>(count);
}

}  // namespace sorlinx
