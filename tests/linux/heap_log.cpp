// The plugin library's heap, logged for the info panel's checks (support/info_panel_checks.h).
// The library's C++ runtime takes its memory from the malloc this program replaces; every
// block still comes from glibc's __libc_ functions. The library's requests are told from
// this program's own by the object their return address lies in.
#include <dlfcn.h>

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

// Where the library is loaded, looked up afresh for each log: each test loads it anew.
const void* libraryBase = nullptr;
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
  Dl_info from{};
  if (allocated && dladdr(caller, &from) != 0 && from.dli_fbase == libraryBase) {
    heapLog.allocated.push_back(block);
    libraryBlocks.insert(block);
  } else if (!allocated && libraryBlocks.erase(block) != 0) {
    heapLog.freed.push_back(block);
  }
  logging = true;
}

}  // namespace

void startHeapLog() {
  // The library the test loaded. Not found, nothing is logged, and the checks fail.
  void* library = dlopen(SORLINX_SO_FILE, RTLD_NOW | RTLD_NOLOAD);
  Dl_info where{};
  libraryBase = library != nullptr && dladdr(dlsym(library, "ts3plugin_infoData"), &where) != 0
                    ? where.dli_fbase
                    : nullptr;
  if (library != nullptr) {
    dlclose(library);
  }
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
