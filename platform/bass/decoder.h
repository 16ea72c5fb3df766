#pragma once

// What the decoding layer and its plug-ins share: one decoder per open file.

#include <cstddef>
#include <cstdint>

namespace kestrune::bass {

struct DecoderFormat {
    uint32_t rate = 0;
    uint32_t channels = 0;
    // What Decode delivers: 8: unsigned samples; 16: signed, host order; 32: signed integers
    // with full scale at 2^31, or floats with full scale at 1.0 when floating is set.
    uint32_t bits = 16;
    bool floating = false;
    uint64_t frames = 0;     // decoded length
    int64_t fileBytes = -1;  // size of the source, -1 when unknown
    // The width of the file's own samples; 0 when it has none (a lossy codec) or is unknown.
    uint32_t sourceBits = 0;
    bool sourceFloat = false;
};

class Decoder {
public:
    virtual ~Decoder() = default;
    // Writes up to `bytes` bytes of whole interleaved frames; returns the bytes written,
    // 0 at the end, -1 on a decoding error.
    virtual long Decode(void* buffer, size_t bytes) = 0;
    // Before the first Decode: delivers 32-bit samples from here on (floats when floating,
    // else integers), for a source of more than 16 bits. False when the decoder cannot.
    virtual bool SetWideOutput(bool floating) {
        (void)floating;
        return false;
    }

    // Before the first Decode: moves so that the first Decode delivers from frame on, exact to
    // the sample. False when the decoder cannot; it then still delivers from the start.
    virtual bool Seek(uint64_t frame) {
        (void)frame;
        return false;
    }
    DecoderFormat format;
};

}  // namespace kestrune::bass

// Each plug-in exports this; it returns a decoder when the file is one of its formats,
// otherwise null. The caller owns the decoder.
extern "C" {
using KestruneBassOpenFn = kestrune::bass::Decoder* (*)(const char* path);
}
#define KESTRUNE_BASS_PLUGIN_ENTRY "KestruneBassPluginOpen"
