// A thin owning layer over libical: components, strings and recurrence iterators are freed by
// their owners, and only the reentrant (_r) string calls are used.
#pragma once

#include <libical/ical.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "access/calendar_text.h"

namespace tembra::local::ical {

struct ComponentFree {
  void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

struct RecurIteratorFree {
  void operator()(icalrecur_iterator* iterator) const { icalrecur_iterator_free(iterator); }
};
using RecurIterator = std::unique_ptr<icalrecur_iterator, RecurIteratorFree>;

// Components nested deeper than this make a text unreadable. A calendar nests VCALENDAR, VEVENT,
// VALARM (or VTIMEZONE, STANDARD); the limit leaves room for extensions and none for abuse.
inline constexpr int kMaxNesting = 32;

// Parses iCalendar text into its VCALENDAR; null when the text holds none or nests deeper than
// kMaxNesting. A content line that libical cannot read on its own (an empty value, a property name
// it does not know, a value or parameter it refuses, an X-LIC-ERROR another program left) is set
// aside: it becomes a placeholder that nothing reads (see unread_lines.h), which serialize writes
// back as the line was. Errors that remain, such as a component left open or of a name libical
// does not know, show as X-LIC-ERROR properties (see hasParseErrors).
Component parse(std::string_view text);

// True when libical reported any error while parsing the component or one of its children.
bool hasParseErrors(icalcomponent* component);
// The text of the first such error; none when there is none.
std::optional<std::string> firstParseError(icalcomponent* component);

// The component, or the property, as iCalendar text, lines folded and ended with CRLF; the lines
// parse set aside come back as they were read.
std::string serialize(icalcomponent* component);
std::string serialize(icalproperty* property);
// The property's value as iCalendar writes it ("FREQ=WEEKLY;COUNT=3" for an RRULE).
std::string serializedValue(icalproperty* property);

// A copy of the component, made through its text: libical's own clone empties a property of an
// enumerated kind whose value it does not know (STATUS:X-DRAFT), which then no longer parses.
icalcomponent* copy(icalcomponent* component);

// The component and every component inside it, at any depth; a loop, not a recursion.
std::vector<icalcomponent*> descendants(icalcomponent* component);

// The children of a component of one kind, in order.
std::vector<icalcomponent*> children(icalcomponent* parent, icalcomponent_kind kind);
std::vector<icalproperty*> properties(icalcomponent* component, icalproperty_kind kind);

// A parameter's text, e.g. TZID; absent when the property has none.
std::optional<std::string> parameterText(icalproperty* property, icalparameter_kind kind);

// Text of a TEXT-valued property (SUMMARY, DESCRIPTION, ...), unescaped, repaired to UTF-8, and as
// it reads after the store saves the file: without backspaces, form feeds and carriage returns
// (libical does not write them), nor blanks at either end (libical's parser drops them).
std::optional<std::string> text(icalcomponent* component, icalproperty_kind kind);

// The event's UID as it reads after the store saves the file, as text() reads a text; empty when
// it has none. Not repaired to UTF-8: it is matched as it stands.
std::string uid(icalcomponent* event);

// Replaces every property of the kind with one holding `value`, or removes them when absent or
// empty. Control characters other than tab and line feed are dropped, and CR LF or a lone CR
// becomes a line feed, since iCalendar text cannot carry them; blanks at either end are dropped,
// since libical does not read them.
void setText(icalcomponent* component, icalproperty_kind kind,
             const std::optional<std::string>& value);

// Removes every property of the kind, and every line of that name that parse set aside.
void removeAll(icalcomponent* component, icalproperty_kind kind);

// The day of a trigger that libical read as a date alone, as it reads eight digits even under
// VALUE=DATE-TIME; its accessor for triggers takes such a value for no offset from the start.
std::optional<icaltimetype> triggerDay(icalproperty* trigger);

// Changes, in every component of a calendar about to be written, the values that libical would
// write as text it refuses or reads as something else, so that each reads back as it was read:
// a DTSTAMP, CREATED or LAST-MODIFIED of a date alone is removed, a trigger's RELATED other than
// START or END is removed (read as START), a trigger of a day becomes that day's first moment.
void keepReadableOnceWritten(icalcomponent* calendar);

// The text as iCalendar TEXT may hold it (see setText).
using tembra::cleanText;

}  // namespace tembra::local::ical
