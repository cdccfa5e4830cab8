// Colours the framework converted to sRGB, as the calendar record shows them.
#include "access/colour_space.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "records/calendar_record.h"

namespace tembra {
namespace {

struct ColourCase {
  const char* name;
  std::optional<std::vector<double>> srgb;  // none: no conversion exists
  const char* text;                         // the record's "color"
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

const ColourCase kColours[] = {
    {"inside_the_gamut", std::vector<double>{0.2, 0.4, 0.6, 1}, "#336699"},
    // Display P3's pure red, in extended sRGB.
    {"display_p3_red", std::vector<double>{1.0931, -0.2267, -0.1501, 1}, "#FF0000"},
    {"above_one_and_below_zero", std::vector<double>{-0.05, 0.5, 1.2, 1}, "#0080FF"},
    {"negative_zero", std::vector<double>{-0.0, 0, 0, 1}, "#000000"},
    {"without_alpha", std::vector<double>{0, 0, 1}, "#0000FF"},
    {"alpha_beyond_one_is_no_concern", std::vector<double>{0, 1, 0, 7}, "#00FF00"},
    {"no_conversion", std::nullopt, ""},
    {"fewer_than_three_components", std::vector<double>{0.5, 1}, ""},
    {"not_a_number", std::vector<double>{kNaN, 0, 0, 1}, ""},
    {"infinite", std::vector<double>{kInfinity, 0, 0, 1}, ""},
    {"alpha_not_a_number", std::vector<double>{0, 0, 0, kNaN}, ""},
};

TEST(SrgbComponents, GiveTheRecordTheNearestSrgbColourOrNone) {
  for (const ColourCase& c : kColours) {
    std::optional<std::span<const double>> srgb;
    if (c.srgb)
      srgb = *c.srgb;
    const std::vector<double> components = srgbComponents(srgb);
    EXPECT_EQ(cgColorToHex(components).value_or(""), c.text) << c.name;
    for (const double component : components)
      EXPECT_TRUE(component >= 0 && component <= 1) << c.name;
  }
}

}  // namespace
}  // namespace tembra
