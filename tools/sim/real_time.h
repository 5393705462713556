// The session's clock in real time: the plugin's own two workers (started through its
// exports) pause through it, and the session's own work (its steps, the voice client's
// deferred work) runs on the thread that calls run(). Everything runs at wall-clock speed,
// and in the order the virtual clock gives it:
//
// - a worker's pause ends at the session time its virtual counterpart's would, however
//   long its pass took: the passes keep their 100 ms (or 50, 818, ...) grid, without drift;
// - work due at one time runs in the virtual clock's order (the session's steps, then the
//   voice client's deferred work, then the clipboard pass, then the cue pass);
// - one piece of work runs at a time: a worker's pass, up to its next pause, or one task of
//   the session. The workers' passes never overlap each other or the session's steps.
//
// So a session plays in real time exactly as it does on the virtual clock, with the
// plugin's own threads, exports and pauses: the same timeline, stamped with the times the
// work was due. How far the wall clock got ahead of that, at worst, is behind().
//
// The workers' first passes run before the session starts (the plugin runs one pass as
// soon as it starts, before any pause); their first pauses end at session time 0.
//
// The clipboard worker's wait for its next look ends at its regular look or at the first
// notice before it (notice()), whichever comes first in session time, as on the virtual
// clock: the session, not the platform, says when the plugin hears of a change.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "shared/pacer.h"

namespace sorlinx::sim {

// The order of the work due at one time, the same on both clocks. AFTER_ALL comes after
// everything else due at its time.
enum WorkOrder : int { STEP = 0, DEFERRED = 1, CLIPBOARD_PASS = 2, CUE_PASS = 3, AFTER_ALL = 4 };

// A change of the clipboard as the simulated plugin hears of it: when it was made, and when
// the notice of it comes.
struct ChangeNotice {
  Milliseconds at;
  Milliseconds changedAt;
};

// Adds `notice` to `notices`, kept in the order of their times.
void addNotice(std::vector<ChangeNotice>& notices, ChangeNotice notice);
// Takes from `notices` those that a clipboard pass starting at `time` answers: due by then,
// or about a change made by then, which the pass reads anyway.
void takeNotices(std::vector<ChangeNotice>& notices, Milliseconds time);

// For run(): no end but requestStop().
inline constexpr Milliseconds UNTIL_STOPPED = Milliseconds::max();

class RealTime final : public Pacer {
 public:
  // `stop` is the plugin's stop request: once set, every pause returns false at once.
  explicit RealTime(const StopFlag& stop);
  RealTime(const RealTime&) = delete;
  RealTime& operator=(const RealTime&) = delete;
  ~RealTime() override = default;

  // Queues a piece of the session's work (STEP, DEFERRED or AFTER_ALL) for run(). Any thread.
  void at(Milliseconds time, int order, std::function<void()> work);

  // Names the plugin's workers, once they are started (a default ID: that worker did not
  // start). Their pauses wait for this.
  void adopt(std::thread::id clipboardWorker, std::thread::id cueWorker);

  // Waits until both workers have run their first pass and pause, so that the session can
  // start: nothing of the plugin runs until run().
  void awaitWorkers();

  // Starts the session clock at the wall clock's now and runs the session's work with the
  // workers' passes until everything due up to `end` is done, or until requestStop().
  // Afterwards nothing runs any more: the workers wait in their pauses for the plugin's
  // stop request.
  void run(Milliseconds end);

  // Has `hook` run on each worker at each of its pauses, before it: its pass (or the part
  // of it before the pause) is done, and nothing else runs yet. Before the session starts.
  void beforeEachPause(std::function<void()> hook) { beforePause_ = std::move(hook); }

  // Ends run() as soon as the work running now is done. Any thread; safe from a console
  // interrupt handler (it only sets a flag, which run() looks at every few milliseconds).
  void requestStop() noexcept { stopRequested_.store(true); }

  // The calling thread's session time: the time its work was due at (a worker's pass, a
  // task of the session); other threads get the wall clock's time since the start.
  Milliseconds now() override;
  // For the workers: ends at the session time `duration` after the calling worker's
  // current one, when the work due before it has run. A thread that is not an adopted
  // worker just sleeps.
  bool pause(Milliseconds duration) override;
  // The same, cut short by the first notice due before its end. `notices` (the platform's)
  // are not listened to.
  Wake awaitLook(Milliseconds duration, ChangeNotices* notices) override;
  // The clipboard changed at session time `changedAt`; the plugin hears of it at `at`. A
  // pass that starts once the change was made reads it, and takes its notice with it. Any
  // thread.
  void notice(Milliseconds changedAt, Milliseconds at);

  // How far behind the wall clock the work ran, at worst.
  [[nodiscard]] Milliseconds behind() const;

 private:
  using Clock = std::chrono::steady_clock;

  // Work is ordered by its time, then its order; the session's tasks also by arrival.
  struct Key {
    Milliseconds time;
    int order;
    std::uint64_t sequence;
    auto operator<=>(const Key&) const = default;
  };
  struct Task {
    Key key;
    std::function<void()> work;
    bool operator>(const Task& other) const { return key > other.key; }
  };
  struct Worker {
    std::thread::id id;
    int order;
    // The worker's current or next piece of work; before its first pause, earlier than
    // any of the session's.
    Key next;
    bool started = false;
  };

  static constexpr Key NEVER{Milliseconds::max(), 0, 0};

  Worker* workerOf(std::thread::id id);
  // The session's next task, or the one it runs now.
  Key sessionKey() const;
  // Whether `key` is the earliest of all the work waiting or running, and nothing runs.
  bool mayRun(const Key& key) const;
  // Waits, with the lock held, until `key` may run and its time has come on the wall
  // clock, or until `abandon()` holds. Returns false when abandoned.
  bool waitTurn(std::unique_lock<std::mutex>& lock, const Key& key,
                const std::function<bool()>& abandon);
  void noteLateness(const Key& key);
  // pause() and awaitLook(): `onNotices` for the latter.
  Wake wait(Milliseconds duration, bool onNotices);

  const StopFlag& pluginStop_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::priority_queue<Task, std::vector<Task>, std::greater<>> tasks_;
  std::uint64_t nextSequence_ = 0;
  std::vector<Worker> workers_;
  bool adopted_ = false;
  std::thread::id sessionThread_;
  // What runs now: nothing, the session's task of `running_`, or a worker.
  bool busy_ = false;
  Key running_{};
  // No work runs any more: run() has returned.
  bool closed_ = false;
  Clock::time_point start_{};
  bool started_ = false;
  Milliseconds behind_{0};
  std::atomic<bool> stopRequested_{false};
  std::function<void()> beforePause_;
  // The notices not yet taken by a clipboard pass, in the order of their times.
  std::vector<ChangeNotice> notices_;
};

}  // namespace sorlinx::sim
