#include "live.h"

#include <atomic>
#include <fstream>
#include <ostream>
#include <thread>

#include "clipboard/envelope.h"
#include "live_platform.h"
#include "recording.h"
#include "simulation.h"
#include "svg_map.h"
#include "timeline.h"

namespace sorlinx::sim {

namespace {

// The clock of the live run, for the interrupt handler, which may only set a flag.
std::atomic<RealTime*> liveClock{nullptr};

void interrupted() {
  if (RealTime* clock = liveClock.load()) {
    clock->requestStop();
  }
}

// The steps a live session may hold: the world's. The game writes on the clipboard, and
// what the plugin should do is for the recording's replay to check.
bool isWorldStep(const Step& step) {
  switch (step.kind) {
    case StepKind::clip:
    case StepKind::send:
    case StepKind::empty:
    case StepKind::hold:
    case StepKind::release:
      return false;
    default:
      return !isExpectation(step.kind);
  }
}

// Reads the standard input on a thread of its own until "quit" or its end, then stops the
// run. Left blocked at exit when the run ends otherwise.
class InputWatch {
 public:
  InputWatch() = default;
  InputWatch(const InputWatch&) = delete;
  InputWatch& operator=(const InputWatch&) = delete;
  ~InputWatch() {
    if (thread_.joinable()) {
      if (done_.load()) {
        thread_.join();
      } else {
        thread_.detach();
      }
    }
  }

  void start(RealTime& clock) {
    thread_ = std::thread([this, &clock] {
      std::string line;
      while (live_platform::readInputLine(line)) {
        if (line == "quit") {
          break;
        }
      }
      clock.requestStop();
      done_.store(true);
    });
  }

 private:
  std::thread thread_;
  std::atomic<bool> done_{false};
};

}  // namespace

int runLive(const std::vector<Step>& steps, const LiveOptions& options, std::ostream& out,
            std::ostream& err) {
  if (!live_platform::available()) {
    err << "sorlinx-sim: --live needs the system clipboard, which this build lacks: run "
           "sorlinx-sim.exe on Windows or sorlinx-sim-linux-amd64 on a Linux desktop, on the "
           "machine where the game runs\n";
    return 2;
  }
  for (const Step& step : steps) {
    if (!isWorldStep(step)) {
      err << "sorlinx-sim: line " << step.at.line << ": \"" << step.source
          << "\" has no place in a live session, which only sets up the world: the game "
             "writes on the clipboard, and a recording's replay checks what the plugin does\n";
      return 2;
    }
  }
  std::ofstream record;
  if (!options.recordFile.empty()) {
    record.open(options.recordFile, std::ios::binary);
    if (!record) {
      err << "sorlinx-sim: cannot write " << options.recordFile << "\n";
      return 2;
    }
  }

  InputWatch input;
  Options run;
  run.live = true;
  run.pluginInterface = options.pluginInterface;
  run.until = options.until;
  run.onEvent = [&out, &options](const Event& event) {
    if (options.json) {
      printJson(out, event);
    } else {
      printText(out, event);
    }
    out.flush();
  };
  run.onStart = [&err, &input](RealTime& clock) {
    liveClock.store(&clock);
    live_platform::onInterrupt(interrupted);
    input.start(clock);
    err << "sorlinx-sim: live on the clipboard. Start the game; type quit or press Ctrl+C "
           "to stop.\n";
    err.flush();
  };
  const Outcome outcome = runSession(steps, run);
  liveClock.store(nullptr);

  int texts = 0;
  int replies = 0;
  for (const Event& event : outcome.events) {
    texts += event.kind == EventKind::clipboard ? 1 : 0;
    replies += event.kind == EventKind::reply ? 1 : 0;
  }
  printSummary(out, options.json, outcome.expectations, outcome.failedExpectations, outcome.behind);
  err << "sorlinx-sim: stopped; the plugin read " << texts << " clipboard text"
      << (texts == 1 ? "" : "s") << " and wrote " << replies << " repl"
      << (replies == 1 ? "y" : "ies") << "\n";

  int code = 0;
  if (record.is_open()) {
    writeRecording(record, steps, outcome, options.pluginInterface);
    record.close();
    if (!record) {
      err << "sorlinx-sim: cannot write " << options.recordFile << "\n";
      code = 2;
    } else {
      err << "sorlinx-sim: recorded as " << options.recordFile << "\n";
    }
  }
  if (!options.mapFile.empty()) {
    std::ofstream map(options.mapFile, std::ios::binary);
    writeSvgMap(map, outcome);
    if (!map) {
      err << "sorlinx-sim: cannot write " << options.mapFile << "\n";
      code = 2;
    }
  }
  return code;
}

}  // namespace sorlinx::sim
