#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/convert_settings.h"
#include "engine/create_reader.h"
#include "engine/output_claim.h"
#include "engine/output_files.h"
#include "engine/session_config.h"
#include "readers/source_type.h"
#include "writers/output_catalogue.h"

namespace kestrune {

class AudioReader;
class AudioWriter;
class ConversionHost;

// How one step of an item ended: the conversion, or a pass before it.
enum class StepOutcome {
    kDone,       // converted, or the pass ran through
    kNoAudio,    // the file holds no audio
    kFailed,     // FailureDetail may say why
    kCancelled,  // Cancel was pressed
};

// The engine's object for converting: one item at a time, a list of items into one output
// each, or a list into one file. It is configured once with a SessionConfig that the caller
// owns and the session reads at every step: the window makes its session at start-up, after
// LoadSettings filled the configuration, and what the Options sheet changes in place holds
// from the next run on. The session keeps the state of the current run, which callers read
// through the getters below but never write. Each session is independent of every other, so
// several may convert side by side in different threads; it is neither copied nor moved (its
// host and configuration are references, and the drivers hand out pointers to its state).
class ConversionSession {
public:
    ConversionSession(SessionConfig& config, ConversionHost& host);
    ConversionSession(const ConversionSession&) = delete;
    ConversionSession& operator=(const ConversionSession&) = delete;
    ConversionSession(ConversionSession&&) = delete;
    ConversionSession& operator=(ConversionSession&&) = delete;

    SessionConfig& config() { return config_; }
    const SessionConfig& config() const { return config_; }
    ConversionHost& host() { return host_; }

    // --- The state of the current run, read only ---------------------------------------------
    // 1 when the reader of the last step was the source type's dedicated reader.
    int UsedDedicatedReader() const { return usedDedicatedReader_; }
    // Why the last step failed, one line; empty when there is nothing to add.
    const std::string& FailureDetail() const { return failureDetail_; }
    // The peak-derived gain of the normalising pass for the current item, -1 when there is none.
    float NormalizationGain() const { return normalizationGain_; }
    // The gain used for the current (or last) item, 1.0 when none.
    float AppliedGain() const { return appliedGain_; }
    // 1 once the MIDI sound font was installed in the decoding layer.
    int SoundFontLoaded() const { return soundFontLoaded_; }
    // The list item being converted (its name is shown even for a substitute source), or null
    // between items, and its 1-based position among the items of the run.
    const SourceFileEntry* CurrentItem() const { return currentItem_; }
    int RunPosition() const { return runPosition_; }
    // The rate and channel count every item of the current merge is converted to.
    int MergeRate() const { return mergeRate_; }
    int MergeChannels() const { return mergeChannels_; }

    // Empties FailureDetail: the window does so before it adds a list of files, so that the
    // reason shown afterwards belongs to one of them.
    void ClearFailureDetail() { failureDetail_.clear(); }

    // Installs the sound font beside the program (config().programFolder + "ct4mgm.sf2") as the
    // decoding layer's default, as the window does at start-up; SoundFontLoaded records the
    // result, which is also returned.
    int LoadDefaultSoundFont();

    // Probes a file for the list: fills entry (outputPath empty) and returns true, or false with
    // the reason in FailureDetail when no reader could open it.
    bool ProbeSource(const std::string& path, SourceFileEntry& entry);

    // One output per item, in order. rows are the items' rows in the file list.
    void ConvertList(const std::vector<SourceFileEntry*>& items, const std::vector<int>& rows,
                     const OutputFormatEntry& format);
    // Every item, in order, into the one file that host.AskSavePath names (or mergePath when it
    // is not empty).
    void ConvertListToOne(const std::vector<SourceFileEntry*>& items, const std::vector<int>& rows,
                          const OutputFormatEntry& format, const std::string& mergePath = {});

    // For drivers that spread one run over several sessions: the checks made once before a run
    // (false: the run ends), a session for another thread of that run, and one item of the run
    // at the given 1-based position. When claim holds a name (the caller claimed it with
    // PrepareOutputPath), the item's output goes there; otherwise its name is chosen now.
    // ConvertItem returns false when the run was cancelled.
    bool PreRunChecks(const std::vector<SourceFileEntry*>& items, const OutputFormatEntry& format);
    // The same configuration, and the sound font as this session found it in PreRunChecks.
    ConversionSession WorkerSession(ConversionHost& host) const;
    bool ConvertItem(SourceFileEntry& item, int row, int position, int itemCount,
                     const OutputFormatEntry& format, OutputClaim claim = {});

    // --- The steps of one item, as the drivers run them ---------------------------------------
    // A step that fails with the source type's dedicated reader (UsedDedicatedReader) is run
    // once more with ReaderTry::kGenericOnly by the drivers; a failure no other reader can
    // mend (the skip, the output) leaves UsedDedicatedReader at 0.
    //
    // Converts one source into source.outputPath with the given output format: kDone when an
    // output with at least one byte was written; a failed or cancelled output is removed. The
    // output is written under a partial name (OutputClaim) and replaces whatever file had its
    // name only once it is whole; a path that is not a regular file (a device) is written
    // straight.
    StepOutcome ConvertFile(const SourceFileEntry& source, const OutputFormatEntry& format,
                            ReaderTry tries = ReaderTry::kDedicatedFirst);
    // Copies the PCM of a DTS stream disguised as PCM, unchanged and without a header, into a
    // new temporary ".dts" file whose path lands in source.outputPath: kDone when it holds at
    // least one block; otherwise no temporary file is left.
    StepOutcome ExtractDtsStream(SourceFileEntry& source);
    // The lowest and highest sample of the whole source (0 and 0 when nothing was read): kDone
    // when at least one block was read and the scan ran to its end.
    StepOutcome ScanPeaks(const SourceFileEntry& source, const OutputFormatEntry& format,
                          int16_t& minPeak, int16_t& maxPeak,
                          ReaderTry tries = ReaderTry::kDedicatedFirst);

private:
    ConversionSession(SessionConfig& config, ConversionHost& host, int soundFontLoaded);

    // CreateReader with this session's surroundings; records UsedDedicatedReader and the
    // failure detail.
    ReaderChoice OpenReader(const SourceFileEntry& source, int targetRate, ReaderUse use,
                            ReaderTry tries);
    // A decoding reader that delivers audio at a known rate; false when there is none
    // (choice.hasAudio then says whether the file holds audio at all).
    bool OpenDecoder(const SourceFileEntry& source, int targetRate, ReaderTry tries,
                     ReaderChoice& choice);
    // A step, and when it failed with the dedicated reader, the same step once more with the
    // generic reader: the one place that retry is decided.
    StepOutcome WithGenericRetry(const std::function<StepOutcome(ReaderTry)>& step);
    // How a step that is over ended: done when ok, else cancelled when Cancel was pressed,
    // else failed or without audio.
    StepOutcome Ended(bool ok, bool hasAudio);
    bool EnsureSoundFont();
    // Loads the runtime (and with it the format list); false when it is missing.
    bool EnsureWindowsMediaRuntime();
    void BeginRun(int itemCount);
    void EndRun(const std::vector<SourceFileEntry*>& items, bool cancelled, bool reachedAny);
    // The passes and the conversion of one item with its statuses; false when the run was
    // cancelled. mergeWriter is null for one output per item; claim, when it holds a name, is
    // the item's output.
    bool RunItem(SourceFileEntry& item, int row, int itemCount, const OutputFormatEntry& format,
                 const std::string& overallName, AudioWriter* mergeWriter, OutputClaim claim = {});
    // Every item of a run in order, as its position; false when the run was cancelled.
    bool RunItems(const std::vector<SourceFileEntry*>& items, const std::vector<int>& rows,
                  const OutputFormatEntry& format, const std::string& overallName,
                  AudioWriter* mergeWriter);
    // The writer of a merge, open at path with tags (none when null); merge rate and channels
    // are set for the run.
    std::unique_ptr<AudioWriter> CreateMergeWriter(const OutputFormatEntry& format,
                                                   const std::string& path, int largestRate,
                                                   int channels, const TagSet* tags);
    // ConvertFile into claim's partial file, committed with replace once whole; without a claim
    // one is held on source.outputPath (replacing), unless that is no regular file.
    StepOutcome ConvertFileTo(const SourceFileEntry& source, const OutputFormatEntry& format,
                              ReaderTry tries, OutputClaim* claim, bool replace);
    // ConvertFile into the merge's writer, which stays open across items.
    StepOutcome ConvertFileInto(const SourceFileEntry& source, AudioWriter& writer,
                                ReaderTry tries);
    // The rate a synthesising reader renders at for this output format.
    int RequestedRate(const OutputFormatEntry& format) const;

    // A source opened for a conversion, with its skip and limit in frames.
    struct OpenedSource {
        std::unique_ptr<AudioReader> reader;
        bool hasAudio = true;
        int64_t skipFrames = 0;
        bool limited = false;
        int64_t limitLeft = 0;
    };
    bool OpenSource(const SourceFileEntry& source, int requestedRate, ReaderTry tries,
                    OpenedSource& out);
    // The gain the options give the current item, 0 for none.
    float GainToApply() const;
    // Sets the applied gain and returns the gain to apply, 0 for none.
    float ChooseGain();
    // Converts the open source into writer, which takes outRate and outChannels, and closes
    // the reader: true when at least one block was read and nothing was cancelled or failed.
    // A write that failed is told in FailureDetail and is not retried.
    bool FeedWriter(OpenedSource& src, AudioWriter& writer, int outRate, int outChannels,
                    SourceType sourceType, const std::string& displayName);
    // FeedWriter's block loop: reads, skips, limits, routes, resamples, scales and writes every
    // block. 1 when at least one block was read and nothing was cancelled or failed.
    int RunBlockLoop(OpenedSource& src, AudioWriter& writer, int outRate, int outChannels,
                     SourceType sourceType, const std::string& displayName, bool& writeFailed);

    SessionConfig& config_;
    ConversionHost& host_;
    // Shorthands for the parts of the configuration every step reads.
    const ConvertSettings& settings_;
    const TagOptions& tagOptions_;

    int usedDedicatedReader_ = 0;
    std::string failureDetail_;
    float normalizationGain_ = -1.0f;
    float appliedGain_ = 1.0f;
    int soundFontLoaded_ = 0;
    const SourceFileEntry* currentItem_ = nullptr;
    int runPosition_ = 0;
    int mergeRequestedRate_ = 44100;
    int mergeRate_ = 0;
    int mergeChannels_ = 0;
    std::string mergeOutputPath_;
};

// The "Output" text of a MIDI item when the sound font is missing.
extern const char* const kSoundFontFailure;

// The normalising gain for the peaks of a source, or -1 when none applies: the larger peak
// reaches full scale, and sources that already touch it (or have no negative or no positive
// sample) are left alone.
float GainFromPeaks(int16_t minPeak, int16_t maxPeak);

}  // namespace kestrune
