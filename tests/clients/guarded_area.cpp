#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "hand_over.h"

namespace sorlinx::clients {

namespace {

// Room below the table for the stack that setFunctionPointers runs on, on 32-bit Windows.
constexpr std::size_t STACK_SIZE = 512 * 1024;
constexpr std::size_t PAGE = 4096;

// The table handed over now and the page past it, for the handler below.
const char* guardedTable = nullptr;
const char* guardPage = nullptr;

LONG WINAPI readPastTheTable(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
  const auto* const address = record.NumberParameters < 2
                                  ? nullptr
                                  : reinterpret_cast<const char*>(record.ExceptionInformation[1]);
  if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && guardPage != nullptr &&
      address >= guardPage && address < guardPage + PAGE) {
    std::fprintf(stderr, "FAIL: the plugin read slot %zu of a table of %zu slots\n",
                 static_cast<std::size_t>(address - guardedTable) / sizeof(void*),
                 static_cast<std::size_t>(guardPage - guardedTable) / sizeof(void*));
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

GuardedArea::GuardedArea(std::size_t size) : size_(size) {
  const std::size_t usable = (STACK_SIZE + size + PAGE - 1) / PAGE * PAGE;
  base_ = static_cast<char*>(VirtualAlloc(nullptr, usable + PAGE, MEM_COMMIT, PAGE_READWRITE));
  DWORD previous = 0;
  if (base_ == nullptr || VirtualProtect(base_ + usable, PAGE, PAGE_NOACCESS, &previous) == 0) {
    std::fprintf(stderr, "no memory for the table before an inaccessible page\n");
    std::exit(1);
  }
  end_ = base_ + usable;
  static PVOID const handler = AddVectoredExceptionHandler(1, readPastTheTable);
  (void)handler;
  guardedTable = table();
  guardPage = end_;
}

GuardedArea::~GuardedArea() {
  guardPage = nullptr;
  VirtualFree(base_, 0, MEM_RELEASE);
}

}  // namespace sorlinx::clients
