#pragma once

// What the decoding layer and its plug-ins share: one decoder per open file.

#include <cstddef>
#include <cstdint>

namespace kestrune::bass {

struct DecoderFormat {
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint32_t bits = 16;      // 8: unsigned samples; 16: signed, host order
    uint64_t frames = 0;     // decoded length
    int64_t fileBytes = -1;  // size of the source, -1 when unknown
};

class Decoder {
public:
    virtual ~Decoder() = default;
    // Writes up to `bytes` bytes of whole interleaved frames; returns the bytes written,
    // 0 at the end, -1 on a decoding error.
    virtual long Decode(void* buffer, size_t bytes) = 0;

    DecoderFormat format;
};

}  // namespace kestrune::bass

// Each plug-in exports this; it returns a decoder when the file is one of its formats,
// otherwise null. The caller owns the decoder.
extern "C" {
using KestruneBassOpenFn = kestrune::bass::Decoder* (*)(const char* path);
}
#define KESTRUNE_BASS_PLUGIN_ENTRY "KestruneBassPluginOpen"
