#include "cli/commands.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>

#include "cli/cli_host.h"
#include "cli/convert_options.h"
#include "cli/file_list.h"
#include "cli/run_list.h"
#include "cli/run_report.h"
#include "engine/conversion_session.h"
#include "engine/run_scheduler.h"
#include "engine/source_list.h"
#include "messages/item_texts.h"
#include "messages/run_presenter.h"
#include "messages/run_questions.h"
#include "readers/bass_reader.h"
#include "readers/ffmpeg_reader.h"
#include "settings/ini_settings_store.h"
#include "settings/settings_persistence.h"

namespace kestrune::cli {

bool InitEngineLibraries() {
    InitFFmpegLogging();
    if (InitDecodingLayer(RunningProgramFolder()) != DecodingLayerStart::Ready) {
        std::fprintf(stderr, "kestrune-cli: %s\n", kDecodingLayerInitFailedText);
        return false;
    }
    return true;
}

void FreeEngineLibraries() {
    FreeDecodingLayer();
}

int UsageError(const std::string& why) {
    std::fprintf(stderr, "kestrune-cli: %s. Try 'kestrune-cli --help'.\n", why.c_str());
    return 2;
}

int RunFormats(const std::vector<std::string>& args) {
    if (!args.empty())
        return UsageError("formats takes no arguments");
    OutputCatalogue catalogue;
    BuildOutputCatalogue(catalogue);
    for (const OutputFormatEntry& row : catalogue) {
        std::string codecs;
        for (const CodecEntry* c : row.allowedCodecs) {
            char id[16];
            std::snprintf(id, sizeof id, "0x%X", c->codecId);
            if (!codecs.empty())
                codecs += "; ";
            codecs += std::string(id) + " " + c->label;
        }
        if (codecs.empty())
            codecs.push_back('-');
        std::printf("%d\t%s\t%s\t%s\n", StoredValue(row.formatId), row.extension,
                    row.DisplayLabel().c_str(), codecs.c_str());
    }
    return 0;
}

int RunProbe(const std::vector<std::string>& args) {
    if (args.empty())
        return UsageError("probe needs at least one file");
    RunObserver quiet;
    SessionConfig config;
    ConversionSession session(config, quiet);
    int status = 0;
    std::printf("File\tDuration\tBit Rate\tSample Rate\tChannels\n");
    for (const std::string& path : args) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) {
            std::fprintf(stderr, "kestrune-cli: %s: no such file\n", path.c_str());
            status = 1;
            continue;
        }
        std::vector<SourceFileEntry> rows;
        const ProbeResult probed = session.ProbeRows(path, rows);
        if (!probed.opened) {
            const std::string detail = FailureDetailText(probed.failure);
            const std::string why = detail.empty() ? "no reader can open this file" : detail;
            std::fprintf(stderr, "kestrune-cli: %s: %s\n", path.c_str(), why.c_str());
            status = 1;
            continue;
        }
        // A cue sheet: a line per track.
        for (const SourceFileEntry& entry : rows) {
            const ColumnTexts t = ColumnTextsOf(entry);
            std::printf("%s\t%s\t%s\t%s\t%s\n", t.file.c_str(), t.duration.c_str(),
                        t.bitRate.c_str(), t.sampleRate.c_str(), t.channels.c_str());
        }
        std::fflush(stdout);
    }
    return status;
}

namespace {

std::atomic<bool> gInterrupted{false};
std::atomic<int> gSignal{0};

// Ctrl+C, and a SIGTERM or SIGHUP from whoever ends the run (timeout, a service manager, a
// closed terminal), cancel it the same way: the current output is removed.
extern "C" void OnInterrupt(int signal) {
    gSignal.store(signal);
    gInterrupted.store(true);
}

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
}

// A run as kestrune-cli shows it: each item's result into the report as soon as the item
// ends (typed, never read back from a text), the progress line while one file at a time
// converts, and Ctrl+C as cancel. The calls come one at a time, from the workers' threads.
class CliRunObserver : public RunObserver {
public:
    CliRunObserver(CliHost& host, RunPresenter& presenter, RunList& run, RunReport& report,
                   bool showProgress, bool merge)
        : host_(host),
          presenter_(presenter),
          run_(run),
          report_(report),
          showProgress_(showProgress),
          merge_(merge),
          started_(run.items.size()) {}

    void RunStarted(int itemCount) override {
        if (showProgress_)
            presenter_.RunStarted(itemCount);
    }
    void ItemStarted(int item, Pass pass) override {
        auto& started = started_[static_cast<size_t>(item)];
        if (!started)
            started = Clock::now();
        if (showProgress_)
            presenter_.ItemStarted(item, pass);
    }
    void Progress(int item, Pass pass, double itemFraction, double runFraction) override {
        if (showProgress_)
            presenter_.Progress(item, pass, itemFraction, runFraction);
    }
    // The progress line goes on with the next file; the file's line comes with its album's end.
    void ItemWaitsForAlbum(int item) override {
        if (showProgress_)
            presenter_.ItemWaitsForAlbum(item);
    }
    void ItemEnded(int item, const ItemOutcome& outcome) override {
        if (showProgress_)
            presenter_.ItemEnded(item, outcome);
        host_.ClearLine();
        const size_t row = static_cast<size_t>(item);
        const size_t index = run_.reportIndex[row];
        FileResult& r = report_[index];
        r.status = StatusOf(outcome.end);
        r.output = outcome.end == ItemEnd::kConverted ? outcome.outputPath : std::string();
        r.text = OutputText(outcome);
        r.volume = outcome.end == ItemEnd::kConverted ? VolumeText(outcome.gain) : std::string();
        r.loudness = outcome.end == ItemEnd::kConverted ? outcome.loudness : LoudnessFigures{};
        r.seconds = started_[row]
                        ? std::chrono::duration<double>(Clock::now() - *started_[row]).count()
                        : 0.0;
        run_.items[row]->outputPath = r.output;
        // The files of a join are told once the joined file is measured: they all went into it.
        if (merge_)
            joined_.emplace_back(row, index);
        else
            report_.Done(index);
        ++ended_;
    }
    void RunEnded(const RunSummary& summary) override {
        // A join that was cancelled or could not be written left no file: its files did not
        // convert after all.
        const bool written = !summary.cancelled && summary.merge != RunSummary::Merge::kWriteFailed;
        for (const auto& [row, index] : joined_) {
            FileResult& r = report_[index];
            if (r.status == FileStatus::kConverted && written) {
                r.loudness = summary.mergeLoudness;
            } else if (r.status == FileStatus::kConverted) {
                ItemOutcome cancelled;
                cancelled.end = ItemEnd::kCancelled;
                r.status = summary.cancelled ? FileStatus::kCancelled : FileStatus::kFailed;
                r.text = summary.cancelled ? OutputText(cancelled) : MergeFailureText(summary);
                r.output.clear();
                r.volume.clear();
                run_.items[row]->outputPath.clear();
            }
            report_.Done(index);
        }
        // The presenter says what became of a join and shows the first output when asked.
        presenter_.RunEnded(summary);
    }
    bool CancelRequested() override { return gInterrupted.load(std::memory_order_relaxed); }

    int Ended() const { return ended_; }

private:
    using Clock = std::chrono::steady_clock;
    CliHost& host_;
    RunPresenter& presenter_;
    RunList& run_;
    RunReport& report_;
    const bool showProgress_;
    const bool merge_;
    std::vector<std::pair<size_t, size_t>> joined_;  // row and report index
    std::vector<std::optional<Clock::time_point>> started_;
    int ended_ = 0;
};

}  // namespace

int RunConvert(const std::vector<std::string>& args) {
    const auto started = std::chrono::steady_clock::now();
    ConvertOptions o;
    if (const int status = ParseConvert(args, o))
        return status;
    for (const std::string& from : o.filesFrom) {
        std::string error;
        if (!ReadFileList(from, o.nulSeparated, o.files, error)) {
            std::fprintf(stderr, "kestrune-cli: %s\n", error.c_str());
            return 1;
        }
    }

    // A dry run asks nothing: whatever it would ask is answered No.
    CliHost host(o.dryRun ? Answer::kNo : o.answer);
    SessionConfig config;
    config.documentsFolder = host.DocumentsFolderPath();
    RunObserver quiet;
    ConversionSession session(config, quiet);
    {
        std::unique_ptr<IniSettingsStore> store =
            o.settingsFile.empty() ? std::make_unique<IniSettingsStore>()
                                   : std::make_unique<IniSettingsStore>(o.settingsFile);
        ApplyDocumentsFolderDefaults(config.settings, FindDocumentsFolder());
        LoadSettings(*store, config.settings, config.tagOptions, config.catalogue);
    }
    if (MatchMergeFormat(o, config) != 0)
        return 2;
    const OutputFormatEntry* format = ApplyOptions(o, config);
    if (!format)
        return 2;

    CatchInterrupts();

    std::error_code ec;
    const std::string mergePath =
        o.toOne.empty() ? std::string() : std::filesystem::absolute(o.toOne, ec).string();
    RunReport report(o.json, o.dryRun);
    RunList run;
    // Windows Media files are read by the generic reader while their runtime is missing: the
    // user is asked whether to fetch it first, once.
    if (!o.dryRun && ProbeNeedsWindowsMedia(config, o.files))
        AnswerProbeNeeds(host);
    CollectSources(session, o.files, *format, mergePath.empty(), gInterrupted, report, run);
    std::vector<SourceFileEntry*>& items = run.items;

    const int jobs = o.jobs > 0 ? static_cast<int>(o.jobs) : UsableCores();
    if (o.dryRun) {
        std::string warning;
        if (!PlanRun(config, run, *format, mergePath, host, report, warning)) {
            if (!warning.empty())
                host.ShowWarning(warning);
            std::fprintf(stderr,
                         "kestrune-cli: nothing would be converted: the run needs a component "
                         "that is missing, or the output file could not be created\n");
        }
    } else if (!items.empty() && !gInterrupted.load()) {
        RunRequest request;
        for (const SourceFileEntry* item : items)
            request.items.push_back(*item);
        request.format = *format;
        request.mergePath = mergePath;
        request.workers = mergePath.empty() ? jobs : 1;
        std::vector<RunPresenter::Item> shown;
        for (size_t i = 0; i < items.size(); ++i)
            shown.push_back({static_cast<int>(i), FileNameOf(items[i]->path)});
        RunPresenter presenter(host, std::move(shown),
                               mergePath.empty() ? format->DisplayLabel() : FileNameOf(mergePath));
        // Several files at once: one line per finished file only.
        CliRunObserver observer(host, presenter, run, report,
                                request.workers == 1 || items.size() == 1, !mergePath.empty());
        if (AnswerRunNeeds(CheckRunNeeds(config, request.items, *format), config.programFolder,
                           host))
            RunConversion(config, request, observer);
        host.ClearLine();
        if (!gInterrupted.load() && observer.Ended() == 0)
            std::fprintf(stderr,
                         "kestrune-cli: nothing was converted: the run needs a component that is "
                         "missing (the Windows Media runtime or the MIDI sound font), or the "
                         "output file could not be created\n");
    }
    // Files a cancelled run never reached count as cancelled; files a run that ended early
    // never reached, as failed.
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;
    report.Finish(gInterrupted.load() ? FileStatus::kCancelled : FileStatus::kFailed, wall.count());
    if (gInterrupted.load())
        return 128 + gSignal.load();  // 130 for Ctrl+C, 143 for SIGTERM
    // A file left alone by the skip policy is what was asked for, not a failure.
    return report.Count(FileStatus::kFailed) > 0 ? 1 : 0;
}

}  // namespace kestrune::cli
