// The version resource of the running program's executable, on Windows: the voice client's
// own, found through the process's main module. These calls hand back pointers into the
// image the loader mapped; none of them allocates.
#include <windows.h>
#include <winver.h>

#include "interfaces/client_version.h"

namespace sorlinx {

std::span<const unsigned char> ownVersionResource() noexcept {
  HMODULE const executable = GetModuleHandleA(nullptr);
  // A program's version resource is resource 1 of type RT_VERSION (VS_VERSION_INFO).
  HRSRC const found =
      executable == nullptr
          ? nullptr
          : FindResourceA(executable, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
  if (found == nullptr) {
    return {};
  }
  const DWORD size = SizeofResource(executable, found);
  HGLOBAL const loaded = LoadResource(executable, found);
  const void* const bytes = loaded == nullptr ? nullptr : LockResource(loaded);
  if (bytes == nullptr) {
    return {};
  }
  return {static_cast<const unsigned char*>(bytes), size};
}

}  // namespace sorlinx
