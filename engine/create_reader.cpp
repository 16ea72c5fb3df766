#include "engine/create_reader.h"

#include "audio/tag_set.h"
#include "engine/conversion_host.h"
#include "engine/web_addresses.h"
#include "readers/aiff_reader.h"
#include "readers/au_reader.h"
#include "readers/bass_reader.h"
#include "readers/ffmpeg_reader.h"
#include "readers/source_type.h"
#include "writers/amr_reader.h"
#include "writers/ogg_vorbis_reader.h"
#include "writers/windows_media_reader.h"

namespace kestrune {

const char* const kUndecodableDetail =
    "Kestrune cannot decode this file. Please send it to support@kestrune.org so that we can "
    "add support for it.";

namespace {

enum class Second { kNone, kBass };

}  // namespace

const char* const kWindowsMediaQuestion =
    "Dear user, WMA file requires Windows Media Format 9 Series Runtime.\nUnfortunately, the "
    "component isn't available on your computer.\n\nDo you want to download and install it "
    "now?";

namespace {

// The ID3 chunk of an AIFF file is read through the decoding layer, like any MP3's tags.
int ReadCarrierTags(const std::string& mp3Path, TagSet& tags) {
    BassReader reader;
    if (!reader.Open(mp3Path, 0))
        return 0;
    const int found = reader.ReadTags(tags);
    reader.Close();
    return found;
}

bool WindowsMediaAvailable(ReaderState& state) {
    if (state.windowsMedia && state.windowsMedia->Load())
        return true;
    if (state.host && state.host->AskYesNo(kWindowsMediaQuestion))
        state.host->OpenInBrowser(kWindowsMediaDownloadUrl);
    // The user may have installed it meanwhile.
    return state.windowsMedia && state.windowsMedia->Load();
}

// The type's dedicated reader and whether a second try through the decoding layer follows.
std::unique_ptr<AudioReader> MakeDedicated(SourceType sourceType, Second& second,
                                           ReaderState& state) {
    second = Second::kNone;
    switch (sourceType) {
        case SourceType::kMp3:
        case SourceType::kWav:
        case SourceType::kTracker:
        case SourceType::kMidi:
        case SourceType::kCdAudio:
        case SourceType::kFlac:
        case SourceType::kWavPack:
        case SourceType::kAdx:
        case SourceType::kAac:
        case SourceType::kMp4:
            return std::make_unique<BassReader>();
        case SourceType::kOgg:
            second = Second::kBass;
            return std::make_unique<OggVorbisReader>();
        case SourceType::kAiff: {
            second = Second::kBass;
            auto reader = std::make_unique<AiffReader>();
            reader->SetTagSource(ReadCarrierTags);
            return reader;
        }
        case SourceType::kAu:
            return std::make_unique<AuReader>();
        case SourceType::kAmr:
            return std::make_unique<AmrReader>();
        case SourceType::kWindowsMedia:
            if (!WindowsMediaAvailable(state))
                return nullptr;
            return std::make_unique<WindowsMediaReader>(state.windowsMedia->Runtime());
        default:
            return nullptr;
    }
}

}  // namespace

std::unique_ptr<AudioReader> CreateReader(const std::string& path, SourceType sourceType,
                                          int targetRate, int decode, int& hasAudio,
                                          ReaderState& state) {
    if (state.usedDedicatedReader != 1) {
        Second second = Second::kNone;
        if (auto reader = MakeDedicated(sourceType, second, state)) {
            state.usedDedicatedReader = 1;
            if (reader->Open(path, targetRate))
                return reader;
            hasAudio = reader->HasAudioStream();
            reader.reset();
            if (second == Second::kBass) {
                auto bass = std::make_unique<BassReader>();
                if (bass->Open(path, targetRate))
                    return bass;
            }
        }
    }

    std::unique_ptr<AudioReader> generic;
    if (decode)
        generic = std::make_unique<FFmpegReader>();
    else
        generic = std::make_unique<FFmpegProbeReader>();
    state.usedDedicatedReader = 0;
    if (generic->Open(path, targetRate))
        return generic;
    hasAudio = generic->HasAudioStream();
    generic.reset();
    if (decode)
        state.failureDetail = kUndecodableDetail;
    return nullptr;
}

}  // namespace kestrune
