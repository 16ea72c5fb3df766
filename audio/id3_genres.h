#pragma once

#include <array>
#include <string_view>

namespace kestrune {

// The ID3v1 genre names with the common extensions, indexed 0..147 as tags store them.
const std::array<std::string_view, 148>& Id3v1Genres();

}  // namespace kestrune
