// Waiting for what other threads do, in the tests that run the real workers.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace sorlinx::testing {

using Clock = std::chrono::steady_clock;

// Polls `condition` until it holds or `timeout` passes; true when it held.
inline bool eventually(const std::function<bool()>& condition,
                       Clock::duration timeout = std::chrono::seconds(3)) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (condition()) {
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return condition();
}

}  // namespace sorlinx::testing
