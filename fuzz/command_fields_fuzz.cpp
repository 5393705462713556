// How "SwitchPlayer" and "ConnectToServer" take their argument text apart, against a reading
// of the same text with a string stream: std::getline up to each comma, and each number
// extracted with >> (where an unsigned extraction would quietly wrap a negative number
// around, the plugin refuses it instead, and so does the reference). How each handler hands
// the fields on to the voice client is left to the handlers' own tests.
//
// An input is one argument text, up to its first zero byte as a clipboard text would be.
#include <cstdint>
#include <iterator>
#include <locale>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

#include "commands/fields.h"
#include "fuzz_check.h"
#include "host/host_functions.h"

namespace sorlinx::fuzz {
namespace {

// The next field: the text up to the first comma, which is taken off with it. When there is
// no comma the field is the whole remaining text, and the remaining text stays as it was.
std::string streamField(std::string& remaining) {
  std::istringstream in(remaining);
  std::string field;
  std::getline(in, field, ',');
  if (in.eof()) {
    return remaining;
  }
  remaining.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return field;
}

template <typename Number>
std::optional<Number> streamNumber(const std::string& field) {
  std::istringstream in(field);
  in.imbue(std::locale::classic());
  Number value{};
  in >> value;
  if (in.fail()) {
    return std::nullopt;
  }
  if constexpr (std::is_unsigned_v<Number>) {
    const std::size_t sign = field.find_first_not_of(" \t\n\v\f\r");
    if (field[sign] == '-' && value != 0) {
      return std::nullopt;
    }
  }
  return value;
}

template <typename Number>
void compareNumbers(const std::string& field) {
  const std::optional<Number> expected = streamNumber<Number>(field);
  const std::optional<Number> actual = readNumber<Number>(field);
  if (actual != expected) {
    fail("readNumber and the stream read a field differently", field);
  }
}

}  // namespace
}  // namespace sorlinx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorlinx;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string arguments(bytes.substr(0, bytes.find('\0')));

  // The splitter itself, field after field, until the text stops shrinking.
  std::string fast = arguments;
  std::string reference = arguments;
  for (int field = 0; field < 8; ++field) {
    const std::string expected = fuzz::streamField(reference);
    if (takeField(fast) != expected || fast != reference) {
      fuzz::fail("takeField and getline split the text differently", arguments);
    }
    fuzz::compareNumbers<ClientId>(expected);
    fuzz::compareNumbers<ChannelId>(expected);
    fuzz::compareNumbers<std::int32_t>(expected);
  }
  return 0;
}
