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

// Reads every block and the tags, as a conversion with tags from the source does.
void ReadToEnd(AudioReader& reader);

}  // namespace kestrune::fuzz
