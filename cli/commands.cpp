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
            codecs = "-";
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
        SourceFileEntry entry;
        const ProbeResult probed = session.ProbeSource(path, entry);
        if (!probed.opened) {
            const std::string detail = FailureDetailText(probed.failure);
            const std::string why = detail.empty() ? "no reader can open this file" : detail;
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

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ParseInt(const std::string& text, long long& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return false;
    out = v;
    return true;
}

// An output format by id, extension or label (letter case ignored).
const OutputFormatEntry* FindFormat(const OutputCatalogue& catalogue, const std::string& text) {
    long long id = 0;
    if (ParseInt(text, id))
        return FindOutputFormat(catalogue, static_cast<FormatId>(id));
    const std::string wanted = Lower(text[0] == '.' ? text.substr(1) : text);
    for (const OutputFormatEntry& row : catalogue)
        if (Lower(row.extension) == wanted)
            return &row;
    for (const OutputFormatEntry& row : catalogue)
        if (Lower(row.DisplayLabel()) == wanted)
            return &row;
    return nullptr;
}

// A codec of the row by id (hex or decimal) or by a piece of its label.
const CodecEntry* FindCodec(const OutputFormatEntry& row, const std::string& text) {
    long long id = 0;
    const bool numeric = ParseInt(text, id);
    for (const CodecEntry* c : row.allowedCodecs) {
        if (numeric ? c->codecId == id : Lower(c->label).find(Lower(text)) != std::string::npos)
            return c;
    }
    return nullptr;
}

struct ConvertOptions {
    std::string format, outputDir, ifExists, mono, tags, track, codec, toOne, settingsFile;
    std::map<std::string, std::string> customTags;
    bool sameFolder = false, keepTree = false, normalize = false, dtsCda = false, browse = false;
    long long skip = -1, length = -1, volume = -1, rate = -1, bitRate = -1, channels = -1, jobs = 0;
    Answer answer = Answer::kAsk;
    std::vector<std::string> files;
    // For scripts: where more files are listed, how the results are shown, and whether
    // anything is done at all.
    std::vector<std::string> filesFrom;
    bool nulSeparated = false, json = false, dryRun = false;
};

// Parses convert's arguments; returns 0, or 2 after a message on a usage error.
int ParseConvert(const std::vector<std::string>& args, ConvertOptions& o) {
    static const char* const kTagNames[] = {"title", "artist",  "album",    "year",
                                            "genre", "comment", "composer", "copyright"};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        auto number = [&](long long& out) {
            std::string text;
            return value(text) && ParseInt(text, out) && out >= 0;
        };
        bool ok = true;
        if (a == "-f" || a == "--format")
            ok = value(o.format);
        else if (a == "-o" || a == "--output-dir")
            ok = value(o.outputDir);
        else if (a == "--same-folder")
            o.sameFolder = true;
        else if (a == "--keep-tree")
            o.keepTree = true;
        else if (a == "--if-exists")
            ok = value(o.ifExists);
        else if (a == "--skip")
            ok = number(o.skip);
        else if (a == "--length")
            ok = number(o.length);
        else if (a == "--mono")
            ok = value(o.mono);
        else if (a == "--normalize")
            o.normalize = true;
        else if (a == "--volume")
            ok = number(o.volume);
        else if (a == "--tags")
            ok = value(o.tags);
        else if (a == "--track")
            ok = value(o.track);
        else if (a == "--codec")
            ok = value(o.codec);
        else if (a == "--rate")
            ok = number(o.rate);
        else if (a == "--bitrate")
            ok = number(o.bitRate);
        else if (a == "--channels")
            ok = number(o.channels);
        else if (a == "--dts-cda")
            o.dtsCda = true;
        else if (a == "--browse")
            o.browse = true;
        else if (a == "--yes")
            o.answer = Answer::kYes;
        else if (a == "--no")
            o.answer = Answer::kNo;
        else if (a == "-j" || a == "--jobs")
            ok = number(o.jobs) && o.jobs >= 1;
        else if (a == "--settings")
            ok = value(o.settingsFile);
        else if (a == "--to-one")
            ok = value(o.toOne);
        else if (a == "--files-from")
            ok = value(o.filesFrom.emplace_back());
        else if (a == "--null")
            o.nulSeparated = true;
        else if (a == "--json")
            o.json = true;
        else if (a == "--dry-run")
            o.dryRun = true;
        else if (a == "--") {
            o.files.insert(o.files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        } else if (a.size() > 2 && a.rfind("--", 0) == 0) {
            const std::string name = a.substr(2);
            bool known = false;
            for (const char* tag : kTagNames)
                known = known || name == tag;
            if (!known)
                return UsageError("unknown option " + a);
            ok = value(o.customTags[name]);
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option " + a);
        } else {
            o.files.push_back(a);
        }
        if (!ok)
            return UsageError("option " + a + " needs a valid value");
    }
    // A list may be empty (a shard with nothing left to do); the command line alone may not.
    if (o.files.empty() && o.filesFrom.empty())
        return UsageError("convert needs at least one file");
    if (o.nulSeparated && o.filesFrom.empty())
        return UsageError("--null needs --files-from");
    if (!o.ifExists.empty() && o.ifExists != "rename" && o.ifExists != "overwrite" &&
        o.ifExists != "skip")
        return UsageError("--if-exists takes rename, overwrite or skip");
    if (!o.mono.empty() && o.mono != "avg" && o.mono != "left" && o.mono != "right")
        return UsageError("--mono takes avg, left or right");
    if (!o.tags.empty() && o.tags != "source" && o.tags != "custom" && o.tags != "none")
        return UsageError("--tags takes source, custom or none");
    if (o.channels > 2)
        return UsageError("--channels takes 0, 1 or 2");
    if (o.normalize && o.volume >= 0)
        return UsageError("--normalize and --volume exclude each other");
    return 0;
}

// --to-one OUT: the extension of OUT and the format agree. Without -f, OUT's extension chooses
// the format (the saved one when it has that extension); with -f, another extension is a usage
// error. Returns 0, or 2 after a usage message.
int MatchMergeFormat(ConvertOptions& o, const SessionConfig& s) {
    if (o.toOne.empty())
        return 0;
    const std::string name = FileNameOf(o.toOne);
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : Lower(name.substr(dot + 1));
    if (!o.format.empty()) {
        const OutputFormatEntry* row = FindFormat(s.catalogue, o.format);
        if (row && Lower(row->extension) != ext)
            return UsageError("--to-one " + o.toOne + " does not end in ." + row->extension +
                              ", the extension of format " + row->DisplayLabel());
        return 0;
    }
    const OutputFormatEntry* saved = FindOutputFormat(s.catalogue, s.settings.outputFormat);
    const OutputFormatEntry* chosen = saved && Lower(saved->extension) == ext ? saved : nullptr;
    for (const OutputFormatEntry& row : s.catalogue)
        if (!chosen && !ext.empty() && Lower(row.extension) == ext)
            chosen = &row;
    if (!chosen)
        return UsageError("--to-one " + o.toOne +
                          ": its extension names no output format; give one with -f "
                          "(see kestrune-cli formats)");
    o.format = std::to_string(StoredValue(chosen->formatId));
    return 0;
}

// Applies the options to the configuration's settings and returns the chosen row, or null
// after a usage message.
OutputFormatEntry* ApplyOptions(const ConvertOptions& o, SessionConfig& s) {
    ConvertSettings& st = s.settings;
    if (!o.format.empty()) {
        const OutputFormatEntry* row = FindFormat(s.catalogue, o.format);
        if (!row) {
            UsageError("unknown format \"" + o.format + "\" (see kestrune-cli formats)");
            return nullptr;
        }
        st.outputFormat = row->formatId;
    }
    OutputFormatEntry* row = FindOutputFormat(s.catalogue, st.outputFormat);
    if (!row)
        row = &s.catalogue.front();
    if (!o.outputDir.empty()) {
        std::error_code ec;
        st.destOutputFolderOpt = kDestSpecificFolder;
        st.destSpecifiedFolder = std::filesystem::absolute(o.outputDir, ec).string();
    }
    if (o.sameFolder)
        st.destOutputFolderOpt = kDestSameAsSource;
    if (o.keepTree)
        st.createDirs = 1;
    if (o.ifExists == "rename")
        st.targetExistsOpt = kTargetRename;
    if (o.ifExists == "overwrite")
        st.targetExistsOpt = kTargetOverwrite;
    if (o.ifExists == "skip")
        st.targetExistsOpt = kTargetSkip;
    if (o.skip >= 0) {
        st.enableSkipLength = o.skip > 0;
        st.skipLength = static_cast<uint32_t>(o.skip);
    }
    if (o.length >= 0) {
        st.enableConvertLength = o.length > 0;
        st.convertLength = static_cast<uint32_t>(o.length);
    }
    if (o.normalize)
        st.volumeType = kVolumeNormalize;
    if (o.volume >= 0) {
        st.volumeType = kVolumeManual;
        st.volume = static_cast<int>(o.volume);
    }
    if (o.tags == "source")
        st.id3TagType = kTagsFromSource;
    if (o.tags == "custom")
        st.id3TagType = kTagsCustom;
    if (o.tags == "none")
        st.id3TagType = kTagsNone;
    TagOptions& t = s.tagOptions;
    for (const auto& [name, text] : o.customTags) {
        if (name == "title") {
            t.title = text;
            t.titleAsFileName = 0;
        }
        if (name == "artist")
            t.artist = text;
        if (name == "album")
            t.album = text;
        if (name == "year")
            t.year = text;
        if (name == "genre")
            t.genre = text;
        if (name == "comment")
            t.comment = text;
        if (name == "composer")
            t.composer = text;
        if (name == "copyright")
            t.copyright = text;
    }
    if (!o.track.empty()) {
        long long n = 0;
        if (o.track == "auto") {
            t.trackNumType = kTrackRunPosition;
        } else if (ParseInt(o.track, n) && n >= 0) {
            t.trackNumType = n > 0 ? kTrackCustom : kTrackNone;
            t.customTrackNum = static_cast<int>(n);
        } else {
            UsageError("--track takes a number or auto");
            return nullptr;
        }
    }
    if (o.dtsCda)
        st.enableDTSForCDA = 1;
    st.browseOutputFolder = o.browse ? 1 : 0;

    // Encoding parameters: any of them makes the row manual for this run; what is not given
    // keeps the row's manual value, or "as the source / automatic" when the row was automatic.
    const bool manual =
        !o.codec.empty() || o.rate >= 0 || o.bitRate >= 0 || o.channels >= 0 || !o.mono.empty();
    if (!o.mono.empty())
        st.monoType = o.mono == "left" ? kMonoLeft : o.mono == "right" ? kMonoRight : kMonoAverage;
    if (manual && row->HasStoredParameters()) {
        if (row->autoParams) {
            row->autoParams = 0;
            row->sampleRate = 0;
            row->bitRate = 0;
            row->channels = 0;
        }
        if (!o.codec.empty()) {
            const CodecEntry* c = FindCodec(*row, o.codec);
            if (!c) {
                UsageError("format " + row->DisplayLabel() + " has no codec \"" + o.codec +
                           "\" (see kestrune-cli formats)");
                return nullptr;
            }
            row->codecId = c->codecId;
        }
        if (o.rate >= 0)
            row->sampleRate = static_cast<int>(o.rate);
        if (o.bitRate >= 0)
            row->bitRate = static_cast<int>(o.bitRate);
        if (o.channels >= 0)
            row->channels = static_cast<int>(o.channels);
        if (!o.mono.empty() && o.channels < 0)
            row->channels = 1;
    } else if (manual) {
        // AMR and Windows Media keep their parameters in the general options.
        if (o.rate >= 0)
            st.wmaSampleRate = static_cast<int>(o.rate);
        if (o.bitRate >= 0)
            st.wmaBitRate = static_cast<int>(o.bitRate);
        if (o.channels > 0)
            st.wmaChannels = static_cast<int>(o.channels);
        if (!o.mono.empty() && o.channels < 0)
            st.wmaChannels = 1;
        if (o.rate >= 0 || o.bitRate >= 0 || o.channels >= 0 || !o.mono.empty())
            st.wmaAutoEncParam = 0;
    }
    return row;
}

// A run as kestrune-cli shows it: each item's result into the report as soon as the item
// ends (typed, never read back from a text), the progress line while one file at a time
// converts, and Ctrl+C as cancel. The calls come one at a time, from the workers' threads.
class CliRunObserver : public RunObserver {
public:
    CliRunObserver(CliHost& host, RunPresenter& presenter, RunList& run, RunReport& report,
                   bool showProgress)
        : host_(host),
          presenter_(presenter),
          run_(run),
          report_(report),
          showProgress_(showProgress),
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
        r.seconds = started_[row]
                        ? std::chrono::duration<double>(Clock::now() - *started_[row]).count()
                        : 0.0;
        run_.items[row]->outputPath = r.output;
        report_.Done(index);
        ++ended_;
    }
    void RunEnded(const RunSummary& summary) override {
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
                                request.workers == 1 || items.size() == 1);
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
