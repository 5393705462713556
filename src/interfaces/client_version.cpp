#include "interfaces/client_version.h"

#include <array>
#include <atomic>

namespace sorlinx {

namespace {

// The layout of VS_VERSIONINFO, in bytes: three 16-bit words (the block's length, the
// fixed-info block's length, its type), the key and its terminator in UTF-16, padding to a
// 32-bit boundary, then the fixed-info block. Little-endian, as Windows writes it.
constexpr std::size_t KEY_OFFSET = 6;
constexpr std::array<char, 16> KEY = {'V', 'S', '_', 'V', 'E', 'R', 'S', 'I',
                                      'O', 'N', '_', 'I', 'N', 'F', 'O', '\0'};
constexpr std::size_t FIXED_INFO_OFFSET = 40;  // 6 + 32, rounded up to 4
static_assert(FIXED_INFO_OFFSET == (KEY_OFFSET + 2 * KEY.size() + 3) / 4 * 4);
// VS_FIXEDFILEINFO: thirteen 32-bit words, the signature first, the file version (most
// significant half, then least) third and fourth.
constexpr std::size_t FIXED_INFO_SIZE = std::size_t{13} * 4;
constexpr std::uint32_t FIXED_INFO_SIGNATURE = 0xFEEF04BD;
constexpr std::size_t FILE_VERSION_MS = 8;
constexpr std::size_t FILE_VERSION_LS = 12;

std::uint16_t word(std::span<const unsigned char> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8U);
}

std::uint32_t doubleWord(std::span<const unsigned char> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(word(bytes, at)) |
         static_cast<std::uint32_t>(word(bytes, at + 2)) << 16U;
}

}  // namespace

std::optional<ClientVersion> readVersionResource(std::span<const unsigned char> resource) noexcept {
  if (resource.size() < KEY_OFFSET) {
    return std::nullopt;
  }
  // The block ends where its own length says, which may be short of the resource's end
  // (resources are padded) but never past it.
  const std::size_t length = word(resource, 0);
  const std::size_t fixedInfoLength = word(resource, 2);
  if (length > resource.size() || fixedInfoLength < FIXED_INFO_SIZE ||
      FIXED_INFO_OFFSET + fixedInfoLength > length) {
    return std::nullopt;
  }
  const auto block = resource.first(length);
  for (std::size_t i = 0; i < KEY.size(); ++i) {
    if (word(block, KEY_OFFSET + 2 * i) != static_cast<unsigned char>(KEY[i])) {
      return std::nullopt;
    }
  }
  const auto fixedInfo = block.subspan(FIXED_INFO_OFFSET, FIXED_INFO_SIZE);
  if (doubleWord(fixedInfo, 0) != FIXED_INFO_SIGNATURE) {
    return std::nullopt;
  }
  const std::uint32_t high = doubleWord(fixedInfo, FILE_VERSION_MS);
  const std::uint32_t low = doubleWord(fixedInfo, FILE_VERSION_LS);
  return ClientVersion{static_cast<std::uint16_t>(high >> 16U), static_cast<std::uint16_t>(high),
                       static_cast<std::uint16_t>(low >> 16U), static_cast<std::uint16_t>(low)};
}

int interfaceOfClient(std::optional<ClientVersion> version) noexcept {
  constexpr int NEWEST = 26;
  if (!version || version->major != 3) {
    return NEWEST;
  }
  const unsigned patch = version->patch;
  switch (version->minor) {
    case 0:
      if (patch >= 9 && patch <= 13) {
        return 19;
      }
      return patch >= 14 && patch <= 19 ? 20 : NEWEST;
    case 1:
      return patch == 0 ? 21 : 22;
    case 2:
      return 22;
    case 3:
      return 23;
    case 5:
      return 24;
    default:  // 3.4 was never released; 3.6 and later speak 26
      return NEWEST;
  }
}

int clientInterface() noexcept {
  // Two threads asking at once both read the same resource and store the same answer.
  static std::atomic<int> decided{0};
  int answer = decided.load(std::memory_order_relaxed);
  if (answer == 0) {
    answer = interfaceOfClient(readVersionResource(ownVersionResource()));
    decided.store(answer, std::memory_order_relaxed);
  }
  return answer;
}

}  // namespace sorlinx
