// How soon the shipped DLL acts on a request, measured under wine on the real clipboard:
// the game's side of the latency figures in docs/performance.md. A Windows program built
// beside the end-to-end program, with its fixture (Google Benchmark has no build for the
// cross compilers here, so each case measures its own samples and prints their median,
// 95th percentile and worst). Not a test: nothing here passes or fails on a time.
//
//   scripts/wine-run.sh build/win64/bin/sorlinx_wake_bench.exe
#include <gtest/gtest.h>

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "plugin_dll.h"

namespace sorlinx::e2e {
namespace {

using namespace std::chrono_literals;

constexpr int SAMPLES = 200;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Prints one figure line: the median, 95th percentile and worst of `samples` (ms).
void report(const char* what, std::vector<double> samples) {
  ASSERT_FALSE(samples.empty());
  std::sort(samples.begin(), samples.end());
  const auto at = [&samples](std::size_t percent) {
    return samples[std::min(samples.size() - 1, samples.size() * percent / 100)];
  };
  std::cout << std::fixed << std::setprecision(2) << what << ": n=" << samples.size() << ", median "
            << at(50) << " ms, p95 " << at(95) << " ms, worst " << samples.back() << " ms"
            << std::endl;
}

class WakeBench : public PluginDllTest {
 protected:
  void SetUp() override {
    PluginDllTest::SetUp();
    const auto origin = Clock::now();
    // The fake stamps each call in microseconds since the start.
    host.setClock([origin] {
      return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin).count();
    });
    origin_ = origin;
    start();
    std::this_thread::sleep_for(300ms);
  }
  [[nodiscard]] std::int64_t nowMicros() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin_).count();
  }
  Clock::time_point origin_;
};

// Frames written at moments spread over the plugin's look period (a random pause of 0 to
// 100 ms after each placement), from the start of the write to the first placement.
TEST_F(WakeBench, RequestToPlacement) {
  std::mt19937 random(19);
  std::uniform_int_distribution<int> pause(0, 100);
  std::vector<double> samples;
  for (int i = 1; i <= SAMPLES; ++i) {
    const std::size_t before = host.placements().size();
    const std::int64_t written = nowMicros();
    putText(request("3D", "{8[" + std::to_string(i) + ",0,0]}"));
    ASSERT_TRUE(eventually([&] { return host.placements().size() > before; }, 2s)) << i;
    const auto calls = host.callsTo("channelset3DAttributes");
    samples.push_back(static_cast<double>(calls.at(before).time - written) / 1000.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
  }
  report("request to placement", samples);
}

// A game that asks for the version and looks at the clipboard's sequence number every
// millisecond, reading the text when it moved, as the guide's game code does.
TEST_F(WakeBench, GetVersionRoundTripPollingEveryMillisecond) {
  // The game opens the clipboard with a window of its own: under wine a second thread of
  // the plugin's process that opens it with none would take it over from the plugin in the
  // middle of its reply, which no game in a process of its own can do.
  const HWND window =
      CreateWindowExA(0, "STATIC", "game", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  std::vector<double> samples;
  for (int i = 1; i <= SAMPLES / 2; ++i) {
    const auto start = Clock::now();
    putText(request("GetVersion") + "#" + std::to_string(i));
    DWORD sequence = 0;  // the reply may be there already
    bool answered = false;
    while (!answered && millisecondsSince(start) < 2000) {
      std::this_thread::sleep_for(1ms);
      if (GetClipboardSequenceNumber() != sequence && OpenClipboard(window) != FALSE) {
        // Taken again while the clipboard is open, so that it goes with the text read.
        sequence = GetClipboardSequenceNumber();
        const HANDLE data = GetClipboardData(CF_TEXT);
        const auto* chars = data == nullptr ? nullptr : static_cast<const char*>(GlobalLock(data));
        answered = chars != nullptr && std::string_view(chars) == "sorlinx beta 0.8";
        if (chars != nullptr) {
          GlobalUnlock(data);
        }
        CloseClipboard();
      }
    }
    ASSERT_TRUE(answered) << i;
    samples.push_back(millisecondsSince(start));
    std::this_thread::sleep_for(std::chrono::milliseconds(i % 37));
  }
  DestroyWindow(window);
  report("GetVersion round trip, polling every 1 ms", samples);
}

// A game whose frame timer writes 10 ms after its query: the query must have been answered
// (the game reads the reply just before it writes the frame) and the frame placed.
TEST_F(WakeBench, QueryThenFrameTenMillisecondsLater) {
  int answered = 0;
  for (int i = 1; i <= SAMPLES; ++i) {
    const auto written = Clock::now();
    putText(request("GetPlayerID") + "#" + std::to_string(i));
    std::this_thread::sleep_for(10ms);
    if (clipboardText() == "5") {
      ++answered;
    } else {
      std::cout << "query " << i << ": no reply after " << millisecondsSince(written) << " ms"
                << std::endl;
    }
    putText(request("3D", "{8[" + std::to_string(i) + ",0,0]}"));
    std::this_thread::sleep_for(std::chrono::milliseconds(10 + i % 50));
  }
  std::this_thread::sleep_for(300ms);
  std::cout << "query then frame 10 ms later, " << SAMPLES << " times: " << answered
            << " queries answered, " << host.placements().size() << " frames placed" << std::endl;
}

}  // namespace
}  // namespace sorlinx::e2e
