#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <type_traits>
#include <utility>
#include <vector>

#include "audio/audio_reader.h"
#include "audio/audio_writer.h"
#include "audio/gain.h"
#include "audio/tag_set.h"
#include "engine/block_loop.h"
#include "engine/conversion_session.h"
#include "engine/loudness_meter.h"
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
    if (settings_.volumeType == VolumeMode::kNormalize ||
        settings_.volumeType == VolumeMode::kLoudness) {
        if (normalizationGain_ > 0)
            return normalizationGain_;
    } else if (settings_.volumeType == VolumeMode::kManual) {
        if (settings_.volume != 100)
            return static_cast<float>(settings_.volume) * 0.01f;
    }
    return 0.0f;
}

bool ConversionSession::MeasuresOutput() const {
    return settings_.replayGain != ReplayGainMode::kOff ||
           settings_.volumeType == VolumeMode::kLoudness;
}

float ConversionSession::ChooseGain() {
    const float gain = GainToApply();
    appliedGain_ = gain != 0.0f ? gain : 1.0f;
    return gain;
}

bool ConversionSession::FeedWriter(OpenedSource& src, AudioWriter& writer, int outRate,
                                   int outChannels, SourceType sourceType, WideInput wide,
                                   LoudnessMeter* meter) {
    bool writeFailed = false;
    // A source of more than 16 bits is read in its wide blocks when the conversion is its own
    // (a merge's writer was set up for 16 bits before the items were opened).
    SampleFormat blocks = SampleFormat::kS16;
    if (wide.format != SampleFormat::kS16 || src.wideToSixteen)
        blocks = src.reader->GetWideFormat();
    int result;
    switch (blocks) {
        case SampleFormat::kS32:
            result = RunBlocks<int32_t>(src, writer, outRate, outChannels, sourceType, wide, meter,
                                        writeFailed);
            break;
        case SampleFormat::kF32:
            result = RunBlocks<float>(src, writer, outRate, outChannels, sourceType, wide, meter,
                                      writeFailed);
            break;
        default:
            result = RunBlocks<int16_t>(src, writer, outRate, outChannels, sourceType, wide, meter,
                                        writeFailed);
            break;
    }
    const bool ok = result == 1;
    src.reader->Close();
    src.reader.reset();
    if (writeFailed) {
        usedDedicatedReader_ = 0;
        Fail(FailureReason::kWriteFailed);
        return false;
    }
    return ok;
}

namespace {

// Hands a block to the writer in the form it agreed to take: the contract's 16 bits as they
// are, wide blocks as they are where the writer takes their form and width, else brought to it
// (rounded with dither where bits are lost). right may be left itself (one channel twice) or
// null (mono).
template <typename Sample>
class BlockDelivery {
public:
    BlockDelivery(AudioWriter& writer, WideInput take, size_t capacity, bool stereo)
        : writer_(writer), take_(take) {
        const size_t n = capacity * (stereo ? 2 : 1);
        if constexpr (std::is_same_v<Sample, int16_t>) {
            if (take.format == SampleFormat::kS32)
                s32_.resize(n);
            else if (take.format == SampleFormat::kF32)
                f32_.resize(n);
        } else {
            if (take.format == SampleFormat::kS16)
                s16_.resize(n);
            else if (take.format == SampleFormat::kS32 && !Passes())
                s32_.resize(n);
            else if (take.format == SampleFormat::kF32 && !std::is_same_v<Sample, float>)
                f32_.resize(n);
        }
    }

    bool Write(Sample* left, Sample* right, int n) {
        if constexpr (std::is_same_v<Sample, int16_t>) {
            // A 16-bit item of a merge whose writer takes the wide samples of the others.
            if (take_.format == SampleFormat::kS32) {
                auto [l, r] = Convert(left, right, s32_, [&](const int16_t* in, int32_t* out) {
                    for (int i = 0; i < n; ++i)
                        out[i] = static_cast<int32_t>(in[i]) * 65536;
                });
                return writer_.WriteS32(l, r, n) != 0;
            }
            if (take_.format == SampleFormat::kF32) {
                auto [l, r] = Convert(left, right, f32_, [&](const int16_t* in, float* out) {
                    for (int i = 0; i < n; ++i)
                        out[i] = static_cast<float>(in[i]) * (1.0f / 32768.0f);
                });
                return writer_.WriteF32(l, r, n) != 0;
            }
            return writer_.Write(left, right, n) != 0;
        } else {
            switch (take_.format) {
                case SampleFormat::kS16: {
                    auto [l, r] = Convert(left, right, s16_, [&](const Sample* in, int16_t* out) {
                        dither_.ToS16(in, out, n);
                    });
                    return writer_.Write(l, r, n) != 0;
                }
                case SampleFormat::kS32: {
                    if constexpr (std::is_same_v<Sample, int32_t>) {
                        if (Passes())
                            return writer_.WriteS32(left, right, n) != 0;
                    }
                    auto [l, r] = Convert(left, right, s32_, [&](const Sample* in, int32_t* out) {
                        dither_.ToS32(in, out, n, take_.bits);
                    });
                    return writer_.WriteS32(l, r, n) != 0;
                }
                case SampleFormat::kF32: {
                    if constexpr (std::is_same_v<Sample, float>) {
                        return writer_.WriteF32(left, right, n) != 0;
                    } else {
                        auto [l, r] = Convert(left, right, f32_, [&](const Sample* in, float* out) {
                            S32ToF32(in, out, n);
                        });
                        return writer_.WriteF32(l, r, n) != 0;
                    }
                }
            }
            return false;
        }
    }

private:
    // Integer blocks the writer keeps whole go through untouched.
    bool Passes() const { return std::is_same_v<Sample, int32_t> && take_.bits >= 32; }

    template <typename Out, typename F>
    std::pair<Out*, Out*> Convert(const Sample* left, const Sample* right, std::vector<Out>& buffer,
                                  F&& convert) {
        Out* l = buffer.data();
        convert(left, l);
        if (!right)
            return {l, nullptr};
        if (right == left)
            return {l, l};
        Out* r = l + buffer.size() / 2;
        convert(right, r);
        return {l, r};
    }

    AudioWriter& writer_;
    WideInput take_;
    Ditherer dither_;
    std::vector<int16_t> s16_;
    std::vector<int32_t> s32_;
    std::vector<float> f32_;
};

}  // namespace

template <typename Sample>
int ConversionSession::RunBlocks(OpenedSource& src, AudioWriter& writer, int outRate,
                                 int outChannels, SourceType sourceType, WideInput wide,
                                 LoudnessMeter* loudness, bool& writeFailed) {
    using Next = BlockLoopSteps::Next;
    using End = BlockLoopSteps::End;
    AudioReader& reader = *src.reader;
    const int sourceRate = reader.GetSampleRate();
    const SourceRouting routing =
        RouteSource(settings_, sourceRate, reader.GetChannels(), outRate, outChannels);
    const int sourceChannels = routing.pick ? 1 : reader.GetChannels();
    const float gain = ChooseGain();
    BasicBlockLoop<Sample> loop(reader);

    // Route the channels: which buffers the resampler and the writer see.
    Sample* inL = loop.Left();
    Sample* inR = loop.Right();
    if (routing.pick) {
        if (settings_.monoType == MonoMix::kRight && inR)
            inL = inR;
        inR = nullptr;
    }
    std::unique_ptr<ResampleStage> stage;
    std::vector<Sample> outLeft, outRight;
    Sample* wL = inL;
    Sample* wR = nullptr;
    int piece = kBlockFrames;
    size_t most = kBlockFrames;  // the most frames handed on at once
    if (routing.resample) {
        stage = std::make_unique<ResampleStage>();
        stage->inputChannels = sourceChannels;
        stage->inputSampleRate = sourceRate;
        stage->outputChannels = outChannels;
        stage->outputSampleRate = outRate;
        const int bits = std::is_same_v<Sample, int16_t> ? 16 : 32;
        stage->inputBitsPerSample = bits;
        stage->outputBitsPerSample = bits;
        stage->floatSamples = std::is_same_v<Sample, float>;
        if (!stage->Configure())
            return 0;
        // A block goes through in pieces whose output fits a bounded buffer, however far apart
        // the rates are.
        piece = stage->PieceFrames();
        most = static_cast<size_t>(stage->OutputCapacity(piece));
        outLeft.resize(most);
        if (outChannels == 2)
            outRight.resize(most);
        wL = outLeft.data();
        wR = outRight.empty() ? nullptr : outRight.data();
    } else if (outChannels == 2) {
        wR = sourceChannels < outChannels ? inL : inR;
    }
    BlockDelivery<Sample> delivery(writer, wide, most, outChannels == 2);

    // Gain once per sample, then the meter (it measures what the writer gets) and the writer;
    // a write that fails ends the file.
    auto emit = [&](int n) {
        if (n <= 0 || writeFailed)
            return;
        if (gain != 0.0f) {
            ApplyGain(wL, n, gain);
            if (wR && wR != wL)
                ApplyGain(wR, n, gain);
        }
        if (loudness)
            loudness->Add(wL, outChannels == 2 ? wR : nullptr, n);
        if (!delivery.Write(wL, outChannels == 2 ? wR : nullptr, n))
            writeFailed = true;
    };

    const bool synthesised = sourceType == SourceType::kTracker || sourceType == SourceType::kMidi;
    const int64_t length = reader.GetLength();
    ProgressMeter meter(observer_, currentIndex_, Pass::kConverting, length);
    const End end = loop.Run(observer_, meter, 1, [&](int n, int64_t pos) {
        if (src.skipFrames > 0) {
            src.skipFrames -= n;
            if (src.skipFrames >= 0)
                return Next::kContinue;  // all of it skipped
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
                return Next::kStop;
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
            return Next::kFail;
        if (synthesised && pos >= length)
            return Next::kStop;
        return Next::kContinue;
    });
    // An image that ends before the track does is a sheet that does not fit it: no other
    // reader would mend that.
    if ((end == End::kEnded || end == End::kNothingRead) && src.track && src.track->EndedShort()) {
        usedDedicatedReader_ = 0;
        Fail(FailureReason::kTrackPastEnd, std::to_string(src.trackNumber));
        return 0;
    }
    if (end != End::kEnded && end != End::kStopped)
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
                                             OutputClaim* claim, bool replace, bool hold) {
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
                    reader.GetChannels(), WriterFor::kOneSource, plan, reader.GetSourceDepth())) {
        closeReader();
        usedDedicatedReader_ = 0;
        return Ended(false, src.hasAudio);
    }
    AudioWriter& writer = *plan.writer;
    // A source of more than 16 bits: what of its wide blocks the writer keeps.
    WideInput wide;
    if (reader.GetWideFormat() != SampleFormat::kS16) {
        wide = writer.TakeWideInput(reader.GetWideFormat(), reader.GetSourceDepth());
        src.wideToSixteen = wide.format == SampleFormat::kS16;
    }

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
        // The source's ReplayGain is wrong once the level changes, and replaced when measured.
        tagged = ChooseOutputTags(
            settings_, tagOptions_, source, reader, title, track,
            GainToApply() != 0.0f || settings_.replayGain != ReplayGainMode::kOff, tags);
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

    std::shared_ptr<LoudnessMeter> meter;
    if (MeasuresOutput()) {
        meter = std::make_shared<LoudnessMeter>(plan.channels, plan.rate, settings_.truePeak);
        if (!meter->Valid())
            meter.reset();
    }
    bool ok =
        FeedWriter(src, writer, plan.rate, plan.channels, source.sourceType, wide, meter.get());
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
    // The track's gain goes in with the rest (a file without loudness gets none).
    LoudnessFigures figures;
    if (ok && meter)
        figures = meter->Figures();
    if (ok && claim && figures.hasLoudness && settings_.replayGain != ReplayGainMode::kOff) {
        const bool opus = format.formatId == FormatId::kOpus;
        if (FinishedFileTakesFields(format) &&
            !WriteFieldsToFile(writePath, format,
                               LevelFields(opus, false, figures.loudness, figures.peak))) {
            ok = false;
            usedDedicatedReader_ = 0;
            Fail(FailureReason::kWriteFailed);
        } else if (FinishedFileTakesFields(format)) {
            figures.hasTrackGain = true;
            figures.trackGain = GainToReference(opus, figures.loudness);
        }
    }
    if (ok) {
        figures_ = figures;
        outputMeter_ = std::move(meter);
    }
    if (ok && claim && !hold && !claim->Commit(replace)) {
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
