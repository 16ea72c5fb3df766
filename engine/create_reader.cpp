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
#include "writers/windows_media_runtime.h"

namespace kestrune {

const char* const kUndecodableDetail =
    "Kestrune cannot decode this file. Please send it to support@kestrune.org so that we can "
    "add support for it.";

const char* const kWindowsMediaQuestion =
    "Dear user, WMA file requires Windows Media Format 9 Series Runtime.\nUnfortunately, the "
    "component isn't available on your computer.\n\nDo you want to download and install it "
    "now?";

namespace {

enum class Second { kNone, kBass };

// The ID3 chunk of an AIFF file is read through the decoding layer, like any MP3's tags.
int ReadCarrierTags(const std::string& mp3Path, TagSet& tags) {
    BassReader reader;
    if (!reader.Open(mp3Path, 0))
        return 0;
    const int found = reader.ReadTags(tags);
    reader.Close();
    return found;
}

bool WindowsMediaAvailable(const ReaderContext& context) {
    if (context.windowsMedia && context.windowsMedia->Load())
        return true;
    if (context.host && context.host->AskYesNo(kWindowsMediaQuestion))
        context.host->OpenInBrowser(kWindowsMediaDownloadUrl);
    // The user may have installed it meanwhile.
    return context.windowsMedia && context.windowsMedia->Load();
}

// The type's dedicated reader and whether a second try through the decoding layer follows.
std::unique_ptr<AudioReader> MakeDedicated(SourceType sourceType, Second& second,
                                           const ReaderContext& context) {
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
            if (!WindowsMediaAvailable(context))
                return nullptr;
            return std::make_unique<WindowsMediaReader>(context.windowsMedia->Runtime());
        default:
            return nullptr;
    }
}

}  // namespace

ReaderChoice CreateReader(const std::string& path, SourceType sourceType, int targetRate,
                          ReaderUse use, ReaderTry tries, const ReaderContext& context) {
    ReaderChoice choice;
    if (tries == ReaderTry::kDedicatedFirst) {
        Second second = Second::kNone;
        if (auto reader = MakeDedicated(sourceType, second, context)) {
            choice.dedicated = true;
            if (reader->Open(path, targetRate)) {
                choice.reader = std::move(reader);
                return choice;
            }
            choice.hasAudio = reader->HasAudioStream() != 0;
            reader.reset();
            if (second == Second::kBass) {
                auto bass = std::make_unique<BassReader>();
                if (bass->Open(path, targetRate)) {
                    choice.reader = std::move(bass);
                    return choice;
                }
            }
        }
    }

    std::unique_ptr<AudioReader> generic;
    if (use == ReaderUse::kDecode)
        generic = std::make_unique<FFmpegReader>();
    else
        generic = std::make_unique<FFmpegProbeReader>();
    choice.dedicated = false;
    if (generic->Open(path, targetRate)) {
        choice.reader = std::move(generic);
        return choice;
    }
    choice.hasAudio = generic->HasAudioStream() != 0;
    if (use == ReaderUse::kDecode)
        choice.failureDetail = kUndecodableDetail;
    return choice;
}

}  // namespace kestrune
