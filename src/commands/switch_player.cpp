#include "commands/switch_player.h"

namespace sorlinx {

// Not built yet: the request is accepted and leads to nothing.
void handleSwitchPlayer(std::string& /*argumentText*/) {}

}  // namespace sorlinx
