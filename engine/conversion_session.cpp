#include "engine/conversion_session.h"

#include "audio/audio_reader.h"
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
      soundFontLoaded_(soundFontLoaded) {
    readers_.host = &host;
    readers_.windowsMedia = &config.windowsMedia;
}

ConversionSession ConversionSession::WorkerSession(ConversionHost& host) const {
    return ConversionSession(config_, host, soundFontLoaded_);
}

int ConversionSession::LoadDefaultSoundFont() {
    soundFontLoaded_ =
        config_.loadSoundFont ? config_.loadSoundFont(config_.programFolder + kSoundFontName) : 0;
    return soundFontLoaded_;
}

std::unique_ptr<AudioReader> ConversionSession::CreateReader(const std::string& path,
                                                             SourceType sourceType, int targetRate,
                                                             int decode, int& hasAudio) {
    return kestrune::CreateReader(path, sourceType, targetRate, decode, hasAudio, readers_);
}

bool ConversionSession::ProbeSource(const std::string& path, SourceFileEntry& entry) {
    const SourceType type = SourceTypeOf(path);
    int hasAudio = 1;
    readers_.usedDedicatedReader = 0;
    auto reader = CreateReader(path, type, 0, 0, hasAudio);
    if (!reader) {
        const std::string ext = ExtensionOf(path);
        if (type == SourceType::kCdAudio)
            readers_.failureDetail =
                "IMPORTANT: please DO NOT add CDA file from hard drive, but add CDA file from CD "
                "drive.";
        else if (ext == ".swf" || ext == ".flv")
            readers_.failureDetail =
                "Flash files often hold their sound in a form only a dedicated SWF/FLV "
                "converter can extract; please try one for this file.";
        return false;
    }
    entry = SourceFileEntry{};
    entry.path = path;
    entry.sourceType = type;
    entry.duration = reader->GetDuration();
    entry.sampleRate = reader->GetSampleRate();
    entry.bitRate = reader->GetBitRate();
    entry.sourceChannels = reader->GetSourceChannels();
    reader->Close();
    return true;
}

}  // namespace kestrune
