// The outline of iCalendar text, by line.
#include "access/local/ics_outline.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace tembra::local {
namespace {

std::string upper(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

struct ContentLine {
  std::string name;   // upper case
  std::string value;  // as written, without the line ends of folding
};

// The name and value of one unfolded line, or why it is none. A colon inside a quoted
// parameter value does not end the parameters.
std::optional<ContentLine> contentLine(std::string_view line, std::string& why) {
  std::size_t nameEnd = 0;
  while (nameEnd < line.size() &&
         (std::isalnum(static_cast<unsigned char>(line[nameEnd])) || line[nameEnd] == '-'))
    ++nameEnd;
  if (nameEnd == 0) {
    why = "a line without a property name";
    return std::nullopt;
  }
  if (nameEnd == line.size() || (line[nameEnd] != ':' && line[nameEnd] != ';')) {
    why = nameEnd == line.size() ? "a line without a colon"
                                 : "a property name followed by neither ';' nor ':'";
    return std::nullopt;
  }
  bool quoted = false;
  for (std::size_t i = nameEnd; i < line.size(); ++i) {
    if (line[i] == '"') {
      quoted = !quoted;
    } else if (line[i] == ':' && !quoted) {
      return ContentLine{upper(line.substr(0, nameEnd)), std::string(line.substr(i + 1))};
    }
  }
  why = "a line without a colon";
  return std::nullopt;
}

}  // namespace

std::size_t Outline::count(std::string_view name) const {
  return static_cast<std::size_t>(
      std::count_if(components.begin(), components.end(),
                    [&](const OutlinedComponent& component) { return component.name == name; }));
}

Outline outlineOf(std::string_view text) {
  Outline outline;
  struct Open {
    std::string name;
    std::size_t line;
  };
  std::vector<Open> open;  // the open components, outermost first
  std::string unfolded;
  std::size_t unfoldedLine = 0;
  const auto bad = [&](std::size_t line, std::string why) {
    if (!outline.firstBadLine)
      outline.firstBadLine = BadLine{line, std::move(why)};
  };
  // The outline goes on past a bad line, as the store's reading may.
  const auto finish = [&] {
    if (unfoldedLine == 0)
      return;
    std::string why;
    const std::optional<ContentLine> line = contentLine(unfolded, why);
    if (!line) {
      bad(unfoldedLine, why);
      return;
    }
    if (line->name == "BEGIN") {
      open.push_back({upper(line->value), unfoldedLine});
      if (open.size() == 2 && open.front().name == "VCALENDAR")
        outline.components.push_back({open.back().name, unfoldedLine, {}, false});
    } else if (line->name == "END") {
      const std::string name = upper(line->value);
      const auto match = std::find_if(open.rbegin(), open.rend(),
                                      [&](const Open& each) { return each.name == name; });
      if (match == open.rend()) {
        bad(unfoldedLine, "an END:" + name + " without its BEGIN");
        return;
      }
      if (match != open.rbegin())
        bad(unfoldedLine, "an END:" + name + " while " + open.back().name + " is open");
      open.erase(std::prev(match.base()), open.end());
    } else if (open.size() == 2 && !outline.components.empty()) {
      OutlinedComponent& component = outline.components.back();
      if (line->name == "UID" && component.uid.empty())
        component.uid = line->value;
      component.recurrenceId |= line->name == "RECURRENCE-ID";
    }
  };
  std::size_t number = 0;
  std::size_t at = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;  // a byte order mark is no line's
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos)
      end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    at = end + 1;
    ++number;
    if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
      unfolded.append(line.substr(1));
      continue;
    }
    finish();
    unfolded.assign(line);
    unfoldedLine = line.empty() ? 0 : number;
  }
  finish();
  if (!open.empty())
    bad(open.back().line, "a BEGIN:" + open.back().name + " that is never ended");
  return outline;
}

}  // namespace tembra::local
