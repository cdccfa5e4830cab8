// The calendar record and the colour text.
#include "records/calendar_record.h"

#include <limits>

#include <gtest/gtest.h>

namespace tembra {
namespace {

using Json = nlohmann::json;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct ColorCase {
  const char* name;
  std::vector<double> components;
  std::optional<std::string> hex;
};

class ColorToHexTest : public ::testing::TestWithParam<ColorCase> {};

TEST_P(ColorToHexTest, WritesTheText) {
  EXPECT_EQ(cgColorToHex(GetParam().components), GetParam().hex);
}

INSTANTIATE_TEST_SUITE_P(
    Components, ColorToHexTest,
    ::testing::Values(
        ColorCase{"half_rounds_up", {1, 0.5, 0, 1}, "#FF8000"},
        ColorCase{"each_channel_in_place", {0.2, 0.4, 0.6, 1}, "#336699"},
        ColorCase{"black", {0, 0, 0, 1}, "#000000"}, ColorCase{"white", {1, 1, 1, 1}, "#FFFFFF"},
        ColorCase{"just_under_half_rounds_down", {0.0019, 0, 0, 1}, "#000000"},
        ColorCase{"just_over_half_rounds_up", {0.002, 0, 0, 1}, "#010000"},
        ColorCase{"alpha_ignored", {0, 0, 1, 0}, "#0000FF"},
        ColorCase{"three_components_without_alpha", {0, 0, 1}, "#0000FF"},
        ColorCase{"further_components_ignored", {0.2, 0.4, 0.6, 0.8, 1}, "#336699"},
        ColorCase{"above_one_not_clamped", {1.1, 0, 0, 1}, "#1190000"},
        ColorCase{"local_store_round_trip", {27 / 255.0, 173 / 255.0, 248 / 255.0, 1}, "#1BADF8"},
        ColorCase{"tiny_negative_rounds_to_zero", {-0.001, 0, 0, 1}, "#000000"},
        ColorCase{"minus_zero", {-0.0, 0, 0, 1}, "#000000"},
        ColorCase{"grey_and_alpha", {0.5, 1}, std::nullopt},
        ColorCase{"one_component", {1}, std::nullopt}, ColorCase{"no_components", {}, std::nullopt},
        ColorCase{"rounds_below_zero", {0, -0.002, 0, 1}, std::nullopt},
        ColorCase{"minus_one", {0, 0, -1, 1}, std::nullopt},
        ColorCase{"not_a_number", {0, kNaN, 0, 1}, std::nullopt},
        ColorCase{"infinite", {kInfinity, 0, 0, 1}, std::nullopt},
        ColorCase{"minus_infinite", {0, 0, -kInfinity, 1}, std::nullopt},
        ColorCase{"beyond_64_bits", {0, 0, 1e17, 1}, std::nullopt},
        ColorCase{"non_finite_alpha_ignored", {0, 0, 0, kNaN}, "#000000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ColorToHex, WritesLargeComponentsInFull) {
  // 2^40 / 255 * 255 is 2^40 again: eleven hexadecimal digits, not clamped to FF.
  EXPECT_EQ(cgColorToHex(std::vector<double>{1099511627776.0 / 255, 0, 0}), "#100000000000000");
}

Calendar fullCalendar() {
  Calendar calendar;
  calendar.calendarIdentifier = "home/work";
  calendar.title = "工作";
  calendar.source = Source{"iCloud"};
  calendar.color = std::vector<double>{0.2, 0.4, 0.6, 1};
  return calendar;
}

TEST(CalendarJSON, HasTheFiveKeys) {
  EXPECT_EQ(calendarJSON(fullCalendar()), Json::parse(R"({"id": "home/work", "title": "工作",
      "source": "iCloud", "allowsContentModifications": true, "color": "#336699"})"));
}

TEST(CalendarJSON, GivesEmptyTextForWhatTheCalendarLacks) {
  struct Case {
    const char* name;
    void (*change)(Calendar&);
    const char* key;
    Json value;
  };
  const Case cases[] = {
      {"no_source", [](Calendar& c) { c.source.reset(); }, "source", ""},
      {"no_colour", [](Calendar& c) { c.color.reset(); }, "color", ""},
      {"grey_colour",
       [](Calendar& c) {
         c.color = std::vector<double>{0.5, 1};
       },
       "color", ""},
      {"colour_without_text",
       [](Calendar& c) {
         c.color = std::vector<double>{kNaN, 0, 0};
       },
       "color", ""},
      {"no_title", [](Calendar& c) { c.title.reset(); }, "title", ""},
      {"read_only", [](Calendar& c) { c.allowsContentModifications = false; },
       "allowsContentModifications", false},
  };
  for (const Case& c : cases) {
    Calendar calendar = fullCalendar();
    c.change(calendar);
    Json expected = calendarJSON(fullCalendar());
    expected[c.key] = c.value;
    EXPECT_EQ(calendarJSON(calendar), expected) << c.name;
  }
}

}  // namespace
}  // namespace tembra
