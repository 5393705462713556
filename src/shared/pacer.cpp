#include "shared/pacer.h"

#include <algorithm>
#include <utility>

namespace sorlinx {

void StopFlag::set() {
  {
    // Taking the mutex orders the store against a waiter that has just tested the flag
    // and is about to block, so no wake-up is lost.
    const std::lock_guard lock(mutex_);
    flag_.store(true);
    if (notices_ != nullptr) {
      notices_->wake();  // under the lock: attach(nullptr) waits for it before they go
    }
  }
  wake_.notify_all();
}

ChangeNotices* StopFlag::attach(ChangeNotices* notices) {
  const std::lock_guard lock(mutex_);
  return std::exchange(notices_, notices);
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

Wake SteadyPacer::awaitLook(Milliseconds duration, ChangeNotices* notices) {
  if (notices == nullptr) {
    return pause(duration) ? Wake::due : Wake::stopping;
  }
  // Wakes other than a notice (a stop, or a message to the platform's window that is not
  // one) wait again for what is left of the duration. The flag is looked at once the
  // notices are attached: a stop before that is seen here, a stop after it wakes them.
  const auto due = std::chrono::steady_clock::now() + duration;
  ChangeNotices* const before = stop_.attach(notices);
  Wake wake = Wake::due;
  for (;;) {
    if (stop_.isSet()) {
      wake = Wake::stopping;
      break;
    }
    const auto left = std::chrono::ceil<Milliseconds>(due - std::chrono::steady_clock::now());
    if (notices->wait(std::max(left, Milliseconds(0)))) {
      wake = Wake::notice;
      break;
    }
    if (left <= Milliseconds(0)) {
      break;
    }
  }
  stop_.attach(before);
  return stop_.isSet() ? Wake::stopping : wake;
}

}  // namespace sorlinx
