// A pacer on a virtual clock: a pause returns at once and moves the clock on, so tests run
// worker passes through minutes of time without waiting.
#pragma once

#include <functional>
#include <vector>

#include "shared/pacer.h"

namespace sorlinx::testing {

class VirtualPacer final : public Pacer {
 public:
  Milliseconds now() override { return time_; }

  bool pause(Milliseconds duration) override {
    pauses_.push_back(duration);
    time_ += duration;
    if (onPause_) {
      onPause_(time_);
    }
    return true;
  }

  // Every pause asked for, in order.
  [[nodiscard]] const std::vector<Milliseconds>& pauses() const { return pauses_; }
  // Runs after every pause with the new time: lets a test change the world "meanwhile".
  void setOnPause(std::function<void(Milliseconds)> onPause) { onPause_ = std::move(onPause); }

 private:
  Milliseconds time_{0};
  std::vector<Milliseconds> pauses_;
  std::function<void(Milliseconds)> onPause_;
};

}  // namespace sorlinx::testing
