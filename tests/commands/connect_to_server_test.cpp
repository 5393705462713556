#include "commands/connect_to_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <thread>

#include "commands/secrets_folder.h"
#include "support/eventually.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

class ConnectToServerTest : public PluginTest {
 protected:
  ConnectToServerTest() {
    // As init leaves it; the fixture's shutdown wipes and frees it.
    pluginState.identityBuffer = new char[PATH_BUFFER_SIZE]{};
    std::strcpy(pluginState.identityBuffer, "42Vsecret");
    pluginState.connectionStatus.store(STATUS_DISCONNECTED);
  }
  ~ConnectToServerTest() override {
    for (const std::string& line : host.logLines()) {
      EXPECT_EQ(line.find("secret"), std::string::npos) << "the identity was logged";
    }
  }
  std::string connect(std::string arguments) {
    handleConnectToServer(arguments);
    return arguments;
  }
};

// Fields as games write them. A request that cannot connect starts nothing, and the player
// stays where they are even while connected.
TEST_P(ConnectToServerTest, FieldsAreTakenAsGamesWriteThemOrNothingStarts) {
  // The arguments; startConnection's after the connection and identity; what the argument
  // text holds afterwards.
  for (const auto& [arguments, start, left] : std::initializer_list<std::array<const char*, 3>>{
           {"a,100,,n", R"("a",100,"n",null,"","")", "n"},
           {"a,100,,", R"("a",100,"TS3 User",null,"","")", ""},
           {"a,100,", R"("a",100,"TS3 User",null,"","")", ""},
           {"a,100,,n,m", R"("a",100,"n,m",null,"","")", "n,m"},
           {"a,100", R"("a",100,"100",null,"","100")", "100"},
           {"a,100,pw", R"("a",100,"pw",null,"","pw")", "pw"},
           {" a , +1x,p w,", R"(" a ",1,"TS3 User",null,"","p w")", ""},
           {"a,65535,,n", R"("a",65535,"n",null,"","")", "n"}}) {
    SCOPED_TRACE(arguments);
    host.clearCalls();
    EXPECT_EQ(connect(arguments), left);
    EXPECT_THAT(host.transcript(),
                ElementsAre(std::string(R"(startConnection(1,"42Vsecret",)") + start + ")"));
  }
  EXPECT_THAT(host.logLines(), IsEmpty());
  EXPECT_THAT(pacer.pauses(), IsEmpty());

  pluginState.connectionStatus.store(STATUS_CONNECTION_ESTABLISHED);
  for (const auto& [arguments, logLine] : std::initializer_list<std::array<const char*, 2>>{
           {"a,x,,n", "erreur ConnectToServer: port illisible"},
           {"a,,,n", "erreur ConnectToServer: port illisible"},
           {"a,2147483648,,n", "erreur ConnectToServer: port illisible"},
           {"a,-2147483649,,n", "erreur ConnectToServer: port illisible"},
           {"a,0,,n", "erreur ConnectToServer: port hors limites"},
           {"a,-5,,n", "erreur ConnectToServer: port hors limites"},
           {"a,65536,,n", "erreur ConnectToServer: port hors limites"},
           {"a,100,,n", "erreur stopConnection"},  // refused
           {"a,100,,n", "erreur ConnectToServer: aucune identite"}}) {
    SCOPED_TRACE(logLine);
    host.clearCalls();
    const bool stopRefused = std::strstr(logLine, "stopConnection") != nullptr;
    host.fail("stopConnection", stopRefused ? 1 : 0);
    if (std::strstr(logLine, "identite") != nullptr) {
      pluginState.identityBuffer[0] = '\0';
    }
    EXPECT_EQ(connect(arguments), "n");
    EXPECT_EQ(host.transcript().size(), stopRefused ? 1U : 0U);  // stopConnection, or nothing
    EXPECT_THAT(host.logLines(), ElementsAre(logLine));
  }
}

TEST_P(ConnectToServerTest, TheDisconnectionReportedFromAnotherThreadEndsTheWait) {
  pluginState.pacer = &pluginState.steadyPacer;
  pluginState.connectionStatus.store(STATUS_CONNECTION_ESTABLISHED);
  std::jthread voiceClient;
  host.setHook("stopConnection", [&voiceClient] {
    voiceClient = std::jthread([] {
      std::this_thread::sleep_for(30ms);
      ts3plugin_onConnectStatusChangeEvent(2, STATUS_DISCONNECTED, 0);
    });
  });
  connect("a,100,,n");
  // The new server replaces the one left, on the same connection, although the status
  // change made connection 2 current meanwhile.
  EXPECT_THAT(host.transcript(),
              ElementsAre(R"(stopConnection(1,"ConnectToServer"))",
                          R"(startConnection(1,"42Vsecret","a",100,"n",null,"",""))"));
}

TEST_P(ConnectToServerTest, AStatusThatNeverReachesZeroStartsNothingAfterFiveSeconds) {
  for (const std::int32_t status : {STATUS_CONNECTION_ESTABLISHED, 1}) {
    SCOPED_TRACE(status);
    host.clearCalls();
    pluginState.connectionStatus.store(status);
    const Milliseconds begin = pacer.now();
    connect("a,100,,n");
    EXPECT_EQ(pacer.now() - begin, 5000ms);
    EXPECT_EQ(pacer.pauses().back(), 10ms);
    EXPECT_THAT(host.callsTo("startConnection"), IsEmpty());
    EXPECT_THAT(host.logLines(), ElementsAre("erreur ConnectToServer: deconnexion non confirmee"));
  }
}

TEST_P(ConnectToServerTest, ShutdownDuringTheWaitReturnsPromptly) {
  const SecretsFolder folder("identity=abc\n");
  ts3plugin_shutdown();  // init allocates the identity buffer anew
  host.setConfigPath(folder.path());
  pluginState.pacer = &pluginState.steadyPacer;
  memory_clipboard::setText(request("ConnectToServer", "a,100,,n"));
  ts3plugin_init();
  eventually([this] { return !host.callsTo("stopConnection").empty(); });
  std::this_thread::sleep_for(50ms);  // well into the wait
  const auto before = std::chrono::steady_clock::now();
  ts3plugin_shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  EXPECT_EQ(host.callsTo("stopConnection").size(), 1U);
  EXPECT_THAT(host.callsTo("startConnection"), IsEmpty());
  EXPECT_THAT(host.logLines(),
              ElementsAre("erreur ConnectToServer: arret du plugin pendant l'attente"));
}

SORLINX_FOR_EACH_INTERFACE(ConnectToServerTest);

}  // namespace
}  // namespace sorlinx::testing
