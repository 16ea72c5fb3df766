#include "engine/create_reader.h"

#include "audio/tag_set.h"
#include "readers/aiff_reader.h"
#include "readers/amr_reader.h"
#include "readers/au_reader.h"
#include "readers/bass_reader.h"
#include "readers/ffmpeg_reader.h"
#include "readers/ogg_vorbis_reader.h"
#include "readers/source_type.h"
#include "readers/windows_media_reader.h"
#include "writers/windows_media_runtime.h"

namespace kestrune {

namespace {

enum class Second { kNone, kBass };

// The rates a sound can have. A header outside them is damaged or hostile, and taking it at its
// word makes a few bytes last for hours (and the resampler's buffers grow by the rate ratio).
constexpr int kLowestAudioRate = 1000;
constexpr int kHighestAudioRate = 768000;
// No song of a tracker module or a MIDI file lasts this long; a damaged file can claim days,
// which would all be rendered.
constexpr int kLongestSongSeconds = 2 * 3600;

// Why an open reader's stream cannot be taken as it says it is; kNone when it can.
Failure Implausible(AudioReader& reader, SourceType sourceType) {
    const int rate = reader.GetSampleRate();
    if (rate > 0 && (rate < kLowestAudioRate || rate > kHighestAudioRate))
        return {FailureReason::kNoAudioRate, std::to_string(rate)};
    const bool synthesised = sourceType == SourceType::kTracker || sourceType == SourceType::kMidi;
    if (synthesised && reader.GetDuration() > kLongestSongSeconds)
        return {FailureReason::kSongTooLong, {}};
    return {};
}

// The ID3 chunk of an AIFF file is read through the decoding layer, like any MP3's tags.
int ReadCarrierTags(const std::string& mp3Path, TagSet& tags) {
    BassReader reader;
    if (!reader.Open(mp3Path, 0))
        return 0;
    const int found = reader.ReadTags(tags);
    reader.Close();
    return found;
}

// The type's dedicated reader and whether a second try through the decoding layer follows.
// Null when there is none, or when it needs the missing Windows Media runtime (then
// windowsMediaMissing is set).
std::unique_ptr<AudioReader> MakeDedicated(SourceType sourceType, Second& second,
                                           const ReaderContext& context,
                                           bool& windowsMediaMissing) {
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
            // A failed load is tried again each time: the user may have installed it meanwhile.
            if (!context.windowsMedia || !context.windowsMedia->Load()) {
                windowsMediaMissing = true;
                return nullptr;
            }
            return std::make_unique<WindowsMediaReader>(
                context.windowsMedia->Runtime()->createSyncReader);
        default:
            return nullptr;
    }
}

}  // namespace

ReaderChoice CreateReader(const std::string& path, SourceType sourceType, int targetRate,
                          ReaderUse use, ReaderTry tries, const ReaderContext& context) {
    ReaderChoice choice;
    // Why a reader that opened the file was not taken: the last such reason is the file's.
    Failure refused;
    auto take = [&](std::unique_ptr<AudioReader>& reader) {
        if (!reader->Open(path, targetRate))
            return false;
        const Failure why = Implausible(*reader, sourceType);
        if (why.reason == FailureReason::kNone)
            return true;
        refused = why;
        reader->Close();
        return false;
    };
    if (tries == ReaderTry::kDedicatedFirst) {
        Second second = Second::kNone;
        if (auto reader = MakeDedicated(sourceType, second, context, choice.windowsMediaMissing)) {
            choice.dedicated = true;
            if (take(reader)) {
                choice.reader = std::move(reader);
                return choice;
            }
            choice.hasAudio = reader->HasAudioStream() != 0;
            reader.reset();
            if (second == Second::kBass) {
                std::unique_ptr<AudioReader> bass = std::make_unique<BassReader>();
                if (take(bass)) {
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
    if (take(generic)) {
        choice.reader = std::move(generic);
        return choice;
    }
    if (refused.reason != FailureReason::kNone) {
        // The file holds audio; it only says impossible things about it.
        choice.hasAudio = true;
        choice.failure = refused;
        return choice;
    }
    choice.hasAudio = generic->HasAudioStream() != 0;
    if (use == ReaderUse::kDecode)
        choice.failure = {FailureReason::kUndecodable, {}};
    return choice;
}

}  // namespace kestrune
