#include "positional/position_frame.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/stream_frame_reader.h"

namespace sorlinx::testing {
namespace {

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

TEST(PositionFrameTest, TextThatDepartsFromTheForm) {
  struct Case {
    std::string frame;
    std::vector<std::string> records;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"{3[12.5,40,1.75]}{7[-3.25,10,0.5][RC]}{9[100,-20.75,2][RL]}",
       {"3 x12.5 y1.75 z40 -", "7 x-3.25 y0.5 z10 RC", "9 x100 y2 z-20.75 RL"}},
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

// A frame a game might write, or should not: records of typical and odd fields, now and then
// joined badly, then now and then edited at random.
std::string randomFrame(std::mt19937& random) {
  const auto pick = [&random](std::size_t count) {
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
  };
  const auto digits = [&pick](std::size_t most) {
    std::string text;
    for (std::size_t n = 1 + pick(most); n > 0; --n) {
      text += static_cast<char>('0' + pick(10));
    }
    return text;
  };
  constexpr std::array<const char*, 8> LEADS = {"", "", "", "-", "+", " \v", "\f\r+", "+-"};
  constexpr std::array<const char*, 8> TAILS = {"", "", "", "", "x", ".5", "e", " "};
  constexpr std::array<const char*, 12> ODD = {
      "", ".", "1e", "1e+", "inf", "nan", "0x1p3", "3.4028236e38", "7e-46", "1e-45", "70000", "-0"};
  constexpr std::array<const char*, 7> FLAGS = {"", "", "[RC]", "[RL]", "[CD]", "[rc]", "[RC]]"};
  const auto field = [&] {
    if (pick(10) == 0) {
      return std::string(ODD[pick(ODD.size())]);
    }
    std::string text = LEADS[pick(LEADS.size())] + digits(pick(8) == 0 ? 45 : 3);
    if (pick(2) == 0) {
      text += pick(4) == 0 ? "." : "." + digits(pick(8) == 0 ? 45 : 3);
    }
    if (pick(4) == 0) {
      text += "eE"[pick(2)] + std::string(LEADS[pick(5)]) +
              digits(pick(6) == 0 ? 12 : 2).substr(pick(8) == 0);
    }
    return text + TAILS[pick(TAILS.size())];
  };
  std::string frame;
  for (std::size_t records = pick(7); records > 0; --records) {
    frame += "{" + field() + "[" + field() + "," + field() + "," + field() + "]" +
             FLAGS[pick(FLAGS.size())] + "}";
    if (pick(8) == 0) {
      frame += " ,\n"[pick(3)];
    }
  }
  for (std::size_t edits = pick(3) == 0 ? pick(4) : 0; edits > 0 && !frame.empty(); --edits) {
    const std::size_t at = pick(frame.size());
    const std::size_t edit = pick(3);
    if (edit == 0) {
      frame.erase(at, 1);
    } else if (edit == 1) {
      frame.insert(at, 1, "{}[],.+-eE09 \t\n"[pick(15)]);
    } else {
      frame.resize(at);
    }
  }
  return frame;
}

TEST(PositionFrameTest, ReadsEveryFrameAsTheStreamReaderDoes) {
  std::mt19937 random(20240601);
  int records = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string original = randomFrame(random);
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
