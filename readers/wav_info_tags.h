#pragma once

#include <string>

#include "audio/tag_set.h"

namespace kestrune {

// Tags of a RIFF/WAVE file from its LIST/INFO chunk, with a plain-text DISP chunk as the
// fall-back title. Replaces every text of tags (the composer is always empty) and returns 1
// when anything was found, else 0. Never fails a conversion: a file that is not RIFF/WAVE or
// ends early gives what was found so far.
int ReadWavInfoTags(const std::string& path, TagSet& tags);

}  // namespace kestrune
