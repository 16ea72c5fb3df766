#pragma once

#include <string>
#include <vector>

namespace kestrune::cli {

// Appends the paths listed in the file named from ("-": standard input) to files: one path
// a line, or separated by NUL bytes when nulSeparated (as find -print0 writes them). Empty
// entries are left out; nothing else is trimmed, since a name may hold any byte but "/" and
// NUL. False with the reason in error when the list cannot be read.
bool ReadFileList(const std::string& from, bool nulSeparated, std::vector<std::string>& files,
                  std::string& error);

}  // namespace kestrune::cli
