// "3D": places each client's voice where the game puts it and rebuilds the radio lists.
#pragma once

#include <string>

namespace sorlinx {

void handle3D(std::string& frameText);

}  // namespace sorlinx
