// "SwitchPlayer": moves a client of the current server into a channel.
//
// Argument text: client,channel,password. The password is everything after the second
// comma, commas included, and may be empty. Nothing is answered; a refused move or an
// unreadable number is logged. Does nothing while the connection is not established.
#pragma once

#include <string>

namespace sorlinx {

// Consumes the argument text in place: afterwards it holds the password field (untouched
// when not connected).
void handleSwitchPlayer(std::string& argumentText);

}  // namespace sorlinx
