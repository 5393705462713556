#include "commands/connect_to_server.h"

namespace sorlinx {

// Not built yet: the request is accepted and leads to nothing.
void handleConnectToServer(std::string& /*argumentText*/) {}

}  // namespace sorlinx
