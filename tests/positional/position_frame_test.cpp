#include "positional/position_frame.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace sorlinx::testing
