// Colours and iCalendar text, the same for every back-end.
#include "access/calendar_text.h"

#include <cctype>

namespace tembra {

std::optional<std::vector<double>> parseColor(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  if (text.empty() || text.front() != '#' || (text.size() != 7 && text.size() != 9)) {
    return std::nullopt;
  }
  std::vector<double> components;
  for (std::size_t i = 1; i < text.size(); i += 2) {
    int value = 0;
    for (const char c : text.substr(i, 2)) {
      const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                        : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
                                                                    : -1;
      if (digit < 0)
        return std::nullopt;
      value = value * 16 + digit;
    }
    components.push_back(value / 255.0);
  }
  if (components.size() == 3)
    components.push_back(1.0);
  return components;
}

std::string cleanText(std::string_view value) {
  std::string clean;
  clean.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c == '\r') {
      if (i + 1 < value.size() && value[i + 1] == '\n')
        continue;
      clean += '\n';
    } else if (c >= 0x20 || c == '\t' || c == '\n') {
      if (c != 0x7F)
        clean += static_cast<char>(c);
    }
  }
  return std::string(withoutEdgeBlanks(clean));
}

std::string_view withoutEdgeBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v'; };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

}  // namespace tembra
