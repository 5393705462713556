// Routes each request to its handler, answers "GetVersion" and "3DMUTE" itself, and runs
// the stale-frame reset. Everything here runs on clipboardThread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sorlinx {

// Passes without a new request after which the stale-frame reset runs (about two seconds).
inline constexpr std::uint32_t STALE_FRAME_PASSES = 20;

// Runs the handler of `command`, the first whose name equals it byte for byte, with the
// argument text, which the handler may consume in place. Unknown commands do nothing.
void dispatchRequest(std::string_view command, std::string& argumentText);

// Called at the end of every clipboard pass. Once a request has been seen and twenty
// passes have gone by without a new one: empties both radio lists at once (the cues stop),
// and, as soon as the connection is established, puts every client of the local player's
// channel back at the origin.
void checkStaleFrame(std::uint32_t& unchangedPasses, bool& requestSeen);

// "3DMUTE": "ON" switches the setting on, any other text off. Nothing else changes.
void handle3DMute(std::string& argumentText);
// "GetVersion": replies with the version text.
void handleGetVersion(std::string& argumentText);

}  // namespace sorlinx
