#include "engine/conversion_session.h"

#include "audio/audio_reader.h"
#include "readers/bass_reader.h"
#include "readers/cue_sheet.h"
#include "readers/track_range_reader.h"
#include "writers/windows_media_runtime.h"

namespace kestrune {

ConversionSession::ConversionSession(SessionConfig& config, RunObserver& observer)
    : config_(config),
      observer_(observer),
      settings_(config.settings),
      tagOptions_(config.tagOptions) {}

ReaderChoice ConversionSession::OpenReader(const SourceFileEntry& source, int targetRate,
                                           ReaderUse use, ReaderTry tries) {
    ReaderChoice choice = CreateReader(source.path, source.sourceType, targetRate, use, tries,
                                       ReaderContext{&config_.windowsMedia});
    usedDedicatedReader_ = choice.dedicated ? 1 : 0;
    if (choice.failure.reason != FailureReason::kNone)
        failure_ = choice.failure;
    // A track of an image reads its own range of the image, at the image's rate.
    if (choice.reader && source.track.number && choice.reader->GetSampleRate() > 0) {
        const int rate = choice.reader->GetSampleRate();
        const ImageTrack& t = source.track;
        auto sample = [&](int64_t at) { return t.inSamples ? at : CueFramesToSamples(at, rate); };
        choice.reader =
            std::make_unique<TrackRangeReader>(std::move(choice.reader), sample(t.startFrames),
                                               t.endFrames < 0 ? -1 : sample(t.endFrames), t.tags);
    }
    return choice;
}

bool ConversionSession::OpenDecoder(const SourceFileEntry& source, int targetRate, ReaderTry tries,
                                    ReaderChoice& choice) {
    choice = OpenReader(source, targetRate, ReaderUse::kDecode, tries);
    if (!choice.reader)
        return false;
    if (choice.reader->GetSampleRate() <= 0) {
        choice.reader->Close();
        choice.reader.reset();
        choice.hasAudio = false;
        return false;
    }
    return true;
}

StepOutcome ConversionSession::WithGenericRetry(const std::function<StepOutcome(ReaderTry)>& step) {
    const StepOutcome outcome = step(ReaderTry::kDedicatedFirst);
    if ((outcome == StepOutcome::kFailed || outcome == StepOutcome::kNoAudio) &&
        usedDedicatedReader_)
        return step(ReaderTry::kGenericOnly);
    return outcome;
}

StepOutcome ConversionSession::Ended(bool ok, bool hasAudio) {
    if (ok)
        return StepOutcome::kDone;
    if (Cancelling())
        return StepOutcome::kCancelled;
    return hasAudio ? StepOutcome::kFailed : StepOutcome::kNoAudio;
}

std::string ConversionSession::DisplayName(const SourceFileEntry& source) const {
    const SourceFileEntry& item = currentItem_ ? *currentItem_ : source;
    return FileNameOf(NamingPath(item));
}

ProbeResult ConversionSession::ProbeSource(const std::string& path, SourceFileEntry& entry) {
    ProbeResult result;
    SourceFileEntry probed;
    probed.path = path;
    probed.sourceType = SourceTypeOf(path);
    failure_ = {};
    ReaderChoice choice = OpenReader(probed, 0, ReaderUse::kProbe, ReaderTry::kDedicatedFirst);
    result.windowsMediaMissing = choice.windowsMediaMissing;
    if (!choice.reader) {
        const std::string ext = ExtensionOf(path);
        if (probed.sourceType == SourceType::kCdAudio)
            Fail(FailureReason::kCdAudioFromDisk);
        else if (ext == ".swf" || ext == ".flv")
            Fail(FailureReason::kFlashFile);
        result.failure = failure_;
        return result;
    }
    AudioReader* reader = choice.reader.get();
    entry = std::move(probed);
    entry.duration = reader->GetDuration();
    entry.sampleRate = reader->GetSampleRate();
    entry.bitRate = reader->GetBitRate();
    entry.sourceChannels = reader->GetSourceChannels();
    entry.depth = reader->GetSourceDepth();
    reader->Close();
    result.opened = true;
    return result;
}

}  // namespace kestrune
