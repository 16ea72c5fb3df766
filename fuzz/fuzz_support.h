#pragma once

// What the fuzz targets share: the libraries set up as the program sets them up, the input
// as a file (the readers take paths), and reading a reader to its end.

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/audio_reader.h"

namespace kestrune::fuzz {

// The decoding layer with its plug-ins beside the target, FFmpeg quiet and capped.
void InitLibraries();

// Writes the input to this process's input file, named with extension, and gives its path.
const std::string& InputFile(const uint8_t* data, size_t size, const std::string& extension);

// How far a target reads a stream: to its end, or this many frames when that comes first. A
// few bytes of FLAC or AMR can stand for minutes of silence; decoding those minutes is the
// codec's work and runs the same code of ours over and over, at up to seconds an input.
constexpr int64_t kMostFrames = 1 << 18;

// Reads every block (up to kMostFrames) and the tags, as a conversion with tags from the
// source does.
void ReadToEnd(AudioReader& reader);

}  // namespace kestrune::fuzz
