#pragma once

#include <string>

#include "readers/cue_sheet.h"

namespace kestrune {

// The cue sheet a FLAC or WavPack image carries inside: FLAC's CUESHEET block (its positions
// in samples), or a CUESHEET tag (FLAC's Vorbis comment, WavPack's APE tag). Its tracks all
// belong to the image, whatever FILE the sheet names. kNoTracks when there is none.
CueParse ReadEmbeddedCueSheet(const std::string& path);

// FLAC's CUESHEET block alone: true when the file at path has one with audio tracks (at most
// kMostCueTracks, each starting after the one before), which then fill sheet.
bool ReadFlacCueBlock(const std::string& path, CueSheet& sheet);

}  // namespace kestrune
