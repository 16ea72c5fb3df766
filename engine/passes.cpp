// The passes that may run over a source before it is converted: the raw copy of a DTS stream
// disguised as PCM, and the peak scan of the normalising pass.
#include <algorithm>
#include <filesystem>
#include <vector>

#include "audio/audio_reader.h"
#include "engine/conversion_host.h"
#include "engine/conversion_session.h"
#include "engine/progress_meter.h"
#include "engine/raw_pcm_writer.h"

namespace kestrune {

namespace fs = std::filesystem;

StepOutcome ConversionSession::ExtractDtsStream(SourceFileEntry& source) {
    const std::string displayName = FileNameOf(currentItem_ ? currentItem_->path : source.path);
    ReaderChoice choice = OpenReader(source, 44100, ReaderUse::kDecode, ReaderTry::kDedicatedFirst);
    if (!choice.reader)
        return Ended(false, choice.hasAudio);
    AudioReader* const reader = choice.reader.get();
    if (reader->GetSampleRate() <= 0) {
        reader->Close();
        return Ended(false, false);
    }
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

    std::vector<int16_t> left(kBlockFrames), right;
    if (reader->GetChannels() == 2)
        right.resize(kBlockFrames);
    int16_t* const rightArg = right.empty() ? nullptr : right.data();
    ProgressMeter meter(host_, reader->GetLength(), "Preprocessing", displayName);
    int result = 0;
    bool writeFailed = false;
    int n = reader->Read(left.data(), rightArg);
    if (n > 0) {
        result = 1;
        while (n > 0) {
            meter.Update(reader->GetPosition());
            host_.PumpMessages();
            if (host_.CancelRequested()) {
                result = 0;
                break;
            }
            // A copy that cannot be completed must not pass for the whole stream.
            if (!writer.Write(left.data(), rightArg, n)) {
                writeFailed = true;
                result = 0;
                break;
            }
            n = reader->Read(left.data(), rightArg);
            if (n < 1)
                meter.Finish();
        }
    }
    reader->Close();
    writer.Close();
    (void)writeFailed;
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
    const std::string displayName = FileNameOf(currentItem_ ? currentItem_->path : source.path);
    ReaderChoice choice = OpenReader(source, RequestedRate(format), ReaderUse::kDecode, tries);
    if (!choice.reader)
        return Ended(false, choice.hasAudio);
    AudioReader* const reader = choice.reader.get();
    if (reader->GetSampleRate() <= 0) {
        reader->Close();
        return Ended(false, false);
    }
    std::vector<int16_t> left(kBlockFrames), right;
    if (reader->GetChannels() == 2)
        right.resize(kBlockFrames);
    int16_t* const rightArg = right.empty() ? nullptr : right.data();
    const int64_t length = reader->GetLength();
    const bool synthesised =
        source.sourceType == SourceType::kTracker || source.sourceType == SourceType::kMidi;
    ProgressMeter meter(host_, length, "Normalizing", displayName);
    int16_t lo = 0, hi = 0;
    int result = 0;
    bool cancelled = false;
    int n = reader->Read(left.data(), rightArg);
    if (n > 0) {
        result = 1;
        for (unsigned block = 0; n > 0; ++block) {
            const int64_t pos = reader->GetPosition();
            const auto [l, h] = std::minmax_element(left.begin(), left.begin() + n);
            lo = std::min(lo, *l);
            hi = std::max(hi, *h);
            if (rightArg) {
                const auto [rl, rh] = std::minmax_element(right.begin(), right.begin() + n);
                lo = std::min(lo, *rl);
                hi = std::max(hi, *rh);
            }
            // The scan is cheap: the surroundings are served every third block only.
            if (block % 3 == 0) {
                meter.Update(pos);
                host_.PumpMessages();
                if (host_.CancelRequested()) {
                    result = 0;
                    cancelled = true;
                    break;
                }
            }
            if (synthesised && pos >= std::max<int64_t>(length, 1))
                break;
            n = reader->Read(left.data(), rightArg);
        }
        if (!cancelled)
            meter.Finish();
    }
    minOut = lo;
    maxOut = hi;
    reader->Close();
    return Ended(result == 1, choice.hasAudio);
}

float GainFromPeaks(int16_t minPeak, int16_t maxPeak) {
    if (minPeak >= -32762 && minPeak < 0 && maxPeak > 0 && maxPeak < 32762)
        return std::min(32767.0f / static_cast<float>(maxPeak),
                        32768.0f / static_cast<float>(-minPeak));
    return -1.0f;
}

}  // namespace kestrune
