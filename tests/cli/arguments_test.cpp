// argValue: the value after the first occurrence of an option.
#include <gtest/gtest.h>

#include "cli/process.h"

namespace tembra {
namespace {

struct ArgCase {
  const char* name;
  std::vector<std::string> args;
  const char* option;
  std::optional<std::string> expected;
};

class ArgValueTest : public ::testing::TestWithParam<ArgCase> {};

TEST_P(ArgValueTest, FindsTheValue) {
  EXPECT_EQ(argValue(GetParam().args, GetParam().option), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ArgValueTest,
    ::testing::Values(
        ArgCase{"present", {"tembra", "get", "--id", "x"}, "--id", "x"},
        ArgCase{"absent", {"tembra", "get"}, "--id", std::nullopt},
        ArgCase{"last_argument", {"tembra", "get", "--id"}, "--id", std::nullopt},
        ArgCase{"value_is_another_option", {"tembra", "get", "--id", "--title"}, "--id", "--title"},
        ArgCase{"empty_value", {"tembra", "get", "--id", ""}, "--id", ""},
        ArgCase{"first_occurrence_wins",
                {"tembra", "list", "--from", "a", "--from", "b"},
                "--from",
                "a"},
        ArgCase{"case_sensitive", {"tembra", "get", "--ID", "x"}, "--id", std::nullopt},
        ArgCase{"no_trimming", {"tembra", "get", " --id", "x", "--id", " y "}, "--id", " y "},
        ArgCase{"scan_includes_program_path", {"--id", "x"}, "--id", "x"},
        ArgCase{"empty_vector", {}, "--id", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tembra
