#include "cli/commands.h"

#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "cli/cli_host.h"
#include "cli/convert_options.h"
#include "cli/file_list.h"
#include "cli/parallel_run.h"
#include "cli/run_list.h"
#include "cli/run_report.h"
#include "engine/conversion_session.h"
#include "engine/source_list.h"
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
    std::atomic<bool> cancel{false};
    CliHost host(Answer::kNo, cancel);
    SessionConfig config;
    ConversionSession session(config, host);
    int status = 0;
    std::printf("File\tDuration\tBit Rate\tSample Rate\tChannels\n");
    for (const std::string& path : args) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec)) {
            std::fprintf(stderr, "kestrune-cli: %s: no such file\n", path.c_str());
            status = 1;
            continue;
        }
        SourceFileEntry entry;
        session.ClearFailureDetail();
        if (!session.ProbeSource(path, entry)) {
            const std::string why = session.FailureDetail().empty() ? "no reader can open this file"
                                                                    : session.FailureDetail();
            std::fprintf(stderr, "kestrune-cli: %s: %s\n", path.c_str(), why.c_str());
            status = 1;
            continue;
        }
        const ColumnTexts t = ColumnTextsOf(entry);
        std::printf("%s\t%s\t%s\t%s\t%s\n", t.file.c_str(), t.duration.c_str(), t.bitRate.c_str(),
                    t.sampleRate.c_str(), t.channels.c_str());
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

// Hands each item's final "Output" text (and "Volume" text) on as soon as the item is done,
// with the seconds since the previous item was done: one item runs at a time here.
class ConvertHost : public CliHost {
public:
    using Finished = std::function<void(int row, const std::string& output,
                                        const std::string& volume, double seconds)>;
    using CliHost::CliHost;
    void OnItemDone(Finished finished) {
        finished_ = std::move(finished);
        lastDone_ = std::chrono::steady_clock::now();
    }
    void SetItemVolume(int row, const std::string& text) override { volume_[row] = text; }
    void SetItemOutput(int row, const std::string& text) override {
        if (text == "Preprocessing..." || text == "Normalizing..." || text == "Converting...")
            return;
        ClearLine();
        const auto now = std::chrono::steady_clock::now();
        const std::chrono::duration<double> took = now - lastDone_;
        lastDone_ = now;
        if (finished_)
            finished_(row, text, volume_[row], took.count());
        volume_[row].clear();
    }

private:
    Finished finished_;
    std::chrono::steady_clock::time_point lastDone_;
    std::map<int, std::string> volume_;
};

// The processors this process may run on (a scheduler may grant fewer than the machine has).
int UsableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

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
    ConvertHost host(o.dryRun ? Answer::kNo : o.answer, gInterrupted);
    SessionConfig config;
    ConversionSession session(config, host);
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
    CollectSources(session, o.files, *format, mergePath.empty(), host.DocumentsFolderPath(), report,
                   run);
    std::vector<SourceFileEntry*>& items = run.items;

    int finished = 0;
    auto itemDone = [&](int row, const std::string& text, const std::string& volume,
                        double seconds) {
        const SourceFileEntry& item = *items[static_cast<size_t>(row)];
        const size_t index = run.reportIndex[static_cast<size_t>(row)];
        FileResult& r = report[index];
        r.status = StatusOf(text, !item.outputPath.empty());
        r.output = item.outputPath;
        r.text = text;
        r.volume = volume;
        r.seconds = seconds;
        report.Done(index);
        ++finished;
    };
    const int jobs = o.jobs > 0 ? static_cast<int>(o.jobs) : UsableCores();
    if (o.dryRun) {
        if (!PlanRun(session, run, *format, mergePath, host.DocumentsFolderPath(), report))
            std::fprintf(stderr,
                         "kestrune-cli: nothing would be converted: the run needs a component "
                         "that is missing, or the output file could not be created\n");
    } else if (!items.empty() && !gInterrupted.load()) {
        if (mergePath.empty() && jobs > 1 && items.size() > 1) {
            host.SetQuiet(true);  // several files at once: one line per finished file only
            ConvertListInParallel(session, items, *format, jobs, gInterrupted, itemDone);
            if (config.settings.browseOutputFolder && !gInterrupted.load()) {
                for (const SourceFileEntry* e : items) {
                    if (!e->outputPath.empty() && std::filesystem::exists(e->outputPath, ec)) {
                        host.SelectInExplorer(e->outputPath);
                        break;
                    }
                }
            }
        } else {
            host.OnItemDone(itemDone);
            if (mergePath.empty())
                session.ConvertList(items, run.rows, *format);
            else
                session.ConvertListToOne(items, run.rows, *format, mergePath);
        }
        host.ClearLine();
        if (!gInterrupted.load() && finished == 0)
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
