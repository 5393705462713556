// What the X11 clipboard code offers beside the common clipboard interface.
#pragma once

namespace sorlinx::clipboard {

// Whether the last readText that returned false found no text at all (CLIPBOARD has no
// owner, or its owner refused), rather than an owner whose answer is still to come.
bool lastReadFoundNoText() noexcept;

// Whether the text of the last writeText is still served, as far as the events handled so
// far tell: no other program has taken CLIPBOARD over, and the display is there.
bool holdsClipboard() noexcept;

}  // namespace sorlinx::clipboard
