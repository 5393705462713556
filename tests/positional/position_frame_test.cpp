#include "positional/position_frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/stream_frame_reader.h"

namespace sorlinx::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string describe(const PositionRecord& record) {
  constexpr const char* FLAGS[] = {"-", "CD", "RC", "RL"};
  std::ostringstream out;
  out << record.clientId << " x" << record.position.x << " y" << record.position.y << " z"
      << record.position.z << " " << FLAGS[static_cast<int>(record.flag)];
  return out.str();
}

std::vector<std::string> readAll(std::string_view frame) {
  std::vector<std::string> records;
  while (const auto record = readPositionRecord(frame)) {
    records.push_back(describe(*record));
  }
  return records;
}

TEST(PositionFrameTest, TheWorkedExampleLeavesTheRestOfTheFrameAfterEachRecord) {
  std::string_view frame = "{3[12.5,40,1.75]}{7[-3.25,10,0.5][RC]}{9[100,-20.75,2][RL]}";
  EXPECT_EQ(describe(*readPositionRecord(frame)), "3 x12.5 y1.75 z40 -");
  EXPECT_EQ(frame, "{7[-3.25,10,0.5][RC]}{9[100,-20.75,2][RL]}");
  EXPECT_EQ(describe(*readPositionRecord(frame)), "7 x-3.25 y0.5 z10 RC");
  EXPECT_EQ(frame, "{9[100,-20.75,2][RL]}");
  EXPECT_EQ(describe(*readPositionRecord(frame)), "9 x100 y2 z-20.75 RL");
  EXPECT_THAT(frame, IsEmpty());
  EXPECT_FALSE(readPositionRecord(frame));
}

TEST(PositionFrameTest, TextThatDepartsFromTheForm) {
  struct Case {
    std::string frame;
    std::vector<std::string> records;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {" {5[1,2,3]}", {}},
      {"{5[1,2,3][CD]}", {"5 x1 y3 z2 CD"}},
      {"{5[1,2,3]}{5[4,5,6][RC]}", {"5 x1 y3 z2 -", "5 x4 y6 z5 RC"}},
      {"{ 12 [ 1.5 , -2 , 3e2 ]}", {"12 x1.5 y300 z-2 -"}},
      {"{\t+12\v[\f+1.5\n,\r-2.,.5e-1]}", {"12 x1.5 y0.05 z-2 -"}},
      {"{5[1,2,3][RC]}\n", {"5 x1 y3 z2 -"}},
      {"{5[1,2,3][rc]}{6[1,2,3][RC][RL]}{7[1,2,3] [RL]}",
       {"5 x1 y3 z2 -", "6 x1 y3 z2 -", "7 x1 y3 z2 -"}},
      {"{5[1,2,3]} {6[4,5,6]}", {"5 x1 y3 z2 -"}},
      {"{5[1,2,3]},{6[4,5,6]}{7[7,8,9][RL]}", {"5 x1 y3 z2 -", "7 x7 y9 z8 RL"}},
      // What stands after a number in its field is ignored.
      {"{5abc[1.5.5,2e1e1,0x1A]}", {"5 x1.5 y0 z20 -"}},
      // Records that cannot be read whole are skipped, and the frame goes on.
      {"{}{5}{5[1,2,3}{5[1,2]}{5[1]}{6[1,2,3]}{", {"6 x1 y3 z2 -"}},
      {"{-5[1,2,3]}{70000[1,2,3]}{[1,2,3]}{x[1,2,3]}{-0[1,2,3]}{65535[1,2,3]}",
       {"0 x1 y3 z2 -", "65535 x1 y3 z2 -"}},
      {"{1[1e,0,0]}{2[1e+,0,0]}{3[.,0,0]}{4[inf,0,0]}{5[nan,0,0]}{6[,0,0]}{7[+-1,0,0]}", {}},
      {"{1[1e39,0,0]}{2[0,-1e39,0]}{3[0,0,3.4028236e38]}{4[0,0,1e99999999999]}", {}},
      {"{1[1e-50,-1e-50,1e-45]}", {"1 x0 y1.4013e-45 z-0 -"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    EXPECT_EQ(readAll(c.frame), c.records);
  }
}

// Builds frames the way a game might write them, and ways it should not.
class FrameMaker {
 public:
  explicit FrameMaker(std::uint32_t seed) : random_(seed) {}

  std::string frame() {
    std::string text;
    const int records = pick(0, 6);
    for (int i = 0; i < records; ++i) {
      text += record();
      if (chance(5)) {
        text += oneOf({" ", ",", "\n", "x"});
      }
    }
    for (int edits = chance(3) ? pick(1, 3) : 0; edits > 0 && !text.empty(); --edits) {
      const auto at = static_cast<std::size_t>(pick(0, static_cast<int>(text.size()) - 1));
      switch (pick(0, 2)) {
        case 0:
          text.erase(at, 1);
          break;
        case 1:
          text.insert(at, 1, "{}[],.+-eE0123456789 \t\n"[pick(0, 23)]);
          break;
        default:
          text.resize(at);
      }
    }
    return text;
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution(low, high)(random_); }
  bool chance(int oneIn) { return pick(1, oneIn) == 1; }
  const char* oneOf(std::initializer_list<const char*> texts) {
    return texts.begin()[pick(0, static_cast<int>(texts.size()) - 1)];
  }
  std::string digits(int low, int high) {
    std::string text;
    for (int n = pick(low, high); n > 0; --n) {
      text += static_cast<char>('0' + pick(0, 9));
    }
    return text;
  }
  std::string blanks() { return chance(4) ? oneOf({" ", "  ", "\t", "\n", "\v", "\f", "\r"}) : ""; }
  std::string sign() { return chance(3) ? oneOf({"-", "+", "-", "+", "+-", "--"}) : ""; }
  std::string tail() { return chance(8) ? oneOf({" ", "x", ".5", "e", "abc", "]"}) : ""; }

  std::string client() {
    if (chance(15)) {
      return oneOf({"", "x", "0x1f", "99999999999", "65535", "65536", "-0"});
    }
    return blanks() + sign() + std::to_string(pick(0, chance(5) ? 70000 : 300)) + tail();
  }

  std::string coordinate() {
    if (chance(20)) {
      return oneOf({"", ".", "-", "e5", "1e", "1e+", "inf", "nan", "0x1p3", "3.4028236e38",
                    "3.4028234e38", "1e-46", "7e-46", "1e-45", "0.000000000000000000000000001e-20",
                    "123456789012345678901234567890123456789012"});
    }
    std::string text = blanks() + sign() + (chance(4) ? "000" : "") +
                       digits(chance(8) ? 0 : 1, chance(10) ? 45 : 4);
    if (chance(2)) {
      text += "." + digits(0, chance(10) ? 45 : 4);
    }
    if (chance(4)) {
      text += oneOf({"e", "E"}) + sign() + digits(0, chance(8) ? 12 : 2);
    }
    return text + tail();
  }

  std::string record() {
    std::string text = "{" + client() + "[" + coordinate() + "," + coordinate() + "," +
                       coordinate() + "]" +
                       oneOf({"", "", "[RC]", "[RL]", "[CD]", "[rc]", "[RC]]"}) + "}";
    if (chance(10)) {
      text.erase(static_cast<std::size_t>(pick(0, static_cast<int>(text.size()) - 1)), 1);
    }
    return text;
  }

  std::mt19937 random_;
};

TEST(PositionFrameTest, ReadsEveryFrameAsTheStreamReaderDoes) {
  FrameMaker maker(20240601);
  int records = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string original = maker.frame();
    std::string streamText = original;
    std::string_view fastText = original;
    for (;;) {
      const auto expected = readPositionRecordWithStreams(streamText);
      const auto actual = readPositionRecord(fastText);
      ASSERT_EQ(actual.has_value(), expected.has_value()) << original;
      ASSERT_EQ(fastText, streamText) << original;
      if (!expected) {
        break;
      }
      ++records;
      // Bit for bit, so that a zero's sign counts too.
      ASSERT_EQ(actual->clientId, expected->clientId) << original;
      ASSERT_EQ(std::memcmp(&actual->position, &expected->position, sizeof(Vector3)), 0)
          << original << "\n  " << describe(*actual) << "\n  " << describe(*expected);
      ASSERT_EQ(actual->flag, expected->flag) << original;
    }
  }
  EXPECT_GT(records, 10000) << "the generated frames hardly ever hold a readable record";
}

}  // namespace
}  // namespace sorlinx::testing
