// sorlinx-sim --live: the plugin's own code against the simulated voice client, on the
// real clipboard, in real time, until the user stops it. A game author starts the game and
// sees each request as the plugin takes it, what the plugin does with it and its replies,
// which it writes on the clipboard as it would inside a voice client.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "session.h"

namespace sorlinx::sim {

struct LiveOptions {
  bool json = false;
  int pluginInterface = 26;
  // Stop after this long (0: only when told to).
  Milliseconds until{0};
  // Where to write what happened as a session (recording.h); empty: nowhere.
  std::string recordFile;
  std::string mapFile;
};

// Runs live with the world `steps` set up (a session of world steps only), printing the
// timeline to `out` as it happens and what it is doing to `err`. It stops at the end of the
// standard input or a line "quit" on it, at Ctrl+C, or after `until`. Returns the exit
// code: 0, or 2 when it cannot run (a build without the system clipboard, a session step that has
// no place in a live run, a file it cannot write).
int runLive(const std::vector<Step>& steps, const LiveOptions& options, std::ostream& out,
            std::ostream& err);

}  // namespace sorlinx::sim
