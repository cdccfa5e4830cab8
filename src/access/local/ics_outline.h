// Where things are in iCalendar text, by line, for messages to people: the components of each
// calendar and the first line that is not a content line. It reads no value and decides nothing
// about what the store keeps; the store's own reading does that.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tembra::local {

// A component directly inside a VCALENDAR (VEVENT, VTODO, VTIMEZONE, ...).
struct OutlinedComponent {
  std::string name;   // upper case
  std::size_t line;   // of its BEGIN line, counted from 1
  std::string uid;    // its UID's value, empty without one
  bool recurrenceId;  // it has a RECURRENCE-ID: it changes one occurrence of a series
};

// A line that is no content line (no name, a name followed by neither ';' nor ':', no colon), an
// END that does not close the open component, or a BEGIN never ended.
struct BadLine {
  std::size_t line;
  std::string why;
};

struct Outline {
  std::vector<OutlinedComponent> components;
  std::optional<BadLine> firstBadLine;
  // Counts the components of that name.
  std::size_t count(std::string_view name) const;
};

// Lines end with CRLF or LF; a line that begins with a space or a tab continues the one before
// and keeps that one's number.
Outline outlineOf(std::string_view text);

}  // namespace tembra::local
