#include "cli/run_list.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>

#include "engine/output_path.h"
#include "engine/run_scheduler.h"
#include "messages/item_texts.h"
#include "messages/run_questions.h"

namespace kestrune::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

void CollectSources(ConversionSession& session, const std::vector<std::string>& files,
                    const OutputFormatEntry& format, bool skipUnread,
                    const std::atomic<bool>& cancel, RunReport& report, RunList& run) {
    const ConvertSettings& settings = session.config().settings;
    const std::string& documentsFolder = session.config().documentsFolder;
    const bool skipPolicy = skipUnread && settings.targetExistsOpt == TargetExists::kSkip;
    std::set<std::string> listed;
    // An image named by a sheet among the files is converted as the sheet's tracks only.
    std::vector<std::string> given = files;
    DropSheetImages(given);
    for (const std::string& file : given) {
        const auto started = Clock::now();
        std::error_code ec;
        const std::string path = fs::absolute(file, ec).lexically_normal().string();
        if (!listed.insert(SourceList::Key(path)).second)
            continue;
        const size_t index = report.Add(path);
        // Ctrl+C while a long list is read: the rest stays unreported, and counts as cancelled.
        if (cancel.load())
            continue;
        FileResult& r = report[index];
        if (!fs::is_regular_file(path, ec)) {
            r.text = ConversionFailureText(file + ": no such file");
            report.Done(index);
            continue;
        }
        // A sheet's outputs are named after its tracks, known once it is read.
        if (skipPolicy && ExtensionOf(path) != ".cue") {
            // What the naming would answer now, before the file is read.
            PlannedNames none;
            std::string output;
            Failure failure;
            if (PlanOutputPath(path, format, settings, documentsFolder, none, output, failure) ==
                Naming::kSkipped) {
                ItemOutcome skipped;
                skipped.end = ItemEnd::kSkipped;
                r.status = FileStatus::kSkipped;
                r.text = OutputText(skipped);
                r.seconds = SecondsSince(started);
                report.Done(index);
                continue;
            }
        }
        const size_t before = run.list.size();
        if (run.list.AddSourceFile(session, path) < 0 || run.list.size() == before) {
            Failure failure = session.LastFailure();
            if (failure.reason == FailureReason::kNone)
                failure.reason = FailureReason::kUndecodable;
            r.text = ConversionFailureText(FailureDetailText(failure));
            r.seconds = SecondsSince(started);
            report.Done(index);
            continue;
        }
        // A sheet's tracks each have their place in the report, as "sheet#NN".
        for (size_t row = before; row < run.list.size(); ++row) {
            SourceFileEntry& item = run.list[row];
            size_t at = index;
            if (row != before) {
                char number[8];
                std::snprintf(number, sizeof number, "#%02d", item.track.number);
                at = report.Add(path + number);
            } else if (item.track.number) {
                char number[8];
                std::snprintf(number, sizeof number, "#%02d", item.track.number);
                r.source = path + number;
            }
            report[at].duration = item.duration;
            run.items.push_back(&item);
            run.rows.push_back(static_cast<int>(run.rows.size()));
            run.reportIndex.push_back(at);
        }
    }
}

bool PlanRun(SessionConfig& config, RunList& run, const OutputFormatEntry& format,
             const std::string& mergePath, Prompts& prompts, RunReport& report,
             std::string& warning) {
    if (run.items.empty())
        return true;
    const bool merge = !mergePath.empty();
    std::vector<SourceFileEntry> items;
    for (const SourceFileEntry* item : run.items)
        items.push_back(*item);
    // The components a run needs (questions are answered No in a dry run).
    if (!AnswerRunNeeds(CheckRunNeeds(config, items, format), config.programFolder, prompts))
        return false;
    if (merge) {
        // The joined file is made in place, in a folder that must be there.
        const fs::path folder = fs::path(mergePath).parent_path();
        std::error_code ec;
        if (!fs::is_directory(folder, ec) || access(folder.c_str(), W_OK | X_OK) != 0 ||
            fs::is_directory(mergePath, ec)) {
            RunSummary failed;
            failed.merge = RunSummary::Merge::kCreateFailed;
            failed.mergePath = mergePath;
            warning = MergeFailureText(failed);
            return false;
        }
    }
    PlannedNames planned;
    for (size_t row = 0; row < run.items.size(); ++row) {
        const auto started = Clock::now();
        const SourceFileEntry& item = *run.items[row];
        FileResult& r = report[run.reportIndex[row]];
        ItemOutcome outcome;
        std::string output;
        if (item.sourceType == SourceType::kMidi && !config.soundFontLoaded) {
            outcome.failure = {FailureReason::kSoundFontMissing, {}};
            r.text = OutputText(outcome);
        } else if (merge) {
            r.status = FileStatus::kPlanned;
            r.output = mergePath;
            r.text = FileNameOf(mergePath);
        } else {
            const Naming named =
                PlanOutputPath(NamingPath(item), format, config.settings, config.documentsFolder,
                               planned, output, outcome.failure);
            if (named == Naming::kNamed) {
                r.status = FileStatus::kPlanned;
                r.output = output;
                r.text = FileNameOf(output);
            } else {
                outcome.end = named == Naming::kSkipped ? ItemEnd::kSkipped : ItemEnd::kFailed;
                r.status = StatusOf(outcome.end);
                r.text = OutputText(outcome);
            }
        }
        r.seconds = SecondsSince(started);
        report.Done(run.reportIndex[row]);
    }
    return true;
}

}  // namespace kestrune::cli
