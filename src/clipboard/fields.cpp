#include "clipboard/fields.h"

namespace sorlinx {

std::string takeField(std::string& remaining) {
  const std::size_t comma = remaining.find(',');
  if (comma == std::string::npos) {
    return remaining;
  }
  std::string field = remaining.substr(0, comma);
  remaining.erase(0, comma + 1);
  return field;
}

}  // namespace sorlinx
