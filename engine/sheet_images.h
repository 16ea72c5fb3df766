#pragma once
// The images a cue sheet cuts into tracks.

#include <string>
#include <vector>

namespace kestrune {

// The path of the file a sheet names, found beside the sheet; empty when it is missing.
std::string SheetImagePath(const std::string& sheetPath, const std::string& name);
// The paths of the files the sheet at sheetPath names that exist; none when it cannot be read.
std::vector<std::string> SheetImages(const std::string& sheetPath);

}  // namespace kestrune
