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

// The platform's word that the clipboard changed, which clipboardThread waits for between
// its looks (each platform clipboard gives its own, see clipboard/clipboard.h). It belongs
// to the thread that made it; only wake() may be called from elsewhere.
class ChangeNotices {
 public:
  ChangeNotices() = default;
  ChangeNotices(const ChangeNotices&) = delete;
  ChangeNotices& operator=(const ChangeNotices&) = delete;
  virtual ~ChangeNotices() = default;

  // Blocks for at most `timeout` until the clipboard changes or wake() is called. True when
  // a change was noticed: every notice that had arrived is taken with it, so that a burst
  // of them makes one look. False when the time ran out or it was woken.
  virtual bool wait(Milliseconds timeout) = 0;
  // From any thread: ends the wait going on, or else the next one, at once.
  virtual void wake() noexcept = 0;
};

// The stop request of the plugin: set by shutdown, read by every worker pass, and able to
// wake a worker that is pausing, or waiting for clipboard notices.
class StopFlag {
 public:
  void set();
  void clear();
  [[nodiscard]] bool isSet() const noexcept { return flag_.load(); }
  // Waits `duration`, or less if the flag is set meanwhile. Returns false when the flag is set.
  bool waitFor(Milliseconds duration);
  // While attached (until attach(nullptr)), set() also wakes `notices`, since a wait for
  // them does not watch this flag's condition variable. A waiter attaches, then looks at
  // the flag, then waits: no stop falls between. Returns the notices attached before.
  ChangeNotices* attach(ChangeNotices* notices);

 private:
  std::atomic<bool> flag_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  ChangeNotices* notices_ = nullptr;  // guarded by mutex_
};

// What ended clipboardThread's wait for its next look.
enum class Wake {
  due,       // the regular look is due
  notice,    // the clipboard changed before that
  stopping,  // the plugin is stopping
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
  // plugin is stopping and the worker should wind up. Clipboard notices never end it.
  virtual bool pause(Milliseconds duration) = 0;
  // clipboardThread's wait between two passes: until `duration` has passed (due), or until
  // `notices` tell of a change before that (notice), or a stop (stopping). Without notices
  // (null: the platform sends none) it is a pause. Clocks of their own (tests, simulator)
  // bring the notices of their own world.
  virtual Wake awaitLook(Milliseconds duration, ChangeNotices* notices) {
    static_cast<void>(notices);
    return pause(duration) ? Wake::due : Wake::stopping;
  }
};

// The pacer of the running plugin: the steady clock, and pauses that a StopFlag cuts short.
class SteadyPacer final : public Pacer {
 public:
  explicit SteadyPacer(StopFlag& stop) noexcept : stop_(stop) {}
  Milliseconds now() override;
  bool pause(Milliseconds duration) override;
  Wake awaitLook(Milliseconds duration, ChangeNotices* notices) override;

 private:
  StopFlag& stop_;
};

}  // namespace sorlinx
