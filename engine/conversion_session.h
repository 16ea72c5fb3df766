#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_writer.h"
#include "audio/tag_set.h"
#include "engine/convert_settings.h"
#include "engine/create_reader.h"
#include "engine/item_outcome.h"
#include "engine/output_claim.h"
#include "engine/output_files.h"
#include "engine/run_observer.h"
#include "engine/session_config.h"
#include "readers/source_type.h"
#include "writers/output_catalogue.h"

namespace kestrune {

class AudioReader;
class AudioWriter;
class LoudnessMeter;
class TrackRangeReader;
struct CueSheet;

// How one step of an item ended: the conversion, or a pass before it.
enum class StepOutcome {
    kDone,       // converted, or the pass ran through
    kNoAudio,    // the file holds no audio
    kFailed,     // LastFailure may say why
    kCancelled,  // the observer asked to cancel
};

// What probing a file found out besides its columns.
struct ProbeResult {
    bool opened = false;
    // Why not, where there is more to say than that no reader opened it.
    Failure failure;
    // The file's own reader needs the Windows Media runtime, which is missing (the generic
    // reader stood in).
    bool windowsMediaMissing = false;
};

// The engine's worker: it converts one item at a time, and probes files for the list. The
// scheduler (RunConversion) gives each of its workers a session of its own over the caller's
// SessionConfig, which sessions read at every step but never write. It reports to its observer
// (progress and the start of each pass) and asks it whether to cancel. The state of the
// current item is read through the getters below and written only by the session. A session
// is used by one thread at a time; several sessions may convert side by side.
class ConversionSession {
public:
    ConversionSession(SessionConfig& config, RunObserver& observer);
    ConversionSession(const ConversionSession&) = delete;
    ConversionSession& operator=(const ConversionSession&) = delete;

    SessionConfig& config() { return config_; }
    const SessionConfig& config() const { return config_; }

    // --- The state of the current item, read only -------------------------------------------
    // 1 when the reader of the last step was the source type's dedicated reader.
    int UsedDedicatedReader() const { return usedDedicatedReader_; }
    // Why the last step failed; kNone when there is nothing to add.
    const Failure& LastFailure() const { return failure_; }
    // The peak-derived gain of the normalising pass for the current item, -1 when there is none.
    float NormalizationGain() const { return normalizationGain_; }
    // The gain used for the current (or last) item, 1.0 when none.
    float AppliedGain() const { return appliedGain_; }
    // The item's 1-based position in its run (the automatic track number).
    int RunPosition() const { return runPosition_; }
    // The rate and channel count every item of the current merge is converted to.
    int MergeRate() const { return mergeRate_; }
    int MergeChannels() const { return mergeChannels_; }
    // The meter of the current merge's audio, as it goes to its writer; null when the options
    // measure no output or the merge has none.
    const LoudnessMeter* MergeMeter() const { return mergeMeter_.get(); }

    // Probes a file for the list: fills entry (outputPath empty) when a reader opened it.
    ProbeResult ProbeSource(const std::string& path, SourceFileEntry& entry);
    // Probes a file for the list as its rows: a cue sheet gives a row per track of its image
    // (every file it names must open), any other file its one row as ProbeSource gives it.
    ProbeResult ProbeRows(const std::string& path, std::vector<SourceFileEntry>& rows);

    // Runs the passes and the conversion of the item at index of a run (its automatic track
    // number is index + 1) into the name claim holds, or into mergeWriter, which stays open
    // across the items of a merge written to mergePath. The claim is given back whatever the
    // outcome, except with heldBack: a converted output then stays under its partial name, and
    // its claim goes to heldBack for the caller to commit (an album's, once all of it is
    // measured).
    ItemOutcome ConvertItem(const SourceFileEntry& item, int index, const OutputFormatEntry& format,
                            OutputClaim claim, AudioWriter* mergeWriter = nullptr,
                            const std::string& mergePath = {}, OutputClaim* heldBack = nullptr);

    // The tags of a merge whose first item is firstSource, as the tag options say: false when
    // the merged file gets none.
    bool ChooseMergeTags(const OutputFormatEntry& format, const SourceFileEntry& firstSource,
                         TagSet& tags) const;
    // The writer of a merge into path, open, with the tags it writes itself (none when tags is
    // null); merge rate and channels are set for the run. Null when it cannot be made or opened
    // (nothing is left at path then). widest is the widest item's depth: a writer that keeps
    // more than 16 bits is given the items' wide samples.
    std::unique_ptr<AudioWriter> CreateMergeWriter(const OutputFormatEntry& format,
                                                   const std::string& path, int largestRate,
                                                   int channels, const TagSet* tags,
                                                   SampleDepth widest = {});

    // --- The steps of one item, as ConvertItem runs them -------------------------------------
    // A step that fails with the source type's dedicated reader (UsedDedicatedReader) is run
    // once more with ReaderTry::kGenericOnly; a failure no other reader can mend (the skip,
    // the output) leaves UsedDedicatedReader at 0.
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
    // The integrated loudness of the whole source (hasLoudness false for silence) and its peak
    // (true peak with the option): kDone when the measuring ran to its end.
    StepOutcome MeasureLoudness(const SourceFileEntry& source, const OutputFormatEntry& format,
                                bool& hasLoudness, double& lufs, double& peak,
                                ReaderTry tries = ReaderTry::kDedicatedFirst);

private:
    // CreateReader with this session's surroundings; records UsedDedicatedReader and the
    // failure.
    ReaderChoice OpenReader(const SourceFileEntry& source, int targetRate, ReaderUse use,
                            ReaderTry tries);
    // A decoding reader that delivers audio at a known rate; false when there is none
    // (choice.hasAudio then says whether the file holds audio at all).
    bool OpenDecoder(const SourceFileEntry& source, int targetRate, ReaderTry tries,
                     ReaderChoice& choice);
    // A step, and when it failed with the dedicated reader, the same step once more with the
    // generic reader: the one place that retry is decided.
    StepOutcome WithGenericRetry(const std::function<StepOutcome(ReaderTry)>& step);
    // How a step that is over ended: done when ok, else cancelled when cancelling, else failed
    // or without audio.
    StepOutcome Ended(bool ok, bool hasAudio);
    bool Cancelling() { return observer_.CancelRequested(); }
    void Fail(FailureReason reason, std::string detail = {}) {
        failure_ = {reason, std::move(detail)};
    }
    // ConvertFile into claim's partial file, committed with replace once whole (unless hold:
    // then it stays partial); without a claim one is held on source.outputPath (replacing),
    // unless that is no regular file.
    StepOutcome ConvertFileTo(const SourceFileEntry& source, const OutputFormatEntry& format,
                              ReaderTry tries, OutputClaim* claim, bool replace, bool hold = false);
    // ConvertFile into the merge's writer, which stays open across items.
    StepOutcome ConvertFileInto(const SourceFileEntry& source, AudioWriter& writer,
                                ReaderTry tries);
    // The rate a synthesising reader renders at for this output format.
    int RequestedRate(const OutputFormatEntry& format) const;

    // A source opened for a conversion, with its skip and limit in frames.
    struct OpenedSource {
        std::unique_ptr<AudioReader> reader;
        // The reader when it cuts a track from an image (it is then reader itself).
        TrackRangeReader* track = nullptr;
        int trackNumber = 0;
        bool hasAudio = true;
        int64_t skipFrames = 0;
        bool limited = false;
        int64_t limitLeft = 0;
        // Read in the reader's wide blocks although the writer keeps 16 bits: they are
        // reduced with dither rather than cut by the reader.
        bool wideToSixteen = false;
    };
    bool OpenSource(const SourceFileEntry& source, int requestedRate, ReaderTry tries,
                    OpenedSource& out);
    // The gain the options give the current item, 0 for none.
    float GainToApply() const;
    // Sets the applied gain and returns the gain to apply, 0 for none.
    float ChooseGain();
    // Converts the open source into writer, which takes outRate and outChannels (and wide
    // blocks as wide says), and closes the reader: true when at least one block was read and
    // nothing was cancelled or failed. A write that failed is told in LastFailure and is not
    // retried.
    bool FeedWriter(OpenedSource& src, AudioWriter& writer, int outRate, int outChannels,
                    SourceType sourceType, WideInput wide = {}, LoudnessMeter* meter = nullptr);
    // FeedWriter's block loop over blocks of Sample (the contract's int16_t, or the reader's
    // wide int32_t or float): reads, skips, limits, routes, resamples, scales and writes every
    // block. 1 when at least one block was read and nothing was cancelled or failed.
    template <typename Sample>
    int RunBlocks(OpenedSource& src, AudioWriter& writer, int outRate, int outChannels,
                  SourceType sourceType, WideInput wide, LoudnessMeter* meter, bool& writeFailed);
    // Whether the audio going to an item's writer is measured.
    bool MeasuresOutput() const;
    // The rows of the cue sheet at path.
    ProbeResult ProbeSheet(const std::string& path, std::vector<SourceFileEntry>& rows);
    // A row per track of sheet, cut from images (by the FILE name the sheet gives).
    Failure RowsOfSheet(const CueSheet& sheet, const std::string& sheetPath,
                        const std::map<std::string, SourceFileEntry>& images,
                        std::vector<SourceFileEntry>& rows) const;
    // The source's name as the item's title: the list item's, even for a substitute source.
    std::string DisplayName(const SourceFileEntry& source) const;

    SessionConfig& config_;
    RunObserver& observer_;
    // Shorthands for the parts of the configuration every step reads.
    const ConvertSettings& settings_;
    const TagOptions& tagOptions_;

    int usedDedicatedReader_ = 0;
    Failure failure_;
    float normalizationGain_ = -1.0f;
    float appliedGain_ = 1.0f;
    // The meter of the current item's output, once it is converted and measured.
    std::shared_ptr<LoudnessMeter> outputMeter_;
    LoudnessFigures figures_;
    // The item being converted (its name is its title even for a substitute source), or null.
    const SourceFileEntry* currentItem_ = nullptr;
    int currentIndex_ = 0;
    int runPosition_ = 0;
    int mergeRequestedRate_ = 44100;
    int mergeRate_ = 0;
    int mergeChannels_ = 0;
    WideInput mergeWide_;  // what the merge's writer agreed to take
    std::shared_ptr<LoudnessMeter> mergeMeter_;
};

// The normalising gain for the peaks of a source, or -1 when none applies: the larger peak
// reaches full scale, and sources that already touch it (or have no negative or no positive
// sample) are left alone.
float GainFromPeaks(int16_t minPeak, int16_t maxPeak);

// The gain that brings audio of that loudness to target LUFS, lowered so that its peak (a
// fraction of full scale) stays at or below kLoudnessPeakLimitDb; -1 when there is no loudness
// (silence) to bring anywhere.
float GainFromLoudness(bool hasLoudness, double lufs, double peak, int target);

}  // namespace kestrune
