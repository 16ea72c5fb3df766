#pragma once

// Decoders built into the layer itself (the plug-ins add the others).

#include <memory>
#include <string>
#include <vector>

#include "platform/bass/decoder.h"

namespace kestrune::bass {

// Size of a file in bytes, -1 when it cannot be read.
int64_t FileSize(const std::string& path);

std::unique_ptr<Decoder> OpenWavDecoder(const std::string& path);
std::unique_ptr<Decoder> OpenMpegDecoder(const std::string& path);
// Tracker music rendered once through at `rate` Hz, stereo 16-bit.
std::unique_ptr<Decoder> OpenMusicDecoder(const std::string& path, uint32_t rate);
// A standard MIDI file (or RIFF RMID) rendered at `rate` Hz with the given sound fonts.
std::unique_ptr<Decoder> OpenMidiDecoder(const std::string& path, uint32_t rate,
                                         const std::vector<std::string>& fonts);
// True when the file looks like a sound font the synthesiser can load.
bool IsSoundFont(const std::string& path);

// Expands the tag fields of fmt for the file; empty when the file carries no tag text.
std::string FormatTags(const std::string& path, const std::string& fmt);

}  // namespace kestrune::bass
