// "3D": places each client's voice where the game puts it and rebuilds the radio lists.
#pragma once

#include <string>

namespace sorlinx {

// Applies one position frame (see position_frame.h), on clipboardThread. While connected:
// empties rcClients and rlClients, then for each record in frame order asks the voice
// client to place that client's voice and, when it accepts, applies the record's flag, so
// that each list ends up holding the clients whose last accepted flag of this frame named
// it. A refused record is logged ("Erreur_ID_invalide:<client>" for an unknown client, the
// bare error code otherwise) and its flag ignored. stateLock is held for the whole frame,
// so soundCueThread sees the lists either before the frame or after it, never in between.
// While not connected the frame is dropped and the lists keep what they hold.
void handle3D(std::string& frameText);

// Puts every client of the local player's channel, the local player included, at the
// origin: the second half of the stale-frame reset. A failed step is logged and ends it.
void placeLocalChannelAtOrigin();

}  // namespace sorlinx
