// Setting aside the content lines libical cannot read, and putting them back.
#include "access/local/unread_lines.h"

#include <memory>

namespace tembra::local::ical {
namespace {

// The placeholder's name. A file's own line of that name is set aside too, so every placeholder in
// a parsed file is one of ours.
constexpr std::string_view kPlaceholder = "X-TEMBRA-UNREAD";
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

struct PropertyFree {
  void operator()(icalproperty* property) const { icalproperty_free(property); }
};

// One content line: its first physical line and the folded ones after it, without the line break
// that ends it.
struct ContentLine {
  std::string_view raw;
  std::size_t next;  // where the following content line begins
};

// The content line at `at`, as libical's reader joins lines: a line continues while the next
// physical line begins with a blank.
ContentLine contentLineAt(std::string_view text, std::size_t at) {
  std::size_t end = at;
  for (;;) {
    const std::size_t feed = text.find('\n', end);
    if (feed == std::string_view::npos)
      return {text.substr(at), text.size()};
    const bool continues =
        feed + 1 < text.size() && (text[feed + 1] == ' ' || text[feed + 1] == '\t');
    if (!continues) {
      std::size_t stop = feed;
      if (stop > at && text[stop - 1] == '\r')
        --stop;
      return {text.substr(at, stop - at), feed + 1};
    }
    end = feed + 1;
  }
}

// The line with its folds undone: each line break and the blank after it removed.
std::string unfolded(std::string_view raw) {
  std::string line;
  line.reserve(raw.size());
  for (std::size_t at = 0; at < raw.size(); ++at) {
    if (raw[at] == '\r' && at + 1 < raw.size() && raw[at + 1] == '\n')
      continue;
    if (raw[at] == '\n') {
      ++at;  // the blank that marks the fold
      continue;
    }
    line += raw[at];
  }
  return line;
}

bool isBlank(std::string_view line) {
  return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

// The name as written, up to the first ';' or ':'.
std::string_view writtenName(std::string_view line) {
  return line.substr(0, line.find_first_of(";:"));
}

std::string hex(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    text += kHexDigits[byte >> 4];
    text += kHexDigits[byte & 0xF];
  }
  return text;
}

std::optional<std::string> fromHex(std::string_view text) {
  if (text.size() % 2 != 0)
    return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t at = 0; at < text.size(); at += 2) {
    const std::size_t high = kHexDigits.find(text[at]);
    const std::size_t low = kHexDigits.find(text[at + 1]);
    if (high == std::string_view::npos || low == std::string_view::npos)
      return std::nullopt;
    bytes += static_cast<char>(high << 4 | low);
  }
  return bytes;
}

// True when libical reads the content line as a property without reporting an error.
bool libicalReads(std::string_view raw) {
  const std::string line(raw);
  const std::unique_ptr<icalproperty, PropertyFree> property(
      icalproperty_new_from_string(line.c_str()));
  return property != nullptr;
}

}  // namespace

bool mayHoldUnreadLines(std::string_view text, bool errors) {
  return errors || text.find(kPlaceholder) != std::string_view::npos;
}

std::string withUnreadLinesSetAside(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string kept;
  kept.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const ContentLine line = contentLineAt(text, at);
    const std::string name = nameOfLine(line.raw);
    const bool structure = name == "BEGIN" || name == "END";
    if (structure || isBlank(line.raw) ||
        (writtenName(unfolded(line.raw)) != kPlaceholder && libicalReads(line.raw))) {
      kept.append(text.substr(at, line.next - at));
    } else {
      kept.append(kPlaceholder).append(":").append(hex(line.raw)).append("\r\n");
    }
    at = line.next;
  }
  return kept;
}

std::string withUnreadLinesRestored(std::string text) {
  if (text.find(kPlaceholder) == std::string::npos)
    return text;
  std::string restored;
  restored.reserve(text.size());
  const std::string_view all(text);
  for (std::size_t at = 0; at < all.size();) {
    const ContentLine line = contentLineAt(all, at);
    const std::string whole = unfolded(line.raw);
    std::optional<std::string> raw;
    if (writtenName(whole) == kPlaceholder && whole.size() > kPlaceholder.size() &&
        whole[kPlaceholder.size()] == ':') {
      raw = fromHex(std::string_view(whole).substr(kPlaceholder.size() + 1));
    }
    if (raw) {
      restored.append(*raw).append("\r\n");
    } else {
      restored.append(all.substr(at, line.next - at));
    }
    at = line.next;
  }
  return restored;
}

std::optional<std::string> unreadLine(icalproperty* property) {
  if (icalproperty_isa(property) != ICAL_X_PROPERTY)
    return std::nullopt;
  const char* name = icalproperty_get_x_name(property);
  if (!name || name != kPlaceholder)
    return std::nullopt;
  const icalvalue* value = icalproperty_get_value(property);
  const char* text = value ? icalvalue_get_x(value) : nullptr;
  return text ? fromHex(text) : std::nullopt;
}

std::string nameOfLine(std::string_view line) {
  const std::string whole = unfolded(line);
  // libical's parser ends the name at the first ';' or ':' outside quotes and not after a
  // backslash (never at the first character), then takes the blanks off its end: it reads
  // "BEGIN\t:VALARM" as the start of a VALARM. A line without either has no name.
  std::size_t end = std::string::npos;
  bool quoted = false;
  for (std::size_t at = 1; at < whole.size(); ++at) {
    if (whole[at - 1] == '\\')
      continue;
    if (whole[at] == '"') {
      quoted = !quoted;
    } else if (!quoted && (whole[at] == ';' || whole[at] == ':')) {
      end = at;
      break;
    }
  }
  if (end == std::string::npos)
    return {};
  std::string name = whole.substr(0, end);
  while (!name.empty() &&
         std::string_view(" \t\n\v\f\r").find(name.back()) != std::string_view::npos)
    name.pop_back();
  for (char& c : name) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

bool nestsWithin(std::string_view text, int limit) {
  int depth = 0;
  for (std::size_t at = 0; at < text.size();) {
    const ContentLine line = contentLineAt(text, at);
    // Only BEGIN and END lines count, and only those can begin with these letters.
    if (!line.raw.empty() &&
        std::string_view("BbEe").find(line.raw.front()) != std::string_view::npos) {
      const std::string name = nameOfLine(line.raw);
      if (name == "BEGIN" && ++depth > limit)
        return false;
      if (name == "END" && depth > 0)
        --depth;
    }
    at = line.next;
  }
  return true;
}

bool lineHasValue(std::string_view line) {
  const std::string whole = unfolded(line);
  bool quoted = false;
  for (std::size_t at = 0; at < whole.size(); ++at) {
    if (whole[at] == '"') {
      quoted = !quoted;
    } else if (whole[at] == ':' && !quoted) {
      return !isBlank(std::string_view(whole).substr(at + 1));
    }
  }
  return false;
}

}  // namespace tembra::local::ical
