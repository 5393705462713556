#include <gtest/gtest.h>

#include <string>

#include "host/host_functions.h"
#include "plugin/plugin_state.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using LogTest = PluginTest;

TEST_F(LogTest, EveryLineFollowsTheConventionAndIsCutNotOverrun) {
  logError("erreur getClientID");
  logError(std::string(5000, 'a'));
  const auto calls = host.callsTo("logMessage");
  ASSERT_EQ(calls.size(), 2U);
  EXPECT_EQ(calls[0].arguments, "\"erreur getClientID\",4,\"Plugin\",0");
  EXPECT_EQ(host.logLines()[1], std::string(255, 'a'));

  // Without a log entry nothing happens.
  host.clearCalls();
  pluginState.hostFunctions.logMessage = nullptr;
  logError("erreur getClientID");
  EXPECT_TRUE(host.calls().empty());
}

}  // namespace
}  // namespace sorlinx::testing
