// "ConnectToServer": leaves the current server and connects to the one the game names.
#pragma once

#include <string>

namespace sorlinx {

void handleConnectToServer(std::string& argumentText);

}  // namespace sorlinx
