// A calendar's colour as the system store hands it to the record: in sRGB, within its gamut.
#pragma once

#include <optional>
#include <span>
#include <vector>

namespace tembra {

// The components a calendar is given for a colour that the framework converted to sRGB (`srgb`:
// red, green, blue and alpha), or for one it could not convert (none: a pattern, a colour space
// with no conversion). A colour beyond sRGB's gamut (Display P3, extended sRGB) converts to
// components below 0 or above 1; each is clamped to 0..1, the nearest colour sRGB has. An empty
// list, which the record shows as "", where there is no conversion, where fewer than three
// components came back, or where one of them is not a finite number.
std::vector<double> srgbComponents(std::optional<std::span<const double>> srgb);

}  // namespace tembra
