#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "hand_over.h"

namespace sorlinx::clients {

namespace {

// Room for the plugin's setFunctionPointers below the table, on 32-bit Windows where it
// runs on this memory as its stack.
constexpr std::size_t STACK_SIZE = 512 * 1024;

// The area whose table is handed over now, for the handler below.
const char* guardedTable = nullptr;
const char* guardPage = nullptr;
const char* guardEnd = nullptr;

// Names the slot read past the table's end, and stops the program.
LONG WINAPI readPastTheTable(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD& record = *exception->ExceptionRecord;
  if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2 &&
      guardPage != nullptr) {
    const auto* const address = reinterpret_cast<const char*>(record.ExceptionInformation[1]);
    if (address >= guardPage && address < guardEnd) {
      std::fprintf(stderr, "FAIL: the plugin read slot %zu of a table of %zu slots\n",
                   static_cast<std::size_t>(address - guardedTable) / sizeof(void*),
                   static_cast<std::size_t>(guardPage - guardedTable) / sizeof(void*));
      std::fflush(stderr);
      TerminateProcess(GetCurrentProcess(), 1);
    }
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

std::size_t pageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
}

}  // namespace

GuardedArea::GuardedArea(std::size_t size) : size_(size) {
  const std::size_t page = pageSize();
  const std::size_t usable = (STACK_SIZE + size + page - 1) / page * page;
  base_ = static_cast<char*>(
      VirtualAlloc(nullptr, usable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD previous = 0;
  if (base_ == nullptr || VirtualProtect(base_ + usable, page, PAGE_NOACCESS, &previous) == 0) {
    std::fprintf(stderr, "no memory for the table before an inaccessible page\n");
    std::exit(1);
  }
  end_ = base_ + usable;
  static PVOID const handler = AddVectoredExceptionHandler(1, readPastTheTable);
  (void)handler;
  guardedTable = end_ - size_;
  guardPage = end_;
  guardEnd = end_ + page;
}

GuardedArea::~GuardedArea() {
  guardedTable = nullptr;
  guardPage = nullptr;
  VirtualFree(base_, 0, MEM_RELEASE);
}

}  // namespace sorlinx::clients
