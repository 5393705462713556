// Live mode needs the system clipboard: builds without Windows' or X11's have none.
#include "live_platform.h"

namespace sorlinx::sim::live_platform {

bool available() { return false; }

void connectClipboard(const std::function<void(const ClipboardAccess&)>& /*observer*/) {}

void disconnectClipboard() {}

bool readFoundNoText() { return false; }

bool readInputLine(std::string& /*line*/) { return false; }

void onInterrupt(void (* /*handler*/)()) {}

}  // namespace sorlinx::sim::live_platform
