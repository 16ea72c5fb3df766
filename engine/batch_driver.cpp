// One output per item: the pre-run checks, the passes and the conversion of every item, with
// the statuses the file list shows.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "engine/conversion_host.h"
#include "engine/conversion_session.h"
#include "engine/output_path.h"
#include "engine/web_addresses.h"
#include "writers/wma_codec_list.h"

namespace kestrune {

namespace fs = std::filesystem;

namespace {

bool BeginsWithRiff(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {};
    return in.read(magic, 4) && std::string(magic, 4) == "RIFF";
}

std::string VolumeText(float gain) {
    char text[32];
    std::snprintf(text, sizeof text, "%.02f%%", static_cast<double>(gain) * 100.0);
    return text;
}

}  // namespace

const char* const kSoundFontFailure = "Failure. Requires file \"ct4mgm.sf2\".";

bool ConversionSession::PreRunChecks(const std::vector<SourceFileEntry*>& items,
                                     const OutputFormatEntry& format) {
    if (IsWindowsMediaFormat(format.formatId) && !EnsureWindowsMediaRuntime()) {
        if (host_.AskYesNo(kWindowsMediaQuestion))
            host_.OpenInBrowser(kWindowsMediaDownloadUrl);
        return false;
    }
    for (const SourceFileEntry* item : items) {
        if (item->sourceType != SourceType::kMidi)
            continue;
        if (!EnsureSoundFont())
            return false;
        break;
    }
    return true;
}

bool ConversionSession::EnsureSoundFont() {
    if (soundFontLoaded_ || LoadDefaultSoundFont())
        return true;
    char text[1024];
    std::snprintf(text, sizeof text,
                  "Dear user, to decode MIDI file, file \"ct4mgm.sf2\" is required.\n"
                  "Unfortunately, the file isn't available on your computer.\n\n"
                  "Do you want to download the file from our website for free now?\n\n"
                  "Once download completes, please copy the file to folder:\n\"%s\"\n"
                  "And then convert your MIDI file again. Thank you.",
                  config_.programFolder.c_str());
    if (host_.AskYesNo(text)) {
        host_.OpenFolder(config_.programFolder);
        host_.OpenInBrowser(kSoundFontDownloadUrl);
        return false;  // the run ends; the user converts again once the font is there
    }
    return true;  // go on: the MIDI items fail on their own
}

bool ConversionSession::EnsureWindowsMediaRuntime() {
    return config_.windowsMedia.Load();
}

void ConversionSession::BeginRun(int itemCount) {
    host_.EnableMainWindow(false);
    host_.ShowProgress(true);
    host_.SetOverallProgress(0, itemCount);
    host_.PumpMessages();
}

void ConversionSession::EndRun(const std::vector<SourceFileEntry*>& items, bool cancelled,
                               bool reachedAny) {
    host_.ShowProgress(false);
    host_.EnableMainWindow(true);
    if (cancelled || !settings_.browseOutputFolder || !reachedAny)
        return;
    for (const SourceFileEntry* item : items) {
        std::error_code ec;
        if (!item->outputPath.empty() && fs::exists(item->outputPath, ec)) {
            host_.SelectInExplorer(item->outputPath);
            return;
        }
    }
}

bool ConversionSession::RunItem(SourceFileEntry& item, int row, int itemCount,
                                const OutputFormatEntry& format, const std::string& overallName,
                                AudioWriter* mergeWriter, OutputClaim claim) {
    std::string status;
    std::string tempFile;
    failureDetail_.clear();
    auto finishFailure = [&] {
        if (!tempFile.empty())
            RemoveOutput(tempFile, item.path);
        // The name is given back with whatever its partial file holds.
        claim.Release();
        item.outputPath.clear();
        if (host_.CancelRequested()) {
            host_.SetItemOutput(row, "Cancelled");
            return false;
        }
        host_.SetItemOutput(row, status);
        return true;
    };

    if (item.sourceType == SourceType::kMidi && !soundFontLoaded_) {
        status = kSoundFontFailure;
        return finishFailure();
    }
    host_.SetItemVolume(row, "");
    char label[1024];
    std::snprintf(label, sizeof label, "Converting %d of %d file(s) to %s...", runPosition_,
                  itemCount, overallName.c_str());
    host_.SetOverallLabel(label);
    host_.SetOverallProgress(runPosition_, itemCount);
    host_.SetFileLabel("Starting to convert " + FileNameOf(item.path) + "...");
    host_.SetFileProgress(0, host_.FileBarWidth());

    if (mergeWriter) {
        item.outputPath = mergeOutputPath_;
    } else if (claim.Held()) {
        item.outputPath = claim.Target();
    } else {
        std::string outputPath, message;
        if (!PrepareOutputPath(item.path, format, settings_, host_, outputPath, message, &claim)) {
            status = message;
            return finishFailure();
        }
        item.outputPath = outputPath;
    }
    // A name that existed is replaced only in overwrite mode; otherwise a file that appeared
    // there while converting is kept, and this output fails.
    const bool replace = settings_.targetExistsOpt == TargetExists::kOverwrite;

    SourceFileEntry source = item;  // what the passes read; a temporary copy may replace it
    if ((item.sourceType == SourceType::kDts && BeginsWithRiff(item.path)) ||
        (item.sourceType == SourceType::kCdAudio && settings_.enableDTSForCDA)) {
        host_.SetItemOutput(row, "Preprocessing...");
        SourceFileEntry substitute;
        substitute.path = item.path;
        substitute.sourceType = item.sourceType;
        const StepOutcome outcome = ExtractDtsStream(substitute);
        if (outcome == StepOutcome::kDone) {
            tempFile = substitute.outputPath;
            source.path = tempFile;
            source.sourceType = SourceType::kDts;
        } else if (outcome == StepOutcome::kCancelled) {
            return finishFailure();
        }
    }

    appliedGain_ = 1.0f;
    normalizationGain_ = -1.0f;
    if (settings_.volumeType == VolumeMode::kNormalize) {
        host_.SetItemOutput(row, "Normalizing...");
        int16_t lo = 0, hi = 0;
        const StepOutcome scan = WithGenericRetry(
            [&](ReaderTry tries) { return ScanPeaks(source, format, lo, hi, tries); });
        if (scan == StepOutcome::kCancelled)
            return finishFailure();
        if (scan == StepOutcome::kDone)
            normalizationGain_ = GainFromPeaks(lo, hi);
    }

    host_.SetItemOutput(row, "Converting...");
    const StepOutcome converted = WithGenericRetry([&](ReaderTry tries) {
        return mergeWriter ? ConvertFileInto(source, *mergeWriter, tries)
                           : ConvertFileTo(source, format, tries, &claim, replace);
    });
    switch (converted) {
        case StepOutcome::kDone:
            break;
        case StepOutcome::kCancelled:
            return finishFailure();
        case StepOutcome::kFailed:
            status = "Conversion Failure";
            if (!failureDetail_.empty()) {
                status += " (" + failureDetail_ + ")";
                host_.SetOutputColumnWidth(500);
            }
            return finishFailure();
        case StepOutcome::kNoAudio:
            status = "No audio in the file";
            return finishFailure();
    }

    if (!tempFile.empty())
        RemoveOutput(tempFile, item.path);
    host_.SetItemVolume(row, VolumeText(appliedGain_));
    host_.SetItemOutput(row, FileNameOf(item.outputPath));
    host_.PumpMessages();
    return !host_.CancelRequested();
}

bool ConversionSession::ConvertItem(SourceFileEntry& item, int row, int position, int itemCount,
                                    const OutputFormatEntry& format, OutputClaim claim) {
    runPosition_ = position;
    currentItem_ = &item;
    const bool goOn =
        RunItem(item, row, itemCount, format, format.DisplayLabel(), nullptr, std::move(claim));
    currentItem_ = nullptr;
    return goOn;
}

void ConversionSession::ConvertList(const std::vector<SourceFileEntry*>& items,
                                    const std::vector<int>& rows, const OutputFormatEntry& format) {
    if (!PreRunChecks(items, format))
        return;
    const int count = static_cast<int>(items.size());
    BeginRun(count);
    const bool cancelled = !RunItems(items, rows, format, format.DisplayLabel(), nullptr);
    EndRun(items, cancelled, count > 0);
}

bool ConversionSession::RunItems(const std::vector<SourceFileEntry*>& items,
                                 const std::vector<int>& rows, const OutputFormatEntry& format,
                                 const std::string& overallName, AudioWriter* mergeWriter) {
    const int count = static_cast<int>(items.size());
    bool goOn = true;
    for (int i = 0; i < count && goOn; ++i) {
        runPosition_ = i + 1;
        currentItem_ = items[static_cast<size_t>(i)];
        goOn = RunItem(*items[static_cast<size_t>(i)], rows[static_cast<size_t>(i)], count, format,
                       overallName, mergeWriter);
    }
    currentItem_ = nullptr;
    return goOn;
}

}  // namespace kestrune
