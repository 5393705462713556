// On 32-bit Windows (cdecl) a table passed by value is copied onto the caller's stack, where
// the function finds it just above its return address. So the call runs on a stack of the
// area's own: the stack pointer starts at the table, and the function's own frame grows
// down from there, while above the table lies the inaccessible page. The thread's stack
// bounds, which Windows and wine consult when an exception is raised, are pointed at that
// stack for the call.
#include <windows.h>

#include "hand_over.h"

// Calls `function` with the stack pointer at `arguments`, then returns on the caller's
// stack, which %ebp keeps meanwhile (the callee preserves it).
extern "C" void sorlinxCallWithStackAt(void* function, void* arguments);
asm(R"(
    .text
    .globl _sorlinxCallWithStackAt
_sorlinxCallWithStackAt:
    pushl %ebp
    movl %esp, %ebp
    movl 8(%ebp), %eax
    movl 12(%ebp), %esp
    call *%eax
    movl %ebp, %esp
    popl %ebp
    ret
)");

namespace sorlinx::clients {

namespace {

// The thread's information block, at %fs:0x18 on 32-bit Windows. (NtCurrentTeb does the
// same, but GCC's bounds checking takes its constant address for an empty array.)
NT_TIB* threadInformationBlock() {
  NT_TIB* tib = nullptr;
  asm("movl %%fs:0x18, %0" : "=r"(tib));
  return tib;
}

}  // namespace

void handOver(void* setFunctionPointers, const GuardedArea& area) {
  NT_TIB* const tib = threadInformationBlock();
  void* const stackBase = tib->StackBase;
  void* const stackLimit = tib->StackLimit;
  tib->StackBase = area.table();
  tib->StackLimit = area.lowest();
  sorlinxCallWithStackAt(setFunctionPointers, area.table());
  tib->StackBase = stackBase;
  tib->StackLimit = stackLimit;
}

}  // namespace sorlinx::clients
