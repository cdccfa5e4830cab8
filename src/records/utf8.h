// Strict UTF-8: which byte strings are well-formed text, and a printable form of those that are
// not.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tembra {

// The length of the well-formed UTF-8 sequence the bytes begin with (1 to 4), or 0 when they do
// not begin with one. The bytes must not be empty.
std::size_t utf8SequenceLength(std::string_view bytes);

// True when the bytes are well-formed UTF-8: no overlong forms, no encoded surrogates, nothing
// above U+10FFFF, no stray continuation bytes, no sequence cut short. The empty text is valid.
bool isValidUtf8(std::string_view bytes);

// The bytes as valid UTF-8, for text read from other programs' files or echoed in a message: every
// well-formed sequence is kept as it is, every other byte becomes U+FFFD. Valid text comes back
// unchanged.
std::string repairUtf8(std::string_view bytes);

}  // namespace tembra
