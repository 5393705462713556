// Telling the client's interface from its executable's version resource: the resource read
// from hand-made bytes, whole and broken in each way a reader could trip on, and the
// boundaries of the client lines.
#include "interfaces/client_version.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace sorlinx::testing {
namespace {

using Bytes = std::vector<unsigned char>;

void put(Bytes& bytes, std::size_t at, std::uint32_t value, std::size_t size = 4) {
  for (std::size_t i = 0; i < size; ++i) {
    bytes.at(at + i) = static_cast<unsigned char>(value >> (8 * i));
  }
}

// A version resource as a resource compiler lays it out: the header, the key in UTF-16,
// two bytes of padding, the 52-byte fixed-info block, then `children` bytes (the string
// tables, which the reader skips). The product version differs from the file version.
Bytes versionResource(ClientVersion v, std::size_t children = 0) {
  Bytes bytes(92 + children, 0);
  put(bytes, 0, static_cast<std::uint32_t>(bytes.size()), 2);
  put(bytes, 2, 52, 2);
  constexpr std::string_view KEY = "VS_VERSION_INFO";
  for (std::size_t i = 0; i < KEY.size(); ++i) {
    put(bytes, 6 + 2 * i, static_cast<unsigned char>(KEY[i]), 2);
  }
  put(bytes, 40, 0xFEEF04BD);
  put(bytes, 48, static_cast<std::uint32_t>(v.major) << 16U | v.minor);
  put(bytes, 52, static_cast<std::uint32_t>(v.patch) << 16U | v.build);
  put(bytes, 56, 0x00090009);
  return bytes;
}

TEST(ClientVersionTest, AWholeResourceGivesItsFileVersionWhateverFollowsIt) {
  for (const std::size_t children : {0U, 300U}) {
    Bytes bytes = versionResource({3, 5, 6, 7}, children);
    bytes.resize(bytes.size() + 3, 0xEE);  // resources are padded past the block's own length
    EXPECT_EQ(readVersionResource(bytes), (ClientVersion{3, 5, 6, 7})) << children;
  }
  Bytes longer = versionResource({3, 5, 6, 7}, 8);
  put(longer, 2, 60, 2);  // a fixed-info block announced longer than its 52 bytes
  EXPECT_TRUE(readVersionResource(longer));
}

TEST(ClientVersionTest, ABrokenResourceGivesNothing) {
  const Bytes whole = versionResource({3, 0, 9, 0}, 40);
  // Cut anywhere before the end of the block: its length says more than there is.
  for (std::size_t size = 0; size < whole.size(); ++size) {
    EXPECT_FALSE(readVersionResource(std::span(whole).first(size))) << size;
  }
  const std::size_t size = whole.size();
  const std::function<void(Bytes&)> breaks[] = {
      // Lengths that lie: the block's beyond the bytes, or too short for its fixed-info
      // block; the fixed-info block's too short, absent, or reaching past the block.
      [size](Bytes& b) { put(b, 0, static_cast<std::uint32_t>(size) + 1, 2); },
      [](Bytes& b) { put(b, 0, 91, 2); },
      [](Bytes& b) { put(b, 2, 51, 2); },
      [](Bytes& b) { put(b, 2, 0, 2); },
      [size](Bytes& b) { put(b, 2, static_cast<std::uint32_t>(size) - 39, 2); },
      // Another key, its terminator missing, or the key in 8-bit characters.
      [](Bytes& b) { put(b, 6 + 2 * 14, 'X', 2); },
      [](Bytes& b) { put(b, 6 + 2 * 15, ' ', 2); },
      [](Bytes& b) { std::copy_n("VS_VERSION_INFO", 15, b.begin() + 6); },
      // Another signature, or the right one two bytes off.
      [](Bytes& b) { put(b, 40, 0xFEEF04BC); },
      [](Bytes& b) {
        put(b, 40, 0x04BD0000);
        put(b, 44, 0xFEEF);
      },
  };
  for (std::size_t i = 0; i < std::size(breaks); ++i) {
    Bytes bytes = whole;
    breaks[i](bytes);
    EXPECT_FALSE(readVersionResource(bytes)) << "break " << i;
  }
}

TEST(ClientVersionTest, EachClientLineGetsItsInterfaceAndEveryOtherVersion26) {
  const struct {
    ClientVersion version;
    int interface;
  } lines[] = {
      {{3, 0, 8, 0}, 26},     {{3, 0, 9, 0}, 19},  {{3, 0, 13, 0xFFFF}, 19}, {{3, 0, 14, 0}, 20},
      {{3, 0, 19, 0}, 20},    {{3, 0, 20, 0}, 26}, {{3, 1, 0, 9}, 21},       {{3, 1, 1, 0}, 22},
      {{3, 1, 10, 0}, 22},    {{3, 2, 5, 0}, 22},  {{3, 3, 0, 0}, 23},       {{3, 3, 2, 0}, 23},
      {{3, 4, 0, 0}, 26},     {{3, 5, 0, 0}, 24},  {{3, 5, 6, 0}, 24},       {{3, 6, 0, 0}, 26},
      {{3, 7, 0, 0}, 26},     {{4, 0, 9, 0}, 26},  {{2, 3, 0, 0}, 26},       {{0x103, 0, 9, 0}, 26},
      {{3, 0x105, 6, 0}, 26},
  };
  for (const auto& [v, interface] : lines) {
    EXPECT_EQ(interfaceOfClient(readVersionResource(versionResource(v))), interface)
        << v.major << '.' << v.minor << '.' << v.patch << '.' << v.build;
  }
  EXPECT_EQ(interfaceOfClient(std::nullopt), 26);
  // Here no executable carries a version resource: the newest interface.
  EXPECT_TRUE(ownVersionResource().empty());
  EXPECT_EQ(clientInterface(), 26);
}

}  // namespace
}  // namespace sorlinx::testing
