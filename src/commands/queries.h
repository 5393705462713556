// The game's questions about the local client: "GetPlayerID", "GetCurrentChannelID" and
// "GetPlayerIDFromName". Each answers one number on the clipboard, "-1" on failure, and
// nothing at all while the connection is not established.
#pragma once

#include <string>

namespace sorlinx {

void handleGetPlayerID(std::string& argumentText);
void handleGetCurrentChannelID(std::string& argumentText);
void handleGetPlayerIDFromName(std::string& argumentText);

}  // namespace sorlinx
