#include "readers/create_reader.h"

#include "readers/ffmpeg_reader.h"
#include "readers/source_type.h"

namespace kestrune {

const char* const kUndecodableDetail =
    "Kestrune cannot decode this file. Please send it to support@kestrune.org so that we can "
    "add support for it.";

namespace {

enum class Second { kNone, kBass };

// The type's dedicated reader and whether a second try through the decoding layer follows.
// Types whose reader is not part of this build go straight to the generic reader.
std::unique_ptr<AudioReader> MakeDedicated(int sourceType, Second& second, ReaderState&) {
    second = Second::kNone;
    switch (sourceType) {
        default:
            return nullptr;
    }
}

}  // namespace

std::unique_ptr<AudioReader> CreateReader(const std::string& path, int sourceType,
                                          int targetRate, int decode, int& hasAudio,
                                          ReaderState& state) {
    if (state.usedDedicatedReader != 1) {
        Second second = Second::kNone;
        if (auto reader = MakeDedicated(sourceType, second, state)) {
            state.usedDedicatedReader = 1;
            if (reader->Open(path, targetRate)) return reader;
            hasAudio = reader->HasAudioStream();
            reader.reset();
        }
        (void)second;
    }

    std::unique_ptr<AudioReader> generic;
    if (decode)
        generic = std::make_unique<FFmpegReader>();
    else
        generic = std::make_unique<FFmpegProbeReader>();
    state.usedDedicatedReader = 0;
    if (generic->Open(path, targetRate)) return generic;
    hasAudio = generic->HasAudioStream();
    generic.reset();
    if (decode) state.failureDetail = kUndecodableDetail;
    return nullptr;
}

}  // namespace kestrune
