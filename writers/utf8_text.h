#pragma once

#include <string>

namespace kestrune {

// Turns bytes that should be UTF-8 into valid UTF-8: every invalid sequence becomes U+FFFD.
std::string RepairUtf8(const std::string& text);

}  // namespace kestrune
