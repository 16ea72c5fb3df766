#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "cli/run_report.h"
#include "engine/conversion_session.h"
#include "engine/source_list.h"
#include "messages/prompts.h"

namespace kestrune::cli {

// The files of a convert run: the list's items in the order given, each with its place in
// the report.
struct RunList {
    SourceList list;
    std::vector<SourceFileEntry*> items;
    std::vector<int> rows;            // the items' rows: 0, 1, 2, ...
    std::vector<size_t> reportIndex;  // per row, the item's index in the report
};

// Makes the list from files, in order, as adding them to the window's list does: a file
// that is missing or that no reader opens is reported failed at once, a file named twice is
// listed once. With the skip policy (skipUnread), a file whose output exists is reported
// skipped without being read at all, so that a rerun over finished work costs next to
// nothing. Outputs fall back to the configuration's documents folder (it is not made here).
// Once cancel is set, the remaining files are added to the report but not done.
void CollectSources(ConversionSession& session, const std::vector<std::string>& files,
                    const OutputFormatEntry& format, bool skipUnread,
                    const std::atomic<bool>& cancel, RunReport& report, RunList& run);

// Reports what a run would do with every item, as the run would report it, and changes
// nothing: "planned" with the output path it would write (mergePath for a join), or the
// failure or skip it would report. The run's questions go to prompts (a dry run answers No).
// False when the run would not start at all (a missing component, or a join whose file cannot
// be made, which is told in warning); the items are then left unreported.
bool PlanRun(SessionConfig& config, RunList& run, const OutputFormatEntry& format,
             const std::string& mergePath, Prompts& prompts, RunReport& report,
             std::string& warning);

}  // namespace kestrune::cli
