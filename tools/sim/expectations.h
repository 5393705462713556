// Checks a session's expectations against what happened, and says why one failed.
//
// Each expectation looks from the time of the last step before its own time to its own
// time, both included; the steps of one time share that window. A positive expectation
// claims one event of its kind, the earliest that matches; a negative one fails on any
// event of its kind that no expectation has claimed.
//
// A failed expectation carries what was and was not found (`detail`) and, where one of the
// usual mistakes explains it, a hint in plain words (`hint`): the same text written twice
// (or asked again before the plugin read its reply), a request written over before the
// plugin looked, a frame written x, y, z or one of its records skipped, a query asked while
// not connected, the stale-frame reset, an event that came a poll later than expected, and
// so on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session.h"
#include "timeline.h"

namespace sorlinx::sim {

// The voice client's connection status from `time` on.
struct StatusChange {
  Milliseconds time;
  std::int32_t status;
};

// A text the plugin read from the clipboard.
struct PluginRead {
  Milliseconds time;
  std::string text;
};

// What the plugin did that the timeline shows no event of, for the hints.
struct PluginTrace {
  // The connection's status, in time order from time 0.
  std::vector<StatusChange> statuses;
  // Every text the plugin read, in time order.
  std::vector<PluginRead> reads;
  // When the stale-frame reset emptied the radio lists.
  std::vector<Milliseconds> resets;
};

struct Tally {
  int expectations = 0;
  int failed = 0;
};

// `steps` as they played (repeats expanded), `events` in time order. Inserts one expectation
// event per expectation, after the events of its time.
Tally checkExpectations(const std::vector<Step>& steps, std::vector<Event>& events,
                        const PluginTrace& trace);

}  // namespace sorlinx::sim
