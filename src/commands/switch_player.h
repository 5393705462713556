// "SwitchPlayer": moves a client of the current server into a channel.
#pragma once

#include <string>

namespace sorlinx {

void handleSwitchPlayer(std::string& argumentText);

}  // namespace sorlinx
