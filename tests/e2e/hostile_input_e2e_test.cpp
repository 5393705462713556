// End to end: texts that no game should write, put on the real clipboard for the shipped
// DLL. After each one the plugin must still answer "GetVersion" within a second, and the
// process must keep no more than 1 MiB of it.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iostream>
#include <random>
#include <string>
#include <thread>

#include "plugin_dll.h"

namespace sorlinx::e2e {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t MIB = 1024 * 1024;

// Placements are counted instead of recorded: the fake voice client's record of tens of
// thousands of calls would itself be more memory than the inputs.
std::atomic<std::uint64_t> placementsSeen{0};
std::atomic<std::uint64_t> unplaceablePositions{0};

// Those at the origin are not counted: they are the stale-frame reset's, which runs whenever
// a round takes more than two seconds, and no frame here places anyone there. Interface 4's
// entry has a fourth, reserved argument; the table's type picks the instance.
template <typename... Reserved>
HostError SORLINX_CDECL countPlacement(ServerConnectionId /*connection*/, ClientId /*client*/,
                                       const Vector3* position, Reserved... /*reserved*/) {
  if (!std::isfinite(position->x) || !std::isfinite(position->y) || !std::isfinite(position->z)) {
    ++unplaceablePositions;
  }
  if (position->x != 0.0F || position->y != 0.0F || position->z != 0.0F) {
    ++placementsSeen;
  }
  return 0;
}

// The memory committed to the process for itself alone: every private region of its
// address space that is backed by memory. (GetProcessMemoryInfo would be the usual way, but
// under wine 8 its figures do not move at all when 64 MiB are allocated and written.)
std::int64_t privateBytes() {
  std::int64_t total = 0;
  MEMORY_BASIC_INFORMATION region{};
  const char* address = nullptr;
  while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
      total += static_cast<std::int64_t>(region.RegionSize);
    }
    const char* const next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= address) {
      break;  // the top of the address space
    }
    address = next;
  }
  return total;
}

std::string repeatedTo(std::size_t size, const std::string& piece) {
  std::string text;
  text.reserve(size + piece.size());
  while (text.size() < size) {
    text += piece;
  }
  return text;
}

std::string randomBytes(std::size_t size, bool withZeros, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> byte(withZeros ? 0 : 1, 255);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(byte(random));
  }
  return bytes;
}

struct Hostile {
  const char* name;
  std::function<std::string()> text;  // made when its turn comes, so that one is held at a time
  std::uint64_t placements;           // how many the plugin makes of it
};

using HostileInputTest = PluginDllTest;

TEST_F(HostileInputTest, ThePluginAnswersAfterEveryHostileTextAndKeepsNoneOfIt) {
  // Puts "GetVersion" on the clipboard and waits for the reply: how long it took, in
  // milliseconds, or a very long time when none came within ten seconds.
  const auto versionAnswerMs = [] {
    const auto asked = Clock::now();
    putText(request("GetVersion"));
    if (!eventually([] { return clipboardText() == "sorlinx beta 0.8"; }, 10s)) {
      return 1e9;
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - asked).count();
  };
  const std::string record = "{7[-3.25,10,0.5][RC]}";
  const std::string repeated = repeatedTo(MIB, record);
  std::string distinct;
  constexpr const char* FLAGS[] = {"[RC]", "[RL]", "[CD]", ""};
  for (int client = 1; client <= 20000; ++client) {
    distinct += "{" + std::to_string(client) + "[" + std::to_string(client % 100) + ".5,-2," +
                std::to_string(client % 7) + "]" + FLAGS[client % 4] + "}";
  }
  const Hostile inputs[] = {
      {"a 1 MiB frame of one record repeated", [&] { return request("3D", repeated); },
       repeated.size() / record.size()},
      {"100,000 '{' as a frame", [] { return request("3D", std::string(100000, '{')); }, 0},
      {"1 MiB of random bytes, zeros included, inside the envelope",
       [] { return "[kex_sorlinx]" + randomBytes(MIB, true, 1) + "[/kex_sorlinx]"; }, 0},
      {"a frame of 20,000 valid records", [&] { return request("3D", distinct); }, 20000},
      {"16 MiB of text without the envelope", [] { return repeatedTo(16 * MIB, "no envelope "); },
       0},
      {"an envelope with 1 MiB of binary without zeros after [3D]",
       [] { return request("3D", randomBytes(MIB, false, 2)); }, 0},
      {"an envelope with 1 MiB of binary without zeros as the command",
       [] { return "[kex_sorlinx][" + randomBytes(MIB, false, 3) + "[/kex_sorlinx]"; }, 0},
  };

  table.channelset3DAttributes = countPlacement;
  start();
  ASSERT_LT(versionAnswerMs(), 1000.0) << "no answer even before any hostile text";
  for (const Hostile& input : inputs) {
    SCOPED_TRACE(input.name);
    placementsSeen.store(0);
    std::this_thread::sleep_for(250ms);  // the reply of the last round is read and let go
    const std::int64_t before = privateBytes();
    const std::size_t size = [&input] {
      const std::string text = input.text();  // let go before the memory is measured
      putText(text);
      return text.size();
    }();
    if (input.placements > 0) {
      EXPECT_TRUE(eventually([&] { return placementsSeen.load() >= input.placements; }, 20s))
          << placementsSeen.load() << " of " << input.placements << " placed";
    } else {
      std::this_thread::sleep_for(500ms);  // a few passes: the text has been read
    }
    // Wine keeps the clipboard's text in this process: empty the clipboard, as a program
    // taking it over without text does. The plugin has no new text to read then, so what
    // the process still holds is what the plugin kept of the last one: its digest only.
    // (A pass over a 16 MiB text takes a while on a busy machine: give it time.)
    ASSERT_TRUE(game::emptyClipboard());
    std::int64_t heldMeanwhile = 0;
    EXPECT_TRUE(eventually(
        [&] {
          heldMeanwhile = privateBytes() - before;
          return heldMeanwhile <= static_cast<std::int64_t>(MIB);
        },
        5s))
        << heldMeanwhile << " bytes still held";
    const double answeredAfter = versionAnswerMs();
    EXPECT_LT(answeredAfter, 1000.0) << "no answer within a second";
    std::this_thread::sleep_for(250ms);  // the pass that answered has let its buffers go
    const std::int64_t grown = privateBytes() - before;
    std::cout << input.name << " (" << size << " bytes): answered after " << answeredAfter
              << " ms; memory grown by " << heldMeanwhile
              << " bytes once it left the clipboard, by " << grown << " bytes after\n";
    EXPECT_LE(grown, static_cast<std::int64_t>(MIB));
    EXPECT_EQ(placementsSeen.load(), input.placements);
  }
  EXPECT_EQ(unplaceablePositions.load(), 0U);
  EXPECT_EQ(host.outstandingAllocations(), 0);
  EXPECT_EQ(host.badFrees(), 0);
}

}  // namespace
}  // namespace sorlinx::e2e
