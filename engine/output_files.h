#pragma once

#include <string>

namespace kestrune {

// True when both paths name the same existing file by identity (device and inode), whatever
// their spelling or the links on the way.
bool SameFile(const std::string& a, const std::string& b);

// Removes a failed or cancelled output, never the source itself.
void RemoveOutput(const std::string& outputPath, const std::string& sourcePath);

// True when path exists as something else than a regular file (a device, a pipe, a folder):
// such an output is written straight, never replaced by renaming.
bool IsSpecialFile(const std::string& path);
// The file path names, through a symbolic link to a regular file; else path itself.
std::string ResolvedOutputPath(const std::string& path);

}  // namespace kestrune
