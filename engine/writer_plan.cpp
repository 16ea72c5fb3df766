#include "engine/writer_plan.h"

#include "writers/amr_writer.h"
#include "writers/ffmpeg_writer.h"
#include "writers/windows_media_runtime.h"
#include "writers/windows_media_writer.h"

namespace kestrune {

namespace {

bool PlanFFmpegWriter(const OutputFormatEntry& format, int rate, int channels, WriterPlan& plan) {
    ResolvedEncoding enc;
    if (!format.UsesFFmpegWriter() || !ResolveEncoding(format, rate, channels, enc))
        return false;
    auto writer = std::make_unique<FFmpegWriter>();
    FFmpegEncoderOptions options;
    options.containerShortName = format.containerShortName;
    options.codecId = format.codecId;
    writer->SetEncoderOptions(options);
    writer->SetSampleRate(enc.sampleRate);
    writer->SetChannels(enc.channels);
    writer->SetBitRate(enc.bitRate);
    plan.writer = std::move(writer);
    plan.rate = enc.sampleRate;
    plan.channels = enc.channels;
    return true;
}

bool PlanAmrWriter(const OutputFormatEntry& format, const ConvertSettings& settings,
                   WriterPlan& plan) {
    auto writer = std::make_unique<AmrWriter>();
    writer->SetEncoderOptions(AmrFamilyOptions(format.formatId, settings));
    plan.writer = std::move(writer);
    plan.rate = AmrFamilyRate(format.formatId, settings);
    plan.channels = 1;
    return true;
}

bool PlanWindowsMediaWriter(const ConvertSettings& settings, const WindowsMediaSupport& wm,
                            int rate, int channels, WriterFor use, WriterPlan& plan) {
    const WmaWanted wanted = WantedWmaParameters(settings, rate, channels);
    const WmaChoice choice =
        ChooseWmaFormat(wm.Formats(), wanted.sampleRate, wanted.bitRate, wanted.channels);
    if (!choice.found)
        return false;
    if (use == WriterFor::kMerge) {
        plan.rate = wanted.sampleRate;
        plan.channels = wanted.channels;
    } else {
        // The writer gets the source's rate and every source channel (a mono source twice) and
        // folds them itself; one channel is picked only when the user asked for fewer channels
        // and a side.
        const bool pick = !settings.wmaAutoEncParam && wanted.channels < channels &&
                          settings.monoType > MonoMix::kAverage;
        plan.rate = rate;
        plan.channels = pick ? 1 : channels < wanted.channels ? 2 : channels;
    }
    auto writer = std::make_unique<WindowsMediaWriter>(wm.Runtime());
    writer->SetSampleRate(plan.rate);
    writer->SetChannels(plan.channels);
    writer->SetBitRate(choice.bitRate);
    writer->SetEncoderOptions(WmaEncoderOptions(*choice.format));
    plan.writer = std::move(writer);
    return true;
}

}  // namespace

bool PlanWriter(const OutputFormatEntry& format, const ConvertSettings& settings,
                const WindowsMediaSupport& windowsMedia, int rate, int channels, WriterFor use,
                WriterPlan& plan) {
    switch (format.formatId) {
        case FormatId::kAmr:
        case FormatId::kAwb:
            return PlanAmrWriter(format, settings, plan);
        case FormatId::kWma:
        case FormatId::kWmv:
        case FormatId::kAsf:
            return PlanWindowsMediaWriter(settings, windowsMedia, rate, channels, use, plan);
        default:
            return PlanFFmpegWriter(format, rate, channels, plan);
    }
}

SourceRouting RouteSource(const ConvertSettings& settings, int sourceRate, int sourceChannels,
                          int outRate, int outChannels) {
    const bool fewer = outChannels < sourceChannels;
    SourceRouting routing;
    routing.resample = outRate != sourceRate || (fewer && settings.monoType == MonoMix::kAverage);
    routing.pick = fewer && settings.monoType > MonoMix::kAverage;
    return routing;
}

AmrOptions AmrFamilyOptions(FormatId formatId, const ConvertSettings& s) {
    if (formatId == FormatId::kAwb)
        return AmrOptions(0, s.awbDtx ? 1 : 0, s.amrMode, s.awbMode);
    return AmrOptions(s.amrType == AmrBand::kNarrow ? 1 : 0, s.amrDtx ? 1 : 0, s.amrMode,
                      s.amrwbMode);
}

int AmrFamilyRate(FormatId formatId, const ConvertSettings& s) {
    if (formatId == FormatId::kAwb)
        return 16000;
    return s.amrType == AmrBand::kWide ? 16000 : 8000;
}

WmaWanted WantedWmaParameters(const ConvertSettings& s, int rate, int channels) {
    if (s.wmaAutoEncParam) {
        const WmaParameters p = WmaAutoParameters(rate, channels);
        return {p.sampleRate, p.bitRate, channels};
    }
    return {s.wmaSampleRate, s.wmaBitRate, s.wmaChannels};
}

}  // namespace kestrune
