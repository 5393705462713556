// The version resource of the running program's executable, where executables carry none
// (Linux): the client cannot be told, and the plugin speaks the newest interface.
#include "interfaces/client_version.h"

namespace sorlinx {

std::span<const unsigned char> ownVersionResource() noexcept { return {}; }

}  // namespace sorlinx
