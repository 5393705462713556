#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "clipboard/clipboard_channel.h"

namespace sorlinx {
namespace {

TEST(EnvelopeTest, PayloadStandsBetweenTheOpeningTagAtZeroAndTheFirstClosingTag) {
  EXPECT_EQ(envelopePayload("[kex_sorlinx][GetVersion][/kex_sorlinx]"), "[GetVersion]");
  EXPECT_EQ(envelopePayload("[kex_sorlinx][3D]a[/kex_sorlinx]b[/kex_sorlinx]"), "[3D]a");
  EXPECT_EQ(envelopePayload("[kex_sorlinx][/kex_sorlinx] and more"), "");
  // Texts that are not requests. The closing tag must follow the opening one, not overlap it.
  for (const char* text :
       {" [kex_sorlinx][GetVersion][/kex_sorlinx]", "x[kex_sorlinx][GetVersion][/kex_sorlinx]",
        "[kex_sorlinx][GetVersion]", "[KEX_SORLINX][GetVersion][/KEX_SORLINX]", "[kex_sorlinx", "",
        "[kex_sorlinx]/kex_sorlinx]"}) {
    EXPECT_EQ(envelopePayload(text), std::nullopt) << text;
  }
}

struct PayloadCase {
  std::string payload;
  std::string command;
  std::string arguments;
};

class PayloadTest : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(PayloadTest, SplitsAsTheGameWritesIt) {
  const Request request = splitPayload(GetParam().payload);
  EXPECT_EQ(request.command, GetParam().command);
  EXPECT_EQ(request.arguments, GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, PayloadTest,
    ::testing::Values(
        // "]" at k >= 1: command [1, k), arguments after it.
        PayloadCase{"[GetVersion]", "GetVersion", ""},
        PayloadCase{"[3D]{5[1,2,3]}", "3D", "{5[1,2,3]}"}, PayloadCase{"[]args", "", "args"},
        // The first character is skipped unseen, whatever it is.
        PayloadCase{"xGetVersion]tail", "GetVersion", "tail"},
        // "]" at 0: command and arguments are both the rest.
        PayloadCase{"]GetVersion", "GetVersion", "GetVersion"}, PayloadCase{"]", "", ""},
        // No "]": the command is the rest, the arguments the whole payload.
        PayloadCase{"[GetVersion", "GetVersion", "[GetVersion"}, PayloadCase{"x", "", "x"},
        // Only the first "]" closes the command.
        PayloadCase{"[SwitchPlayer]1,2,]pw]", "SwitchPlayer", "1,2,]pw]"}));

}  // namespace
}  // namespace sorlinx
