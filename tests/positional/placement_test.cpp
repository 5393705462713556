// Applying a frame. How one is read is held against the stream reader, record by record,
// by the replay of fuzz/corpus/position_frame_fuzz.
#include "positional/placement.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* EXAMPLE_FRAME = "{3[12.5,40,1.75]}{7[-3.25,10,0.5][RC]}{9[100,-20.75,2][RL]}";

// Clients whose placement this voice client refuses; the fake's own recording would make the
// frames of tens of thousands of records below crawl.
std::array<bool, 8> refusedClients{};

HostError SORLINX_CDECL placeUnlessRefused(ServerConnectionId, ClientId client, const Vector3*) {
  return client < refusedClients.size() && refusedClients[client] ? 1 : 0;
}

class PlacementTest : public PluginTest {
 protected:
  static void apply(std::string frame) { handle3D(frame); }
  // Placements go to placeUnlessRefused, unrecorded.
  static void placeWithoutRecording() {
    pluginState.host.channelset3DAttributes = placeUnlessRefused;
  }
};

TEST_P(PlacementTest, TheWorkedExampleOnlyWhileConnectedAndRefusedPlacementsWithoutTheirFlags) {
  setLists({1, 2}, {3});
  setConnected(false);
  passWith(request("3D", "{1[0,0,0][CD]}"));
  EXPECT_THAT(host.calls(), IsEmpty());
  EXPECT_EQ(lists(), Lists({1, 2}, {3}));

  setConnected(true);
  pluginState.currentServerConnection.store(6);
  passWith(request("3D", EXAMPLE_FRAME));
  EXPECT_THAT(host.transcript(),
              ElementsAre(placement("6,3,12.5,1.75,40"), placement("6,7,-3.25,0.5,10"),
                          placement("6,9,100,2,-20.75")));
  EXPECT_EQ(lists(), Lists({7}, {9}));
  EXPECT_THAT(host.logLines(), IsEmpty());

  // Refused placements are logged, and their flags ignored.
  host.clearCalls();
  setLists({}, {});
  host.failForClient("channelset3DAttributes", 7, sim::INVALID_CLIENT_ID);
  apply(EXAMPLE_FRAME);
  EXPECT_THAT(host.logLines(), ElementsAre("Erreur_ID_invalide:7"));
  EXPECT_EQ(lists(), Lists({}, {9}));

  host.clearCalls();
  host.failForClient("channelset3DAttributes", 9, sim::INVALID_CLIENT_ID);
  host.failForClient("channelset3DAttributes", 3, 1);
  host.failForClient("channelset3DAttributes", 65535, 4294967295U);
  apply("{3[0,0,0][RC]}{9[0,0,0][RL]}{65535[0,0,0][RL]}{4[0,0,0][RL]}");
  EXPECT_THAT(host.logLines(), ElementsAre("1", "Erreur_ID_invalide:9", "4294967295"));
  EXPECT_EQ(host.conventionBreaks(), 0);
  EXPECT_EQ(host.transcript().size(), 4U);
  EXPECT_EQ(lists(), Lists({}, {4}));
}

// Short frames with refusals, and long ones that compact the lists: each list reads exactly as
// if every accepted flag had been applied to it one at a time, in order, with a client that
// joins going to the end of the list.
TEST_P(PlacementTest, ListsFollowTheAcceptedFlagsInJoiningOrder) {
  placeWithoutRecording();
  std::mt19937 random(11);
  const auto pick = [&random](int low, int high) {
    return std::uniform_int_distribution(low, high)(random);
  };
  constexpr const char* FLAGS[] = {"", "[RC]", "[RL]", "[CD]"};
  for (const auto [rounds, records, clients] :
       {std::array{500, 12, 6}, std::array{3, 40000, 3000}}) {
    for (int round = 0; round < rounds; ++round) {
      for (bool& refused : refusedClients) {
        refused = clients < 10 && pick(0, 4) == 0;
      }
      std::string frame;
      Lists expected;
      auto& [rc, rl] = expected;
      for (int record = 0; record < records; ++record) {
        const auto client = static_cast<ClientId>(pick(1, clients));
        const int flag = pick(0, 3);
        frame += "{" + std::to_string(client) + "[1,2,3]" + FLAGS[flag] + "}";
        if (flag == 0 || placeUnlessRefused(1, client, nullptr) != 0) {
          continue;
        }
        if (flag != 2) {
          std::erase(rl, client);
        }
        if (flag != 1) {
          std::erase(rc, client);
        }
        std::vector<ClientId>& joined = flag == 1 ? rc : rl;
        if (flag != 3 && std::find(joined.begin(), joined.end(), client) == joined.end()) {
          joined.push_back(client);
        }
      }
      apply(frame);
      ASSERT_EQ(lists(), expected) << frame.substr(0, 200);
    }
  }
}

// A hostile frame must not hold stateLock, and with it a stop of the plugin, for longer than
// its length calls for: a frame whose records all change the lists costs about what a frame
// of the same records without flags costs. (Searching the lists for every record made 58,000
// of them take thirty times as long, and a 16 MiB frame seconds.)
TEST_P(PlacementTest, ARecordCostsTheSameWhateverTheListsHold) {
  refusedClients = {};
  placeWithoutRecording();
  std::string flagged;
  std::string plain;
  constexpr int CLIENTS = 29000;
  for (int client = 1; client <= CLIENTS; ++client) {
    flagged += "{" + std::to_string(client) + "[1,2,3][RC]}";
    plain += "{" + std::to_string(client) + "[1,2,3]}";
  }
  for (int client = CLIENTS; client >= 1; --client) {
    flagged += "{" + std::to_string(client) + "[1,2,3][RL]}";
    plain += "{" + std::to_string(client) + "[1,2,3]}";
  }
  const auto fastest = [](const std::string& frame) {
    auto best = std::chrono::steady_clock::duration::max();
    for (int run = 0; run < 3; ++run) {
      const auto start = std::chrono::steady_clock::now();
      apply(frame);
      best = std::min(best, std::chrono::steady_clock::now() - start);
    }
    return std::chrono::duration<double, std::milli>(best).count();
  };
  const double plainMs = fastest(plain);
  const double flaggedMs = fastest(flagged);
  EXPECT_LT(flaggedMs, 5 * plainMs + 5) << "without flags " << plainMs << " ms";
  EXPECT_THAT(lists().first, IsEmpty());
  EXPECT_EQ(lists().second.size(), static_cast<std::size_t>(CLIENTS));
}

SORLINX_FOR_EACH_INTERFACE(PlacementTest);

}  // namespace
}  // namespace sorlinx::testing
