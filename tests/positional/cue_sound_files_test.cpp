// The cue sounds that the build generates: the format the voice client is handed, and
// lengths that fit the cue timings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

namespace {

std::uint32_t littleEndian(const std::string& bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = size; i > 0; --i) {
    value = (value << 8U) | static_cast<unsigned char>(bytes[at + i - 1]);
  }
  return value;
}

TEST(CueSoundFilesTest, MonoSixteenBitPcmAtFortyEightKilohertzOfTheRightLengths) {
  struct Case {
    const char* name;
    double shortestMs;
    double longestMs;
  };
  std::vector<std::string> files;
  for (const Case& c :
       {Case{"rc.wav", 100, 250}, Case{"rl.wav", 100, 250}, Case{"bruit.wav", 800, 818}}) {
    SCOPED_TRACE(c.name);
    std::ifstream file(std::string(SORLINX_CUE_SOUNDS_DIR) + "/" + c.name, std::ios::binary);
    const std::string& bytes =
        files.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 44U);
    const std::size_t dataSize = bytes.size() - 44;
    EXPECT_EQ(bytes.substr(0, 4) + bytes.substr(8, 8) + bytes.substr(36, 4), "RIFFWAVEfmt data");
    // Chunk sizes, PCM, mono, 48 kHz, 96000 bytes a second, 2 bytes a frame, 16 bits.
    for (const auto& [at, size, value] : {std::tuple{4U, 4U, 36 + dataSize},
                                          {16U, 4U, 16U},
                                          {20U, 2U, 1U},
                                          {22U, 2U, 1U},
                                          {24U, 4U, 48000U},
                                          {28U, 4U, 96000U},
                                          {32U, 2U, 2U},
                                          {34U, 2U, 16U},
                                          {40U, 4U, dataSize}}) {
      EXPECT_EQ(littleEndian(bytes, at, size), value) << "at byte " << at;
    }
    const std::size_t samples = dataSize / 2;
    EXPECT_GE(static_cast<double>(samples) / 48.0, c.shortestMs);
    EXPECT_LE(static_cast<double>(samples) / 48.0, c.longestMs);
    // Audible, unclipped, and starting and ending at silence, so that repeats join without
    // a click.
    double sum = 0.0;
    for (std::size_t i = 0; i < samples; ++i) {
      const auto sample = static_cast<std::int16_t>(littleEndian(bytes, 44 + 2 * i, 2));
      ASSERT_LT(std::abs(sample), 32767);
      sum += static_cast<double>(sample) * sample;
      if (i == 0 || i + 1 == samples) {
        EXPECT_LT(std::abs(sample), 100);
      }
    }
    EXPECT_GT(std::sqrt(sum / static_cast<double>(samples)), 1000.0);
  }
  EXPECT_NE(files[0], files[1]) << "the RC and RL cues sound the same";
}

}  // namespace
