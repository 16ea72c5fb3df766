#pragma once

#include <set>
#include <string>

#include "engine/conversion_host.h"
#include "engine/convert_settings.h"
#include "writers/output_catalogue.h"

namespace kestrune {

class OutputClaim;

// True when path names an existing directory entry: a file, a folder, or even a link that
// points nowhere (a name that is taken either way).
bool FileExists(const std::string& path);

// True when path is a folder, creating every missing folder along it from the root down.
// False when a part of it exists as something else or cannot be made.
bool EnsureFolder(const std::string& path);

// Chooses where the output of sourcePath goes and proves the file can be created there:
// next to the source or in the chosen folder (with the source's folder tree below it when
// asked), with the format's extension, after the policy for an existing target. A name that
// another run or job holds (OutputClaim) counts as existing. When the file cannot be made,
// tries once more in the documents folder (host.DocumentsFolder()) when the settings allow.
// On success outputPath holds a path that does not exist now (in overwrite mode a different
// file of that name has been removed) and claim, when given, holds that name for the output;
// without a claim the name is given back at once. On failure message holds the reason and
// outputPath is untouched. The source itself is never removed or truncated.
bool PrepareOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                       const ConvertSettings& settings, ConversionHost& host,
                       std::string& outputPath, std::string& message, OutputClaim* claim = nullptr);

// The name PrepareOutputPath tries first for sourcePath, before the policy for an existing
// target and the documents fall-back (no folder is made); empty when there is no folder.
std::string FirstOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                            const ConvertSettings& settings);

// The reason given when the skip policy finds the target there.
extern const char* const kTargetSkippedText;

// The names a plan has handed out so far; later files of the plan see them as taken.
using PlannedNames = std::set<std::string>;

// What PrepareOutputPath would choose, without changing anything: no folder is made, no file
// removed, no name claimed. A missing folder counts as made when the nearest folder along
// its path that exists can be written; the documents folder is the one given (empty:
// unknown). The chosen name is added to planned, so a list is planned as a run names it.
bool PlanOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                    const ConvertSettings& settings, const std::string& documentsFolder,
                    PlannedNames& planned, std::string& outputPath, std::string& message);

}  // namespace kestrune
