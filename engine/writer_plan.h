#pragma once

#include <memory>

#include "audio/audio_writer.h"
#include "engine/convert_settings.h"
#include "writers/output_catalogue.h"

namespace kestrune {

struct AmrOptions;
class WindowsMediaSupport;

// The writer an output format gets, set up but not yet given its tags and path, and the shape
// of the PCM the block loop must feed it.
struct WriterPlan {
    std::unique_ptr<AudioWriter> writer;
    int rate = 0;
    int channels = 0;
};

// What a writer is made for: one output per source (rate and channels are the source's, and
// the Windows Media runtime converts the source's own shape), or a merge (rate and channels are
// the largest of the items, and every item is brought to one shape).
enum class WriterFor { kOneSource, kMerge };

// Makes the writer of format for PCM of rate and channels. False when none can be made: the
// row's codec is not among its allowed ones, or the runtime offers no Windows Media format.
// depth is the source's (a merge passes none): an automatic PCM row keeps a wider source whole.
bool PlanWriter(const OutputFormatEntry& format, const ConvertSettings& settings,
                const WindowsMediaSupport& windowsMedia, int rate, int channels, WriterFor use,
                WriterPlan& plan, SampleDepth depth = {});

// How the block loop brings a source to a writer's rate and channels: through the resampler
// (another rate, or stereo averaged into mono), or by picking one channel of a stereo source.
struct SourceRouting {
    bool resample = false;
    bool pick = false;
};
SourceRouting RouteSource(const ConvertSettings& settings, int sourceRate, int sourceChannels,
                          int outRate, int outChannels);

// The AMR family's encoding choice and rate for the "amr" and "awb" rows.
AmrOptions AmrFamilyOptions(FormatId formatId, const ConvertSettings& settings);
int AmrFamilyRate(FormatId formatId, const ConvertSettings& settings);

// The Windows Media rate, bit rate and channels asked for: derived from the source (or the
// merge's largest values) in automatic mode, else the stored ones.
struct WmaWanted {
    int sampleRate, bitRate, channels;
};
WmaWanted WantedWmaParameters(const ConvertSettings& settings, int rate, int channels);

}  // namespace kestrune
