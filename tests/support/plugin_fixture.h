// The common ground of the unit tests: the simulator's voice client, which records every
// call and fails any entry on demand, installed as the plugin's host (local client 5 in
// channel 40 beside client 8, client 9 in channel 41, connection 1 established), the
// in-memory clipboard emptied, the plugin's process-wide state back at its start and a
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
#include "support/virtual_pacer.h"
#include "voice_client.h"

namespace sorlinx::testing {

// The text a game writes for a command and its argument text.
inline std::string request(std::string_view command, std::string_view arguments = {}) {
  return requestText(command, arguments);
}

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

  sim::VoiceClient host;
  VirtualPacer pacer;
  ClipboardChannel channel;
};

}  // namespace sorlinx::testing
