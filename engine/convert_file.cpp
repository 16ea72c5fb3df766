#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "audio/audio_reader.h"
#include "audio/audio_writer.h"
#include "audio/gain.h"
#include "audio/tag_set.h"
#include "engine/block_loop.h"
#include "engine/conversion_session.h"
#include "engine/progress_meter.h"
#include "engine/resample_stage.h"
#include "engine/tag_choice.h"
#include "engine/writer_plan.h"
#include "readers/track_range_reader.h"
#include "writers/tag_file_writer.h"

namespace kestrune {

namespace fs = std::filesystem;

namespace {

std::string WithoutExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

int ConversionSession::RequestedRate(const OutputFormatEntry& format) const {
    if (format.formatId == FormatId::kAmr || format.formatId == FormatId::kAwb)
        return AmrFamilyRate(format.formatId, settings_);
    return RequestedSampleRate(format);
}

bool ConversionSession::OpenSource(const SourceFileEntry& source, int requestedRate,
                                   ReaderTry tries, OpenedSource& out) {
    ReaderChoice choice;
    const bool opened = OpenDecoder(source, requestedRate, tries, choice);
    out.reader = std::move(choice.reader);
    out.hasAudio = choice.hasAudio;
    if (!opened)
        return false;
    AudioReader& reader = *out.reader;
    out.track = source.track.number ? static_cast<TrackRangeReader*>(out.reader.get()) : nullptr;
    out.trackNumber = source.track.number;
    auto fail = [&] {
        reader.Close();
        out.reader.reset();
        return false;
    };
    out.skipFrames = 0;
    if (settings_.enableSkipLength && settings_.skipLength != 0) {
        if (static_cast<int64_t>(settings_.skipLength) >=
            static_cast<int64_t>(reader.GetDuration()) * 1000) {
            usedDedicatedReader_ = 0;
            Fail(FailureReason::kSkipTooLong);
            return fail();
        }
        out.skipFrames =
            static_cast<int64_t>(reader.GetSampleRate() * (settings_.skipLength * 0.001));
    }
    out.limited = false;
    out.limitLeft = 0;
    if (settings_.enableConvertLength && settings_.convertLength != 0) {
        out.limited = true;
        out.limitLeft =
            static_cast<int64_t>(reader.GetSampleRate() * (settings_.convertLength * 0.001));
    }
    return true;
}

float ConversionSession::GainToApply() const {
    if (settings_.volumeType == VolumeMode::kNormalize) {
        if (normalizationGain_ > 0)
            return normalizationGain_;
    } else if (settings_.volumeType == VolumeMode::kManual) {
        if (settings_.volume != 100)
            return static_cast<float>(settings_.volume) * 0.01f;
    }
    return 0.0f;
}

float ConversionSession::ChooseGain() {
    const float gain = GainToApply();
    appliedGain_ = gain != 0.0f ? gain : 1.0f;
    return gain;
}

bool ConversionSession::FeedWriter(OpenedSource& src, AudioWriter& writer, int outRate,
                                   int outChannels, SourceType sourceType) {
    bool writeFailed = false;
    const bool ok = RunBlockLoop(src, writer, outRate, outChannels, sourceType, writeFailed) == 1;
    src.reader->Close();
    src.reader.reset();
    if (writeFailed) {
        usedDedicatedReader_ = 0;
        Fail(FailureReason::kWriteFailed);
        return false;
    }
    return ok;
}

int ConversionSession::RunBlockLoop(OpenedSource& src, AudioWriter& writer, int outRate,
                                    int outChannels, SourceType sourceType, bool& writeFailed) {
    AudioReader& reader = *src.reader;
    const int sourceRate = reader.GetSampleRate();
    const SourceRouting routing =
        RouteSource(settings_, sourceRate, reader.GetChannels(), outRate, outChannels);
    const int sourceChannels = routing.pick ? 1 : reader.GetChannels();
    const float gain = ChooseGain();
    BlockLoop loop(reader);

    // Route the channels: which buffers the resampler and the writer see.
    int16_t* inL = loop.Left();
    int16_t* inR = loop.Right();
    if (routing.pick) {
        if (settings_.monoType == MonoMix::kRight && inR)
            inL = inR;
        inR = nullptr;
    }
    std::unique_ptr<ResampleStage> stage;
    std::vector<int16_t> outLeft, outRight;
    int16_t* wL = inL;
    int16_t* wR = nullptr;
    int piece = kBlockFrames;
    if (routing.resample) {
        stage = std::make_unique<ResampleStage>();
        stage->inputChannels = sourceChannels;
        stage->inputSampleRate = sourceRate;
        stage->inputBitsPerSample = 16;
        stage->outputChannels = outChannels;
        stage->outputSampleRate = outRate;
        stage->outputBitsPerSample = 16;
        if (!stage->Configure())
            return 0;
        // A block goes through in pieces whose output fits a bounded buffer, however far apart
        // the rates are.
        piece = stage->PieceFrames();
        const size_t outFrames = static_cast<size_t>(stage->OutputCapacity(piece));
        outLeft.resize(outFrames);
        if (outChannels == 2)
            outRight.resize(outFrames);
        wL = outLeft.data();
        wR = outRight.empty() ? nullptr : outRight.data();
    } else if (outChannels == 2) {
        wR = sourceChannels < outChannels ? inL : inR;
    }

    // Gain once per sample, then the writer; a write that fails ends the file.
    auto emit = [&](int n) {
        if (n <= 0 || writeFailed)
            return;
        if (gain != 0.0f) {
            ApplyGain(wL, n, gain);
            if (wR && wR != wL)
                ApplyGain(wR, n, gain);
        }
        if (!writer.Write(wL, outChannels == 2 ? wR : nullptr, n))
            writeFailed = true;
    };

    const bool synthesised = sourceType == SourceType::kTracker || sourceType == SourceType::kMidi;
    const int64_t length = reader.GetLength();
    ProgressMeter meter(observer_, currentIndex_, Pass::kConverting, length);
    const BlockLoop::End end = loop.Run(observer_, meter, 1, [&](int n, int64_t pos) {
        if (src.skipFrames > 0) {
            src.skipFrames -= n;
            if (src.skipFrames >= 0)
                return BlockLoop::Next::kContinue;  // all of it skipped
            // The block's tail is the first audio that counts.
            const int keep = static_cast<int>(-src.skipFrames);
            std::copy(loop.Left() + (n - keep), loop.Left() + n, loop.Left());
            if (loop.Right())
                std::copy(loop.Right() + (n - keep), loop.Right() + n, loop.Right());
            n = keep;
            src.skipFrames = 0;
        }
        if (src.limited) {
            if (src.limitLeft <= 0)
                return BlockLoop::Next::kStop;
            if (n >= src.limitLeft) {
                n = static_cast<int>(src.limitLeft);
                src.limitLeft = 0;
            } else {
                src.limitLeft -= n;
            }
        }
        if (!stage)
            emit(n);
        for (int at = 0; stage && at < n && !writeFailed; at += piece) {
            const int m = std::min(piece, n - at);
            emit(stage->Process(inL + at, inR ? inR + at : nullptr, m, wL, wR));
        }
        if (writeFailed)
            return BlockLoop::Next::kFail;
        if (synthesised && pos >= length)
            return BlockLoop::Next::kStop;
        return BlockLoop::Next::kContinue;
    });
    // An image that ends before the track does is a sheet that does not fit it: no other
    // reader would mend that.
    if ((end == BlockLoop::End::kEnded || end == BlockLoop::End::kNothingRead) && src.track &&
        src.track->EndedShort()) {
        usedDedicatedReader_ = 0;
        Fail(FailureReason::kTrackPastEnd, std::to_string(src.trackNumber));
        return 0;
    }
    if (end != BlockLoop::End::kEnded && end != BlockLoop::End::kStopped)
        return 0;
    // What the resampler still holds belongs to the end of the file.
    if (stage) {
        for (int m = stage->Flush(wL, wR); m > 0 && !writeFailed; m = stage->Flush(wL, wR))
            emit(m);
    }
    meter.Finish();
    return writeFailed ? 0 : 1;
}

StepOutcome ConversionSession::ConvertFile(const SourceFileEntry& source,
                                           const OutputFormatEntry& format, ReaderTry tries) {
    return ConvertFileTo(source, format, tries, nullptr, true);
}

StepOutcome ConversionSession::ConvertFileTo(const SourceFileEntry& source,
                                             const OutputFormatEntry& format, ReaderTry tries,
                                             OutputClaim* claim, bool replace) {
    OpenedSource src;
    if (!OpenSource(source, RequestedRate(format), tries, src))
        return Ended(false, src.hasAudio);
    auto closeReader = [&] {
        src.reader->Close();
        src.reader.reset();
    };
    AudioReader& reader = *src.reader;

    WriterPlan plan;
    if (!PlanWriter(format, settings_, config_.windowsMedia, reader.GetSampleRate(),
                    reader.GetChannels(), WriterFor::kOneSource, plan)) {
        closeReader();
        usedDedicatedReader_ = 0;
        return Ended(false, src.hasAudio);
    }
    AudioWriter& writer = *plan.writer;

    // Formats whose files take no tags at all are not asked to.
    TagSet tags;
    bool tagged = false;
    if (format.getsTags || FinishedFileTakesTags(format)) {
        const std::string title =
            tagOptions_.titleAsFileName ? WithoutExtension(DisplayName(source)) : tagOptions_.title;
        int track = 0;
        if (tagOptions_.trackNumType == TrackNumMode::kRunPosition)
            track = runPosition_;
        else if (tagOptions_.trackNumType == TrackNumMode::kCustom)
            track = tagOptions_.customTrackNum;
        tagged = ChooseOutputTags(settings_, tagOptions_, source, reader, title, track,
                                  GainToApply() != 0.0f, tags);
        if (tagged && (format.getsTags || TagsGoIntoFinishedFile(format, tags)))
            writer.SetTags(tags);
    }

    // Never let a writer open (and truncate) the source itself, whatever the spelling.
    if (source.outputPath.empty() || SameFile(source.outputPath, source.path)) {
        closeReader();
        usedDedicatedReader_ = 0;
        Fail(FailureReason::kOutputIsSource);
        return Ended(false, src.hasAudio);
    }
    // The output is written under its partial name and gets its own once whole.
    OutputClaim own;
    if (!claim && !IsSpecialFile(source.outputPath)) {
        if (own.Hold(ResolvedOutputPath(source.outputPath), source.path) ==
            OutputClaim::Take::kTaken)
            claim = &own;
    }
    if ((!claim && !IsSpecialFile(source.outputPath)) || (claim && !claim->Restart())) {
        closeReader();
        usedDedicatedReader_ = 0;
        Fail(FailureReason::kCreateOutput, source.outputPath);
        return Ended(false, src.hasAudio);
    }
    const std::string writePath = claim ? claim->PartialPath() : source.outputPath;
    writer.SetPath(writePath);
    if (!writer.Open()) {
        closeReader();
        plan.writer.reset();
        if (!claim)
            RemoveOutput(source.outputPath, source.path);
        usedDedicatedReader_ = 0;
        return Ended(false, src.hasAudio);
    }

    bool ok = FeedWriter(src, writer, plan.rate, plan.channels, source.sourceType);
    writer.Close();
    const bool whole = writer.Completed();
    plan.writer.reset();
    if (ok && !whole) {
        // The end of the file (its trailer, the last of its data) could not be written.
        ok = false;
        usedDedicatedReader_ = 0;
        Fail(FailureReason::kWriteFailed);
    }
    if (ok) {
        std::error_code ec;
        const auto size = fs::file_size(writePath, ec);
        ok = !ec && size != 0;
    }
    // The tags its writer could not write go into the file before it takes its name (a device
    // written straight gets none of them).
    if (ok && tagged && claim && TagsGoIntoFinishedFile(format, tags) &&
        !WriteTagsToFile(writePath, format, tags)) {
        ok = false;
        usedDedicatedReader_ = 0;
        Fail(FailureReason::kWriteFailed);
    }
    if (ok && claim && !claim->Commit(replace)) {
        ok = false;
        usedDedicatedReader_ = 0;
        Fail(FailureReason::kCreateOutput, claim->Target());
    }
    // A failed partial file stays with its claim: emptied by the next attempt, removed when
    // the claim is given up.
    if (!ok && !claim)
        RemoveOutput(source.outputPath, source.path);
    return Ended(ok, src.hasAudio);
}

}  // namespace kestrune
