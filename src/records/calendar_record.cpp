// The calendar record and the colour text.
#include "records/calendar_record.h"

#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "records/dates.h"

namespace tembra {

nlohmann::json calendarJSON(const Calendar& calendar) {
  nlohmann::json record = nlohmann::json::object();
  record["id"] = calendar.calendarIdentifier;
  record["title"] = calendar.title.value_or("");
  record["source"] = calendar.source ? calendar.source->title : std::string();
  record["allowsContentModifications"] = calendar.allowsContentModifications;
  record["color"] = calendar.color ? cgColorToHex(*calendar.color).value_or("") : std::string();
  return record;
}

std::optional<std::string> cgColorToHex(std::span<const double> components) {
  if (components.size() < 3)
    return std::nullopt;
  std::array<std::int64_t, 3> rgb{};
  for (std::size_t i = 0; i < rgb.size(); ++i) {
    const double scaled = components[i] * 255;
    // Rounding clamps at the 64-bit limits, which would print a number the colour does not have.
    if (!std::isfinite(scaled) || scaled >= 0x1p63)
      return std::nullopt;
    rgb[i] = roundHalfAwayFromZero(scaled);
    if (rgb[i] < 0)
      return std::nullopt;
  }
  // "#" and three components of at most 16 hexadecimal digits each, and the terminator.
  char text[1 + 3 * 16 + 1];
  std::snprintf(text, sizeof text, "#%02" PRIX64 "%02" PRIX64 "%02" PRIX64,
                static_cast<std::uint64_t>(rgb[0]), static_cast<std::uint64_t>(rgb[1]),
                static_cast<std::uint64_t>(rgb[2]));
  return std::string(text);
}

}  // namespace tembra
