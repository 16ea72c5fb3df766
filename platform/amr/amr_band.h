#pragma once

// What the narrow- and wide-band layers share beyond the storage file: their decoder and
// encoder handles and the steps that do not depend on the codec. Each band supplies its magic,
// frame sizes and codec calls.

#include <cstdio>
#include <memory>

#include "platform/amr/amr_file.h"

namespace kestrune::amr {

template <void (*Exit)(void*)>
struct CodecStateDeleter {
    void operator()(void* state) const { Exit(state); }
};

template <int FrameSamples, void* (*Init)(), void (*Exit)(void*)>
struct BandDecoder {
    static constexpr int kFrameSamples = FrameSamples;
    static void* MakeState() { return Init(); }
    FilePtr file;
    // Made with the first frame: a file that holds none never needs one.
    std::unique_ptr<void, CodecStateDeleter<Exit>> state;
    short samples[FrameSamples] = {};
    // After a damaged frame nothing later can be trusted to be a frame boundary.
    bool damaged = false;
};

template <void (*Exit)(void*)>
struct BandEncoder {
    FilePtr file;
    std::unique_ptr<void, CodecStateDeleter<Exit>> state;
    int mode = 6;
    int dtx = 0;
};

// A layer's decoder init: the file, checked for magic; null when it cannot be opened or lacks
// the magic.
template <typename Decoder>
void* OpenBandDecoder(const char* path, const char* magic) {
    FilePtr file = OpenWithMagic(path, magic);
    if (!file)
        return nullptr;
    auto decoder = std::make_unique<Decoder>();
    decoder->file = std::move(file);
    return decoder.release();
}

// A layer's decode call: the next frame through decodeFrame(state, frame, samples). The
// samples of one frame, 0 at the end of the file, -1 once a frame was damaged (or no codec
// state could be made for the first one).
template <typename Decoder, typename DecodeFrame>
int DecodeBandFrame(void* handle, const FrameSizes& sizes, short** samples, long* position,
                    DecodeFrame decodeFrame) {
    if (!handle)
        return -1;
    auto* decoder = static_cast<Decoder*>(handle);
    if (decoder->damaged)
        return -1;
    uint8_t frame[kMaxFrameBytes];
    switch (ReadFrame(decoder->file.get(), sizes, frame)) {
        case FrameResult::End:
            return 0;
        case FrameResult::Damaged:
            decoder->damaged = true;
            return -1;
        case FrameResult::Frame:
            break;
    }
    if (!decoder->state) {
        decoder->state.reset(Decoder::MakeState());
        if (!decoder->state) {
            decoder->damaged = true;
            return -1;
        }
    }
    decodeFrame(decoder->state.get(), frame, decoder->samples);
    if (samples)
        *samples = decoder->samples;
    if (position)
        *position = std::ftell(decoder->file.get());
    return Decoder::kFrameSamples;
}

// A layer's encoder init: a codec state from makeState(), then the file with its magic; null
// when either fails.
template <typename Encoder, typename MakeState>
void* OpenBandEncoder(const char* path, const char* magic, int mode, int dtx, MakeState makeState) {
    auto encoder = std::make_unique<Encoder>();
    encoder->state.reset(makeState());
    if (!encoder->state)
        return nullptr;
    encoder->file = CreateWithMagic(path, magic);
    if (!encoder->file)
        return nullptr;
    encoder->mode = mode;
    encoder->dtx = dtx ? 1 : 0;
    return encoder.release();
}

// A layer's encode call: one frame of samples through encodeFrame(encoder, samples, out),
// which returns the encoded size, appended to the file. The size written, 0 on a failure.
template <typename Encoder, typename EncodeFrame>
int EncodeBandFrame(void* handle, const short* samples, EncodeFrame encodeFrame) {
    if (!handle || !samples)
        return 0;
    auto* encoder = static_cast<Encoder*>(handle);
    uint8_t out[kMaxFrameBytes];
    const int size = encodeFrame(*encoder, samples, out);
    return AppendFrame(encoder->file.get(), out, size);
}

}  // namespace kestrune::amr
