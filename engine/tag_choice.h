#pragma once

#include <string>

#include "audio/tag_set.h"
#include "engine/convert_settings.h"
#include "readers/source_type.h"

namespace kestrune {

class AudioReader;

// The tags of one source's output, as the options choose them: the custom tag with the title
// and track number given, or the source's own nine texts as its reader reads them (a WAV
// source without any: its INFO list). Either way with what the source holds beyond the nine,
// which the custom tag replaces only in the nine: pictures (or the folder's cover image, when
// asked for and the source has none; none at all without "CopyCoverArt"), the album artist,
// the disc, every other field. When levelChanged, the source's ReplayGain fields are left out:
// they would be wrong. False when the output gets no tags.
bool ChooseOutputTags(const ConvertSettings& settings, const TagOptions& options,
                      const SourceFileEntry& source, AudioReader& reader,
                      const std::string& customTitle, int customTrack, bool levelChanged,
                      TagSet& tags);

// The tags of a file made of several sources: the custom tag (without a track), or the album
// of the first source (its album, year, genre and copyright); either way with the first
// source's other album fields, disc and pictures, as the cover options say (for a track of a disc
// image, its sheet's album, year, genre and disc). False when the file gets no tags.
bool ChooseMergeTags(const ConvertSettings& settings, const TagOptions& options,
                     const std::string& customTitle, const SourceFileEntry& firstSource,
                     TagSet& tags);

}  // namespace kestrune
