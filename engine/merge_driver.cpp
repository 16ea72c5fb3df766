// All items, in list order, into one output file.
#include <algorithm>

#include "audio/audio_reader.h"
#include "audio/audio_writer.h"
#include "engine/conversion_host.h"
#include "engine/conversion_session.h"
#include "engine/tag_choice.h"
#include "engine/writer_plan.h"
#include "writers/tag_file_writer.h"

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
                                                                  int largestRate, int channels,
                                                                  const TagSet* tags) {
    WriterPlan plan;
    const bool planned = PlanWriter(format, settings_, config_.windowsMedia, largestRate, channels,
                                    WriterFor::kMerge, plan);
    mergeRate_ = planned ? plan.rate : 0;
    mergeChannels_ = planned ? plan.channels : 0;
    if (!planned)
        return nullptr;
    std::unique_ptr<AudioWriter> writer = std::move(plan.writer);
    if (tags)
        writer->SetTags(*tags);
    writer->SetPath(path);
    if (!writer->Open()) {
        writer.reset();
        RemoveOutput(path, {});
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
    const bool ok =
        FeedWriter(src, writer, mergeRate_, mergeChannels_, source.sourceType, displayName);
    return Ended(ok, src.hasAudio);
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
    TagSet tags;
    const bool tagged =
        !items.empty() && (format.getsTags || FinishedFileTakesTags(format)) &&
        ChooseMergeTags(settings_, tagOptions_,
                        tagOptions_.titleAsFileName ? std::string() : tagOptions_.title,
                        items.front()->path, tags);
    // The merged file is written under its partial name and gets its own only once whole: the
    // user chose the name, so a file there is replaced then. A device is written straight.
    const std::string target = ResolvedOutputPath(path);
    const bool straight = IsSpecialFile(target);
    OutputClaim claim;
    std::unique_ptr<AudioWriter> writer;
    if (straight || claim.Hold(target) == OutputClaim::Take::kTaken) {
        writer = CreateMergeWriter(
            format, straight ? target : claim.PartialPath(), largestRate, largestChannels,
            tagged && (format.getsTags || TagsGoIntoFinishedFile(format, tags)) ? &tags : nullptr);
    }
    if (!writer) {
        host_.ShowWarning("Failed to create file \"" + path + "\".");
        return;
    }
    mergeOutputPath_ = path;
    BeginRun(static_cast<int>(items.size()));
    const bool cancelled = !RunItems(items, rows, format, FileNameOf(path), writer.get());
    writer->Close();
    bool whole = writer->Completed();
    writer.reset();
    // What the writer could not write goes into the file before it takes its name.
    if (!cancelled && whole && !straight && tagged && TagsGoIntoFinishedFile(format, tags))
        whole = WriteTagsToFile(claim.PartialPath(), format, tags);
    if (!cancelled && (!whole || (!straight && !claim.Commit(true)))) {
        // Nothing of a merge that could not be written to its end stays behind.
        claim.Release();
        for (SourceFileEntry* item : items)
            item->outputPath.clear();
        host_.ShowWarning("Failed to write file \"" + path + "\" (is the disk full?).");
    }
    claim.Release();  // a cancelled merge leaves nothing
    EndRun(items, cancelled, !items.empty());
}

}  // namespace kestrune
