// For a platform clipboard that does not yet tell clipboardThread of changes (the X11 one,
// for now): the worker looks every polling period, as it always has. A clipboard that
// gives notices defines listenForChanges itself, and its build leaves this file out.
#include "clipboard/clipboard.h"

namespace sorlinx {

std::unique_ptr<ChangeNotices> clipboard::listenForChanges() noexcept { return nullptr; }

}  // namespace sorlinx
