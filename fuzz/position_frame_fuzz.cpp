// The frame reader against the stream-based reader that states what a frame
// means: on any text the two must take the same records, field for field and
// bit for bit, and leave the same text behind after each.
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "positional/position_frame.h"
#include "support/stream_frame_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorlinx;
  const auto describe = [](const PositionRecord& record) {
    std::ostringstream out;
    out.precision(9);
    out << record.clientId << " x" << record.position.x << " y" << record.position.y << " z"
        << record.position.z << " flag " << static_cast<int>(record.flag);
    return out.str();
  };
  const std::string frame(reinterpret_cast<const char*>(data), size);
  std::string streamText = frame;
  std::string_view fastText = frame;
  for (;;) {
    const auto expected = testing::readPositionRecordWithStreams(streamText);
    const auto actual = readPositionRecord(fastText);
    if (actual.has_value() != expected.has_value()) {
      fuzz::fail(actual ? "a record that the stream reader does not take"
                        : "no record where the stream reader takes one",
                 actual ? describe(*actual) : describe(*expected));
    }
    if (fastText != streamText) {
      fuzz::fail("the readers leave different texts behind", std::string(fastText));
    }
    if (!expected) {
      return 0;
    }
    // Bit for bit, so that the sign of a zero counts too.
    if (actual->clientId != expected->clientId ||
        std::memcmp(&actual->position, &expected->position, sizeof(Vector3)) != 0 ||
        actual->flag != expected->flag) {
      fuzz::fail("the readers disagree on a record",
                 describe(*actual) + " against " + describe(*expected));
    }
  }
}
