// Telling the client's interface from its executable's version resource: the resource read
// by hand-made bytes, whole and broken in every way a reader could trip on, and the
// client lines' boundaries.
#include "interfaces/client_version.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace sorlinx::testing {
namespace {

using Bytes = std::vector<unsigned char>;

void putWord(Bytes& bytes, std::size_t at, std::uint32_t value) {
  bytes.at(at) = static_cast<unsigned char>(value);
  bytes.at(at + 1) = static_cast<unsigned char>(value >> 8U);
}

void putDoubleWord(Bytes& bytes, std::size_t at, std::uint32_t value) {
  putWord(bytes, at, value & 0xFFFFU);
  putWord(bytes, at + 2, value >> 16U);
}

// A version resource as a resource compiler lays it out: the header, the key in UTF-16,
// two bytes of padding, the 52-byte fixed-info block, then `children` bytes (the string
// tables, which the reader skips).
Bytes versionResource(ClientVersion v, std::size_t children = 0) {
  Bytes bytes(92 + children, 0);
  putWord(bytes, 0, static_cast<std::uint32_t>(bytes.size()));
  putWord(bytes, 2, 52);
  constexpr std::string_view KEY = "VS_VERSION_INFO";
  for (std::size_t i = 0; i < KEY.size(); ++i) {
    putWord(bytes, 6 + 2 * i, static_cast<unsigned char>(KEY[i]));
  }
  putDoubleWord(bytes, 40, 0xFEEF04BD);
  putDoubleWord(bytes, 44, 0x00010000);
  putDoubleWord(bytes, 48, static_cast<std::uint32_t>(v.major) << 16U | v.minor);
  putDoubleWord(bytes, 52, static_cast<std::uint32_t>(v.patch) << 16U | v.build);
  // The product version, which the reader must not take for the file version.
  putDoubleWord(bytes, 56, 0x00090009);
  putDoubleWord(bytes, 60, 0x00090009);
  return bytes;
}

std::optional<ClientVersion> read(const Bytes& bytes) { return readVersionResource(bytes); }

TEST(ClientVersionTest, AWholeResourceGivesItsFileVersionWhateverFollowsIt) {
  const ClientVersion version{3, 5, 6, 7};
  for (const std::size_t children : {0U, 300U}) {
    Bytes bytes = versionResource(version, children);
    bytes.resize(bytes.size() + 3, 0xEE);  // resources are padded past the block's own length
    const auto found = read(bytes);
    ASSERT_TRUE(found) << children;
    EXPECT_EQ(found->major, 3);
    EXPECT_EQ(found->minor, 5);
    EXPECT_EQ(found->patch, 6);
    EXPECT_EQ(found->build, 7);
  }
  // A fixed-info block announced longer than its 52 bytes is still read.
  Bytes longer = versionResource(version, 8);
  putWord(longer, 2, 60);
  EXPECT_TRUE(read(longer));
}

TEST(ClientVersionTest, ABrokenResourceGivesNothing) {
  const Bytes whole = versionResource({3, 0, 9, 0}, 40);
  // Cut anywhere before the end of the block: its length says more than there is.
  for (std::size_t size = 0; size < whole.size(); ++size) {
    EXPECT_FALSE(read(Bytes(whole.begin(), whole.begin() + static_cast<long>(size)))) << size;
  }
  const auto broken = [&whole](auto change) {
    Bytes bytes = whole;
    change(bytes);
    return read(bytes);
  };
  // Lengths that lie: the block's beyond the bytes, or too short for its fixed-info block;
  // the fixed-info block's too short, absent, or reaching past the block.
  EXPECT_FALSE(broken([](Bytes& b) { putWord(b, 0, static_cast<std::uint32_t>(b.size()) + 1); }));
  EXPECT_FALSE(broken([](Bytes& b) { putWord(b, 0, 91); }));
  EXPECT_FALSE(broken([](Bytes& b) { putWord(b, 2, 51); }));
  EXPECT_FALSE(broken([](Bytes& b) { putWord(b, 2, 0); }));
  EXPECT_FALSE(broken([](Bytes& b) { putWord(b, 2, static_cast<std::uint32_t>(b.size()) - 39); }));
  // Another key, or the right one in 8-bit characters; another signature, or the right one
  // one byte off.
  EXPECT_FALSE(broken([](Bytes& b) { putWord(b, 6 + 2 * 14, 'X'); }));
  EXPECT_FALSE(broken([](Bytes& b) { putWord(b, 6 + 2 * 15, ' '); }));
  EXPECT_FALSE(broken([](Bytes& b) {
    for (std::size_t i = 0; i < 15; ++i) {
      b.at(6 + i) = static_cast<unsigned char>("VS_VERSION_INFO"[i]);
    }
  }));
  EXPECT_FALSE(broken([](Bytes& b) { putDoubleWord(b, 40, 0xFEEF04BC); }));
  EXPECT_FALSE(broken([](Bytes& b) {
    putDoubleWord(b, 40, 0);
    putDoubleWord(b, 42, 0xFEEF04BD);
  }));
}

TEST(ClientVersionTest, EachClientLineGetsItsInterfaceAndEveryOtherVersion26) {
  const struct {
    ClientVersion version;
    int interface;
  } lines[] = {
      {{3, 0, 8, 0}, 26},           {{3, 0, 9, 0}, 19},     {{3, 0, 13, 0xFFFF}, 19},
      {{3, 0, 14, 0}, 20},          {{3, 0, 19, 0}, 20},    {{3, 0, 20, 0}, 26},
      {{3, 1, 0, 0}, 21},           {{3, 1, 0, 9}, 21},     {{3, 1, 1, 0}, 22},
      {{3, 1, 10, 0}, 22},          {{3, 2, 0, 0}, 22},     {{3, 2, 5, 0}, 22},
      {{3, 3, 0, 0}, 23},           {{3, 3, 2, 0}, 23},     {{3, 4, 0, 0}, 26},
      {{3, 5, 0, 0}, 24},           {{3, 5, 6, 0}, 24},     {{3, 6, 0, 0}, 26},
      {{3, 6, 2, 0}, 26},           {{3, 7, 0, 0}, 26},     {{4, 0, 9, 0}, 26},
      {{2, 3, 0, 0}, 26},           {{0x103, 0, 9, 0}, 26}, {{3, 0x100, 0, 0}, 26},
      {{3, 0x10000 - 1, 0, 0}, 26},
  };
  for (const auto& line : lines) {
    const ClientVersion& v = line.version;
    EXPECT_EQ(interfaceOfClient(v), line.interface)
        << v.major << '.' << v.minor << '.' << v.patch << '.' << v.build;
    // The same through the resource that carries it.
    EXPECT_EQ(interfaceOfClient(read(versionResource(v))), line.interface);
  }
  EXPECT_EQ(interfaceOfClient(std::nullopt), 26);
  // Here no executable carries a version resource: the newest interface.
  EXPECT_TRUE(ownVersionResource().empty());
  EXPECT_EQ(clientInterface(), 26);
}

}  // namespace
}  // namespace sorlinx::testing
