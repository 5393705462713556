#include "positional/sound_cues.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/plugin_fixture.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// From `at` on, the RC and RL lists hold this many clients and the connection is as given.
struct Change {
  int at;
  std::size_t rc;
  std::size_t rl;
  bool connected = true;
};

class SoundCueTest : public PluginTest {
 protected:
  // Runs the worker's passes on the virtual clock until `until` ms, from empty lists, applying
  // each change as its time comes, the way soundCueThread would. Returns the cues as "time name".
  std::vector<std::string> cuesUntil(int until, const std::vector<Change>& changes) {
    VirtualPacer clock;
    host.setClock([&clock] { return clock.now().count(); });
    setLists({}, {});
    setConnected(true);
    for (const Change& change : changes) {
      const auto apply = [change] {
        setLists(std::vector<ClientId>(change.rc, 1), std::vector<ClientId>(change.rl, 2));
        setConnected(change.connected);
      };
      change.at == 0 ? apply() : clock.at(Milliseconds(change.at), apply);
    }
    SoundCueState state;
    while (clock.now().count() < until) {
      clock.pause(soundCuePass(state, clock));
    }
    host.setClock(nullptr);
    std::vector<std::string> cues;
    for (const sim::HostCall& call : host.callsTo("playWaveFile")) {
      const auto name = call.arguments.substr(call.arguments.find_last_of("\\/") + 1);
      cues.push_back(std::to_string(call.time) + " " + name.substr(0, name.find('.')));
    }
    return cues;
  }
};

TEST_P(SoundCueTest, Timelines) {
  struct Case {
    const char* name;
    int until;
    std::vector<Change> changes;
    std::vector<std::string> cues;
  };
  const Case cases[] = {
      {"both lists empty", 5000, {}, {}},
      {"not connected", 5000, {{0, 1, 1, false}}, {}},
      {"the RC list fills, empties and fills again",
       3000,
       {{120, 1, 0}, {1000, 0, 0}, {2000, 3, 0}},
       {"150 rc", "151 bruit", "969 bruit", "2037 rc", "2038 bruit", "2856 bruit"}},
      {"both lists fill before the same pass",
       1000,
       {{10, 1, 1}},
       {"50 rc", "51 rl", "52 bruit", "870 bruit"}},
      {"a list that empties and fills between two passes gets no new start cue",
       2000,
       {{0, 1, 0}, {300, 0, 0}, {600, 1, 0}},
       {"0 rc", "1 bruit", "819 bruit", "1637 bruit"}},
      {"while the RL list keeps the cues going, a refilled RC list starts again",
       2500,
       {{0, 1, 1}, {500, 0, 1}, {1000, 1, 1}},
       {"0 rc", "1 rl", "2 bruit", "820 bruit", "1638 rc", "1639 bruit", "2457 bruit"}},
      {"the cues go on after the connection is lost, until the lists empty",
       4000,
       {{0, 0, 1}, {100, 0, 1, false}, {1700, 0, 0, false}, {3000, 1, 1, false}},
       {"0 rl", "1 bruit", "819 bruit", "1637 bruit"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.clearCalls();
    EXPECT_THAT(cuesUntil(c.until, c.changes), ElementsAreArray(c.cues));
  }
}

TEST_P(SoundCueTest, AFailedCueIsLoggedOnceAndCountsAsPlayed) {
  host.fail("playWaveFile", 1);
  pluginState.currentServerConnection.store(3);
  EXPECT_THAT(cuesUntil(2000, {{0, 1, 1}}),
              ElementsAre("0 rc", "1 rl", "2 bruit", "820 bruit", "1638 bruit"));
  EXPECT_THAT(host.logLines(), ElementsAre("erreur SON_RC", "erreur SON_RL", "erreur SON_BRUIT",
                                           "erreur SON_BRUIT", "erreur SON_BRUIT"));
  EXPECT_EQ(host.conventionBreaks(), 0);
  EXPECT_THAT(host.transcript(),
              ::testing::Contains("playWaveFile(3,\"" + cueFile("rc.wav") + "\")"));
}

SORLINX_FOR_EACH_INTERFACE(SoundCueTest);

// The cue sounds that the build generates: the format the voice client is handed, and
// lengths that fit the cue timings.
std::string littleEndian(std::size_t value, std::size_t size) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) {
    bytes += static_cast<char>(value >> (8 * i));
  }
  return bytes;
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
    // PCM, mono, 48 kHz, 96000 bytes a second, 2 bytes a frame, 16 bits.
    EXPECT_EQ(bytes.substr(0, 44), "RIFF" + littleEndian(36 + dataSize, 4) + "WAVEfmt " +
                                       littleEndian(16, 4) + littleEndian(1, 2) +
                                       littleEndian(1, 2) + littleEndian(48000, 4) +
                                       littleEndian(96000, 4) + littleEndian(2, 2) +
                                       littleEndian(16, 2) + "data" + littleEndian(dataSize, 4));
    const std::size_t samples = dataSize / 2;
    EXPECT_GE(static_cast<double>(samples) / 48.0, c.shortestMs);
    EXPECT_LE(static_cast<double>(samples) / 48.0, c.longestMs);
    // Audible, unclipped, and starting and ending at silence, so that repeats join without
    // a click.
    double sum = 0.0;
    for (std::size_t i = 0; i < samples; ++i) {
      const auto sample =
          static_cast<std::int16_t>(static_cast<unsigned char>(bytes[44 + 2 * i]) |
                                    static_cast<unsigned char>(bytes[45 + 2 * i]) << 8U);
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
}  // namespace sorlinx::testing
