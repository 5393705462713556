#include "commands/queries.h"

namespace sorlinx {

// Not built yet: these requests are accepted and lead to nothing.
void handleGetPlayerID(std::string& /*argumentText*/) {}
void handleGetCurrentChannelID(std::string& /*argumentText*/) {}
void handleGetPlayerIDFromName(std::string& /*argumentText*/) {}

}  // namespace sorlinx
