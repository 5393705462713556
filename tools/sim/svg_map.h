// A top-down map of the voice client's space at the end of a session: the x/z plane seen
// from above (y, the height, is written beside each client). Each client is a labelled dot
// with the trail of its earlier positions; RC and RL members are ringed; the origin and the
// local client are marked.
#pragma once

#include <iosfwd>

#include "simulation.h"

namespace sorlinx::sim {

void writeSvgMap(std::ostream& out, const Outcome& outcome);

}  // namespace sorlinx::sim
