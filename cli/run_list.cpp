#include "cli/run_list.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "engine/create_reader.h"
#include "engine/output_path.h"

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
                    const std::string& documentsFolder, RunReport& report, RunList& run) {
    const ConvertSettings& settings = session.config().settings;
    const bool skipPolicy = skipUnread && settings.targetExistsOpt == TargetExists::kSkip;
    std::set<std::string> listed;
    for (const std::string& file : files) {
        const auto started = Clock::now();
        std::error_code ec;
        const std::string path = fs::absolute(file, ec).lexically_normal().string();
        if (!listed.insert(SourceList::Key(path)).second)
            continue;
        const size_t index = report.Add(path);
        // Ctrl+C while a long list is read: the rest stays unreported, and counts as cancelled.
        if (session.host().CancelRequested())
            continue;
        FileResult& r = report[index];
        if (!fs::is_regular_file(path, ec)) {
            r.text = "Conversion Failure (" + file + ": no such file)";
            report.Done(index);
            continue;
        }
        if (skipPolicy) {
            // What the naming would answer now, before the file is read.
            PlannedNames none;
            std::string output, message;
            if (!PlanOutputPath(path, format, settings, documentsFolder, none, output, message) &&
                message == kTargetSkippedText) {
                r.status = FileStatus::kSkipped;
                r.text = message;
                r.seconds = SecondsSince(started);
                report.Done(index);
                continue;
            }
        }
        session.ClearFailureDetail();
        const size_t before = run.list.size();
        if (run.list.AddSourceFile(session, path) < 0 || run.list.size() == before) {
            const std::string detail = session.FailureDetail().empty()
                                           ? std::string(kUndecodableDetail)
                                           : session.FailureDetail();
            r.text = "Conversion Failure (" + detail + ")";
            r.seconds = SecondsSince(started);
            report.Done(index);
            continue;
        }
        SourceFileEntry& item = run.list[run.list.size() - 1];
        r.duration = item.duration;
        run.items.push_back(&item);
        run.rows.push_back(static_cast<int>(run.rows.size()));
        run.reportIndex.push_back(index);
    }
}

bool PlanRun(ConversionSession& session, RunList& run, const OutputFormatEntry& format,
             const std::string& mergePath, const std::string& documentsFolder, RunReport& report) {
    if (run.items.empty())
        return true;
    const bool merge = !mergePath.empty();
    // The components a run needs (questions are answered No in a dry run).
    if (!session.PreRunChecks(run.items, format))
        return false;
    if (merge) {
        // The joined file is made in place, in a folder that must be there.
        const fs::path folder = fs::path(mergePath).parent_path();
        std::error_code ec;
        if (!fs::is_directory(folder, ec) || access(folder.c_str(), W_OK | X_OK) != 0 ||
            fs::is_directory(mergePath, ec)) {
            session.host().ShowWarning("Failed to create file \"" + mergePath + "\".");
            return false;
        }
    }
    PlannedNames planned;
    for (size_t row = 0; row < run.items.size(); ++row) {
        const auto started = Clock::now();
        const SourceFileEntry& item = *run.items[row];
        FileResult& r = report[run.reportIndex[row]];
        std::string output, message;
        if (item.sourceType == SourceType::kMidi && !session.SoundFontLoaded()) {
            r.text = kSoundFontFailure;
        } else if (merge) {
            r.status = FileStatus::kPlanned;
            r.output = mergePath;
            r.text = FileNameOf(mergePath);
        } else if (PlanOutputPath(item.path, format, session.config().settings, documentsFolder,
                                  planned, output, message)) {
            r.status = FileStatus::kPlanned;
            r.output = output;
            r.text = FileNameOf(output);
        } else {
            r.status = StatusOf(message, false);
            r.text = message;
        }
        r.seconds = SecondsSince(started);
        report.Done(run.reportIndex[row]);
    }
    return true;
}

}  // namespace kestrune::cli
