// A pacer on a virtual clock: a pause returns at once and moves the clock on, so tests run
// worker passes through minutes of time without waiting. Changes of the world scheduled with
// at() happen at their times within pauses and waits; a wait for the next look ends at the
// first clipboard notice, which the in-memory clipboard gives the moment it changes.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <vector>

#include "shared/pacer.h"

namespace sorlinx::testing {

class VirtualPacer final : public Pacer {
 public:
  Milliseconds now() override { return time_; }

  bool pause(Milliseconds duration) override {
    pauses_.push_back(duration);
    const Milliseconds end = time_ + duration;
    while (runNextChange(end)) {
    }
    time_ = end;
    if (onPause_) {
      onPause_(time_);
    }
    return true;
  }

  Wake awaitLook(Milliseconds duration, ChangeNotices* notices) override {
    const Milliseconds due = time_ + duration;
    do {
      if (notices != nullptr && notices->wait(Milliseconds(0))) {
        return Wake::notice;
      }
    } while (runNextChange(due));
    time_ = due;
    return Wake::due;
  }

  // Every pause asked for, in order (waits for a look are not pauses).
  [[nodiscard]] const std::vector<Milliseconds>& pauses() const { return pauses_; }
  // Runs after every pause with the new time: lets a test change the world "meanwhile".
  void setOnPause(std::function<void(Milliseconds)> onPause) { onPause_ = std::move(onPause); }
  // Runs `change` once the clock reaches `time`, as another program acting then.
  void at(Milliseconds time, std::function<void()> change) {
    changes_.emplace(time, std::move(change));
  }

 private:
  // Runs the first change due by `end`, the clock moved to its time; false when none is.
  bool runNextChange(Milliseconds end) {
    if (changes_.empty() || changes_.begin()->first > end) {
      return false;
    }
    auto change = std::move(changes_.begin()->second);
    time_ = std::max(time_, changes_.begin()->first);
    changes_.erase(changes_.begin());
    change();
    return true;
  }

  Milliseconds time_{0};
  std::vector<Milliseconds> pauses_;
  std::function<void(Milliseconds)> onPause_;
  std::multimap<Milliseconds, std::function<void()>> changes_;
};

}  // namespace sorlinx::testing
