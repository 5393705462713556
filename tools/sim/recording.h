// A live run written down as a session, so that a real game's traffic becomes a regression
// test: replayed by sorlinx-sim, the plugin must do again what it did live.
//
// It holds the world steps the live run started with, the game's clipboard texts as `clip`
// steps at the times the plugin read them (`empty` where it found no text), and everything
// the plugin did in answer as expectations at their times: replies, accepted placements,
// cues, moves, connections and log lines. In real time the plugin's passes keep the virtual
// clock's schedule, so the replay, on the virtual clock or in real time, reads each text at
// the same pass as the live run did.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "session.h"
#include "simulation.h"

namespace sorlinx::sim {

// `worldSteps`: the live run's own session (world steps only); `pluginInterface`: the
// interface it ran against, named in the header.
void writeRecording(std::ostream& out, const std::vector<Step>& worldSteps, const Outcome& outcome,
                    int pluginInterface);

// A text as a session writes it: in double quotes, with \" \\ \n \r \t and \xHH escapes
// for everything that is not printable ASCII. Reads back as the same bytes.
std::string sessionQuoted(const std::string& text);

}  // namespace sorlinx::sim
