// All items, in list order, into one output file.
#include <algorithm>
#include <filesystem>

#include "audio/audio_reader.h"
#include "audio/audio_writer.h"
#include "engine/conversion_host.h"
#include "engine/conversion_session.h"
#include "writers/amr_writer.h"
#include "writers/ffmpeg_writer.h"
#include "writers/windows_media_writer.h"

namespace kestrune {

namespace {

std::string ToUpper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::unique_ptr<AudioWriter> ConversionSession::CreateMergeWriter(const OutputFormatEntry& format,
                                                                  const std::string& path,
                                                                  int largestRate, int channels) {
    mergeRate_ = 0;
    mergeChannels_ = 0;
    std::unique_ptr<AudioWriter> writer;
    switch (format.formatId) {
        case FormatId::kAmr:
        case FormatId::kAwb: {
            auto amr = std::make_unique<AmrWriter>();
            amr->SetEncoderOptions(AmrFamilyOptions(format.formatId, settings_));
            mergeRate_ = AmrFamilyRate(format.formatId, settings_);
            mergeChannels_ = 1;
            writer = std::move(amr);
            break;
        }
        case FormatId::kWma:
        case FormatId::kWmv:
        case FormatId::kAsf: {
            const WmaWanted wanted = WantedWmaParameters(settings_, largestRate, channels);
            mergeRate_ = wanted.sampleRate;
            mergeChannels_ = wanted.channels;
            const WmaChoice choice = ChooseWmaFormat(config_.windowsMedia.Formats(), mergeRate_,
                                                     wanted.bitRate, mergeChannels_);
            if (!choice.found)
                return nullptr;
            auto wm = std::make_unique<WindowsMediaWriter>(config_.windowsMedia.Runtime());
            wm->SetSampleRate(mergeRate_);
            wm->SetChannels(mergeChannels_);
            wm->SetBitRate(choice.bitRate);
            wm->SetEncoderOptions(WmaEncoderOptions(*choice.format));
            writer = std::move(wm);
            break;
        }
        default: {
            ResolvedEncoding enc;
            if (!format.UsesFFmpegWriter() || !ResolveEncoding(format, largestRate, channels, enc))
                return nullptr;
            auto ff = std::make_unique<FFmpegWriter>();
            FFmpegEncoderOptions options;
            options.containerShortName = format.containerShortName;
            options.codecId = format.codecId;
            ff->SetEncoderOptions(options);
            mergeRate_ = enc.sampleRate;
            mergeChannels_ = enc.channels;
            ff->SetSampleRate(mergeRate_);
            ff->SetChannels(mergeChannels_);
            ff->SetBitRate(enc.bitRate);
            writer = std::move(ff);
            break;
        }
    }
    if (format.getsTags && settings_.id3TagType == kTagsCustom) {
        writer->SetTags(CustomTagSet(
            tagOptions_, tagOptions_.titleAsFileName != 0 ? std::string() : tagOptions_.title, 0));
    }
    writer->SetPath(path);
    if (!writer->Open()) {
        writer.reset();
        std::error_code ec;
        std::filesystem::remove(path, ec);
        return nullptr;
    }
    return writer;
}

StepOutcome ConversionSession::ConvertFileInto(const SourceFileEntry& source, AudioWriter& writer,
                                               ReaderTry tries) {
    const std::string displayName = FileNameOf(currentItem_ ? currentItem_->path : source.path);
    OpenedSource src;
    if (!OpenSource(source, mergeRequestedRate_, tries, src))
        return Ended(false, src.hasAudio);
    const int sourceRate = src.reader->GetSampleRate();
    const int sourceChannels = src.reader->GetChannels();
    const bool fewer = mergeChannels_ < sourceChannels;
    const bool resample = sourceRate != mergeRate_ || (fewer && settings_.monoType == kMonoAverage);
    const bool pick = fewer && settings_.monoType > kMonoAverage;
    bool writeFailed = false;
    int result = RunBlockLoop(src, writer, mergeRate_, mergeChannels_, resample, pick,
                              source.sourceType, displayName, writeFailed);
    src.reader->Close();
    src.reader.reset();
    if (writeFailed) {
        usedDedicatedReader_ = 0;
        failureDetail_ = "Failed to write the output file (is the disk full?)";
        result = 0;
    }
    return Ended(result == 1, src.hasAudio);
}

void ConversionSession::ConvertListToOne(const std::vector<SourceFileEntry*>& items,
                                         const std::vector<int>& rows,
                                         const OutputFormatEntry& format,
                                         const std::string& mergePath) {
    std::vector<SourceFileEntry*> none;
    if (!PreRunChecks(none, format))
        return;  // the runtime; the font is asked below
    bool anyMidi = false;
    int largestRate = 0, largestChannels = 0;
    for (const SourceFileEntry* item : items) {
        anyMidi = anyMidi || item->sourceType == SourceType::kMidi;
        largestRate = std::max(largestRate, item->sampleRate);
        largestChannels = std::max(largestChannels, std::min(item->sourceChannels, 2));
    }
    if (anyMidi && !EnsureSoundFont())
        return;

    std::string path = mergePath;
    if (path.empty()) {
        const std::string ext = format.extension;
        if (!host_.AskSavePath(ToUpper(ext) + " File (*." + ext + ")", path) || path.empty())
            return;
    }
    mergeRequestedRate_ = RequestedRate(format);
    auto writer = CreateMergeWriter(format, path, largestRate, largestChannels);
    if (!writer) {
        host_.ShowWarning("Failed to create file \"" + path + "\".");
        return;
    }
    mergeOutputPath_ = path;
    const int count = static_cast<int>(items.size());
    BeginRun(count);
    const std::string name = FileNameOf(path);
    bool cancelled = false;
    bool reached = false;
    for (int i = 0; i < count; ++i) {
        runPosition_ = i + 1;
        currentItem_ = items[static_cast<size_t>(i)];
        reached = true;
        std::string status;
        if (!RunItem(*items[static_cast<size_t>(i)], rows[static_cast<size_t>(i)], count, format,
                     name, writer.get(), status)) {
            cancelled = true;
            break;
        }
    }
    currentItem_ = nullptr;
    writer->Close();
    writer.reset();
    if (cancelled) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
    EndRun(items, cancelled, reached);
}

}  // namespace kestrune
