#include "shared/pacer.h"

namespace sorlinx {

void StopFlag::set() {
  {
    // Taking the mutex orders the store against a waiter that has just tested the flag
    // and is about to block, so no wake-up is lost.
    const std::lock_guard lock(mutex_);
    flag_.store(true);
  }
  wake_.notify_all();
}

void StopFlag::clear() {
  const std::lock_guard lock(mutex_);
  flag_.store(false);
}

bool StopFlag::waitFor(Milliseconds duration) {
  std::unique_lock lock(mutex_);
  return !wake_.wait_for(lock, duration, [this] { return flag_.load(); });
}

Milliseconds SteadyPacer::now() {
  return std::chrono::duration_cast<Milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

bool SteadyPacer::pause(Milliseconds duration) { return stop_.waitFor(duration); }

}  // namespace sorlinx
