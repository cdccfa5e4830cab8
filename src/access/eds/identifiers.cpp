// Event identifiers: percent-encoding of the two UIDs.
#include "access/eds/identifiers.h"

namespace tembra::eds {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// Left as they are: what a UID usually holds and no shell, JSON or URL treats specially.
bool isPlain(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '@';
}

std::string encoded(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (isPlain(byte)) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;  // lower-case digits are not what encoded() writes
}

std::optional<std::string> decoded(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (isPlain(byte)) {
      out += text[i];
      continue;
    }
    if (byte != '%' || i + 2 >= text.size())
      return std::nullopt;
    const int high = hexValue(text[i + 1]);
    const int low = hexValue(text[i + 2]);
    const auto value = static_cast<unsigned char>(high * 16 + low);
    // A plain character written as %XX is not this encoding's form.
    if (high < 0 || low < 0 || isPlain(value))
      return std::nullopt;
    out += static_cast<char>(value);
    i += 2;
  }
  if (out.empty())
    return std::nullopt;
  return out;
}

}  // namespace

std::string eventIdentifier(const EventKey& key) {
  return encoded(key.calendar) + "/" + encoded(key.uid);
}

std::optional<EventKey> parseEventIdentifier(std::string_view identifier) {
  const std::size_t slash = identifier.find('/');
  if (slash == std::string_view::npos)
    return std::nullopt;
  auto calendar = decoded(identifier.substr(0, slash));
  auto uid = decoded(identifier.substr(slash + 1));
  if (!calendar || !uid)
    return std::nullopt;
  return EventKey{std::move(*calendar), std::move(*uid)};
}

}  // namespace tembra::eds
