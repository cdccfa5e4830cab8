// Content lines of another tool's file that libical cannot read, kept aside while the file is
// parsed and written back exactly as they were.
//
// libical drops a property it cannot read (an empty value, a name it does not know that is not
// X-, a value it refuses) and leaves an X-LIC-ERROR in its place, so a file written back would lose
// the line. Such a line is replaced, before libical parses the text, by a placeholder property that
// holds the line's bytes; nothing reads the placeholder, and writing the file puts the line back.
#pragma once

#include <libical/ical.h>

#include <optional>
#include <string>
#include <string_view>

namespace tembra::local::ical {

// True when the text may hold a line to set aside: libical reported `errors` in it, or it names
// the placeholder property itself, which must then be set aside like any line.
bool mayHoldUnreadLines(std::string_view text, bool errors);

// The text with each content line that libical cannot read on its own replaced by a placeholder;
// BEGIN and END lines, which make the file's structure, are kept. Stops at a NUL byte, as libical
// does.
std::string withUnreadLinesSetAside(std::string_view text);

// Text as libical wrote it, with every placeholder replaced by the line it holds, ended with CRLF.
std::string withUnreadLinesRestored(std::string text);

// The line a placeholder holds, without its line break; none for every other property.
std::optional<std::string> unreadLine(icalproperty* property);

// The property name a content line begins with as libical's parser reads it, in upper case
// ("DESCRIPTION" for "description;LANGUAGE=en:x", "BEGIN" for "BEGIN\t:VALARM").
std::string nameOfLine(std::string_view line);

// True when no component of the text opens more than `limit` levels deep, its BEGIN and END lines
// read as libical's parser reads them (folded, or with blanks before the colon).
bool nestsWithin(std::string_view text, int limit);

// True when the content line's value, after the first colon outside quotes, holds more than blanks.
bool lineHasValue(std::string_view line);

}  // namespace tembra::local::ical
