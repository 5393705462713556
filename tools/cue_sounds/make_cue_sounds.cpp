// Writes the plugin's three cue sounds into the folder given: rc.wav and rl.wav, the start
// cues of the RC and RL radio lists, and bruit.wav, the radio static repeated while either
// list is non-empty. 16-bit PCM, mono, 48 kHz.
//
// The sounds are synthesised here, so the project owns them outright, and the output is the
// same byte for byte on every run (the noise comes from a fixed-seed generator of our own).
// The build runs this program on the build machine, also for the Windows builds, so it
// sticks to standard C++.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int SAMPLE_RATE = 48000;

using Samples = std::vector<double>;  // -1 to 1

std::size_t sampleCount(double milliseconds) {
  return static_cast<std::size_t>(std::lround(milliseconds * SAMPLE_RATE / 1000.0));
}

// Raised-cosine ramps over the first and last `milliseconds`, so that a sound starts and
// ends at silence without a click.
void fade(Samples& samples, double milliseconds) {
  const std::size_t ramp = std::min(sampleCount(milliseconds), samples.size() / 2);
  for (std::size_t i = 0; i < ramp; ++i) {
    const double gain =
        0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) / static_cast<double>(ramp));
    samples[i] *= gain;
    samples[samples.size() - 1 - i] *= gain;
  }
}

// A tone gliding from one frequency to another, faded in and out.
Samples tone(double milliseconds, double fromHz, double toHz, double level) {
  Samples samples(sampleCount(milliseconds));
  double phase = 0.0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double progress = static_cast<double>(i) / static_cast<double>(samples.size());
    phase += 2.0 * std::numbers::pi * (fromHz + (toHz - fromHz) * progress) / SAMPLE_RATE;
    samples[i] = level * std::sin(phase);
  }
  fade(samples, 5.0);
  return samples;
}

void append(Samples& samples, const Samples& more) {
  samples.insert(samples.end(), more.begin(), more.end());
}

// RC: two short rising beeps, high and quick.
Samples rcCue() {
  Samples samples = tone(60.0, 1000.0, 1000.0, 0.5);
  append(samples, Samples(sampleCount(20.0), 0.0));
  append(samples, tone(60.0, 1500.0, 1500.0, 0.5));
  return samples;  // 140 ms
}

// RL: one longer, lower tone falling in pitch.
Samples rlCue() { return tone(200.0, 900.0, 600.0, 0.5); }

// Radio static: white noise from a fixed-seed generator, band-limited to roughly the
// 300 Hz to 3 kHz of a radio link, with a slow flutter in its level. Short fades at both
// ends let the repeats, one every 818 ms, join into a steady hiss.
Samples bruitCue() {
  std::uint64_t seed = 0x5EED'50A7'C0DE'0001ULL;
  const auto nextNoise = [&seed] {  // splitmix64, mapped to -1 to 1
    seed += 0x9E37'79B9'7F4A'7C15ULL;
    std::uint64_t z = seed;
    z = (z ^ (z >> 30U)) * 0xBF58'476D'1CE4'E5B9ULL;
    z = (z ^ (z >> 27U)) * 0x94D0'49BB'1331'11EBULL;
    z ^= z >> 31U;
    return static_cast<double>(z >> 11U) / static_cast<double>(1ULL << 52U) - 1.0;
  };
  const auto onePole = [](double cutoffHz) {
    return 1.0 - std::exp(-2.0 * std::numbers::pi * cutoffHz / SAMPLE_RATE);
  };
  const double highPass = onePole(300.0);
  const double lowPass = onePole(3000.0);

  Samples samples(sampleCount(818.0));
  double slow = 0.0;
  double fast1 = 0.0;
  double fast2 = 0.0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const double white = nextNoise();
    slow += highPass * (white - slow);  // what lies below 300 Hz, taken away
    fast1 += lowPass * ((white - slow) - fast1);
    fast2 += lowPass * (fast1 - fast2);
    const double time = static_cast<double>(i) / SAMPLE_RATE;
    const double flutter = 1.0 + 0.15 * std::sin(2.0 * std::numbers::pi * 7.0 * time);
    samples[i] = 0.6 * fast2 * flutter;
  }
  fade(samples, 8.0);
  return samples;
}

void putLittleEndian(std::string& bytes, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) {
    bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFFU));
  }
}

bool writeWave(const std::string& path, const Samples& samples) {
  constexpr std::uint32_t CHANNELS = 1;
  constexpr std::uint32_t BYTES_PER_SAMPLE = 2;
  const auto dataSize = static_cast<std::uint32_t>(samples.size() * BYTES_PER_SAMPLE);
  std::string bytes = "RIFF";
  putLittleEndian(bytes, 36 + dataSize, 4);
  bytes += "WAVEfmt ";
  putLittleEndian(bytes, 16, 4);  // size of the format chunk
  putLittleEndian(bytes, 1, 2);   // PCM
  putLittleEndian(bytes, CHANNELS, 2);
  putLittleEndian(bytes, SAMPLE_RATE, 4);
  putLittleEndian(bytes, SAMPLE_RATE * CHANNELS * BYTES_PER_SAMPLE, 4);
  putLittleEndian(bytes, CHANNELS * BYTES_PER_SAMPLE, 2);
  putLittleEndian(bytes, 8 * BYTES_PER_SAMPLE, 2);
  bytes += "data";
  putLittleEndian(bytes, dataSize, 4);
  for (const double sample : samples) {
    const long value = std::lround(std::clamp(sample, -1.0, 1.0) * 32767.0);
    putLittleEndian(bytes, static_cast<std::uint32_t>(value) & 0xFFFFU, 2);
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file.flush());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_cue_sounds <output folder>\n");
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";
  for (const auto& [name, samples] : {std::pair{"rc.wav", rcCue()}, std::pair{"rl.wav", rlCue()},
                                      std::pair{"bruit.wav", bruitCue()}}) {
    if (!writeWave(folder + name, samples)) {
      std::fprintf(stderr, "make_cue_sounds: cannot write %s%s\n", folder.c_str(), name);
      return 1;
    }
  }
  return 0;
}
