// Checks a session's expectations against what happened, and says why one failed.
//
// Each expectation looks from the time of the last step before its own time to its own
// time, both included; the steps of one time share that window. A positive expectation
// claims one event of its kind, the earliest that matches; a negative one fails on any
// event of its kind that no expectation has claimed.
//
// A failed expectation carries what was and was not found (`detail`) and, where one of the
// usual mistakes explains it, a hint in plain words (`hint`): the same text written twice,
// a frame written x, y, z, a query asked while not connected, an event that came a poll
// later than expected, and so on.
#pragma once

#include <cstdint>
#include <vector>

#include "session.h"
#include "timeline.h"

namespace sorlinx::sim {

// The voice client's connection status from `time` on.
struct StatusChange {
  Milliseconds time;
  std::int32_t status;
};

struct Tally {
  int expectations = 0;
  int failed = 0;
};

// `steps` as they played (repeats expanded), `events` in time order, `statuses` in time
// order from time 0. Inserts one expectation event per expectation, after the events of its
// time.
Tally checkExpectations(const std::vector<Step>& steps, std::vector<Event>& events,
                        const std::vector<StatusChange>& statuses);

}  // namespace sorlinx::sim
