// The version resource reader on any bytes, as the voice client's executable
// might carry them. The input is exactly the bytes the reader gets, so that
// AddressSanitizer sees any read past them. What it finds must be what the
// bytes say, it must ignore everything past the block's own length, and the
// interface it leads to must be one a client speaks.
#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "interfaces/client_version.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorlinx;
  using fuzz::check;
  const std::span<const unsigned char> bytes(data, size);
  const auto littleEndian = [bytes](std::size_t at, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = count; i-- > 0;) {
      value = value << 8U | bytes[at + i];
    }
    return value;
  };
  const std::optional<ClientVersion> found = readVersionResource(bytes);
  const std::set<int> interfaces{19, 20, 21, 22, 23, 24, 26};
  check(interfaces.count(interfaceOfClient(found)) == 1, "an interface no client speaks");
  if (!found) {
    return 0;
  }
  // Found: the bytes hold the block's header, the fixed-info block with its
  // signature inside the block, and the version the reader gave.
  check(size >= 92, "a version read from fewer bytes than the header and fixed-info block");
  const std::size_t length = littleEndian(0, 2);
  check(length <= size && length >= 40 + littleEndian(2, 2),
        "a version read from a block whose lengths do not fit");
  check(littleEndian(40, 4) == 0xFEEF04BD, "a version read without the signature");
  const std::uint32_t high = littleEndian(48, 4);
  const std::uint32_t low = littleEndian(52, 4);
  check(found->major == high >> 16U && found->minor == (high & 0xFFFFU) &&
            found->patch == low >> 16U && found->build == (low & 0xFFFFU),
        "another version than the fixed-info block's");
  // Nothing past the block's length counts: cut there, or followed by more, the
  // same.
  check(readVersionResource(bytes.first(length)) == found,
        "the bytes past the block changed what was read");
  std::vector<unsigned char> longer(bytes.begin(), bytes.end());
  longer.resize(size + 64, 0xFF);
  check(readVersionResource(longer) == found, "bytes added past the end changed what was read");
  return 0;
}
