#include <filesystem>
#include <vector>

#include "audio/audio_reader.h"
#include "audio/audio_writer.h"
#include "audio/gain.h"
#include "audio/tag_set.h"
#include "engine/conversion_host.h"
#include "engine/conversion_session.h"
#include "engine/progress_meter.h"
#include "engine/resample_stage.h"
#include "writers/amr_writer.h"
#include "writers/ffmpeg_writer.h"
#include "writers/wav_info_tags.h"
#include "writers/windows_media_writer.h"

namespace kestrune {

namespace fs = std::filesystem;

namespace {

const char* const kSkipTooLong =
    "Length of the file is shorter than skipping length set at Options -> General";
const char* const kWriteFailed = "Failed to write the output file (is the disk full?)";
const char* const kSameAsSource = "The output file would replace the source file";

// The writer of one conversion and how the loop feeds it.
struct WriterPlan {
    std::unique_ptr<AudioWriter> writer;
    int outRate = 0;
    int outChannels = 0;
    bool resample = false;
    bool pick = false;  // take one channel of a stereo source
};

bool PlanFFmpegWriter(const OutputFormatEntry& format, const ConvertSettings& settings,
                      int sourceRate, int sourceChannels, WriterPlan& plan) {
    ResolvedEncoding enc;
    if (!format.UsesFFmpegWriter() || !ResolveEncoding(format, sourceRate, sourceChannels, enc))
        return false;
    auto writer = std::make_unique<FFmpegWriter>();
    FFmpegEncoderOptions options;
    options.containerShortName = format.containerShortName;
    options.codecId = format.codecId;
    writer->SetEncoderOptions(options);
    writer->SetSampleRate(enc.sampleRate);
    writer->SetChannels(enc.channels);
    writer->SetBitRate(enc.bitRate);
    plan.writer = std::move(writer);
    plan.outRate = enc.sampleRate;
    plan.outChannels = enc.channels;
    const bool fewer = enc.channels < sourceChannels;
    plan.resample = enc.sampleRate != sourceRate || (fewer && settings.monoType == kMonoAverage);
    plan.pick = fewer && settings.monoType > kMonoAverage;
    return true;
}

bool PlanAmrWriter(const OutputFormatEntry& format, const ConvertSettings& settings, int sourceRate,
                   int sourceChannels, WriterPlan& plan) {
    auto writer = std::make_unique<AmrWriter>();
    writer->SetEncoderOptions(AmrFamilyOptions(format.formatId, settings));
    plan.writer = std::move(writer);
    plan.outRate = AmrFamilyRate(format.formatId, settings);
    plan.outChannels = 1;
    plan.resample =
        plan.outRate != sourceRate || (sourceChannels > 1 && settings.monoType == kMonoAverage);
    plan.pick = sourceChannels >= 2 && settings.monoType >= kMonoLeft;
    return true;
}

bool PlanWindowsMediaWriter(const ConvertSettings& settings, const WindowsMediaSupport& wm,
                            int sourceRate, int sourceChannels, WriterPlan& plan) {
    const WmaWanted wanted = WantedWmaParameters(settings, sourceRate, sourceChannels);
    const int wantedChannels = wanted.channels;
    const WmaChoice choice =
        ChooseWmaFormat(wm.Formats(), wanted.sampleRate, wanted.bitRate, wantedChannels);
    if (!choice.found)
        return false;
    // One channel is picked only when the user asked for fewer channels and a side; otherwise
    // the writer gets every source channel (a mono source twice) and folds them itself.
    plan.pick = settings.wmaAutoEncParam == 0 && wantedChannels < sourceChannels &&
                settings.monoType > kMonoAverage;
    const int channels = plan.pick ? 1 : sourceChannels < wantedChannels ? 2 : sourceChannels;
    auto writer = std::make_unique<WindowsMediaWriter>(wm.Runtime());
    writer->SetSampleRate(sourceRate);
    writer->SetChannels(channels);
    writer->SetBitRate(choice.bitRate);
    writer->SetEncoderOptions(WmaEncoderOptions(*choice.format));
    plan.writer = std::move(writer);
    plan.outRate = sourceRate;
    plan.outChannels = channels;
    plan.resample = false;
    return true;
}

std::string WithoutExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

void RemoveOutput(const std::string& outputPath, const std::string& sourcePath) {
    if (outputPath.empty() || SameFile(outputPath, sourcePath))
        return;
    std::error_code ec;
    if (fs::is_regular_file(fs::symlink_status(outputPath, ec)))
        fs::remove(outputPath, ec);
}

AmrOptions AmrFamilyOptions(FormatId formatId, const ConvertSettings& s) {
    if (formatId == FormatId::kAwb)
        return AmrOptions(0, s.awbDtx, s.amrMode, s.awbMode);
    return AmrOptions(s.amrType == 0 ? 1 : 0, s.amrDtx, s.amrMode, s.amrwbMode);
}

int AmrFamilyRate(FormatId formatId, const ConvertSettings& s) {
    if (formatId == FormatId::kAwb)
        return 16000;
    return s.amrType == 1 ? 16000 : 8000;
}

WmaWanted WantedWmaParameters(const ConvertSettings& s, int rate, int channels) {
    if (s.wmaAutoEncParam != 0) {
        const WmaParameters p = WmaAutoParameters(rate, channels);
        return {p.sampleRate, p.bitRate, channels};
    }
    return {s.wmaSampleRate, s.wmaBitRate, s.wmaChannels};
}

int ConversionSession::RequestedRate(const OutputFormatEntry& format) const {
    if (format.formatId == FormatId::kAmr || format.formatId == FormatId::kAwb)
        return AmrFamilyRate(format.formatId, settings_);
    return RequestedSampleRate(format);
}

bool ConversionSession::OpenSource(const SourceFileEntry& source, int requestedRate,
                                   ReaderTry tries, OpenedSource& out) {
    ReaderChoice choice = OpenReader(source, requestedRate, ReaderUse::kDecode, tries);
    out.reader = std::move(choice.reader);
    out.hasAudio = choice.hasAudio;
    if (!out.reader)
        return false;
    AudioReader& reader = *out.reader;
    auto fail = [&] {
        reader.Close();
        out.reader.reset();
        return false;
    };
    if (reader.GetSampleRate() <= 0) {
        out.hasAudio = false;
        return fail();
    }
    out.skipFrames = 0;
    if (settings_.enableSkipLength != 0 && settings_.skipLength != 0) {
        if (static_cast<int64_t>(settings_.skipLength) >=
            static_cast<int64_t>(reader.GetDuration()) * 1000) {
            usedDedicatedReader_ = 0;
            failureDetail_ = kSkipTooLong;
            return fail();
        }
        out.skipFrames =
            static_cast<int64_t>(reader.GetSampleRate() * (settings_.skipLength * 0.001));
    }
    out.limited = false;
    out.limitLeft = 0;
    if (settings_.enableConvertLength != 0 && settings_.convertLength != 0) {
        out.limited = true;
        out.limitLeft =
            static_cast<int64_t>(reader.GetSampleRate() * (settings_.convertLength * 0.001));
    }
    return true;
}

float ConversionSession::ChooseGain() {
    float gain = 0.0f;
    appliedGain_ = 1.0f;
    if (settings_.volumeType == kVolumeNormalize) {
        if (normalizationGain_ > 0)
            gain = normalizationGain_;
    } else if (settings_.volumeType == kVolumeManual) {
        if (settings_.volume != 100)
            gain = static_cast<float>(settings_.volume) * 0.01f;
    }
    if (gain != 0.0f)
        appliedGain_ = gain;
    return gain;
}

int ConversionSession::RunBlockLoop(OpenedSource& src, AudioWriter& writer, int outRate,
                                    int outChannels, bool resample, bool pick,
                                    SourceType sourceType, const std::string& displayName,
                                    bool& writeFailed) {
    AudioReader& reader = *src.reader;
    const int sourceRate = reader.GetSampleRate();
    const int readChannels = reader.GetChannels();
    const int sourceChannels = pick ? 1 : readChannels;
    const float gain = ChooseGain();

    std::vector<int16_t> readLeft(kBlockFrames), readRight;
    if (readChannels == 2)
        readRight.resize(kBlockFrames);
    int16_t* const rightArg = readRight.empty() ? nullptr : readRight.data();

    // Route the channels: which buffers the resampler and the writer see.
    int16_t* inL = readLeft.data();
    int16_t* inR = rightArg;
    if (pick) {
        if (settings_.monoType == kMonoRight && inR)
            inL = inR;
        inR = nullptr;
    }
    std::unique_ptr<ResampleStage> stage;
    std::vector<int16_t> outLeft, outRight;
    int16_t* wL = inL;
    int16_t* wR = nullptr;
    if (resample) {
        const size_t outFrames = (static_cast<size_t>(outRate / sourceRate) + 1) * kBlockFrames;
        outLeft.resize(outFrames);
        if (outChannels == 2)
            outRight.resize(outFrames);
        stage = std::make_unique<ResampleStage>();
        stage->inputChannels = sourceChannels;
        stage->inputSampleRate = sourceRate;
        stage->inputBitsPerSample = 16;
        stage->outputChannels = outChannels;
        stage->outputSampleRate = outRate;
        stage->outputBitsPerSample = 16;
        if (!stage->Configure())
            return 0;
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
    ProgressMeter meter(host_, length, "Converting", displayName);
    int n = reader.Read(readLeft.data(), rightArg);
    if (n <= 0)
        return 0;
    while (n > 0) {
        const int64_t pos = reader.GetPosition();
        meter.Update(pos);
        host_.PumpMessages();
        if (host_.CancelRequested())
            return 0;
        bool drop = false;
        if (src.skipFrames > 0) {
            src.skipFrames -= n;
            if (src.skipFrames >= 0) {
                drop = true;
            } else {
                // The block's tail is the first audio that counts.
                const int keep = static_cast<int>(-src.skipFrames);
                std::copy(readLeft.begin() + (n - keep), readLeft.begin() + n, readLeft.begin());
                if (rightArg)
                    std::copy(readRight.begin() + (n - keep), readRight.begin() + n,
                              readRight.begin());
                n = keep;
                src.skipFrames = 0;
            }
        }
        if (!drop) {
            if (src.limited) {
                if (src.limitLeft <= 0)
                    break;
                if (n >= src.limitLeft) {
                    n = static_cast<int>(src.limitLeft);
                    src.limitLeft = 0;
                } else {
                    src.limitLeft -= n;
                }
            }
            emit(stage ? stage->Process(inL, inR, n, wL, wR) : n);
            if (writeFailed)
                return 0;
            if (synthesised && pos >= length)
                break;
        }
        n = reader.Read(readLeft.data(), rightArg);
    }
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
    const std::string displayName = FileNameOf(currentItem_ ? currentItem_->path : source.path);
    OpenedSource src;
    if (!OpenSource(source, RequestedRate(format), tries, src))
        return Ended(false, src.hasAudio);
    auto closeReader = [&] {
        src.reader->Close();
        src.reader.reset();
    };
    AudioReader& reader = *src.reader;

    WriterPlan plan;
    bool planned = false;
    switch (format.formatId) {
        case FormatId::kAmr:
        case FormatId::kAwb:
            planned = PlanAmrWriter(format, settings_, reader.GetSampleRate(), reader.GetChannels(),
                                    plan);
            break;
        case FormatId::kWma:
        case FormatId::kWmv:
        case FormatId::kAsf:
            planned = PlanWindowsMediaWriter(settings_, config_.windowsMedia,
                                             reader.GetSampleRate(), reader.GetChannels(), plan);
            break;
        default:
            planned = PlanFFmpegWriter(format, settings_, reader.GetSampleRate(),
                                       reader.GetChannels(), plan);
            break;
    }
    if (!planned) {
        closeReader();
        usedDedicatedReader_ = 0;
        return Ended(false, src.hasAudio);
    }
    AudioWriter& writer = *plan.writer;

    if (format.getsTags) {
        if (settings_.id3TagType == kTagsCustom) {
            const std::string title = tagOptions_.titleAsFileName != 0
                                          ? WithoutExtension(displayName)
                                          : tagOptions_.title;
            int track = 0;
            if (tagOptions_.trackNumType == kTrackRunPosition)
                track = runPosition_;
            else if (tagOptions_.trackNumType == kTrackCustom)
                track = tagOptions_.customTrackNum;
            writer.SetTags(CustomTagSet(tagOptions_, title, track));
        } else if (settings_.id3TagType == kTagsFromSource) {
            TagSet tags;
            bool found = reader.ReadTags(tags) != 0;
            if (!found && source.sourceType == SourceType::kWav)
                found = ReadWavInfoTags(source.path, tags) != 0;
            if (found)
                writer.SetTags(tags);
        }
    }

    // Never let a writer open (and truncate) the source itself, whatever the spelling.
    if (source.outputPath.empty() || SameFile(source.outputPath, source.path)) {
        closeReader();
        usedDedicatedReader_ = 0;
        failureDetail_ = kSameAsSource;
        return Ended(false, src.hasAudio);
    }
    writer.SetPath(source.outputPath);
    if (!writer.Open()) {
        closeReader();
        plan.writer.reset();
        RemoveOutput(source.outputPath, source.path);
        usedDedicatedReader_ = 0;
        return Ended(false, src.hasAudio);
    }

    bool writeFailed = false;
    int result = RunBlockLoop(src, writer, plan.outRate, plan.outChannels, plan.resample, plan.pick,
                              source.sourceType, displayName, writeFailed);
    closeReader();
    writer.Close();
    plan.writer.reset();
    if (writeFailed) {
        result = 0;
        usedDedicatedReader_ = 0;
        failureDetail_ = kWriteFailed;
    }
    if (result == 1) {
        std::error_code ec;
        const auto size = fs::file_size(source.outputPath, ec);
        if (ec || size == 0)
            result = 0;
    }
    if (result == 0)
        RemoveOutput(source.outputPath, source.path);
    return Ended(result == 1, src.hasAudio);
}

}  // namespace kestrune
