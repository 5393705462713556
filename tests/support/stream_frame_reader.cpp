#include "support/stream_frame_reader.h"

#include <locale>
#include <sstream>

namespace sorlinx::testing {

namespace {

template <typename Number>
bool extract(const std::string& field, Number& value) {
  std::istringstream in(field);
  in.imbue(std::locale::classic());
  in >> value;
  return !in.fail();
}

std::optional<PositionRecord> readBody(const std::string& body) {
  const std::size_t open = body.find('[');
  if (open == std::string::npos) {
    return std::nullopt;
  }
  std::string rest = body.substr(open + 1);
  const std::size_t firstComma = rest.find(',');
  if (firstComma == std::string::npos) {
    return std::nullopt;
  }
  const std::string xField = rest.substr(0, firstComma);
  rest = rest.substr(firstComma + 1);
  const std::size_t secondComma = rest.find(',');
  if (secondComma == std::string::npos) {
    return std::nullopt;
  }
  const std::string zField = rest.substr(0, secondComma);
  rest = rest.substr(secondComma + 1);
  const std::size_t close = rest.find(']');
  if (close == std::string::npos) {
    return std::nullopt;
  }
  const std::string yField = rest.substr(0, close);
  const std::string flagText = rest.substr(close + 1);

  // Read wide and signed, so that "-5" and "70000" show as what they are instead of
  // wrapping or saturating as an unsigned 16-bit extraction would.
  long long client = 0;
  PositionRecord record;
  if (!extract(body.substr(0, open), client) || client < 0 || client > 65535 ||
      !extract(xField, record.position.x) || !extract(zField, record.position.z) ||
      !extract(yField, record.position.y)) {
    return std::nullopt;
  }
  record.clientId = static_cast<ClientId>(client);
  record.flag = flagText == "[RC]"   ? RadioFlag::RC
                : flagText == "[RL]" ? RadioFlag::RL
                : flagText == "[CD]" ? RadioFlag::CD
                                     : RadioFlag::None;
  return record;
}

}  // namespace

std::optional<PositionRecord> readPositionRecordWithStreams(std::string& frameText) {
  while (!frameText.empty() && frameText[0] == '{') {
    std::string body;
    const std::size_t next = frameText.find("}{");
    if (next != std::string::npos) {
      body = frameText.substr(1, next - 1);
      frameText.erase(0, next + 1);
    } else {
      body = frameText.size() < 2 ? "" : frameText.substr(1, frameText.size() - 2);
      frameText.clear();
    }
    if (auto record = readBody(body)) {
      return record;
    }
  }
  return std::nullopt;
}

}  // namespace sorlinx::testing
