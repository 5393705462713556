// The tests' voice client is the simulator's: one implementation of the table's entries,
// recording every call, counting the memory it hands out and failing any entry on demand.
#pragma once

#include "voice_client.h"

namespace sorlinx::testing {

using FakeHost = sim::VoiceClient;
using sim::HostCall;
using sim::Placement;

}  // namespace sorlinx::testing
