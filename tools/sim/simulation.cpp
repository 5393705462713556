#include "simulation.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <mutex>
#include <queue>
#include <random>

#include "clipboard/envelope.h"
#include "clipboard/memory_clipboard.h"
#include "expectations.h"
#include "interfaces/interface26.h"
#include "interfaces/interface4.h"
#include "live_platform.h"
#include "plugin/exports.h"
#include "plugin/lifecycle.h"
#include "plugin/workers.h"
#include "positional/position_frame.h"
#include "positional/sound_cues.h"
#include "shared/info_board.h"
#include "shared/plugin_state.h"

namespace sorlinx::sim {

namespace {

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

// Live: what the game put on the clipboard, as the timeline and a recording show it. A
// text with the envelope's opening tag in it is the game's and shows as it is; any other
// text is the player's own business (a copied password, say) and shows as its length only.
// To the plugin both are the same: a text that is not a request, different from the one
// before it.
std::string gameText(const std::string& text) {
  if (text.find(OPENING_TAG) != std::string::npos) {
    return text;
  }
  return "(a text that is not a request, " + std::to_string(text.size()) + " bytes)";
}

// How long after a change of the clipboard the plugin hears of it, unless a session says
// otherwise ("notices after DELAY", "notices off").
constexpr Milliseconds DEFAULT_NOTICE_DELAY{1};

// A session runs on this long past its end, so that a failed expectation can tell of what
// came a poll or two late; what happens then is not part of the timeline.
constexpr Milliseconds LOOK_AHEAD{200};

class Simulation {
 public:
  Simulation(const std::vector<Step>& steps, const Options& options)
      : steps_(expandRepeats(steps)), options_(options) {}

  Outcome run();

 private:
  Milliseconds now() {
    if (options_.realtime || options_.live) {
      RealTime* clock = clock_.load();
      return clock == nullptr ? Milliseconds(0) : clock->now();
    }
    return virtualTime_.now();
  }

  void record(Event event) {
    const std::lock_guard lock(eventsMutex_);
    if (closed_ && event.fromPlugin) {
      return;  // the plugin winding up after the end, as its stop request cuts a wait short
    }
    if (options_.onEvent) {
      options_.onEvent(event);
    }
    events_.push_back(std::move(event));
  }

  void world(const std::string& what, bool noText = false) {
    Event event;
    event.time = now();
    event.kind = EventKind::world;
    event.text = what;
    event.noText = noText;
    record(std::move(event));
  }

  void clipboardText(const std::string& text) {
    Event event;
    event.time = now();
    event.kind = EventKind::clipboard;
    event.text = text;
    record(std::move(event));
  }

  std::optional<std::string> nicknameOf(ClientId id) const {
    if (auto info = client_.client(id)) {
      return info->nickname;
    }
    return std::nullopt;
  }

  // The clipboard changed now: the plugin hears of it after the notice delay, if at all.
  // On any thread that changes the in-memory clipboard.
  void clipboardChanged();
  // The virtual clock's clipboard worker: its next pass, at the regular look or at the
  // first notice before it, as clipboardThread waits for them.
  void scheduleClipboardPass(ClipboardChannel& channel);
  void setUpWorld();
  // Records the plugin's radio lists when they changed, and notes a stale-frame reset. After
  // each clipboard pass: only that thread changes them.
  void noteRadioLists();
  // The plugin read `text` from the clipboard, on its clipboard thread, before taking it:
  // noted for the hints, and a new frame's records that the plugin skips are shown.
  void pluginRead(const std::string& text);
  // The world as the session ends, for the map.
  void takeStockOfTheWorld();
  void apply(const Step& step);
  void watchRealClipboard(const live_platform::ClipboardAccess& access);
  void runVirtual(Milliseconds end);
  // Returns how far behind the wall clock the plugin's work ran, at worst.
  Milliseconds runThreads(Milliseconds end);

  // The steps as they play, repeats expanded.
  const std::vector<Step> steps_;
  // The steps left to play once the world of time 0 is set up.
  std::vector<Step> toPlay_;
  Options options_;
  VoiceClient client_;
  VirtualTime virtualTime_;
  std::atomic<RealTime*> clock_{nullptr};
  // While the plugin's start sequence runs.
  std::atomic<bool> starting_{false};
  mutable std::mutex eventsMutex_;
  std::vector<Event> events_;
  PluginTrace trace_;
  // The last text the plugin read; the stale-frame resets seen so far.
  std::optional<std::string> lastRead_;
  std::uint32_t resetsSeen_ = 0;
  // The session is over: what the plugin does while it stops is not part of it.
  bool closed_ = false;
  Outcome outcome_;
  // Live: the plugin's last reply, until the plugin reads it back on its next pass; whether
  // "no text" was shown since the last text.
  std::optional<std::string> unreadReply_;
  bool noTextShown_ = false;
  // The radio lists as last recorded (under the plugin's stateLock).
  std::vector<ClientId> lastRc_;
  std::vector<ClientId> lastRl_;
  // The notice delay in ms, or -1 when the clipboard's changes bring no notice.
  std::atomic<long long> noticeDelay_{DEFAULT_NOTICE_DELAY.count()};
  // The virtual clock's clipboard worker: the notices not yet taken by a pass, in time
  // order; the pass scheduled (an older generation's task does nothing) and when; whether
  // a pass runs now (a notice meanwhile waits for its end, as the thread's would).
  std::vector<ChangeNotice> notices_;
  ClipboardChannel* channel_ = nullptr;
  std::uint64_t passGeneration_ = 0;
  Milliseconds passScheduledAt_{0};
  bool inPass_ = false;
};

void Simulation::clipboardChanged() {
  const long long delay = noticeDelay_.load();
  if (delay < 0) {
    return;
  }
  const Milliseconds changedAt = now();
  const Milliseconds at = changedAt + Milliseconds(delay);
  if (RealTime* clock = clock_.load()) {
    clock->notice(changedAt, at);
  } else if (!options_.realtime && !options_.live) {
    addNotice(notices_, {at, changedAt});
    if (channel_ != nullptr && !inPass_ && at < passScheduledAt_) {
      scheduleClipboardPass(*channel_);
    }
  }
}

void Simulation::scheduleClipboardPass(ClipboardChannel& channel) {
  passScheduledAt_ =
      notices_.empty() ? channel.nextLook : std::min(channel.nextLook, notices_.front().at);
  const std::uint64_t generation = ++passGeneration_;
  virtualTime_.at(passScheduledAt_, CLIPBOARD_PASS, [this, &channel, generation] {
    if (generation != passGeneration_) {
      return;  // a notice brought the pass forward
    }
    const Milliseconds time = virtualTime_.now();
    takeNotices(notices_, time);
    const PassKind kind = passKindAt(channel, time);
    inPass_ = true;
    clipboardPass(channel, kind);
    inPass_ = false;
    passEnded(channel, kind, virtualTime_.now());
    noteRadioLists();
    scheduleClipboardPass(channel);
  });
}

void Simulation::setUpWorld() {
  client_.setStrict(true);
  client_.setConnection(1, STATUS_CONNECTION_ESTABLISHED);
  trace_.statuses.push_back({Milliseconds(0), STATUS_CONNECTION_ESTABLISHED});
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
        {
          const std::lock_guard lock(eventsMutex_);
          trace_.statuses.push_back({now(), status});
        }
        world("the voice client reports status " + std::to_string(status) +
              (status == STATUS_CONNECTION_ESTABLISHED ? " (connected)"
               : status == STATUS_DISCONNECTED         ? " (disconnected)"
                                                       : " (connecting)"));
        ts3plugin_onConnectStatusChangeEvent(connection, status, 0);
      },
      [this](Milliseconds delay, std::function<void()> work) {
        if (RealTime* clock = clock_.load()) {
          clock->at(clock->now() + delay, DEFERRED, std::move(work));
        } else {
          virtualTime_.at(virtualTime_.now() + delay, DEFERRED, std::move(work));
        }
      },
      Milliseconds(200));
  memory_clipboard::reset();
  memory_clipboard::setChangeObserver([this] { clipboardChanged(); });
  memory_clipboard::setWriteObserver([this](std::string_view text) {
    Event event;
    event.time = now();
    event.kind = EventKind::reply;
    event.text = std::string(text);
    record(std::move(event));
  });
  memory_clipboard::setReadObserver(
      [this](std::string_view text) { pluginRead(std::string(text)); });
}

void Simulation::pluginRead(const std::string& text) {
  bool fresh = false;
  {
    const std::lock_guard lock(eventsMutex_);
    trace_.reads.push_back({now(), text});
    fresh = lastRead_ != text;
    lastRead_ = text;
  }
  // The plugin takes a text only when it differs from the last it read, and ignores frames
  // while not connected.
  const auto payload = envelopePayload(text);
  if (!fresh || !payload || payload->empty() ||
      pluginState.connectionStatus.load() != STATUS_CONNECTION_ESTABLISHED) {
    return;
  }
  const Request request = splitPayload(*payload);
  if (request.command != "3D") {
    return;
  }
  std::string_view frame = request.arguments;
  while (const auto taken = takeFrameRecord(frame)) {
    if (!taken->record) {
      Event event;
      event.time = now();
      event.kind = EventKind::skipped;
      event.text = std::string(taken->text);
      event.detail = skipReasonText(taken->skipped);
      record(std::move(event));
    }
  }
}

void Simulation::noteRadioLists() {
  if (const std::uint32_t resets = infoBoard.panel().resets; resets != resetsSeen_) {
    resetsSeen_ = resets;
    const std::lock_guard lock(eventsMutex_);
    trace_.resets.push_back(now());
  }
  Event event;
  {
    const std::lock_guard lock(pluginState.stateLock);
    if (pluginState.rcClients == lastRc_ && pluginState.rlClients == lastRl_) {
      return;
    }
    lastRc_ = event.rc = pluginState.rcClients;
    lastRl_ = event.rl = pluginState.rlClients;
  }
  const auto names = [this](const std::vector<ClientId>& list) {
    std::string text;
    for (const ClientId id : list) {
      text += (text.empty() ? " " : ", ") + std::to_string(id);
      if (const auto nickname = nicknameOf(id)) {
        text += " (" + *nickname + ")";
      }
    }
    return text.empty() ? std::string(" empty") : text;
  };
  event.time = now();
  event.kind = EventKind::lists;
  event.text = "RC" + names(event.rc) + "; RL" + names(event.rl);
  record(std::move(event));
}

void Simulation::takeStockOfTheWorld() {
  outcome_.clients = client_.clients();
  outcome_.localClient = client_.localClient();
  const std::lock_guard lock(pluginState.stateLock);
  outcome_.rcClients = pluginState.rcClients;
  outcome_.rlClients = pluginState.rlClients;
}

void Simulation::apply(const Step& step) {
  const std::string who = "client " + std::to_string(step.client);
  switch (step.kind) {
    case StepKind::clip:
      memory_clipboard::setText(step.text);
      clipboardText(step.text);
      break;
    case StepKind::send: {
      const std::string text = requestText(step.command, step.text);
      memory_clipboard::setText(text);
      clipboardText(text);
      break;
    }
    case StepKind::empty:
      memory_clipboard::clear();
      world("the clipboard is emptied", true);
      break;
    case StepKind::hold:
      if (step.flag) {
        const bool writes = step.text == "writes";
        if (writes) {
          memory_clipboard::failNextWrites(static_cast<int>(step.number));
        } else {
          memory_clipboard::failNextOpens(static_cast<int>(step.number));
        }
        world("another program holds the clipboard open for the plugin's next " +
              std::to_string(step.number) + " attempt" + (step.number == 1 ? "" : "s") + " to " +
              (writes ? "write" : "open") + " it");
      } else {
        memory_clipboard::setHeld(true);
        world("another program holds the clipboard open");
      }
      break;
    case StepKind::release:
      memory_clipboard::setHeld(false);
      world("the clipboard is free again");
      break;
    case StepKind::notices:
      noticeDelay_.store(step.flag ? step.number : -1);
      world(step.flag ? "from now on each change of the clipboard wakes the plugin " +
                            std::to_string(step.number) + " ms after it"
                      : "from now on the plugin hears of no change: it finds them on its "
                        "regular looks");
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

// Live: what the plugin read from and wrote to the real clipboard, on its clipboard thread.
void Simulation::watchRealClipboard(const live_platform::ClipboardAccess& access) {
  switch (access.kind) {
    case live_platform::ClipboardAccess::wrote: {
      unreadReply_ = access.text;
      Event event;
      event.time = now();
      event.kind = EventKind::reply;
      event.text = access.text;
      record(std::move(event));
      break;
    }
    case live_platform::ClipboardAccess::read:
      pluginRead(access.text);
      if (unreadReply_ == access.text) {
        unreadReply_.reset();  // its own reply, read back on the next pass
        break;
      }
      unreadReply_.reset();
      noTextShown_ = false;
      clipboardText(gameText(access.text));
      break;
    case live_platform::ClipboardAccess::held:
    case live_platform::ClipboardAccess::changedWhileRead: {
      Event event;
      event.time = now();
      event.kind = EventKind::world;
      event.text = access.kind == live_platform::ClipboardAccess::held
                       ? "another program held the clipboard open: the plugin could not open it"
                       : "the clipboard changed while the plugin read it: it reads again on its "
                         "next pass";
      event.attemptFails = true;
      event.writeFails =
          access.kind == live_platform::ClipboardAccess::held && !access.text.empty();
      record(std::move(event));
      break;
    }
    case live_platform::ClipboardAccess::noText:
      unreadReply_.reset();
      if (!noTextShown_) {
        noTextShown_ = true;
        world("the clipboard holds no text", true);
      }
      break;
  }
}

void Simulation::runVirtual(Milliseconds end) {
  ClipboardChannel channel;
  SoundCueState cues;
  pluginState.pacer = &virtualTime_;
  starting_.store(true);
  prepareStart();
  starting_.store(false);

  channel_ = &channel;
  std::function<void()> cuePassTask = [&] {
    const Milliseconds pause = soundCuePass(cues, virtualTime_);
    virtualTime_.at(virtualTime_.now() + pause, CUE_PASS, cuePassTask);
  };
  scheduleClipboardPass(channel);  // the first, regular, at 0
  virtualTime_.at(Milliseconds(0), CUE_PASS, cuePassTask);
  for (const Step& step : toPlay_) {
    if (!isExpectation(step.kind)) {
      virtualTime_.at(step.time, STEP, [this, &step] { apply(step); });
    }
  }
  virtualTime_.at(end, AFTER_ALL, [this] { takeStockOfTheWorld(); });
  virtualTime_.runUntil(end + LOOK_AHEAD);

  pluginState.pacer = &pluginState.steadyPacer;
  channel_ = nullptr;
  finishStop();
}

// Real time and live: the plugin started through its exports, with its own threads, kept
// in step with the session by the clock.
Milliseconds Simulation::runThreads(Milliseconds end) {
  RealTime clock(pluginState.stopRequested);
  clock.beforeEachPause([this] { noteRadioLists(); });
  pluginState.pacer = &clock;
  clock_.store(&clock);
  for (const Step& step : toPlay_) {
    if (!isExpectation(step.kind)) {
      clock.at(step.time, STEP, [this, &step] { apply(step); });
    }
  }
  if (!options_.live) {
    clock.at(end, AFTER_ALL, [this] { takeStockOfTheWorld(); });
  }
  starting_.store(true);
  ts3plugin_init();
  starting_.store(false);
  clock.adopt(pluginState.clipboardThreadHandle.get_id(),
              pluginState.soundCueThreadHandle.get_id());
  // Their first passes ran on the in-memory clipboard, empty, before the session; the
  // session's first pass is at time 0.
  clock.awaitWorkers();
  if (options_.live) {
    live_platform::connectClipboard(
        [this](const live_platform::ClipboardAccess& access) { watchRealClipboard(access); });
  }
  if (options_.onStart) {
    options_.onStart(clock);
  }
  clock.run(options_.live ? end : end + LOOK_AHEAD);
  if (options_.live) {
    takeStockOfTheWorld();
  }
  {
    const std::lock_guard lock(eventsMutex_);
    closed_ = true;
  }
  ts3plugin_shutdown();
  if (options_.live) {
    live_platform::disconnectClipboard();
  }
  clock_.store(nullptr);
  pluginState.pacer = &pluginState.steadyPacer;
  return clock.behind();
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
  if (options_.live && options_.until.count() == 0) {
    end = UNTIL_STOPPED;
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
  // The world as it stands at time 0 is the world the plugin starts into; what happens on
  // the clipboard at time 0 and the expectations of time 0 play with the rest, after the
  // start (in real time the plugin's first passes run before the session, on an empty
  // clipboard that nobody holds).
  for (const Step& step : steps_) {
    const bool onClipboard = step.kind == StepKind::clip || step.kind == StepKind::send ||
                             step.kind == StepKind::empty || step.kind == StepKind::hold ||
                             step.kind == StepKind::release;
    const bool setsUpWorld = step.time.count() == 0 && !isExpectation(step.kind) && !onClipboard;
    if (setsUpWorld) {
      apply(step);
    } else {
      toPlay_.push_back(step);
    }
  }
  // Each session is a fresh load of the plugin: the radio lists, which live from the
  // library's load to its unload, start empty.
  {
    const std::lock_guard lock(pluginState.stateLock);
    pluginState.rcClients.clear();
    pluginState.rlClients.clear();
  }

  // The voice client hands over its table before init. Interface 26's also hands over the
  // plugin's ID, which the plugin needs to ask where it is installed; a real voice client
  // may do so before or after init, and the plugin copes with both.
  if (options_.pluginInterface == 4) {
    interface4::setFunctionPointers(client_.table4());
  } else {
    // The simulated voice client shows no info panel: the plugin's requests to refresh it
    // would only crowd the timeline once a second while the game talks.
    interface26::FunctionTable table = client_.table26();
    table.requestInfoUpdate = nullptr;
    interface26::setFunctionPointers(table);
    interface26::registerPluginID(SIM_PLUGIN_ID);
  }
  Outcome& outcome = outcome_;
  if (options_.realtime || options_.live) {
    outcome.behind = runThreads(end);
  } else {
    runVirtual(end);
  }

  memory_clipboard::setWriteObserver(nullptr);
  memory_clipboard::setReadObserver(nullptr);
  memory_clipboard::setChangeObserver(nullptr);
  client_.setObserver(nullptr);
  client_.setConnectionLifecycle(nullptr, nullptr, Milliseconds(0));

  {
    const std::lock_guard lock(eventsMutex_);
    std::stable_sort(events_.begin(), events_.end(),
                     [](const Event& a, const Event& b) { return a.time < b.time; });
    const Tally tally = checkExpectations(steps_, events_, trace_);
    outcome.expectations = tally.expectations;
    outcome.failedExpectations = tally.failed;
    // What came after the end served the hints only.
    std::erase_if(events_, [end](const Event& event) { return event.time > end; });
    outcome.events = events_;
  }
  return outcome;
}

}  // namespace

Outcome runSession(const std::vector<Step>& steps, const Options& options) {
  Simulation simulation(steps, options);
  return simulation.run();
}

}  // namespace sorlinx::sim
