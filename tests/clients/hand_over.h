// Handing a voice client's table to ts3plugin_setFunctionPointers as a client does, by
// value, with the client's copy ending right where memory ends: a read past its last slot
// touches an inaccessible page and stops the program, naming the slot read.
#pragma once

#include <cstddef>

namespace sorlinx::clients {

// Memory whose last `size` bytes before an inaccessible page take the table, with room
// below them for a stack (guarded_area.cpp).
class GuardedArea {
 public:
  explicit GuardedArea(std::size_t size);
  GuardedArea(const GuardedArea&) = delete;
  GuardedArea& operator=(const GuardedArea&) = delete;
  ~GuardedArea();
  [[nodiscard]] char* table() const { return end_ - size_; }
  [[nodiscard]] char* lowest() const { return base_; }

 private:
  char* base_ = nullptr;
  char* end_ = nullptr;
  std::size_t size_;
};

// Calls `setFunctionPointers`, declared to take a table by value, with the area's table as
// the client's copy (hand_over_i686.cpp, hand_over_x86_64.cpp: the conventions differ).
void handOver(void* setFunctionPointers, const GuardedArea& area);

}  // namespace sorlinx::clients
