// The in-memory clipboard: the platform clipboard for tests and the simulator.
#include <condition_variable>
#include <mutex>
#include <new>

#include "clipboard/clipboard.h"
#include "clipboard/memory_clipboard.h"

namespace sorlinx {
namespace {

struct MemoryClipboard {
  std::mutex mutex;
  std::optional<std::string> text;
  std::uint64_t changeCount = 1;
  bool changeCountSupported = true;
  bool held = false;
  bool readsOutOfMemory = false;
  int failingOpens = 0;
  int failingWrites = 0;
  int refusingAfterEmptying = 0;
  std::uint64_t writes = 0;
  std::uint64_t reads = 0;
  std::uint64_t counterLooks = 0;
  std::function<void(std::string_view)> writeObserver;
  std::function<void(std::string_view)> readObserver;
  std::function<void()> changeObserver;
  // The notices of the worker listening: a change came since its last wait; a wake-up.
  std::condition_variable noticed;
  bool noticePending = false;
  bool woken = false;

  // Called with the mutex held.
  bool open() {
    if (failingOpens > 0) {
      --failingOpens;
      return false;
    }
    return !held;
  }
};

MemoryClipboard& board() {
  static MemoryClipboard instance;
  return instance;
}

// Called with the mutex held.
bool store(MemoryClipboard& b, std::string_view text, std::uint64_t& emptiedAt) noexcept {
  ++b.writes;
  if (b.failingWrites > 0) {
    --b.failingWrites;
    return false;
  }
  if (!b.open()) {
    return false;
  }
  if (b.refusingAfterEmptying > 0) {
    --b.refusingAfterEmptying;
    b.text.reset();
    emptiedAt = ++b.changeCount;
    b.noticePending = true;
    return false;
  }
  try {
    std::string copy(text);  // made before anything changes, like the Windows block
    b.text = std::move(copy);
  } catch (...) {
    return false;
  }
  ++b.changeCount;
  b.noticePending = true;
  return true;
}

// The contents changed, with the mutex held: tell the worker that listens.
void noteChange(MemoryClipboard& b) {
  ++b.changeCount;
  b.noticePending = true;
  b.noticed.notify_all();
}

// After a change, without the mutex: the change observer may look at the clipboard.
void reportChange(MemoryClipboard& b) {
  std::function<void()> observer;
  {
    const std::lock_guard lock(b.mutex);
    observer = b.changeObserver;
  }
  if (observer) {
    observer();
  }
}

// A change of this clipboard is known the moment it is made: the notice is immediate.
class MemoryNotices final : public ChangeNotices {
 public:
  MemoryNotices() {
    auto& b = board();
    const std::lock_guard lock(b.mutex);
    b.noticePending = false;  // what came before the worker started, its first pass reads
    b.woken = false;
  }

  bool wait(Milliseconds timeout) override {
    auto& b = board();
    std::unique_lock lock(b.mutex);
    b.noticed.wait_for(lock, timeout, [&b] { return b.noticePending || b.woken; });
    const bool changed = b.noticePending;
    b.noticePending = false;
    b.woken = false;
    return changed;
  }

  void wake() noexcept override {
    auto& b = board();
    const std::lock_guard lock(b.mutex);
    b.woken = true;
    b.noticed.notify_all();
  }
};

}  // namespace

std::uint64_t clipboard::changeCount() noexcept {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  ++b.counterLooks;
  return b.changeCountSupported ? b.changeCount : 0;
}

bool clipboard::readText(std::string& text) {
  auto& b = board();
  std::function<void(std::string_view)> observer;
  {
    const std::lock_guard lock(b.mutex);
    ++b.reads;
    if (!b.open() || !b.text) {
      return false;
    }
    if (b.readsOutOfMemory) {
      throw std::bad_alloc();
    }
    // Like CF_TEXT, the text ends at its first zero byte.
    const std::string_view whole(*b.text);
    text.assign(whole.substr(0, whole.find('\0')));
    observer = b.readObserver;
  }
  if (observer) {
    observer(text);  // outside the lock, like the write observer
  }
  return true;
}

bool clipboard::writeText(std::string_view text, std::uint64_t& emptiedAt) noexcept {
  auto& b = board();
  bool written = false;
  try {
    std::function<void(std::string_view)> observer;
    bool changed = false;
    {
      const std::lock_guard lock(b.mutex);
      const std::uint64_t before = b.changeCount;
      written = store(b, text, emptiedAt);
      changed = b.changeCount != before;
      if (changed) {
        b.noticed.notify_all();
      }
      observer = b.writeObserver;
    }
    if (written && observer) {
      observer(text);  // outside the lock: it may read the clipboard
    }
    if (changed) {
      reportChange(b);  // the plugin's own writes bring a notice too, as on Windows
    }
  } catch (...) {
    // An observer's failure is the observer's business; the text was written.
  }
  return written;
}

std::unique_ptr<ChangeNotices> clipboard::listenForChanges() noexcept {
  try {
    return std::make_unique<MemoryNotices>();
  } catch (...) {
    return nullptr;
  }
}

void clipboard::release() noexcept {}  // nothing is held between calls

void memory_clipboard::setText(std::string_view text) {
  auto& b = board();
  {
    const std::lock_guard lock(b.mutex);
    b.text.emplace(text);
    noteChange(b);
  }
  reportChange(b);
}

void memory_clipboard::clear() {
  auto& b = board();
  {
    const std::lock_guard lock(b.mutex);
    b.text.reset();
    noteChange(b);
  }
  reportChange(b);
}

std::optional<std::string> memory_clipboard::text() {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  return b.text;
}

void memory_clipboard::setHeld(bool held) {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  b.held = held;
}

void memory_clipboard::failNextOpens(int count) {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  b.failingOpens = count;
}

void memory_clipboard::failNextWrites(int count) {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  b.failingWrites = count;
}

void memory_clipboard::refuseNextWritesAfterEmptying(int count) {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  b.refusingAfterEmptying = count;
}

void memory_clipboard::setReadsOutOfMemory(bool outOfMemory) {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  b.readsOutOfMemory = outOfMemory;
}

void memory_clipboard::setChangeCountSupported(bool supported) {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  b.changeCountSupported = supported;
}

std::uint64_t memory_clipboard::writeCount() {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  return b.writes;
}

std::uint64_t memory_clipboard::readCount() {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  return b.reads;
}

std::uint64_t memory_clipboard::counterLookCount() {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  return b.counterLooks;
}

void memory_clipboard::setChangeObserver(std::function<void()> observer) {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  b.changeObserver = std::move(observer);
}

void memory_clipboard::setWriteObserver(std::function<void(std::string_view)> observer) {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  b.writeObserver = std::move(observer);
}

void memory_clipboard::setReadObserver(std::function<void(std::string_view)> observer) {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  b.readObserver = std::move(observer);
}

void memory_clipboard::reset() {
  auto& b = board();
  const std::lock_guard lock(b.mutex);
  b.text.reset();
  ++b.changeCount;
  b.changeCountSupported = true;
  b.held = false;
  b.readsOutOfMemory = false;
  b.failingOpens = 0;
  b.failingWrites = 0;
  b.refusingAfterEmptying = 0;
  b.writes = 0;
  b.reads = 0;
  b.counterLooks = 0;
  b.writeObserver = nullptr;
  b.readObserver = nullptr;
  b.changeObserver = nullptr;
  b.noticePending = false;
}

}  // namespace sorlinx
