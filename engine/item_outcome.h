#pragma once

#include <memory>
#include <string>

namespace kestrune {

class LoudnessMeter;

// The passes of one item, in the order they run (the first two only when they apply).
enum class Pass {
    kPreprocessing,  // the raw copy of a DTS stream disguised as PCM
    kNormalizing,    // the peak scan of the normalising pass
    kConverting,
};

// Why an item, a step of it or a probe failed. The front ends word it.
enum class FailureReason {
    kNone,            // nothing more is known
    kUndecodable,     // no reader can decode the file
    kNoAudioRate,     // the file claims a rate no sound has; detail: that rate in Hz
    kSongTooLong,     // a synthesised song would last longer than 2 hours
    kSkipTooLong,     // the skip is not shorter than the file
    kWriteFailed,     // the output could not be written to its end
    kOutputIsSource,  // the output would replace the source
    kCreateOutput,    // the output file cannot be made; detail: its path
    // The output's name could not be chosen (these end an item before it converts):
    kNameFolder,    // a folder of the name cannot be made; detail: the folder
    kNameFile,      // the file cannot be made there; detail: its path
    kNameIsSource,  // overwriting would replace the source itself
    // A MIDI item while the sound font is missing.
    kSoundFontMissing,
    // A probe: a ".cda" file outside a CD drive, a Flash file.
    kCdAudioFromDisk,
    kFlashFile,
    // A cue sheet, or a track of its image:
    kSheetTooLarge,       // over 1 MiB
    kSheetTooManyTracks,  // over 99 tracks
    kSheetNoTracks,       // no track to cut (an empty sheet)
    kSheetBadLine,        // detail: the number of the line that cannot be read
    kSheetUnreadable,     // the sheet cannot be read
    kSheetFileMissing,    // detail: the name of the missing file, as the sheet gives it
    kTrackPastEnd,        // detail: the track's number; it starts or ends past the image's end
};

struct Failure {
    FailureReason reason = FailureReason::kNone;
    std::string detail;

    bool operator==(const Failure&) const = default;
};

// How an item of a run ended.
enum class ItemEnd {
    kConverted,  // outputPath holds the output, gain what was applied to it
    kNoAudio,    // the file holds no audio
    kFailed,     // failure says why
    kSkipped,    // its output exists and the policy leaves it alone
    kCancelled,  // the run was cancelled while it ran
};

// What measuring an output's audio found, with the gains written into its tags.
struct LoudnessFigures {
    bool measured = false;  // the output's audio went through a meter
    // Integrated loudness in LUFS; silence and audio too short to measure have none.
    bool hasLoudness = false;
    double loudness = 0;
    double peak = 0;  // the highest peak, as a fraction of full scale
    bool truePeak = false;
    // The ReplayGain gains in dB (or an Opus file's, which refer to -23 LUFS) written.
    bool hasTrackGain = false;
    double trackGain = 0;
    bool hasAlbumGain = false;
    double albumGain = 0;
    double albumPeak = 0;
};

struct ItemOutcome {
    ItemEnd end = ItemEnd::kFailed;
    std::string outputPath;
    float gain = 1.0f;
    Failure failure;
    LoudnessFigures loudness;
    // The meter of the output's audio, while an album's gain is still to be measured.
    std::shared_ptr<const LoudnessMeter> meter;
};

}  // namespace kestrune
