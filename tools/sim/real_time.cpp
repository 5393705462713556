#include "real_time.h"

#include <algorithm>

namespace sorlinx::sim {

namespace {

// Every wait wakes at least this often to look at the stop requests, which come without a
// notification (the plugin's own flag, a console interrupt).
constexpr Milliseconds WAIT_SLICE{5};

// Session times past this have no wall-clock moment (a live session runs until stopped).
constexpr Milliseconds FOREVER{Milliseconds(1000LL * 60 * 60 * 24 * 365 * 100)};

}  // namespace

RealTime::RealTime(const StopFlag& stop) : pluginStop_(stop) {}

void RealTime::at(Milliseconds time, int order, std::function<void()> work) {
  {
    const std::lock_guard lock(mutex_);
    tasks_.push({{time, order, nextSequence_++}, std::move(work)});
  }
  changed_.notify_all();
}

void RealTime::adopt(std::thread::id clipboardWorker, std::thread::id cueWorker) {
  {
    const std::lock_guard lock(mutex_);
    for (const auto& [id, order] :
         {std::pair{clipboardWorker, int{CLIPBOARD_PASS}}, std::pair{cueWorker, int{CUE_PASS}}}) {
      if (id != std::thread::id()) {
        workers_.push_back({id, order, {Milliseconds(-1), order, 0}});
      }
    }
    adopted_ = true;
  }
  changed_.notify_all();
}

void RealTime::awaitWorkers() {
  std::unique_lock lock(mutex_);
  while (!pluginStop_.isSet() && !std::all_of(workers_.begin(), workers_.end(),
                                              [](const Worker& w) { return w.started; })) {
    changed_.wait_for(lock, WAIT_SLICE);
  }
}

RealTime::Worker* RealTime::workerOf(std::thread::id id) {
  const auto found =
      std::find_if(workers_.begin(), workers_.end(), [id](const Worker& w) { return w.id == id; });
  return found == workers_.end() ? nullptr : &*found;
}

RealTime::Key RealTime::sessionKey() const { return tasks_.empty() ? NEVER : tasks_.top().key; }

bool RealTime::mayRun(const Key& key) const {
  if (!started_ || closed_ || busy_ || sessionKey() < key) {
    return false;
  }
  return std::all_of(workers_.begin(), workers_.end(),
                     [&key](const Worker& w) { return !(w.next < key); });
}

bool RealTime::waitTurn(std::unique_lock<std::mutex>& lock, const Key& key,
                        const std::function<bool()>& abandon) {
  while (!abandon()) {
    const auto slice = Clock::now() + WAIT_SLICE;
    if (!mayRun(key)) {
      changed_.wait_until(lock, slice);
      continue;
    }
    if (key.time >= FOREVER) {
      changed_.wait_until(lock, slice);
      continue;
    }
    const auto due = start_ + key.time;
    if (Clock::now() >= due) {
      return true;
    }
    changed_.wait_until(lock, std::min(due, slice));
  }
  return false;
}

void RealTime::noteLateness(const Key& key) {
  const auto late = std::chrono::duration_cast<Milliseconds>(Clock::now() - (start_ + key.time));
  behind_ = std::max(behind_, late);
}

void RealTime::run(Milliseconds end) {
  std::unique_lock lock(mutex_);
  sessionThread_ = std::this_thread::get_id();
  start_ = Clock::now();
  started_ = true;
  changed_.notify_all();
  while (!stopRequested_.load()) {
    if (!tasks_.empty() && tasks_.top().key.time <= end) {
      const Key key = tasks_.top().key;
      const bool turn = waitTurn(lock, key, [this, &key] {
        // A task pushed meanwhile may come first: take the queue's front again.
        return stopRequested_.load() || tasks_.top().key != key;
      });
      if (!turn) {
        continue;
      }
      Task task = tasks_.top();
      tasks_.pop();
      busy_ = true;
      running_ = key;
      noteLateness(key);
      lock.unlock();
      task.work();
      lock.lock();
      busy_ = false;
      changed_.notify_all();
      continue;
    }
    // Nothing of the session's is due up to the end: wait for the workers' passes due up to
    // it, and for the end on the wall clock.
    const bool workersDone = std::all_of(workers_.begin(), workers_.end(),
                                         [end](const Worker& w) { return w.next.time > end; });
    if (workersDone && !busy_ && end < FOREVER && Clock::now() >= start_ + end) {
      break;
    }
    const auto slice = Clock::now() + WAIT_SLICE;
    changed_.wait_until(lock, end < FOREVER ? std::min(slice, start_ + end) : slice);
  }
  // Wait for the piece of work running now, then let nothing run any more.
  while (busy_) {
    changed_.wait_for(lock, WAIT_SLICE);
  }
  closed_ = true;
  changed_.notify_all();
}

Milliseconds RealTime::now() {
  const std::lock_guard lock(mutex_);
  const std::thread::id self = std::this_thread::get_id();
  if (const Worker* worker = workerOf(self)) {
    return std::max(worker->next.time, Milliseconds(0));
  }
  if (self == sessionThread_ && busy_) {
    return running_.time;
  }
  if (!started_) {
    return Milliseconds(0);
  }
  return std::chrono::duration_cast<Milliseconds>(Clock::now() - start_);
}

bool RealTime::pause(Milliseconds duration) { return wait(duration, false) != Wake::stopping; }

Wake RealTime::awaitLook(Milliseconds duration, ChangeNotices* /*notices*/) {
  return wait(duration, true);
}

void addNotice(std::vector<ChangeNotice>& notices, ChangeNotice notice) {
  const auto later =
      std::upper_bound(notices.begin(), notices.end(), notice.at,
                       [](Milliseconds at, const ChangeNotice& other) { return at < other.at; });
  notices.insert(later, notice);
}

void takeNotices(std::vector<ChangeNotice>& notices, Milliseconds time) {
  std::erase_if(notices, [time](const ChangeNotice& notice) {
    return notice.at <= time || notice.changedAt <= time;
  });
}

void RealTime::notice(Milliseconds changedAt, Milliseconds at) {
  {
    const std::lock_guard lock(mutex_);
    addNotice(notices_, {at, changedAt});
  }
  changed_.notify_all();
}

Wake RealTime::wait(Milliseconds duration, bool onNotices) {
  if (beforePause_) {
    beforePause_();
  }
  std::unique_lock lock(mutex_);
  const auto stopping = [this] { return pluginStop_.isSet(); };
  while (!adopted_ && !stopping()) {
    changed_.wait_for(lock, WAIT_SLICE);
  }
  Worker* worker = workerOf(std::this_thread::get_id());
  if (worker == nullptr) {
    const auto until = Clock::now() + duration;
    while (!stopping() && Clock::now() < until) {
      changed_.wait_until(lock, std::min(until, Clock::now() + WAIT_SLICE));
    }
    return stopping() ? Wake::stopping : Wake::due;
  }
  Milliseconds due{0};
  if (worker->started) {
    busy_ = false;  // this worker's piece of work ends here
    due = worker->next.time + duration;
  } else {
    worker->started = true;  // the first pass ran before the session: start with it
  }
  const Milliseconds current = std::max(worker->next.time, Milliseconds(0));
  for (;;) {
    const bool byNotice = onNotices && !notices_.empty() && notices_.front().at < due;
    // A notice due while the worker was busy wakes it as soon as it is free.
    const Milliseconds awaited = byNotice ? notices_.front().at : due;
    worker->next.time = std::max(awaited, current);
    const Key key = worker->next;
    changed_.notify_all();
    // A notice that comes meanwhile, earlier than the one waited for, moves the wait up.
    const bool turn = waitTurn(lock, key, [&] {
      return stopping() || (onNotices && !notices_.empty() && notices_.front().at < awaited);
    });
    if (stopping()) {
      return Wake::stopping;
    }
    if (!turn) {
      continue;
    }
    busy_ = true;
    running_ = key;
    noteLateness(key);
    if (onNotices) {
      takeNotices(notices_, key.time);
    }
    return byNotice ? Wake::notice : Wake::due;
  }
}

Milliseconds RealTime::behind() const {
  const std::lock_guard lock(mutex_);
  return behind_;
}

}  // namespace sorlinx::sim
