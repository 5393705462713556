// On 64-bit Windows a table passed by value reaches the function as the address of a copy
// that the caller made: calling through a signature that takes that address hands over the
// guarded copy itself.
#include "hand_over.h"

namespace sorlinx::clients {

void handOver(void* setFunctionPointers, const GuardedArea& area) {
  reinterpret_cast<void (*)(const void*)>(setFunctionPointers)(area.table());
}

}  // namespace sorlinx::clients
