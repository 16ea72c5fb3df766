#include "engine/conversion_session.h"

#include "audio/audio_reader.h"
#include "readers/bass_reader.h"
#include "writers/windows_media_runtime.h"

namespace kestrune {

ConversionSession::ConversionSession(ConversionHost& host) : host_(host) {
    readers.host = &host;
    readers.ensureWindowsMediaRuntime = [this] { return EnsureWindowsMediaRuntime(); };
    BuildOutputCatalogue(catalogue);
    programFolder = RunningProgramFolder();
    loadSoundFont = [](const std::string& path) {
        const auto slash = path.rfind('/');
        int loaded = 0;
        InstallSoundFont(slash == std::string::npos ? std::string() : path.substr(0, slash + 1),
                         loaded);
        return loaded;
    };
    loadWindowsMediaRuntime = [this] { return LoadWindowsMediaRuntime(programFolder) != 0; };
}

std::unique_ptr<AudioReader> ConversionSession::CreateReader(const std::string& path,
                                                             SourceType sourceType, int targetRate,
                                                             int decode, int& hasAudio) {
    return kestrune::CreateReader(path, sourceType, targetRate, decode, hasAudio, readers);
}

bool ConversionSession::ProbeSource(const std::string& path, SourceFileEntry& entry) {
    const SourceType type = SourceTypeOf(path);
    int hasAudio = 1;
    readers.usedDedicatedReader = 0;
    auto reader = CreateReader(path, type, 0, 0, hasAudio);
    if (!reader) {
        const std::string ext = ExtensionOf(path);
        if (type == SourceType::kCdAudio)
            readers.failureDetail =
                "IMPORTANT: please DO NOT add CDA file from hard drive, but add CDA file from CD "
                "drive.";
        else if (ext == ".swf" || ext == ".flv")
            readers.failureDetail =
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
