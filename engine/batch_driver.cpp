// One item of a run: the passes that apply to it and its conversion, with one retry through
// the generic reader.
#include <fstream>

#include "engine/conversion_session.h"
#include "engine/output_path.h"

namespace kestrune {

namespace {

bool BeginsWithRiff(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    return in.read(magic, 4) && std::string(magic, 4) == "RIFF";
}

}  // namespace

ItemOutcome ConversionSession::ConvertItem(const SourceFileEntry& item, int index,
                                           const OutputFormatEntry& format, OutputClaim claim,
                                           AudioWriter* mergeWriter, const std::string& mergePath,
                                           OutputClaim* heldBack) {
    ItemOutcome outcome;
    currentIndex_ = index;
    runPosition_ = index + 1;
    failure_ = {};
    SourceFileEntry target = item;
    currentItem_ = &target;
    std::string tempFile;
    auto finish = [&](ItemEnd end) {
        // A held-back output can no longer be finished once the run is cancelling.
        if (heldBack && end == ItemEnd::kConverted && Cancelling())
            end = ItemEnd::kCancelled;
        if (!tempFile.empty())
            RemoveOutput(tempFile, item.path);
        currentItem_ = nullptr;
        // The name is given back with whatever its partial file holds, unless its converted
        // output is held back.
        if (heldBack && end == ItemEnd::kConverted)
            *heldBack = std::move(claim);
        else
            claim.Release();
        outcome.end = end != ItemEnd::kConverted && Cancelling() ? ItemEnd::kCancelled : end;
        if (outcome.end == ItemEnd::kFailed)
            outcome.failure = failure_;
        return outcome;
    };

    target.outputPath = mergeWriter ? mergePath : claim.Target();
    // Overwriting: the file of that name goes only now that this item is under way, so that
    // a run cancelled before it leaves it alone; a failure then leaves nothing of that name.
    claim.RemoveReplaced();
    // A name that existed is replaced only in overwrite mode; otherwise a file that appeared
    // there while converting is kept, and this output fails.
    const bool replace = settings_.targetExistsOpt == TargetExists::kOverwrite;

    SourceFileEntry source = target;  // what the passes read; a temporary copy may replace it
    if ((item.sourceType == SourceType::kDts && BeginsWithRiff(item.path)) ||
        (item.sourceType == SourceType::kCdAudio && settings_.enableDTSForCDA)) {
        observer_.ItemStarted(index, Pass::kPreprocessing);
        SourceFileEntry substitute;
        substitute.path = item.path;
        substitute.sourceType = item.sourceType;
        const StepOutcome extracted = ExtractDtsStream(substitute);
        if (extracted == StepOutcome::kDone) {
            tempFile = substitute.outputPath;
            source.path = tempFile;
            source.sourceType = SourceType::kDts;
        } else if (extracted == StepOutcome::kCancelled) {
            return finish(ItemEnd::kCancelled);
        }
    }

    appliedGain_ = 1.0f;
    normalizationGain_ = -1.0f;
    outputMeter_.reset();
    figures_ = {};
    if (settings_.volumeType == VolumeMode::kNormalize) {
        observer_.ItemStarted(index, Pass::kNormalizing);
        int16_t lo = 0, hi = 0;
        const StepOutcome scan = WithGenericRetry(
            [&](ReaderTry tries) { return ScanPeaks(source, format, lo, hi, tries); });
        if (scan == StepOutcome::kCancelled)
            return finish(ItemEnd::kCancelled);
        if (scan == StepOutcome::kDone)
            normalizationGain_ = GainFromPeaks(lo, hi);
    } else if (settings_.volumeType == VolumeMode::kLoudness) {
        observer_.ItemStarted(index, Pass::kNormalizing);
        bool hasLoudness = false;
        double lufs = 0, peak = 0;
        const StepOutcome measured = WithGenericRetry([&](ReaderTry tries) {
            return MeasureLoudness(source, format, hasLoudness, lufs, peak, tries);
        });
        if (measured == StepOutcome::kCancelled)
            return finish(ItemEnd::kCancelled);
        if (measured == StepOutcome::kDone)
            normalizationGain_ =
                GainFromLoudness(hasLoudness, lufs, peak, settings_.loudnessTarget);
    }

    observer_.ItemStarted(index, Pass::kConverting);
    const StepOutcome converted = WithGenericRetry([&](ReaderTry tries) {
        return mergeWriter
                   ? ConvertFileInto(source, *mergeWriter, tries)
                   : ConvertFileTo(source, format, tries, &claim, replace, heldBack != nullptr);
    });
    switch (converted) {
        case StepOutcome::kDone:
            break;
        case StepOutcome::kCancelled:
            return finish(ItemEnd::kCancelled);
        case StepOutcome::kFailed:
            return finish(ItemEnd::kFailed);
        case StepOutcome::kNoAudio:
            return finish(ItemEnd::kNoAudio);
    }
    outcome.outputPath = target.outputPath;
    outcome.gain = appliedGain_;
    outcome.loudness = figures_;
    // Kept only where an album's gain is still to come.
    if (heldBack)
        outcome.meter = outputMeter_;
    outputMeter_.reset();
    return finish(ItemEnd::kConverted);
}

}  // namespace kestrune
