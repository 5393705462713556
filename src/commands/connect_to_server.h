// "ConnectToServer": leaves the current server, if any, and connects to the one the game
// names, under the user's identity (read at start, see client_identity.h).
//
// Argument text: address,port,server password,nickname. The nickname is everything after
// the third comma, commas included; an empty one becomes "TS3 User". Nothing is answered.
// A port that is no number or lies outside 1 to 65535, or a missing identity, refuses the
// request with one log line before anything is stopped: the player stays where they are.
// The connection left and the one started are the same, read once when the request comes.
//
// Runs on clipboardThread and holds it while the voice client leaves the old server: it
// waits for the status "disconnected", pausing 10 ms between looks, for at most 5 s, and
// leaves at once when the plugin stops, so shutdown is never held up for long.
#pragma once

#include <string>

#include "shared/pacer.h"

namespace sorlinx {

// The pause between two looks at the connection status while waiting for the disconnection.
inline constexpr Milliseconds DISCONNECT_POLL_PAUSE{10};
// How long the voice client gets to report the disconnection before the request is dropped.
inline constexpr Milliseconds DISCONNECT_WAIT_LIMIT{5000};

// Consumes the argument text in place, whatever the connection status: afterwards it
// holds the nickname field as it came (empty when it was empty).
void handleConnectToServer(std::string& argumentText);

}  // namespace sorlinx
