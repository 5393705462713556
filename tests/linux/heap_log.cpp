// The library's C++ runtime takes its memory from the malloc this program replaces; every
// block still comes from glibc's __libc_ functions. The library's requests are told from
// this program's own by the address they come from.
#include "heap_log.h"

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>

#include "support/info_panel_checks.h"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void __libc_free(void* block);
}

namespace sorlinx::testing {

namespace {

// The library's code, once known.
std::uintptr_t codeStart = 0;
std::uintptr_t codeEnd = 0;
thread_local bool logging = false;
thread_local HeapLog heapLog;
// The library's blocks handed out on this thread while it logged, until given back. A block
// given back is the library's by this list, not by its caller: a call that ends in free
// jumps there, leaving the library's own caller as the return address.
thread_local std::set<const void*> libraryBlocks;

// Called by the heap functions below, on every thread, for every block.
void note(bool allocated, const void* block, const void* caller) noexcept {
  if (!logging || block == nullptr) {
    return;
  }
  logging = false;  // the log's own memory is this program's
  const auto from = reinterpret_cast<std::uintptr_t>(caller);
  if (allocated && from >= codeStart && from < codeEnd) {
    heapLog.allocated.push_back(block);
    libraryBlocks.insert(block);
  } else if (!allocated && libraryBlocks.erase(block) != 0) {
    heapLog.freed.push_back(block);
  }
  logging = true;
}

}  // namespace

void logHeapOf(void* library, const char* symbol) {
  auto address = reinterpret_cast<std::uintptr_t>(dlsym(library, symbol));
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t, void* wanted) {
        const auto inside = *static_cast<std::uintptr_t*>(wanted);
        std::uintptr_t start = UINTPTR_MAX;
        std::uintptr_t end = 0;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[i];
          if (segment.p_type == PT_LOAD) {
            start = std::min<std::uintptr_t>(start, info->dlpi_addr + segment.p_vaddr);
            end =
                std::max<std::uintptr_t>(end, info->dlpi_addr + segment.p_vaddr + segment.p_memsz);
          }
        }
        if (inside < start || inside >= end) {
          return 0;
        }
        codeStart = start;
        codeEnd = end;
        return 1;
      },
      &address);
}

void startHeapLog() {
  heapLog = {};
  logging = true;
}

HeapLog takeHeapLog() {
  logging = false;
  return std::move(heapLog);
}

}  // namespace sorlinx::testing

using sorlinx::testing::note;

extern "C" {

void* malloc(std::size_t size) noexcept {
  void* block = __libc_malloc(size);
  note(true, block, __builtin_return_address(0));
  return block;
}

void* calloc(std::size_t count, std::size_t size) noexcept {
  void* block = __libc_calloc(count, size);
  note(true, block, __builtin_return_address(0));
  return block;
}

void* realloc(void* old, std::size_t size) noexcept {
  void* block = __libc_realloc(old, size);
  if (block != nullptr) {
    note(false, old, __builtin_return_address(0));
    note(true, block, __builtin_return_address(0));
  }
  return block;
}

void free(void* block) noexcept {
  note(false, block, __builtin_return_address(0));
  __libc_free(block);
}

}  // extern "C"
