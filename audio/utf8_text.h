#pragma once

#include <string>
#include <string_view>

namespace kestrune {

// Paths and texts are UTF-8 throughout the program.

// True when text is well-formed UTF-8 (no overlong forms, surrogates or values above
// U+10FFFF).
bool IsValidUtf8(const std::string& text);

// Replaces every byte that does not start a well-formed sequence with U+FFFD.
std::string RepairUtf8(std::string_view text);

// Lower-cases ASCII plus the Latin, Greek and Cyrillic letters that have a one-to-one
// lower-case form. Bytes that are not valid UTF-8 pass through unchanged.
std::string LowerUtf8(const std::string& text);

}  // namespace kestrune
