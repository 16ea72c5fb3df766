#pragma once

#include <memory>
#include <string>

#include "audio/audio_reader.h"
#include "engine/item_outcome.h"
#include "readers/source_type.h"

namespace kestrune {

class WindowsMediaSupport;

// What the generic reader is: FFmpegReader, which decodes, or FFmpegProbeReader, which only
// reads what the file list shows.
enum class ReaderUse { kDecode, kProbe };

// Which readers are tried: the source type's dedicated reader first (then the type's further
// try, then the generic reader), or the generic reader alone, for the one retry of a step that
// failed with the dedicated reader.
enum class ReaderTry { kDedicatedFirst, kGenericOnly };

// What CreateReader needs of its surroundings.
struct ReaderContext {
    // Loaded when a Windows Media source needs it; null: the runtime is missing.
    WindowsMediaSupport* windowsMedia = nullptr;
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
    // Why nothing could decode the file (kUndecodable only with ReaderUse::kDecode), or a
    // reader's refusal of what the file claims; kNone when there is nothing to say.
    Failure failure;
    // The type's dedicated reader needs the Windows Media runtime, which is missing; the
    // generic reader was tried instead.
    bool windowsMediaMissing = false;
};

// Opens a reader for path, trying the readers that tries names in turn. targetRate is the rate
// a synthesising reader renders at.
ReaderChoice CreateReader(const std::string& path, SourceType sourceType, int targetRate,
                          ReaderUse use, ReaderTry tries, const ReaderContext& context);

}  // namespace kestrune
