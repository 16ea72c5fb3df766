#pragma once

#include <string>

namespace kestrune {

// Tags of a RIFF/WAVE file from its LIST/INFO chunk, with a plain-text DISP chunk as the
// fall-back title. Fills the nine texts in the reader order of TagSet (the composer is always
// empty) and returns 1 when anything was found, else 0. Never fails a conversion: a file that
// is not RIFF/WAVE or ends early gives what was found so far.
int ReadWavInfoTags(const std::string& path, std::string& title, std::string& artist,
                    std::string& album, std::string& date, std::string& genre, std::string& comment,
                    std::string& track, std::string& composer, std::string& copyright);

}  // namespace kestrune
