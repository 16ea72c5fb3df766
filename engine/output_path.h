#pragma once

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

}  // namespace kestrune
