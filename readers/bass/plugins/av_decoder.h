#pragma once

// Decoding through libavformat/libavcodec, shared by the plug-ins built on FFmpeg. Each
// plug-in says which containers and codecs are its own.

#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
}

#include "readers/bass/decoder.h"

namespace kestrune::bass {

using AvAcceptFn = bool (*)(const char* containerName, AVCodecID codec);

// A decoder for the file's first audio stream when accept takes it, else null.
Decoder* OpenAvDecoder(const char* path, AvAcceptFn accept);

}  // namespace kestrune::bass
