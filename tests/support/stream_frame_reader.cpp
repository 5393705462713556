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

// The text before the first `mark`, taken off `text` together with the mark.
std::optional<std::string> cut(std::string& text, char mark) {
  const std::size_t at = text.find(mark);
  if (at == std::string::npos) {
    return std::nullopt;
  }
  std::string head = text.substr(0, at);
  text.erase(0, at + 1);
  return head;
}

std::optional<PositionRecord> readBody(std::string body) {
  const auto clientField = cut(body, '[');
  const auto xField = cut(body, ',');
  const auto zField = cut(body, ',');
  const auto yField = cut(body, ']');
  // Read wide and signed, so that "-5" and "70000" show as what they are instead of
  // wrapping or saturating as an unsigned 16-bit extraction would.
  long long client = 0;
  PositionRecord record;
  if (!clientField || !xField || !zField || !yField || !extract(*clientField, client) ||
      client < 0 || client > 65535 || !extract(*xField, record.position.x) ||
      !extract(*zField, record.position.z) || !extract(*yField, record.position.y)) {
    return std::nullopt;
  }
  record.clientId = static_cast<ClientId>(client);
  // What is left after the "]" is the flag text.
  record.flag = body == "[RC]"   ? RadioFlag::RC
                : body == "[RL]" ? RadioFlag::RL
                : body == "[CD]" ? RadioFlag::CD
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
