#pragma once

#include <memory>
#include <string>

#include "audio/audio_reader.h"
#include "readers/source_type.h"

namespace kestrune {

class ConversionHost;
class WindowsMediaSupport;

// What the generic reader is: FFmpegReader, which decodes, or FFmpegProbeReader, which only
// reads what the file list shows.
enum class ReaderUse { kDecode, kProbe };

// Which readers are tried: the source type's dedicated reader first (then the type's further
// try, then the generic reader), or the generic reader alone, for the one retry of a step that
// failed with the dedicated reader.
enum class ReaderTry { kDedicatedFirst, kGenericOnly };

// What CreateReader needs of its surroundings; either may be null.
struct ReaderContext {
    // Loaded when a Windows Media source needs it; null: the runtime is missing.
    WindowsMediaSupport* windowsMedia = nullptr;
    // Asked whether to fetch the runtime when it is missing; null: no question.
    ConversionHost* host = nullptr;
};

// What CreateReader found.
struct ReaderChoice {
    // Open, or null when no reader could open the file.
    std::unique_ptr<AudioReader> reader;
    // The reader is the source type's dedicated one (or the type's further try): a step that
    // fails with it may be tried once more through the generic reader.
    bool dedicated = false;
    // False once a reader that failed to open found the file readable but without an audio
    // stream.
    bool hasAudio = true;
    // Why nothing could decode the file (ReaderUse::kDecode only), else empty.
    std::string failureDetail;
};

// Asked when a Windows Media file or output needs the missing runtime.
extern const char* const kWindowsMediaQuestion;

// The sentence shown when no reader could decode a file.
extern const char* const kUndecodableDetail;

// Opens a reader for path, trying the readers that tries names in turn. targetRate is the rate
// a synthesising reader renders at.
ReaderChoice CreateReader(const std::string& path, SourceType sourceType, int targetRate,
                          ReaderUse use, ReaderTry tries, const ReaderContext& context);

}  // namespace kestrune
