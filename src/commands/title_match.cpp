// Title trimming, lower-casing and equality over ICU.
#include "commands/title_match.h"

#include <climits>

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace tembra {
namespace {

// ICU counts in 32-bit lengths; this bound leaves room for every growth below (UTF-16 to UTF-8
// triples, normalisation adds a little).
constexpr std::size_t kMaxUnits = INT32_MAX / 4;

// Runs an ICU call that writes into a caller's buffer, a second time with the room the first one
// asked for. Absent when the call fails for any other reason.
template <typename Char, typename Fill>
std::optional<std::basic_string<Char>> filled(std::int32_t capacity, Fill fill) {
  std::basic_string<Char> buffer(static_cast<std::size_t>(capacity), Char{});
  UErrorCode status = U_ZERO_ERROR;
  std::int32_t length = fill(buffer.data(), capacity, status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    buffer.assign(static_cast<std::size_t>(length), Char{});
    status = U_ZERO_ERROR;
    length = fill(buffer.data(), length, status);
  }
  if (U_FAILURE(status))
    return std::nullopt;
  buffer.resize(static_cast<std::size_t>(length));
  return buffer;
}

// ICU's strict conversion refuses every ill-formed sequence instead of substituting U+FFFD, which
// is what keeps a bad title from equalling a stored one by accident.
std::optional<std::u16string> decode(std::string_view text) {
  if (text.size() > kMaxUnits)
    return std::nullopt;
  if (text.empty())
    return std::u16string();
  const auto size = static_cast<std::int32_t>(text.size());
  return filled<char16_t>(size, [&](char16_t* out, std::int32_t capacity, UErrorCode& status) {
    std::int32_t length = 0;
    u_strFromUTF8(out, capacity, &length, text.data(), size, &status);
    return length;
  });
}

// Only called on text that decode produced or ICU built from it, so it is well-formed.
std::optional<std::string> encode(const std::u16string& text) {
  if (text.size() > kMaxUnits)
    return std::nullopt;
  if (text.empty())
    return std::string();
  const auto size = static_cast<std::int32_t>(text.size());
  return filled<char>(size * 3, [&](char* out, std::int32_t capacity, UErrorCode& status) {
    std::int32_t length = 0;
    u_strToUTF8(out, capacity, &length, text.data(), size, &status);
    return length;
  });
}

std::optional<std::u16string> nfc(const std::u16string& text) {
  if (text.size() > kMaxUnits)
    return std::nullopt;
  UErrorCode status = U_ZERO_ERROR;
  // The instance belongs to ICU and must not be closed.
  const UNormalizer2* normalizer = unorm2_getNFCInstance(&status);
  if (U_FAILURE(status))
    return std::nullopt;
  const auto size = static_cast<std::int32_t>(text.size());
  return filled<char16_t>(size + 16, [&](char16_t* out, std::int32_t capacity, UErrorCode& status) {
    return unorm2_normalize(normalizer, text.data(), size, out, capacity, &status);
  });
}

bool isTrimmed(UChar32 c) {
  if ((c >= 0x09 && c <= 0x0D) || c == 0x85)
    return true;
  const auto category = u_charType(c);
  return category == U_SPACE_SEPARATOR || category == U_LINE_SEPARATOR ||
         category == U_PARAGRAPH_SEPARATOR;
}

}  // namespace

std::optional<std::string> trimTitle(std::string_view text) {
  const std::optional<std::u16string> decoded = decode(text);
  if (!decoded)
    return std::nullopt;
  const char16_t* units = decoded->data();
  const auto size = static_cast<std::int32_t>(decoded->size());
  std::int32_t begin = 0;
  while (begin < size) {
    std::int32_t next = begin;
    UChar32 c;
    U16_NEXT(units, next, size, c);
    if (!isTrimmed(c))
      break;
    begin = next;
  }
  std::int32_t end = size;
  while (end > begin) {
    std::int32_t previous = end;
    UChar32 c;
    U16_PREV(units, begin, previous, c);
    if (!isTrimmed(c))
      break;
    end = previous;
  }
  return encode(
      decoded->substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

std::optional<std::string> lowerCaseTitle(std::string_view text) {
  const std::optional<std::u16string> decoded = decode(text);
  if (!decoded)
    return std::nullopt;
  const char16_t* units = decoded->data();
  const auto size = static_cast<std::int32_t>(decoded->size());
  std::u16string lowered;
  // One code point per call: whole-string lower-casing would apply the final-sigma rule, which
  // looks at the neighbours. The root locale ("") keeps Turkish and Lithuanian rules out.
  for (std::int32_t i = 0; i < size;) {
    const std::int32_t start = i;
    UChar32 c;
    U16_NEXT(units, i, size, c);
    const auto mapped =
        filled<char16_t>(4, [&](char16_t* out, std::int32_t capacity, UErrorCode& status) {
          return u_strToLower(out, capacity, units + start, i - start, "", &status);
        });
    if (!mapped)
      return std::nullopt;
    lowered += *mapped;
  }
  return encode(lowered);
}

bool sameTitle(std::string_view a, std::string_view b) {
  const std::optional<std::u16string> left = decode(a);
  const std::optional<std::u16string> right = decode(b);
  if (!left || !right)
    return false;
  const std::optional<std::u16string> leftForm = nfc(*left);
  const std::optional<std::u16string> rightForm = nfc(*right);
  return leftForm && rightForm && *leftForm == *rightForm;
}

}  // namespace tembra
