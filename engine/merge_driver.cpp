// All items, in list order, into one output file: its writer, and an item fed into it.
#include "audio/audio_reader.h"
#include "audio/audio_writer.h"
#include "engine/conversion_session.h"
#include "engine/loudness_meter.h"
#include "engine/tag_choice.h"
#include "engine/writer_plan.h"
#include "writers/tag_file_writer.h"

namespace kestrune {

bool ConversionSession::ChooseMergeTags(const OutputFormatEntry& format,
                                        const SourceFileEntry& firstSource, TagSet& tags) const {
    return (format.getsTags || FinishedFileTakesTags(format)) &&
           kestrune::ChooseMergeTags(
               settings_, tagOptions_,
               tagOptions_.titleAsFileName ? std::string() : tagOptions_.title, firstSource, tags);
}

std::unique_ptr<AudioWriter> ConversionSession::CreateMergeWriter(const OutputFormatEntry& format,
                                                                  const std::string& path,
                                                                  int largestRate, int channels,
                                                                  const TagSet* tags,
                                                                  SampleDepth widest) {
    WriterPlan plan;
    const bool planned = PlanWriter(format, settings_, config_.windowsMedia, largestRate, channels,
                                    WriterFor::kMerge, plan, widest);
    mergeRate_ = planned ? plan.rate : 0;
    mergeChannels_ = planned ? plan.channels : 0;
    mergeMeter_.reset();
    if (!planned)
        return nullptr;
    // The merged file is measured as one track, on what its writer gets.
    if (MeasuresOutput()) {
        mergeMeter_ = std::make_shared<LoudnessMeter>(plan.channels, plan.rate, settings_.truePeak);
        if (!mergeMeter_->Valid())
            mergeMeter_.reset();
    }
    mergeRequestedRate_ = RequestedRate(format);
    std::unique_ptr<AudioWriter> writer = std::move(plan.writer);
    mergeWide_ = {};
    if (WideFormatFor(widest) != SampleFormat::kS16)
        mergeWide_ = writer->TakeWideInput(WideFormatFor(widest), widest);
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
    OpenedSource src;
    if (!OpenSource(source, mergeRequestedRate_, tries, src))
        return Ended(false, src.hasAudio);
    const bool ok = FeedWriter(src, writer, mergeRate_, mergeChannels_, source.sourceType,
                               mergeWide_, mergeMeter_.get());
    return Ended(ok, src.hasAudio);
}

}  // namespace kestrune
