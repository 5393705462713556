// How the worker threads wait and tell time.
//
// The workers never sleep on their own: every pause goes through a Pacer, so that a stop
// request ends a pause at once, and so that tests and the simulator can run the workers'
// passes on a virtual clock instead of the wall clock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace sorlinx {

using Milliseconds = std::chrono::milliseconds;

// The stop request of the plugin: set by shutdown, read by every worker pass, and able to
// wake a worker that is pausing.
class StopFlag {
 public:
  void set();
  void clear();
  [[nodiscard]] bool isSet() const noexcept { return flag_.load(); }
  // Waits `duration`, or less if the flag is set meanwhile. Returns false when the flag is set.
  bool waitFor(Milliseconds duration);

 private:
  std::atomic<bool> flag_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
};

class Pacer {
 public:
  Pacer() = default;
  Pacer(const Pacer&) = delete;
  Pacer& operator=(const Pacer&) = delete;
  virtual ~Pacer() = default;

  // Time since an arbitrary fixed start; only differences mean anything.
  virtual Milliseconds now() = 0;
  // Pauses the calling worker for `duration`. Returns false, possibly early, when the
  // plugin is stopping and the worker should wind up.
  virtual bool pause(Milliseconds duration) = 0;
};

// The pacer of the running plugin: the steady clock, and pauses that a StopFlag cuts short.
class SteadyPacer final : public Pacer {
 public:
  explicit SteadyPacer(StopFlag& stop) noexcept : stop_(stop) {}
  Milliseconds now() override;
  bool pause(Milliseconds duration) override;

 private:
  StopFlag& stop_;
};

}  // namespace sorlinx
