#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "host/host_functions.h"
#include "plugin/plugin_state.h"
#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using LogTest = PluginTest;

TEST_F(LogTest, EveryLineFollowsTheConvention) {
  logError("erreur getClientID");
  const auto calls = host.callsTo("logMessage");
  ASSERT_EQ(calls.size(), 1U);
  EXPECT_EQ(calls[0].arguments, "\"erreur getClientID\",4,\"Plugin\",0");
}

TEST_F(LogTest, AnOverlongLineIsCutNotOverrun) {
  const std::string longText(5000, 'a');
  logError(longText);
  ASSERT_EQ(host.logLines().size(), 1U);
  EXPECT_EQ(host.logLines()[0], longText.substr(0, 255));
}

TEST_F(LogTest, WithoutALogEntryNothingHappens) {
  pluginState.hostFunctions.logMessage = nullptr;
  logError("erreur getClientID");
  EXPECT_TRUE(host.calls().empty());
}

}  // namespace
}  // namespace sorlinx::testing
