#include "commands/connect_to_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "commands/secrets_folder.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

constexpr const char* IDENTITY = "42Vsecret==";

class ConnectToServerTest : public PluginTest {
 protected:
  ConnectToServerTest() {
    // As init leaves it; the fixture's shutdown wipes and frees it.
    pluginState.identityBuffer = new char[PATH_BUFFER_SIZE]{};
    std::strcpy(pluginState.identityBuffer, IDENTITY);
    pluginState.connectionStatus.store(STATUS_DISCONNECTED);
  }

  ~ConnectToServerTest() override {
    for (const std::string& line : host.logLines()) {
      EXPECT_EQ(line.find("secret"), std::string::npos) << "the identity was logged";
    }
  }

  static std::string started(const std::string& tail) {
    return R"(startConnection(1,"42Vsecret==",)" + tail + ")";
  }
};

TEST_F(ConnectToServerTest, FieldsAreTakenAsGamesWriteThem) {
  struct Case {
    std::string arguments;
    std::string start;  // startConnection's arguments after the connection and identity
    std::string left;   // what the argument text holds afterwards
  };
  const std::vector<Case> cases{
      {"a,100,,n", R"("a",100,"n",null,"","")", "n"},
      {"a,100,,", R"("a",100,"TS3 User",null,"","")", ""},
      {"a,100,", R"("a",100,"TS3 User",null,"","")", ""},
      {"a,100,,n,m", R"("a",100,"n,m",null,"","")", "n,m"},
      {"a,100", R"("a",100,"100",null,"","100")", "100"},
      {"a,100,pw", R"("a",100,"pw",null,"","pw")", "pw"},
      {" a , -5x,p w,", R"(" a ",-5,"TS3 User",null,"","p w")", ""},
      {"a,2147483647,,n", R"("a",2147483647,"n",null,"","")", "n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    host.clearCalls();
    std::string text = c.arguments;
    handleConnectToServer(text);
    EXPECT_THAT(host.transcript(), ElementsAre(started(c.start)));
    EXPECT_EQ(text, c.left);
  }
  EXPECT_THAT(host.logLines(), IsEmpty());
  EXPECT_THAT(pacer.pauses(), IsEmpty());
}

TEST_F(ConnectToServerTest, NothingIsStoppedForARequestThatCannotConnect) {
  pluginState.connectionStatus.store(STATUS_CONNECTION_ESTABLISHED);
  for (const char* arguments : {"a,x,,n", "a,,,n", "a,2147483648,,n", "a,-2147483649,,n"}) {
    SCOPED_TRACE(arguments);
    host.clearCalls();
    std::string text = arguments;
    handleConnectToServer(text);
    EXPECT_EQ(text, "n");
    EXPECT_THAT(host.transcript(), IsEmpty());
    EXPECT_THAT(host.logLines(), ElementsAre("erreur ConnectToServer: port illisible"));
  }
  host.clearCalls();
  pluginState.identityBuffer[0] = '\0';
  std::string text = "a,100,,n";
  handleConnectToServer(text);
  EXPECT_THAT(host.transcript(), IsEmpty());
  EXPECT_THAT(host.logLines(), ElementsAre("erreur ConnectToServer: aucune identite"));
}

TEST_F(ConnectToServerTest, ARefusedStopIsLoggedAndNothingStarts) {
  pluginState.connectionStatus.store(STATUS_CONNECTION_ESTABLISHED);
  host.fail("stopConnection", 1);
  std::string text = "a,100,,n";
  handleConnectToServer(text);
  EXPECT_THAT(host.transcript(), ElementsAre(R"(stopConnection(1,"ConnectToServer"))"));
  EXPECT_THAT(host.logLines(), ElementsAre("erreur stopConnection"));
}

TEST_F(ConnectToServerTest, TheDisconnectionReportedFromAnotherThreadEndsTheWait) {
  pluginState.pacer = &pluginState.steadyPacer;
  pluginState.connectionStatus.store(STATUS_CONNECTION_ESTABLISHED);
  std::thread voiceClient;
  host.setHook("stopConnection", [&voiceClient] {
    voiceClient = std::thread([] {
      std::this_thread::sleep_for(30ms);
      ts3plugin_onConnectStatusChangeEvent(2, STATUS_DISCONNECTED, 0);
    });
  });
  std::string text = "a,100,,n";
  handleConnectToServer(text);
  voiceClient.join();
  // The connection is the one current after the wait.
  EXPECT_THAT(host.transcript(),
              ElementsAre(R"(stopConnection(1,"ConnectToServer"))",
                          R"(startConnection(2,"42Vsecret==","a",100,"n",null,"",""))"));
  EXPECT_THAT(host.logLines(), IsEmpty());
}

TEST_F(ConnectToServerTest, AStatusThatNeverReachesZeroStartsNothingAfterFiveSeconds) {
  for (const std::int32_t status : {STATUS_CONNECTION_ESTABLISHED, 1}) {
    SCOPED_TRACE(status);
    host.clearCalls();
    pluginState.connectionStatus.store(status);
    const Milliseconds begin = pacer.now();
    std::string text = "a,100,,n";
    handleConnectToServer(text);
    EXPECT_EQ(pacer.now() - begin, DISCONNECT_WAIT_LIMIT);
    EXPECT_THAT(host.callsTo("startConnection"), IsEmpty());
    EXPECT_EQ(host.callsTo("stopConnection").size(), status == 1 ? 0U : 1U);
    EXPECT_THAT(host.logLines(), ElementsAre("erreur ConnectToServer: deconnexion non confirmee"));
  }
  EXPECT_EQ(pacer.pauses().front(), DISCONNECT_POLL_PAUSE);
}

TEST_F(ConnectToServerTest, ShutdownDuringTheWaitReturnsPromptly) {
  const SecretsFolder folder("identity=abc\n");
  ts3plugin_shutdown();  // init allocates the identity buffer anew
  host.setConfigPath(folder.path());
  host.setConnection(1, STATUS_CONNECTION_ESTABLISHED);
  pluginState.pacer = &pluginState.steadyPacer;
  memory_clipboard::setText(request("ConnectToServer", "a,100,,n"));
  ts3plugin_init();
  for (int i = 0; i < 300 && host.callsTo("stopConnection").empty(); ++i) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(host.callsTo("stopConnection").size(), 1U);
  std::this_thread::sleep_for(50ms);  // well into the wait
  const auto before = std::chrono::steady_clock::now();
  ts3plugin_shutdown();
  EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
  EXPECT_THAT(host.callsTo("startConnection"), IsEmpty());
  EXPECT_THAT(host.logLines(),
              ElementsAre("erreur ConnectToServer: arret du plugin pendant l'attente"));
}

}  // namespace
}  // namespace sorlinx::testing
