// What the Windows clipboard code offers beside the common clipboard interface.
#pragma once

namespace sorlinx::clipboard {

// Puts, beside the text just set on the open clipboard, the three registered formats that
// keep it out of the clipboard history and the cloud clipboard and away from clipboard
// monitors. A marker the clipboard refuses leaves the text in place, only without it.
void markOutOfHistory() noexcept;

}  // namespace sorlinx::clipboard
