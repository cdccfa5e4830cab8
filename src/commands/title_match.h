// Calendar titles as resolve-calendar compares them: trimmed at both ends, lower-cased one code
// point at a time, and equal when canonically equivalent.
//
// Two implementations keep these rules: ICU's (title_match.cpp) everywhere but on Apple platforms,
// and the system's own text functions there (macos/title_match.mm), so that the macOS build links
// no library beyond the system's. Where the two can differ (the Unicode version of each system's
// tables, among others) is listed in docs/macos.md.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tembra {

// Every function here takes and gives UTF-8. Text that is not well-formed UTF-8 (a stray byte, a
// cut sequence, an overlong form, a surrogate, a code point above U+10FFFF) has no trimmed or
// lower-cased form and equals no text, not even itself, so it can never select a calendar. Text
// of more than 512 MiB, beyond what ICU's 32-bit lengths allow here, is treated the same way by
// both implementations.

// The text without white space and line breaks at either end: U+0009 to U+000D, U+0085 and every
// character of the general categories Zs, Zl and Zp (U+0020, U+00A0, U+3000, U+2028...). Nothing
// else is removed (U+200B and U+FEFF stay), and nothing between the first and last kept character
// is touched.
std::optional<std::string> trimTitle(std::string_view text);

// Each code point replaced by its full lower-case mapping with no locale (ICU's root locale, the
// system's canonical mapping on Apple platforms) and no language or context rule: "ΟΔΟΣ" gives
// "οδοσ" (no final ς), "İ" gives "i" followed by U+0307, "I" gives "i". The same for every user
// language; the text may grow.
std::optional<std::string> lowerCaseTitle(std::string_view text);

// True when both texts are well-formed and have the same NFC form: canonical equivalence only, so
// no width, accent or compatibility folding.
bool sameTitle(std::string_view a, std::string_view b);

}  // namespace tembra
