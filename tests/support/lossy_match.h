#pragma once
// Lossy outputs compared with their source: each channel's signal-to-noise ratio, the decode
// lined up with the source by what the codec fixes (never by a search), against a threshold
// per codec chosen from measurements (lossy_match.cpp).

#include <string>

#include "tests/support/test_support.h"

namespace kestrune::test {

// Expects ffmpeg's decode of an output to follow its source as closely as the codec (named as
// ffprobe names it) keeps it in that container (the muxer's short name), and the same threshold
// to refuse the decode with its right channel silent or a copy of the left, or a block of 1152
// frames late or early.
void ExpectFollowsSource(const Pcm& source, const Pcm& decoded, const std::string& codec,
                         const std::string& container);

}  // namespace kestrune::test
