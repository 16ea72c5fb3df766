// The passes that may run over a source before it is converted: the raw copy of a DTS stream
// disguised as PCM, and the peak scan of the normalising pass.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "audio/audio_reader.h"
#include "engine/block_loop.h"
#include "engine/conversion_session.h"
#include "engine/loudness_meter.h"
#include "engine/progress_meter.h"
#include "engine/raw_pcm_writer.h"

namespace kestrune {

namespace fs = std::filesystem;

StepOutcome ConversionSession::ExtractDtsStream(SourceFileEntry& source) {
    ReaderChoice choice;
    if (!OpenDecoder(source, 44100, ReaderTry::kDedicatedFirst, choice))
        return Ended(false, choice.hasAudio);
    AudioReader* const reader = choice.reader.get();
    RawPcmWriter writer;
    writer.SetChannels(reader->GetChannels());
    const std::string temp = MakeTempFileName({}, {}, ".dts");
    source.outputPath = temp;
    writer.SetPath(temp);
    if (!writer.Open()) {
        reader->Close();
        source.outputPath.clear();
        return Ended(false, choice.hasAudio);
    }

    BlockLoop loop(*reader);
    ProgressMeter meter(observer_, currentIndex_, Pass::kPreprocessing, reader->GetLength());
    // A copy that cannot be completed must not pass for the whole stream.
    const BlockLoop::End end = loop.Run(observer_, meter, 1, [&](int n, int64_t) {
        return writer.Write(loop.Left(), loop.Right(), n) ? BlockLoop::Next::kContinue
                                                          : BlockLoop::Next::kFail;
    });
    if (end == BlockLoop::End::kEnded)
        meter.Finish();
    int result = end == BlockLoop::End::kEnded ? 1 : 0;
    reader->Close();
    writer.Close();
    std::error_code ec;
    if (result == 1) {
        const auto size = fs::file_size(temp, ec);
        if (ec || size == 0)
            result = 0;
    }
    if (result == 0) {
        RemoveOutput(temp, source.path);
        source.outputPath.clear();
    }
    return Ended(result == 1, choice.hasAudio);
}

StepOutcome ConversionSession::ScanPeaks(const SourceFileEntry& source,
                                         const OutputFormatEntry& format, int16_t& minOut,
                                         int16_t& maxOut, ReaderTry tries) {
    minOut = 0;
    maxOut = 0;
    ReaderChoice choice;
    if (!OpenDecoder(source, RequestedRate(format), tries, choice))
        return Ended(false, choice.hasAudio);
    AudioReader* const reader = choice.reader.get();
    const int64_t length = reader->GetLength();
    const bool synthesised =
        source.sourceType == SourceType::kTracker || source.sourceType == SourceType::kMidi;
    BlockLoop loop(*reader);
    ProgressMeter meter(observer_, currentIndex_, Pass::kNormalizing, length);
    int16_t lo = 0, hi = 0;
    // The scan is cheap: the observer is served every third block only.
    const BlockLoop::End end = loop.Run(observer_, meter, 3, [&](int n, int64_t pos) {
        const auto [l, h] = std::minmax_element(loop.Left(), loop.Left() + n);
        lo = std::min(lo, *l);
        hi = std::max(hi, *h);
        if (loop.Right()) {
            const auto [rl, rh] = std::minmax_element(loop.Right(), loop.Right() + n);
            lo = std::min(lo, *rl);
            hi = std::max(hi, *rh);
        }
        if (synthesised && pos >= std::max<int64_t>(length, 1))
            return BlockLoop::Next::kStop;
        return BlockLoop::Next::kContinue;
    });
    const int result = end == BlockLoop::End::kEnded || end == BlockLoop::End::kStopped ? 1 : 0;
    if (result == 1)
        meter.Finish();
    minOut = lo;
    maxOut = hi;
    reader->Close();
    return Ended(result == 1, choice.hasAudio);
}

StepOutcome ConversionSession::MeasureLoudness(const SourceFileEntry& source,
                                               const OutputFormatEntry& format, bool& hasLoudness,
                                               double& lufs, double& peak, ReaderTry tries) {
    hasLoudness = false;
    lufs = 0;
    peak = 0;
    ReaderChoice choice;
    if (!OpenDecoder(source, RequestedRate(format), tries, choice))
        return Ended(false, choice.hasAudio);
    AudioReader* const reader = choice.reader.get();
    const int64_t length = reader->GetLength();
    const bool synthesised =
        source.sourceType == SourceType::kTracker || source.sourceType == SourceType::kMidi;
    LoudnessMeter meter(reader->GetChannels(), reader->GetSampleRate(), settings_.truePeak);
    BlockLoop loop(*reader);
    ProgressMeter progress(observer_, currentIndex_, Pass::kNormalizing, length);
    const BlockLoop::End end = loop.Run(observer_, progress, 3, [&](int n, int64_t pos) {
        meter.Add(loop.Left(), loop.Right(), n);
        if (synthesised && pos >= std::max<int64_t>(length, 1))
            return BlockLoop::Next::kStop;
        return BlockLoop::Next::kContinue;
    });
    const bool ok =
        meter.Valid() && (end == BlockLoop::End::kEnded || end == BlockLoop::End::kStopped);
    if (ok) {
        progress.Finish();
        hasLoudness = meter.Loudness(lufs);
        peak = meter.Peak();
    }
    reader->Close();
    return Ended(ok, choice.hasAudio);
}

float GainFromLoudness(bool hasLoudness, double lufs, double peak, int target) {
    if (!hasLoudness)
        return -1.0f;
    double gain = std::pow(10.0, (target - lufs) / 20.0);
    if (peak > 0)
        gain = std::min(gain, std::pow(10.0, kLoudnessPeakLimitDb / 20.0) / peak);
    return static_cast<float>(gain);
}

float GainFromPeaks(int16_t minPeak, int16_t maxPeak) {
    if (minPeak >= -32762 && minPeak < 0 && maxPeak > 0 && maxPeak < 32762)
        return std::min(32767.0f / static_cast<float>(maxPeak),
                        32768.0f / static_cast<float>(-minPeak));
    return -1.0f;
}

}  // namespace kestrune
