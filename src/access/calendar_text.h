// Texts every calendar back-end reads and writes alike: colours written as "#RRGGBB", and text
// that an iCalendar property can carry.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tembra {

// "#RRGGBB" or "#RRGGBBAA" (case-insensitive, surrounding blanks ignored) as components 0 to 1,
// alpha last; absent for any other text.
std::optional<std::vector<double>> parseColor(std::string_view text);

// The text without the control characters iCalendar cannot carry (all but tab and line feed);
// CR LF and a lone CR become a line feed. Blanks at either end are dropped, since libical's parser
// does not read them back.
std::string cleanText(std::string_view value);

// The text without the blanks (space, tab, vertical tab) that libical's parser takes off both ends
// of a value.
std::string_view withoutEdgeBlanks(std::string_view text);

}  // namespace tembra
