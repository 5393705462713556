#include "simulation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <queue>
#include <random>
#include <thread>

#include "clipboard/clipboard_channel.h"
#include "clipboard/memory_clipboard.h"
#include "host/interface26.h"
#include "host/interface4.h"
#include "plugin/exports.h"
#include "plugin/lifecycle.h"
#include "plugin/plugin_state.h"
#include "positional/sound_cues.h"

namespace sorlinx::sim {

namespace {

using Clock = std::chrono::steady_clock;

// Tasks at the same time run in this order: the session's steps, then what the voice
// client had deferred, then the clipboard pass, then the cue pass. Expectations are
// checked after the run.
enum Order : int { STEP = 0, DEFERRED = 1, CLIPBOARD_PASS = 2, CUE_PASS = 3 };

struct Task {
  Milliseconds time;
  int order;
  std::uint64_t sequence;
  std::function<void()> run;

  bool operator>(const Task& other) const {
    return std::tie(time, order, sequence) > std::tie(other.time, other.order, other.sequence);
  }
};

// The virtual clock: a queue of tasks, run in time order. A worker pass that pauses runs
// whatever else falls due meanwhile, as the other threads would.
class VirtualTime final : public Pacer {
 public:
  Milliseconds now() override { return now_; }

  bool pause(Milliseconds duration) override {
    runUntil(now_ + duration);
    return true;
  }

  void at(Milliseconds time, int order, std::function<void()> run) {
    queue_.push({std::max(time, now_), order, next_++, std::move(run)});
  }

  void runUntil(Milliseconds end) {
    while (!queue_.empty() && queue_.top().time <= end) {
      Task task = queue_.top();
      queue_.pop();
      now_ = std::max(now_, task.time);
      task.run();
    }
    now_ = std::max(now_, end);
  }

 private:
  Milliseconds now_{0};
  std::uint64_t next_ = 0;
  std::priority_queue<Task, std::vector<Task>, std::greater<>> queue_;
};

// The voice client's deferred work in real time: a thread that runs each piece when due.
class Timer {
 public:
  Timer() : thread_([this] { loop(); }) {}
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  ~Timer() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void after(Milliseconds delay, std::function<void()> work) {
    {
      const std::lock_guard lock(mutex_);
      due_.emplace(Clock::now() + delay, std::move(work));
    }
    wake_.notify_all();
  }

 private:
  void loop() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (due_.empty()) {
        wake_.wait(lock);
        continue;
      }
      const auto first = due_.begin();
      if (first->first > Clock::now()) {
        wake_.wait_until(lock, first->first);
        continue;
      }
      auto work = std::move(first->second);
      due_.erase(first);
      lock.unlock();
      work();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::multimap<Clock::time_point, std::function<void()>> due_;
  bool stopping_ = false;
  std::thread thread_;
};

// A configuration folder of the voice client's, made for the session and removed after.
class ConfigFolder {
 public:
  explicit ConfigFolder(const std::optional<std::string>& identity) {
    std::random_device entropy;
    path_ = std::filesystem::temp_directory_path() /
            ("sorlinx-sim-" + std::to_string(entropy()) + std::to_string(entropy()));
    std::filesystem::create_directories(path_);
    if (identity) {
      std::ofstream secrets(path_ / "ts3clientui_qt.secrets.conf", std::ios::binary);
      secrets << "[General]\nidentity=" << *identity << "\n";
    }
  }
  ConfigFolder(const ConfigFolder&) = delete;
  ConfigFolder& operator=(const ConfigFolder&) = delete;
  ~ConfigFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  // As the voice client hands it over: ending in a folder separator.
  [[nodiscard]] std::string withSeparator() const { return (path_ / "").make_preferred().string(); }
  // The folder of the installed plugins, as interface 26's getPluginPath writes it. Nothing
  // is read from it: the voice client, not the plugin, opens the cue files.
  [[nodiscard]] std::string pluginFolder() const {
    return (path_ / "plugins" / "").make_preferred().string();
  }

 private:
  std::filesystem::path path_;
};

// The voice client's entry that a session's fail or heal step is about. A session may name
// the entry that moves clients by either interface's name (the plugin's log says
// "erreur requestChannelMove" with both), so that it runs alike against both; the step
// then acts on, and the timeline names, the entry of the interface in use. Interface 26
// does have an entry named requestChannelMove, but it moves channels and the plugin never
// calls it: a fault there could not show.
std::string entryInUse(const std::string& entry, int pluginInterface) {
  if (entry == "requestChannelMove" || entry == "requestClientMove") {
    return pluginInterface == 4 ? "requestChannelMove" : "requestClientMove";
  }
  return entry;
}

bool near(float actual, float expected) {
  return std::fabs(actual - expected) <= 1e-5F * std::max(1.0F, std::fabs(expected));
}

bool matches(const Step& step, const Event& event) {
  switch (step.kind) {
    case StepKind::expectReply:
      return event.kind == EventKind::reply && event.text == step.text;
    case StepKind::expectPlace:
      return event.kind == EventKind::place && event.result == 0 && event.client == step.client &&
             near(event.position.x, step.position.x) && near(event.position.y, step.position.y) &&
             near(event.position.z, step.position.z);
    case StepKind::expectCue:
      return event.kind == EventKind::cue && event.text == step.text;
    case StepKind::expectMove:
      return event.kind == EventKind::move && event.client == step.client &&
             event.channel == step.channel && (!step.password || event.password == step.password);
    case StepKind::expectConnect:
      return event.kind == EventKind::connect && event.text == step.text &&
             event.number == step.number && (!step.nickname || event.nickname == step.nickname) &&
             (!step.password || event.password == step.password);
    case StepKind::expectDisconnect:
      return event.kind == EventKind::disconnect;
    case StepKind::expectLog:
      return event.kind == EventKind::log && event.text == step.text;
    case StepKind::expectNoReply:
      return event.kind == EventKind::reply;
    case StepKind::expectNoCue:
      return event.kind == EventKind::cue;
    case StepKind::expectNothing:
      // Whatever the plugin does in answer; the cues go on by themselves (the question of
      // where the plugin is installed, before the first, with them), and the start sequence
      // answers nothing.
      return event.fromPlugin && !event.atStart && event.kind != EventKind::cue &&
             !(event.kind == EventKind::query && event.text == "getPluginPath");
    default:
      return false;
  }
}

bool isNegative(StepKind kind) {
  return kind == StepKind::expectNoReply || kind == StepKind::expectNoCue ||
         kind == StepKind::expectNothing;
}

// The kind of event a positive expectation is about.
std::optional<EventKind> subjectOf(StepKind kind) {
  switch (kind) {
    case StepKind::expectReply:
      return EventKind::reply;
    case StepKind::expectPlace:
      return EventKind::place;
    case StepKind::expectCue:
      return EventKind::cue;
    case StepKind::expectMove:
      return EventKind::move;
    case StepKind::expectConnect:
      return EventKind::connect;
    case StepKind::expectDisconnect:
      return EventKind::disconnect;
    case StepKind::expectLog:
      return EventKind::log;
    default:
      return std::nullopt;
  }
}

// An event as the timeline prints it, on one line without the leading blanks.
std::string oneLine(const Event& event) {
  std::ostringstream line;
  printText(line, event);
  std::string text = line.str();
  text.pop_back();
  return text.substr(text.find_first_not_of(' '));
}

// For a failed expectation, the events of its kind that did happen in its window: a hint
// at what the game got wrong.
std::string seenInWindow(const std::vector<Event>& events, Milliseconds from, Milliseconds to,
                         const Step& step) {
  const std::optional<EventKind> subject = subjectOf(step.kind);
  std::string seen;
  int shown = 0;
  for (const Event& event : events) {
    if (!subject || event.kind != *subject || event.time < from || event.time > to) {
      continue;
    }
    if (++shown > 3) {
      seen += "; ...";
      break;
    }
    seen += (seen.empty() ? "saw: " : "; ") + oneLine(event);
  }
  return seen;
}

class Simulation {
 public:
  Simulation(const std::vector<Step>& steps, const Options& options)
      : steps_(steps), options_(options) {}

  Outcome run();

 private:
  Milliseconds now() {
    if (options_.realtime) {
      return std::chrono::duration_cast<Milliseconds>(Clock::now() - realStart_);
    }
    return virtualTime_.now();
  }

  void record(Event event) {
    const std::lock_guard lock(eventsMutex_);
    events_.push_back(std::move(event));
  }

  void world(const std::string& what) {
    Event event;
    event.time = now();
    event.kind = EventKind::world;
    event.text = what;
    record(std::move(event));
  }

  std::optional<std::string> nicknameOf(ClientId id) const {
    if (auto info = client_.client(id)) {
      return info->nickname;
    }
    return std::nullopt;
  }

  void setUpWorld();
  void apply(const Step& step);
  void runVirtual(Milliseconds end);
  void runRealtime(Milliseconds end);
  void checkExpectations(Outcome& outcome);

  const std::vector<Step>& steps_;
  // The steps left to play once the world of time 0 is set up.
  std::vector<Step> toPlay_;
  Options options_;
  VoiceClient client_;
  VirtualTime virtualTime_;
  Clock::time_point realStart_ = Clock::now();
  std::unique_ptr<Timer> timer_;
  // While the plugin's start sequence runs.
  std::atomic<bool> starting_{false};
  mutable std::mutex eventsMutex_;
  std::vector<Event> events_;
};

void Simulation::setUpWorld() {
  client_.setStrict(true);
  client_.setConnection(1, STATUS_CONNECTION_ESTABLISHED);
  client_.addClient(DEFAULT_LOCAL_CLIENT, 1, "Player");
  client_.setLocalClient(DEFAULT_LOCAL_CLIENT);
  client_.setClock([this] { return static_cast<std::int64_t>(now().count()); });
  client_.setObserver([this](const HostCall& call) {
    const ClientId about = call.args.size() > 1 && (call.entry == "channelset3DAttributes" ||
                                                    call.entry == "requestChannelMove" ||
                                                    call.entry == "requestClientMove")
                               ? static_cast<ClientId>(std::stoul(call.args[1]))
                               : ClientId{0};
    Event event = eventFromCall(call, Milliseconds(call.time), nicknameOf(about));
    event.atStart = starting_.load();
    record(std::move(event));
  });
  client_.setConnectionLifecycle(
      [this](ServerConnectionId connection, std::int32_t status) {
        world("the voice client reports status " + std::to_string(status) +
              (status == STATUS_CONNECTION_ESTABLISHED ? " (connected)"
               : status == STATUS_DISCONNECTED         ? " (disconnected)"
                                                       : " (connecting)"));
        ts3plugin_onConnectStatusChangeEvent(connection, status, 0);
      },
      [this](Milliseconds delay, std::function<void()> work) {
        if (options_.realtime) {
          timer_->after(delay, std::move(work));
        } else {
          virtualTime_.at(virtualTime_.now() + delay, DEFERRED, std::move(work));
        }
      },
      Milliseconds(200));
  memory_clipboard::reset();
  memory_clipboard::setWriteObserver([this](std::string_view text) {
    Event event;
    event.time = now();
    event.kind = EventKind::reply;
    event.text = std::string(text);
    record(std::move(event));
  });
}

void Simulation::apply(const Step& step) {
  const auto clipboardEvent = [this](const std::string& text) {
    Event event;
    event.time = now();
    event.kind = EventKind::clipboard;
    event.text = text;
    record(std::move(event));
  };
  const std::string who = "client " + std::to_string(step.client);
  switch (step.kind) {
    case StepKind::clip:
      memory_clipboard::setText(step.text);
      clipboardEvent(step.text);
      break;
    case StepKind::send: {
      const std::string text = requestText(step.command, step.text);
      memory_clipboard::setText(text);
      clipboardEvent(text);
      break;
    }
    case StepKind::empty:
      memory_clipboard::clear();
      world("the clipboard is emptied");
      break;
    case StepKind::hold:
      memory_clipboard::setHeld(true);
      world("another program holds the clipboard open");
      break;
    case StepKind::release:
      memory_clipboard::setHeld(false);
      world("the clipboard is free again");
      break;
    case StepKind::client:
      client_.addClient(step.client, step.channel, step.text);
      if (step.flag) {
        client_.setLocalClient(step.client);
      }
      world(who + " (" + step.text + ") is in channel " + std::to_string(step.channel) +
            (step.flag ? ", the local client" : ""));
      break;
    case StepKind::leave:
      client_.removeClient(step.client);
      world(who + " leaves the server");
      break;
    case StepKind::rename:
      client_.renameClient(step.client, step.text);
      world(who + " is now called " + step.text);
      break;
    case StepKind::move:
      client_.moveClient(step.client, step.channel);
      world(who + " moves to channel " + std::to_string(step.channel));
      break;
    case StepKind::local:
      client_.setLocalClient(step.client);
      world(who + " is the local client");
      break;
    case StepKind::connect:
      client_.reportStatus(STATUS_CONNECTION_ESTABLISHED);
      break;
    case StepKind::disconnect:
      client_.reportStatus(STATUS_DISCONNECTED);
      break;
    case StepKind::status:
      client_.reportStatus(static_cast<std::int32_t>(step.number));
      break;
    case StepKind::fail: {
      const std::string entry = entryInUse(step.text, options_.pluginInterface);
      if (step.flag) {
        client_.failForClient(entry, step.client, static_cast<HostError>(step.number));
      } else {
        client_.fail(entry, static_cast<HostError>(step.number));
      }
      world(entry + " fails with error " + std::to_string(step.number) +
            (step.flag ? " for " + who : ""));
      break;
    }
    case StepKind::heal: {
      const std::string entry = entryInUse(step.text, options_.pluginInterface);
      if (entry == "all") {
        client_.clearFailures();
      } else if (step.flag) {
        client_.healForClient(entry, step.client);
      } else {
        client_.heal(entry);
      }
      world(entry + " works again" + (step.flag ? " for " + who : ""));
      break;
    }
    default:
      break;  // the identity is set up before the start; expectations are checked after
  }
}

void Simulation::runVirtual(Milliseconds end) {
  ClipboardChannel channel;
  SoundCueState cues;
  pluginState.pacer = &virtualTime_;
  starting_.store(true);
  prepareStart();
  starting_.store(false);

  std::function<void()> clipboardPassTask = [&] {
    clipboardPass(channel);
    virtualTime_.at(virtualTime_.now() + POLLING_PERIOD, CLIPBOARD_PASS, clipboardPassTask);
  };
  std::function<void()> cuePassTask = [&] {
    const Milliseconds pause = soundCuePass(cues, virtualTime_);
    virtualTime_.at(virtualTime_.now() + pause, CUE_PASS, cuePassTask);
  };
  virtualTime_.at(Milliseconds(0), CLIPBOARD_PASS, clipboardPassTask);
  virtualTime_.at(Milliseconds(0), CUE_PASS, cuePassTask);
  for (const Step& step : toPlay_) {
    if (!isExpectation(step.kind)) {
      virtualTime_.at(step.time, STEP, [this, &step] { apply(step); });
    }
  }
  virtualTime_.runUntil(end);

  pluginState.pacer = &pluginState.steadyPacer;
  finishStop();
}

void Simulation::runRealtime(Milliseconds end) {
  timer_ = std::make_unique<Timer>();
  realStart_ = Clock::now();
  starting_.store(true);
  ts3plugin_init();
  starting_.store(false);
  for (const Step& step : toPlay_) {
    if (isExpectation(step.kind)) {
      continue;
    }
    std::this_thread::sleep_until(realStart_ + step.time);
    apply(step);
  }
  std::this_thread::sleep_until(realStart_ + end + REALTIME_GRACE);
  ts3plugin_shutdown();
  timer_.reset();
}

void Simulation::checkExpectations(Outcome& outcome) {
  const Milliseconds grace = options_.realtime ? REALTIME_GRACE : Milliseconds(0);
  std::vector<bool> used(events_.size(), false);
  // Each expectation looks from the time of the last step before its own time to its own
  // time, both included; the steps of one time share that window.
  Milliseconds from{0};
  Milliseconds groupTime{0};
  std::vector<Event> checked;
  for (const Step& step : steps_) {
    if (step.time > groupTime) {
      from = groupTime;
      groupTime = step.time;
    }
    if (!isExpectation(step.kind)) {
      continue;
    }
    const Milliseconds to = step.time + grace;
    Event result;
    result.time = step.time;
    result.kind = EventKind::expectation;
    result.text = step.source;
    result.line = step.at.line;
    std::size_t found = events_.size();
    for (std::size_t i = 0; i < events_.size(); ++i) {
      const Event& event = events_[i];
      if (event.time >= from && event.time <= to && !used[i] && matches(step, event)) {
        found = i;
        break;
      }
    }
    const auto window =
        "between " + std::to_string(from.count()) + " and " + std::to_string(to.count()) + " ms";
    if (isNegative(step.kind)) {
      result.met = found == events_.size();
      if (!result.met) {
        result.detail = "but " + window + " there was: " + oneLine(events_[found]);
      }
    } else {
      result.met = found != events_.size();
      if (result.met) {
        used[found] = true;
      } else {
        const std::string seen = seenInWindow(events_, from, to, step);
        result.detail = "nothing like it " + window + (seen.empty() ? "" : "; " + seen);
      }
    }
    ++outcome.expectations;
    if (!result.met) {
      ++outcome.failedExpectations;
    }
    checked.push_back(std::move(result));
  }
  // Each expectation shows after the events of its time.
  for (Event& event : checked) {
    const auto position =
        std::upper_bound(events_.begin(), events_.end(), event.time,
                         [](Milliseconds time, const Event& other) { return time < other.time; });
    events_.insert(position, std::move(event));
  }
}

Outcome Simulation::run() {
  std::optional<std::string> identity = DEFAULT_IDENTITY;
  Milliseconds end = options_.until;
  bool declaredDefaultClient = false;
  bool declaredLocal = false;
  for (const Step& step : steps_) {
    end = std::max(end, step.time);
    if (step.kind == StepKind::identity) {
      identity = step.flag ? std::optional(step.text) : std::nullopt;
    }
    if (step.time.count() == 0 && step.kind == StepKind::client) {
      declaredDefaultClient = declaredDefaultClient || step.client == DEFAULT_LOCAL_CLIENT;
      declaredLocal = declaredLocal || step.flag;
    }
  }

  setUpWorld();
  world(options_.pluginInterface == 4
            ? "the voice client speaks plugin interface 4 (the clients of that era)"
            : "the voice client speaks plugin interface 26 (clients 3.6 and later)");
  if (declaredLocal && !declaredDefaultClient) {
    client_.removeClient(DEFAULT_LOCAL_CLIENT);  // the session brings its own local client
  }
  const ConfigFolder config(identity);
  client_.setConfigPath(config.withSeparator());
  client_.setPluginPath(config.pluginFolder());
  // The world as it stands at time 0 is the world the plugin starts into; the game's
  // clipboard texts and the expectations of time 0 play with the rest.
  for (const Step& step : steps_) {
    const bool setsUpWorld = step.time.count() == 0 && !isExpectation(step.kind) &&
                             step.kind != StepKind::clip && step.kind != StepKind::send;
    if (setsUpWorld) {
      apply(step);
    } else {
      toPlay_.push_back(step);
    }
  }

  // The voice client hands over its table before init. Interface 26's also hands over the
  // plugin's ID, which the plugin needs to ask where it is installed; a real voice client
  // may do so before or after init, and the plugin copes with both.
  if (options_.pluginInterface == 4) {
    interface4::setFunctionPointers(client_.table4());
  } else {
    interface26::setFunctionPointers(client_.table26());
    interface26::registerPluginID(SIM_PLUGIN_ID);
  }
  if (options_.realtime) {
    runRealtime(end);
  } else {
    runVirtual(end);
  }

  memory_clipboard::setWriteObserver(nullptr);
  client_.setObserver(nullptr);
  client_.setConnectionLifecycle(nullptr, nullptr, Milliseconds(0));

  Outcome outcome;
  {
    const std::lock_guard lock(eventsMutex_);
    std::stable_sort(events_.begin(), events_.end(),
                     [](const Event& a, const Event& b) { return a.time < b.time; });
    checkExpectations(outcome);
    outcome.events = events_;
  }
  outcome.clients = client_.clients();
  outcome.localClient = client_.localClient();
  {
    const std::lock_guard lock(pluginState.stateLock);
    outcome.rcClients = pluginState.rcClients;
    outcome.rlClients = pluginState.rlClients;
  }
  return outcome;
}

}  // namespace

Outcome runSession(const std::vector<Step>& steps, const Options& options) {
  Simulation simulation(steps, options);
  return simulation.run();
}

}  // namespace sorlinx::sim
