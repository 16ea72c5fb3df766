#pragma once

#include <string>
#include <vector>

#include "engine/run_observer.h"
#include "engine/session_config.h"
#include "readers/source_type.h"
#include "writers/output_catalogue.h"

namespace kestrune {

// A list to convert: one output per item, or every item joined into mergePath.
struct RunRequest {
    std::vector<SourceFileEntry> items;
    OutputFormatEntry format;
    std::string mergePath;
    // How many items convert at once. A join is always written by one worker, in list order.
    int workers = 1;
};

// What a run needs that is missing, found before it starts; the caller asks the user.
struct RunNeeds {
    // The output format is written by the Windows Media runtime: the run cannot start.
    bool windowsMediaOutput = false;
    // MIDI items need the sound font: they fail on their own unless it is fetched first.
    bool soundFont = false;
    // Windows Media sources want the runtime: the generic reader stands in for theirs.
    bool windowsMediaSources = false;
};

// Loads what the run will use (the Windows Media runtime, the sound font) as far as it can, and
// says what is still missing. Called on the owner's thread, between runs.
RunNeeds CheckRunNeeds(SessionConfig& config, const std::vector<SourceFileEntry>& items,
                       const OutputFormatEntry& format);
// True when some of paths are Windows Media files and the runtime their reader needs is missing.
bool ProbeNeedsWindowsMedia(SessionConfig& config, const std::vector<std::string>& paths);

// Runs the list on request.workers workers, each with a session of its own over config, and
// returns when every worker is done. Every output's name is claimed in list order before
// anything is written, so names and automatic track numbers are the same however many
// workers run; an item whose name an earlier item would overwrite waits until every item
// before it is done, and is named then. Cancel stops every worker at its next block; items
// not started by then are not reported. The observer is called one call at a time.
RunSummary RunConversion(SessionConfig& config, const RunRequest& request, RunObserver& observer);

}  // namespace kestrune
