#include "positional/placement.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

constexpr const char* EXAMPLE_FRAME = "{3[12.5,40,1.75]}{7[-3.25,10,0.5][RC]}{9[100,-20.75,2][RL]}";

class PlacementTest : public PluginTest {
 protected:
  static void setLists(std::vector<ClientId> rc, std::vector<ClientId> rl) {
    const std::lock_guard lock(pluginState.stateLock);
    pluginState.rcClients = std::move(rc);
    pluginState.rlClients = std::move(rl);
  }
  static std::vector<ClientId> rcClients() {
    const std::lock_guard lock(pluginState.stateLock);
    return pluginState.rcClients;
  }
  static std::vector<ClientId> rlClients() {
    const std::lock_guard lock(pluginState.stateLock);
    return pluginState.rlClients;
  }
  static void apply(std::string frame) { handle3D(frame); }
};

TEST_F(PlacementTest, TheWorkedExampleThroughTheClipboardOnlyWhileConnected) {
  setLists({1, 2}, {3});
  setConnected(false);
  passWith(request("3D", "{1[0,0,0][CD]}"));
  EXPECT_THAT(host.calls(), IsEmpty());
  EXPECT_THAT(rcClients(), ElementsAre(1, 2));

  setConnected(true);
  pluginState.currentServerConnection.store(6);
  passWith(request("3D", EXAMPLE_FRAME));
  EXPECT_THAT(host.transcript(), ElementsAre("channelset3DAttributes(6,3,12.5,1.75,40,null)",
                                             "channelset3DAttributes(6,7,-3.25,0.5,10,null)",
                                             "channelset3DAttributes(6,9,100,2,-20.75,null)"));
  EXPECT_THAT(rcClients(), ElementsAre(7));
  EXPECT_THAT(rlClients(), ElementsAre(9));
  EXPECT_THAT(host.logLines(), IsEmpty());
}

TEST_F(PlacementTest, RefusedPlacementsAreLoggedAndTheirFlagsIgnored) {
  host.failForClient("channelset3DAttributes", 7, ERROR_INVALID_CLIENT_ID);
  apply(EXAMPLE_FRAME);
  EXPECT_THAT(host.logLines(), ElementsAre("Erreur_ID_invalide:7"));
  EXPECT_THAT(rcClients(), IsEmpty());
  EXPECT_THAT(rlClients(), ElementsAre(9));

  host.clearCalls();
  host.failForClient("channelset3DAttributes", 9, ERROR_INVALID_CLIENT_ID);
  host.failForClient("channelset3DAttributes", 3, 1);
  host.failForClient("channelset3DAttributes", 65535, 4294967295U);
  apply("{3[0,0,0][RC]}{9[0,0,0][RL]}{65535[0,0,0][RL]}{4[0,0,0][RL]}");
  EXPECT_THAT(host.logLines(), ElementsAre("1", "Erreur_ID_invalide:9", "4294967295"));
  EXPECT_EQ(host.conventionBreaks(), 0);
  EXPECT_EQ(host.transcript().size(), 4U);
  EXPECT_THAT(rcClients(), IsEmpty());
  EXPECT_THAT(rlClients(), ElementsAre(4));
}

TEST_F(PlacementTest, FlagRules) {
  struct Case {
    const char* frame;
    std::vector<ClientId> rc;
    std::vector<ClientId> rl;
    std::size_t placements;
  };
  const Case cases[] = {
      {"", {}, {}, 0},
      {"x{4[0,0,0][RC]}", {}, {}, 0},
      {"{4[0,0,0][RC]}{4[0,0,0][RL]}", {}, {4}, 2},
      {"{4[0,0,0][RL]}{4[0,0,0][RC]}", {4}, {}, 2},
      {"{4[0,0,0][RC]}{4[0,0,0][CD]}", {}, {}, 2},
      {"{4[0,0,0][RC]}{4[0,0,0]}", {4}, {}, 2},
      {"{4[0,0,0][RC]}{4[0,0,0][RC]}{5[0,0,0][RC]}", {4, 5}, {}, 3},
      {"{4[0,0,0][CD]}", {}, {}, 1},
      // A record that cannot be read is skipped whole: no placement, no flag, no log.
      {"{4[0,0,0][RC]}{5[0,0][RL]}{6[0,x,0][RL]}{4[0,0,0][RL]}", {}, {4}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    host.clearCalls();
    setLists({1, 2}, {3});
    apply(c.frame);
    EXPECT_EQ(rcClients(), c.rc);
    EXPECT_EQ(rlClients(), c.rl);
    EXPECT_EQ(host.placements().size(), c.placements);
    EXPECT_THAT(host.logLines(), IsEmpty());
  }
}

// After any frame, each list holds exactly the clients whose last accepted flagged record
// named it, once, and no client stands in both.
TEST_F(PlacementTest, ListsFollowTheLastAcceptedFlagOfEachClient) {
  std::mt19937 random(7);
  const auto pick = [&random](int low, int high) {
    return std::uniform_int_distribution(low, high)(random);
  };
  constexpr const char* FLAGS[] = {"", "[RC]", "[RL]", "[CD]"};
  for (int round = 0; round < 500; ++round) {
    host.clearFailures();
    std::set<ClientId> refused;
    for (ClientId client = 1; client <= 6; ++client) {
      if (pick(0, 4) == 0) {
        refused.insert(client);
        host.failForClient("channelset3DAttributes", client, pick(0, 1) == 0 ? 512 : 1);
      }
    }
    std::string frame;
    std::map<ClientId, int> lastFlag;
    for (int records = pick(0, 12); records > 0; --records) {
      const auto client = static_cast<ClientId>(pick(1, 6));
      const int flag = pick(0, 3);
      frame += "{" + std::to_string(client) + "[1,2,3]" + FLAGS[flag] + "}";
      if (flag != 0 && refused.count(client) == 0) {
        lastFlag[client] = flag;
      }
    }
    std::vector<ClientId> expectedRc;
    std::vector<ClientId> expectedRl;
    for (const auto& [client, flag] : lastFlag) {
      if (flag == 1) {
        expectedRc.push_back(client);
      } else if (flag == 2) {
        expectedRl.push_back(client);
      }
    }
    SCOPED_TRACE(frame);
    apply(frame);
    ASSERT_THAT(rcClients(), UnorderedElementsAreArray(expectedRc));
    ASSERT_THAT(rlClients(), UnorderedElementsAreArray(expectedRl));
  }
}

HostError SORLINX_CDECL placeAnything(ServerConnectionId, ClientId, const Vector3*, const void*) {
  return 0;
}

// Long frames as well as short ones: the lists read exactly as if every flag had been applied
// to them one at a time, in order, with each client joining at the end of a list.
TEST_F(PlacementTest, ListsKeepTheOrderInWhichTheirClientsJoined) {
  HostFunctions table = host.table();
  table.channelset3DAttributes = placeAnything;  // tens of thousands of records: keep none
  ts3plugin_setFunctionPointers(table);
  std::mt19937 random(11);
  constexpr const char* FLAGS[] = {"", "[RC]", "[RL]", "[CD]"};
  for (const auto [rounds, records, clients] :
       {std::array{300, 12, 6}, std::array{3, 40000, 3000}}) {
    for (int round = 0; round < rounds; ++round) {
      std::string frame;
      std::vector<ClientId> rc;
      std::vector<ClientId> rl;
      const auto join = [](std::vector<ClientId>& list, ClientId client) {
        if (std::find(list.begin(), list.end(), client) == list.end()) {
          list.push_back(client);
        }
      };
      const auto leave = [](std::vector<ClientId>& list, ClientId client) {
        std::erase(list, client);
      };
      for (int record = 0; record < records; ++record) {
        const auto client =
            static_cast<ClientId>(std::uniform_int_distribution(1, clients)(random));
        const int flag = std::uniform_int_distribution(0, 3)(random);
        frame += "{" + std::to_string(client) + "[1,2,3]" + FLAGS[flag] + "}";
        if (flag == 1 || flag == 2) {
          join(flag == 1 ? rc : rl, client);
          leave(flag == 1 ? rl : rc, client);
        } else if (flag == 3) {
          leave(rc, client);
          leave(rl, client);
        }
      }
      apply(frame);
      ASSERT_EQ(rcClients(), rc) << frame.substr(0, 200);
      ASSERT_EQ(rlClients(), rl) << frame.substr(0, 200);
    }
  }
}

// A hostile frame must not hold stateLock, and with it a stop of the plugin, for longer than
// its length calls for: a frame whose records all change the lists costs about what a frame
// of the same records without flags costs. (Searching the lists for every record made 58,000
// of them take thirty times as long, and a 16 MiB frame seconds.)
TEST_F(PlacementTest, ARecordCostsTheSameWhateverTheListsHold) {
  HostFunctions table = host.table();
  table.channelset3DAttributes = placeAnything;
  ts3plugin_setFunctionPointers(table);
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
  EXPECT_EQ(rlClients().size(), static_cast<std::size_t>(CLIENTS));
  EXPECT_THAT(rcClients(), IsEmpty());
}

}  // namespace
}  // namespace sorlinx::testing
