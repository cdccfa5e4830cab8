// Clamping a colour converted to sRGB into sRGB's gamut.
#include "access/colour_space.h"

#include <algorithm>
#include <cmath>

namespace tembra {

std::vector<double> srgbComponents(std::optional<std::span<const double>> srgb) {
  if (!srgb || srgb->size() < 3)
    return {};
  std::vector<double> components;
  components.reserve(srgb->size());
  for (const double component : *srgb) {
    // A colour made up from a component that is no number would be a colour the calendar lacks.
    if (!std::isfinite(component))
      return {};
    components.push_back(std::clamp(component, 0.0, 1.0));
  }
  return components;
}

}  // namespace tembra
