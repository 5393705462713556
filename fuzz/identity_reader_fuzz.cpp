// The identity reader on any file contents, fed in pieces of changing sizes as
// file reads deliver them, against the plain reading of the whole text: the
// first "identity=", the value up to the next LF without the CR of a CR LF,
// refused when it does not fit.
//
// An input is one byte that picks the sizes of the pieces (0: the whole file at
// once), followed by the file's contents; each is also fed whole and byte by
// byte.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "commands/client_identity.h"
#include "fuzz_check.h"
#include "shared/host.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorlinx;
  using Outcome = IdentityScanner::Outcome;
  if (size == 0) {
    return 0;
  }
  const unsigned seed = data[0];
  const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);
  // The whole-text reading, and in `wanted` the value and its zero, nothing
  // else anywhere.
  std::array<char, PATH_BUFFER_SIZE> wanted{};
  Outcome outcome = Outcome::noKey;
  if (const std::size_t key = file.find(IDENTITY_KEY); key != std::string_view::npos) {
    const std::string_view rest = file.substr(key + IDENTITY_KEY.size());
    const std::size_t lineEnd = rest.find('\n');
    std::string_view value = rest.substr(0, lineEnd);
    if (lineEnd != std::string_view::npos && value.ends_with('\r')) {
      value.remove_suffix(1);
    }
    outcome = value.size() >= PATH_BUFFER_SIZE ? Outcome::tooLong : Outcome::found;
    if (outcome == Outcome::found) {
      std::copy(value.begin(), value.end(), wanted.begin());
    }
  }
  // Fed whole, byte by byte (every piece boundary crossed), and in the pieces
  // the seed picks.
  for (const int way : {0, 1, 2}) {
    std::array<char, PATH_BUFFER_SIZE> buffer{};
    IdentityScanner scanner(buffer.data(), buffer.size());
    unsigned state = seed;
    for (std::string_view rest = file; !rest.empty();) {
      state = state * 1103515245U + 12345U;
      const std::size_t piece = way == 0 || (way == 2 && seed == 0) ? rest.size()
                                : way == 1                          ? 1
                                                                    : 1 + (state >> 16U) % 97;
      const std::string_view bytes = rest.substr(0, piece);
      rest.remove_prefix(bytes.size());
      if (!scanner.feed(bytes)) {
        break;  // as the reader does: the rest of the file is not read
      }
    }
    fuzz::check(scanner.finish() == outcome,
                "the scanner settled otherwise than the whole-text reading");
    fuzz::check(buffer == wanted, "the buffer holds another value than the whole-text reading");
  }
  return 0;
}
