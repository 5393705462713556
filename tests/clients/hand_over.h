// Handing a voice client's table to ts3plugin_setFunctionPointers the way a client does, by
// value, with the client's copy of the table ending right where memory ends: a read past
// the table's last slot touches an inaccessible page and stops the program.
#pragma once

#include <cstddef>

namespace sorlinx::clients {

// Memory whose last `size` bytes before an inaccessible page take the table, with room
// below them for a stack.
class GuardedArea {
 public:
  explicit GuardedArea(std::size_t size);
  GuardedArea(const GuardedArea&) = delete;
  GuardedArea& operator=(const GuardedArea&) = delete;
  ~GuardedArea();
  // Where the table goes: its end is the inaccessible page.
  [[nodiscard]] void* table() const { return end_ - size_; }
  // The lowest address of the stack below the table.
  [[nodiscard]] void* stackLimit() const { return base_; }

 private:
  char* base_ = nullptr;
  char* end_ = nullptr;
  std::size_t size_;
};

// Calls `setFunctionPointers`, declared to take a table by value, with the table that
// `area` holds as the client's copy (hand_over_i686.cpp, hand_over_x86_64.cpp: the
// conventions differ).
void handOver(void* setFunctionPointers, const GuardedArea& area);

}  // namespace sorlinx::clients
