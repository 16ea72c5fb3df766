#include "messages/item_texts.h"

#include <cstdio>

#include "audio/utf8_text.h"
#include "engine/web_addresses.h"
#include "readers/bass_reader.h"
#include "readers/source_type.h"

namespace kestrune {

namespace {

// A path in a message: a name that is not UTF-8 is shown repaired, never passed on.
std::string Quoted(const std::string& path) {
    return "\"" + RepairUtf8(path) + "\"";
}

// A failure of the conversion itself, shown after "Conversion Failure"; the others are shown
// alone.
bool OfTheConversion(FailureReason reason) {
    switch (reason) {
        case FailureReason::kNameFile:
        case FailureReason::kNameFolder:
        case FailureReason::kNameIsSource:
        case FailureReason::kSoundFontMissing:
            return false;
        default:
            return true;
    }
}

const char* Verb(Pass pass) {
    switch (pass) {
        case Pass::kPreprocessing:
            return "Preprocessing";
        case Pass::kNormalizing:
            return "Normalizing";
        case Pass::kConverting:
            break;
    }
    return "Converting";
}

}  // namespace

std::string FailureDetailText(const Failure& failure) {
    switch (failure.reason) {
        case FailureReason::kNone:
            return {};
        case FailureReason::kUndecodable:
            return std::string("Kestrune cannot decode this file. Please send it to ") +
                   kSupportAddress + " so that we can add support for it.";
        case FailureReason::kNoAudioRate:
            return "The file's sample rate of " + failure.detail +
                   " Hz is no audio rate (1000 to 768000 Hz)";
        case FailureReason::kSongTooLong:
            return "The song would last longer than 2 hours: the file is damaged";
        case FailureReason::kSkipTooLong:
            return "Length of the file is shorter than skipping length set at Options -> General";
        case FailureReason::kWriteFailed:
            return "Failed to write the output file (is the disk full?)";
        case FailureReason::kOutputIsSource:
            return "The output file would replace the source file";
        case FailureReason::kCreateOutput:
        case FailureReason::kNameFile:
            return "Failed to create file " + Quoted(failure.detail);
        case FailureReason::kNameFolder:
            return "Failed to create folder " + Quoted(failure.detail);
        case FailureReason::kNameIsSource:
            return "Target file name is same as original file that can't be overwritten. Please "
                   "output files to a custom folder.";
        case FailureReason::kSoundFontMissing:
            return std::string("Failure. Requires file \"") + kSoundFontName + "\".";
        case FailureReason::kCdAudioFromDisk:
            return "IMPORTANT: please DO NOT add CDA file from hard drive, but add CDA file from "
                   "CD "
                   "drive.";
        case FailureReason::kFlashFile:
            return "Flash files often hold their sound in a form only a dedicated SWF/FLV "
                   "converter can extract; please try one for this file.";
        case FailureReason::kSheetTooLarge:
            return "The cue sheet is larger than 1 MB: it is no track list";
        case FailureReason::kSheetTooManyTracks:
            return "The cue sheet lists more than 99 tracks";
        case FailureReason::kSheetNoTracks:
            return "The cue sheet lists no track";
        case FailureReason::kSheetBadLine:
            return "Line " + failure.detail + " of the cue sheet cannot be read";
        case FailureReason::kSheetUnreadable:
            return "The cue sheet cannot be read";
        case FailureReason::kSheetFileMissing:
            return "The cue sheet's file " + Quoted(failure.detail) + " is missing";
        case FailureReason::kTrackPastEnd:
            return "Track " + failure.detail + " of the cue sheet lies past the end of its file";
    }
    return {};
}

std::string ConversionFailureText(const std::string& detail) {
    return detail.empty() ? "Conversion Failure" : "Conversion Failure (" + detail + ")";
}

std::string OutputText(const ItemOutcome& outcome) {
    switch (outcome.end) {
        case ItemEnd::kConverted:
            return FileNameOf(outcome.outputPath);
        case ItemEnd::kNoAudio:
            return "No audio in the file";
        case ItemEnd::kSkipped:
            return "Target exists and skipped";
        case ItemEnd::kCancelled:
            return "Cancelled";
        case ItemEnd::kFailed:
            break;
    }
    if (!OfTheConversion(outcome.failure.reason))
        return FailureDetailText(outcome.failure);
    return ConversionFailureText(FailureDetailText(outcome.failure));
}

bool WidensOutputColumn(const ItemOutcome& outcome) {
    return outcome.end == ItemEnd::kFailed && outcome.failure.reason != FailureReason::kNone &&
           OfTheConversion(outcome.failure.reason);
}

std::string VolumeText(float gain) {
    char text[32];
    std::snprintf(text, sizeof text, "%.02f%%", static_cast<double>(gain) * 100.0);
    return text;
}

std::string PassText(Pass pass) {
    return std::string(Verb(pass)) + "...";
}

std::string PassProgressText(Pass pass, int percent) {
    return PassText(pass) + " " + std::to_string(percent) + "%";
}

std::string WaitingForAlbumText() {
    return "Waiting for the album";
}

std::string StartingText(const std::string& name) {
    return "Starting to convert " + name + "...";
}

std::string PassLabelText(Pass pass, int percent, const std::string& name) {
    return "[" + std::to_string(percent) + "%] " + Verb(pass) + " " + name + "...";
}

std::string OverallText(int position, int count, const std::string& target) {
    return "Converting " + std::to_string(position) + " of " + std::to_string(count) +
           " file(s) to " + target + "...";
}

std::string MergeFailureText(const RunSummary& summary) {
    switch (summary.merge) {
        case RunSummary::Merge::kCreateFailed:
            return "Failed to create file " + Quoted(summary.mergePath) + ".";
        case RunSummary::Merge::kWriteFailed:
            return "Failed to write file " + Quoted(summary.mergePath) + " (is the disk full?).";
        case RunSummary::Merge::kNone:
        case RunSummary::Merge::kWritten:
            break;
    }
    return {};
}

}  // namespace kestrune
