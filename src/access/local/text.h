// UTF-8 checks for text that comes from files and folder names other programs wrote.
#pragma once

#include <string>
#include <string_view>

namespace tembra::local {

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

// The text with every ill-formed sequence replaced by U+FFFD.
std::string repairUtf8(std::string_view text);

}  // namespace tembra::local
