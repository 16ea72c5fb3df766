#pragma once

#include <map>
#include <string>

namespace kestrune {

// Sets fields (one value a name) among the tags of path, a finished Matroska file, replacing those
// names and keeping everything else. The muxer writes a file's tags before its audio, and nothing
// here edits them in place, so the streams are copied into a new file beside it with the fields
// added, which is then copied back over the file (the same file stays, for whoever holds it open).
// False when that fails; the file may then be damaged.
bool SetMatroskaFields(const std::string& path, const std::map<std::string, std::string>& fields);

}  // namespace kestrune
