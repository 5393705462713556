// A top-down map of the voice client's space over a session: the x/z plane seen from above
// (y, the height, is written beside each client). Each client is a labelled dot at the
// last position the game gave it, with the trail of its earlier positions; a stale-frame
// reset, which puts everyone back at the origin, ends a trail with a ring and a dashed line
// to the origin instead of moving the dot there. RC and RL members are ringed; the origin
// and the local client are marked. When the game's frames look like x, y, z instead of
// x, z, y, the map says so.
#pragma once

#include <iosfwd>
#include <vector>

#include "simulation.h"

namespace sorlinx::sim {

void writeSvgMap(std::ostream& out, const Outcome& outcome);

// Whether the heights look swapped with z. Evidence comes from each frame that places two
// clients or more (the positions at one time) and from each client's own trail: one whose
// heights (y) spread at least ten times as far as its z values votes "swapped", one whose z
// values spread ten times as far as its heights votes "right", any other tells nothing.
// Players mostly stand on the ground, at heights that differ little next to the distances
// between them, so a game that sends its height where z belongs shows level z values and
// heights that vary like distances. The placements of the stale-frame reset do not count.
struct HeightVotes {
  int swapped = 0;
  int right = 0;
  [[nodiscard]] bool looksSwapped() const { return swapped > right; }
};
HeightVotes voteOnHeights(const std::vector<Event>& events);

// Label placement, apart for the tests. A label of `width` by `height` wants to sit near
// its anchor; it may not overlap another label, any dot, or leave `area`.
struct Box {
  double left = 0;
  double top = 0;
  double width = 0;
  double height = 0;
  [[nodiscard]] bool overlaps(const Box& other) const;
};
struct LabelWish {
  double anchorX = 0;
  double anchorY = 0;
  double width = 0;
  double height = 0;
};
// Where each label goes, in order: the first free spot on rings of growing distance around
// its anchor, or, when none is free, the spot that overlaps least.
std::vector<Box> placeLabels(const std::vector<LabelWish>& wishes, const std::vector<Box>& dots,
                             const Box& area);

}  // namespace sorlinx::sim
