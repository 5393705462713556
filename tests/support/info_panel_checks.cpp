#include "support/info_panel_checks.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "clipboard/envelope.h"
#include "support/eventually.h"

namespace sorlinx::testing {

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::Optional;
using namespace std::chrono_literals;

bool holds(const std::vector<const void*>& blocks, const void* block) {
  return std::find(blocks.begin(), blocks.end(), block) != blocks.end();
}

}  // namespace

std::optional<std::string> infoText(const InfoPanelExports& panel, std::uint64_t connection,
                                    std::uint64_t id, int type) {
  char* data = nullptr;
  startHeapLog();
  panel.infoData(connection, id, type, &data);
  const HeapLog asked = takeHeapLog();
  // Whatever the call allocated for itself it gave back, but for the text.
  for (const void* block : asked.allocated) {
    EXPECT_TRUE(block == data || holds(asked.freed, block)) << "infoData left a block behind";
  }
  if (data == nullptr) {
    return std::nullopt;
  }
  EXPECT_TRUE(holds(asked.allocated, data)) << "the text is no block of its own";
  std::string text = data;
  startHeapLog();
  panel.freeMemory(data);
  const HeapLog given = takeHeapLog();
  EXPECT_EQ(given.freed, std::vector<const void*>{data}) << "freeMemory did not free the text";
  EXPECT_TRUE(given.allocated.empty());
  return text;
}

void checkThePanelFollowsTheGame(const InfoPanelExports& panel, sim::VoiceClient& host,
                                 const GameWrite& write) {
  EXPECT_STREQ(panel.infoTitle(), "Ostrel Plugin");
  const auto origin = Clock::now();
  const auto sinceOrigin = [origin] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - origin).count();
  };
  host.setClock(sinceOrigin);
  const auto server = [&panel] { return infoText(panel, 1, 1, INFO_ITEM_SERVER); };
  const auto mate = [&panel] { return infoText(panel, 1, 8, INFO_ITEM_CLIENT); };
  EXPECT_THAT(server(), Optional(HasSubstr("No request from the game since the plugin started.\n"
                                           "[b]Radio RC:[/b] nobody; [b]RL:[/b] nobody\n")));
  EXPECT_EQ(infoText(panel, 1, 5, INFO_ITEM_CLIENT), server()) << "the own client";
  EXPECT_EQ(mate(), "Not placed by the game since the plugin started.");
  EXPECT_EQ(infoText(panel, 1, 40, INFO_ITEM_CHANNEL), std::nullopt);

  host.clearCalls();
  constexpr int FRAMES = 30;
  const std::int64_t firstFrame = sinceOrigin();
  for (int i = 1; i <= FRAMES; ++i) {
    write(requestText("3D", "{5[0,0,0]}{8[1,2,3][RC]}") + "#" + std::to_string(i));
    std::this_thread::sleep_until(origin + std::chrono::milliseconds(firstFrame + i * 100));
  }
  const std::int64_t lastFrame = sinceOrigin() - 100;
  std::this_thread::sleep_for(200ms);  // the last frame's pass
  EXPECT_THAT(server(), Optional(HasSubstr("[b]Last frame:[/b] 2 voices placed, ")));
  EXPECT_THAT(server(), Optional(HasSubstr(" (3D), ")));
  EXPECT_THAT(server(), Optional(HasSubstr("[b]Radio RC:[/b] mate (8); [b]RL:[/b] nobody\n")));
  EXPECT_THAT(mate(), Optional(HasSubstr(" at x 1, y 3, z 2 (y is the height)\n"
                                         "[b]Radio:[/b] on the RC list")));

  // Two seconds after the last frame the reset empties the lists and puts the channel's
  // voices back at the origin.
  const auto atOrigin = [&host] {
    const auto placed = host.placements();
    return std::count_if(placed.begin(), placed.end(), [](const sim::Placement& placement) {
      return placement.client == 8 && placement.position.x == 0 && placement.position.y == 0;
    });
  };
  EXPECT_TRUE(eventually([&atOrigin] { return atOrigin() == 1; }, 5s)) << "no reset";
  std::this_thread::sleep_until(origin + std::chrono::milliseconds(lastFrame + 3000));
  EXPECT_THAT(server(), Optional(HasSubstr("[b]Radio RC:[/b] nobody; [b]RL:[/b] nobody\n"
                                           "[b]Stale-frame reset:[/b] ")));
  EXPECT_THAT(server(), Optional(Not(HasSubstr("reset:[/b] none"))));
  EXPECT_THAT(mate(), Optional(HasSubstr("put back by the stale-frame reset ")));
  EXPECT_THAT(mate(), Optional(HasSubstr("[b]Radio:[/b] on neither list")));

  // The refreshes: the server's, each with the own client's right after it.
  std::vector<std::int64_t> refreshed;
  const auto calls = host.callsTo("requestInfoUpdate");
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].arguments == "1,0,1") {
      refreshed.push_back(calls[i].time);
      EXPECT_TRUE(i + 1 < calls.size() && calls[i + 1].arguments == "1,2,5");
    }
  }
  std::cout << "refreshes asked for at " << ::testing::PrintToString(refreshed)
            << " ms; frames from " << firstFrame << " to " << lastFrame << " ms\n";
  ASSERT_GE(refreshed.size(), 2U);
  EXPECT_LE(refreshed.size(), 5U);
  EXPECT_GE(refreshed.front(), firstFrame) << "before the game talked";
  for (std::size_t i = 1; i < refreshed.size(); ++i) {
    EXPECT_GE(refreshed[i] - refreshed[i - 1], 990) << "more than once a second";
  }
  // The last one within a second (and a pass or so) of the last frame: none while idle.
  EXPECT_LE(refreshed.back(), lastFrame + 1500) << "refreshed while the game was silent";
}

void checkThePanelAnswersDuringAConnectionsWait(const InfoPanelExports& panel,
                                                const GameWrite& write,
                                                const std::function<void(int)>& reportStatus) {
  reportStatus(3);  // still connecting: no disconnection will come
  const auto requested = Clock::now();
  write(requestText("ConnectToServer", "voice.example,9987,,Ana"));
  const auto named = [&panel] {
    const auto text = infoText(panel, 1, 1, INFO_ITEM_SERVER);
    return text && text->find(" (ConnectToServer), ") != std::string::npos;
  };
  ASSERT_TRUE(eventually(named, 2s)) << "the request never showed";
  // The worker waits for the disconnection now; each text comes at once all the same.
  double slowest = 0;
  while (Clock::now() - requested < 2500ms) {
    const auto asked = Clock::now();
    EXPECT_TRUE(named());
    slowest =
        std::max(slowest, std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
    std::this_thread::sleep_for(50ms);
  }
  std::cout << "infoData during the wait took " << slowest << " ms at most\n";
  EXPECT_LT(slowest, 250.0);
  reportStatus(0);  // the wait ends
}

}  // namespace sorlinx::testing
