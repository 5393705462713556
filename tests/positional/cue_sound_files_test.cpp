// The cue sounds that the build generates: the format the voice client is handed, and
// lengths that fit the cue timings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Wave {
  std::string header;
  std::vector<std::int16_t> samples;
};

std::uint32_t littleEndian(const std::string& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = (value << 8U) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

Wave readWave(const std::string& name) {
  std::ifstream file(std::string(SORLINX_CUE_SOUNDS_DIR) + "/" + name, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), {}};
  Wave wave;
  if (bytes.size() < 44) {
    return wave;
  }
  wave.header = bytes.substr(0, 44);
  for (std::size_t at = 44; at + 1 < bytes.size(); at += 2) {
    wave.samples.push_back(static_cast<std::int16_t>(littleEndian(bytes, at, 2)));
  }
  return wave;
}

double rms(const std::vector<std::int16_t>& samples) {
  double sum = 0.0;
  for (const std::int16_t sample : samples) {
    sum += static_cast<double>(sample) * sample;
  }
  return std::sqrt(sum / static_cast<double>(samples.size()));
}

TEST(CueSoundFilesTest, MonoSixteenBitPcmAtFortyEightKilohertzOfTheRightLengths) {
  struct Case {
    const char* name;
    double shortestMs;
    double longestMs;
  };
  for (const Case& c :
       {Case{"rc.wav", 100, 250}, Case{"rl.wav", 100, 250}, Case{"bruit.wav", 800, 818}}) {
    SCOPED_TRACE(c.name);
    const Wave wave = readWave(c.name);
    ASSERT_EQ(wave.header.size(), 44U);
    const std::string& h = wave.header;
    EXPECT_EQ(h.substr(0, 4), "RIFF");
    EXPECT_EQ(h.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(littleEndian(h, 16, 4), 16U);     // format chunk size
    EXPECT_EQ(littleEndian(h, 20, 2), 1U);      // PCM
    EXPECT_EQ(littleEndian(h, 22, 2), 1U);      // mono
    EXPECT_EQ(littleEndian(h, 24, 4), 48000U);  // samples per second
    EXPECT_EQ(littleEndian(h, 28, 4), 96000U);  // bytes per second
    EXPECT_EQ(littleEndian(h, 32, 2), 2U);      // bytes per sample frame
    EXPECT_EQ(littleEndian(h, 34, 2), 16U);     // bits per sample
    EXPECT_EQ(h.substr(36, 4), "data");
    EXPECT_EQ(littleEndian(h, 40, 4), 2 * wave.samples.size());
    EXPECT_EQ(littleEndian(h, 4, 4), 36 + 2 * wave.samples.size());

    const double lengthMs = static_cast<double>(wave.samples.size()) / 48.0;
    EXPECT_GE(lengthMs, c.shortestMs);
    EXPECT_LE(lengthMs, c.longestMs);
    // Audible, unclipped, and starting and ending at silence, so repeats join without a click.
    EXPECT_GT(rms(wave.samples), 1000.0);
    for (const std::int16_t sample : wave.samples) {
      ASSERT_LT(std::abs(sample), 32767);
    }
    EXPECT_LT(std::abs(wave.samples.front()), 100);
    EXPECT_LT(std::abs(wave.samples.back()), 100);
  }
  EXPECT_NE(readWave("rc.wav").samples, readWave("rl.wav").samples);
}

}  // namespace
