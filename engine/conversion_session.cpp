#include "engine/conversion_session.h"

#include "audio/audio_reader.h"
#include "engine/conversion_host.h"
#include "readers/bass_reader.h"
#include "writers/windows_media_runtime.h"

namespace kestrune {

ConversionSession::ConversionSession(SessionConfig& config, ConversionHost& host)
    : ConversionSession(config, host, 0) {}

ConversionSession::ConversionSession(SessionConfig& config, ConversionHost& host,
                                     int soundFontLoaded)
    : config_(config),
      host_(host),
      settings_(config.settings),
      tagOptions_(config.tagOptions),
      soundFontLoaded_(soundFontLoaded) {}

ConversionSession ConversionSession::WorkerSession(ConversionHost& host) const {
    return ConversionSession(config_, host, soundFontLoaded_);
}

int ConversionSession::LoadDefaultSoundFont() {
    soundFontLoaded_ =
        config_.loadSoundFont ? config_.loadSoundFont(config_.programFolder + kSoundFontName) : 0;
    return soundFontLoaded_;
}

ReaderChoice ConversionSession::OpenReader(const SourceFileEntry& source, int targetRate,
                                           ReaderUse use, ReaderTry tries) {
    ReaderChoice choice = CreateReader(source.path, source.sourceType, targetRate, use, tries,
                                       ReaderContext{&config_.windowsMedia, &host_});
    usedDedicatedReader_ = choice.dedicated ? 1 : 0;
    if (!choice.failureDetail.empty())
        failureDetail_ = choice.failureDetail;
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
    if (host_.CancelRequested())
        return StepOutcome::kCancelled;
    return hasAudio ? StepOutcome::kFailed : StepOutcome::kNoAudio;
}

bool ConversionSession::ProbeSource(const std::string& path, SourceFileEntry& entry) {
    SourceFileEntry probed;
    probed.path = path;
    probed.sourceType = SourceTypeOf(path);
    ReaderChoice choice = OpenReader(probed, 0, ReaderUse::kProbe, ReaderTry::kDedicatedFirst);
    if (!choice.reader) {
        const std::string ext = ExtensionOf(path);
        if (probed.sourceType == SourceType::kCdAudio)
            failureDetail_ =
                "IMPORTANT: please DO NOT add CDA file from hard drive, but add CDA file from CD "
                "drive.";
        else if (ext == ".swf" || ext == ".flv")
            failureDetail_ =
                "Flash files often hold their sound in a form only a dedicated SWF/FLV "
                "converter can extract; please try one for this file.";
        return false;
    }
    AudioReader* reader = choice.reader.get();
    entry = std::move(probed);
    entry.duration = reader->GetDuration();
    entry.sampleRate = reader->GetSampleRate();
    entry.bitRate = reader->GetBitRate();
    entry.sourceChannels = reader->GetSourceChannels();
    entry.depth = reader->GetSourceDepth();
    reader->Close();
    return true;
}

}  // namespace kestrune
