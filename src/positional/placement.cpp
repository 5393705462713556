#include "positional/placement.h"

namespace sorlinx {

// Not built yet: frames are accepted and lead to nothing.
void handle3D(std::string& /*frameText*/) {}

}  // namespace sorlinx
