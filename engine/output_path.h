#pragma once

#include <set>
#include <string>

#include "engine/convert_settings.h"
#include "engine/item_outcome.h"
#include "writers/output_catalogue.h"

namespace kestrune {

class OutputClaim;

// True when path names an existing directory entry: a file, a folder, or even a link that
// points nowhere (a name that is taken either way).
bool FileExists(const std::string& path);

// True when path is a folder, creating every missing folder along it from the root down.
// False when a part of it exists as something else or cannot be made.
bool EnsureFolder(const std::string& path);

// How choosing an output's name ended: named, left alone by the skip policy (its target
// exists), or failed (with a reason from the kName... family).
enum class Naming { kNamed, kSkipped, kFailed };

// Chooses where the output of sourcePath goes and proves the file can be created there:
// next to the source or in the chosen folder (with the source's folder tree below it when
// asked), with the format's extension, after the policy for an existing target. A name that
// another run or job holds (OutputClaim) counts as existing. When the file cannot be made,
// tries once more in documentsFolder (made when missing) when the settings allow. Once named,
// outputPath holds the path and claim, when given, holds that name for the output; in
// overwrite mode the file of that name goes when the claim's RemoveReplaced is called. Without
// a claim the name is given back at once (and a file to overwrite removed at once). Otherwise
// failure holds the reason and outputPath is untouched. The source itself is never removed or
// truncated.
Naming PrepareOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                         const ConvertSettings& settings, const std::string& documentsFolder,
                         std::string& outputPath, Failure& failure, OutputClaim* claim = nullptr);

// The name PrepareOutputPath tries first for sourcePath, before the policy for an existing
// target and the documents fall-back (no folder is made); empty when there is no folder.
std::string FirstOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                            const ConvertSettings& settings);

// The names a plan has handed out so far; later files of the plan see them as taken.
using PlannedNames = std::set<std::string>;

// What PrepareOutputPath would choose, without changing anything: no folder is made, no file
// removed, no name claimed. A missing folder counts as made when the nearest folder along
// its path that exists can be written; the documents folder is the one given (empty:
// unknown). The chosen name is added to planned, so a list is planned as a run names it.
Naming PlanOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                      const ConvertSettings& settings, const std::string& documentsFolder,
                      PlannedNames& planned, std::string& outputPath, Failure& failure);

}  // namespace kestrune
