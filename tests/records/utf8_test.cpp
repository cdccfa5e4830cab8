// Strict UTF-8 checks and the printable form of arbitrary bytes.
#include "records/utf8.h"

#include <gtest/gtest.h>

namespace tembra {
namespace {

struct Utf8Case {
  const char* name;
  std::string bytes;
  bool valid;
  std::string display;
};

class Utf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Test, JudgesAndRepairs) {
  const Utf8Case& c = GetParam();
  EXPECT_EQ(isValidUtf8(c.bytes), c.valid);
  EXPECT_EQ(repairUtf8(c.bytes), c.display);
  EXPECT_TRUE(isValidUtf8(repairUtf8(c.bytes)));
}

const std::string kReplacement = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Test,
    ::testing::Values(
        Utf8Case{"empty", "", true, ""}, Utf8Case{"ascii", "event-1", true, "event-1"},
        Utf8Case{"chinese", "砚舟备注", true, "砚舟备注"},
        Utf8Case{"four_bytes", "\xF0\x9F\x93\x85", true, "\xF0\x9F\x93\x85"},
        Utf8Case{"highest_code_point", "\xF4\x8F\xBF\xBF", true, "\xF4\x8F\xBF\xBF"},
        Utf8Case{"stray_continuation", "a\x80z", false, "a" + kReplacement + "z"},
        Utf8Case{"byte_ff", "\xFF", false, kReplacement},
        Utf8Case{"overlong_two_bytes", "\xC0\x80", false, kReplacement + kReplacement},
        Utf8Case{"overlong_three_bytes", "\xE0\x80\x80", false,
                 kReplacement + kReplacement + kReplacement},
        Utf8Case{"encoded_surrogate", "\xED\xA0\x80", false,
                 kReplacement + kReplacement + kReplacement},
        Utf8Case{"above_10ffff", "\xF4\x90\x80\x80", false,
                 kReplacement + kReplacement + kReplacement + kReplacement},
        Utf8Case{"cut_short", "\xE7\xA0", false, kReplacement + kReplacement},
        Utf8Case{"valid_around_invalid", "砚\xFE舟", false, "砚" + kReplacement + "舟"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tembra
