// The common ground of the unit tests: a fake voice client installed as the plugin's host,
// the in-memory clipboard emptied, the plugin's process-wide state back at its start and a
// virtual clock for the workers. Tests that start the real threads stop them before the
// fixture ends (it calls ts3plugin_shutdown in any case).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "clipboard/clipboard_channel.h"
#include "clipboard/memory_clipboard.h"
#include "plugin/exports.h"
#include "plugin/plugin_state.h"
#include "support/fake_host.h"
#include "support/virtual_pacer.h"

namespace sorlinx::testing {

// The text a game writes for a command and its argument text.
std::string request(std::string_view command, std::string_view arguments = {});

// Puts the plugin's process-wide state back as it is at load: workers stopped, lists
// empty, no connection, no identity, the real pacer.
void resetPluginState();

class PluginTest : public ::testing::Test {
 protected:
  PluginTest();
  ~PluginTest() override;

  // Hands the fake's table to the plugin, as the voice client does before init.
  void installHost();
  // Sets the plugin's view of the connection directly, as the callbacks would.
  static void setConnected(bool connected);
  // Puts `text` on the clipboard and runs one clipboard pass.
  void passWith(std::string_view text);
  // Runs `count` clipboard passes.
  void passes(int count);

  FakeHost host;
  VirtualPacer pacer;
  ClipboardChannel channel;
};

}  // namespace sorlinx::testing
