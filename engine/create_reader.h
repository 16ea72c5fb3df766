#pragma once

#include <functional>
#include <memory>
#include <string>

#include "audio/audio_reader.h"
#include "readers/source_type.h"

namespace kestrune {

class ConversionHost;
class WindowsMediaSupport;

// Reader choice state shared by the probing and the conversion steps of one session.
struct ReaderState {
    // 1 when the reader handed out (or the last one tried) was the type's dedicated reader.
    // A value of 1 on entry makes CreateReader go straight to the generic reader.
    int usedDedicatedReader = 0;
    // Why the last step failed, one line.
    std::string failureDetail;
    // Asked when a Windows Media source needs the runtime; may be null (no questions).
    ConversionHost* host = nullptr;
    // The Windows Media runtime, loaded when a source needs it; null: it is missing.
    WindowsMediaSupport* windowsMedia = nullptr;
};

// Asked when a Windows Media file or output needs the missing runtime.
extern const char* const kWindowsMediaQuestion;

// The sentence shown when no reader could decode a file.
extern const char* const kUndecodableDetail;

// Opens a reader for path: the dedicated reader of sourceType first, then the further tries
// of the type, then the generic reader (decode 1: FFmpegReader, 0: FFmpegProbeReader).
// hasAudio receives HasAudioStream of a reader whose Open failed (callers preset it to 1).
std::unique_ptr<AudioReader> CreateReader(const std::string& path, SourceType sourceType,
                                          int targetRate, int decode, int& hasAudio,
                                          ReaderState& state);

}  // namespace kestrune
