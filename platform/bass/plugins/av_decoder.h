#pragma once

// Decoding through libavformat/libavcodec, shared by the plug-ins built on FFmpeg. Each
// plug-in says which containers and codecs are its own.

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "platform/bass/decoder.h"

namespace kestrune::bass {

using AvAcceptFn = bool (*)(const char* containerName, AVCodecID codec);

// Up to n bytes from offset in the file (fewer at its end).
std::string FileBytes(const char* path, size_t offset, size_t n);
// Where the audio starts: after an ID3v2 tag, if the file begins with one.
size_t Id3v2Size(const char* path);
// True for a file laid out as an MP4/QuickTime movie.
bool IsMp4(const char* path);

// A decoder for the file's first audio stream, read with the named demuxer (the plug-in
// has recognised the file already: no probing), when accept takes it; else null.
Decoder* OpenAvDecoder(const char* path, const char* demuxer, AvAcceptFn accept);

}  // namespace kestrune::bass
