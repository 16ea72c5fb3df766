#include "writers/amr/amrnb.h"

#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrnb/interf_enc.h>

#include "writers/amr/amr_file.h"

namespace {

using namespace kestrune::amr;

constexpr char kMagic[] = "#!AMR\n";
constexpr int kFrameSamples = 160;
// Speech bytes per frame type: the eight modes, SID, three foreign SID types, reserved, no data.
constexpr FrameSizes kSizes = {12, 13, 15, 17, 19, 20, 26, 31, 5, 6, 5, 5, -1, -1, -1, 0};

struct DecoderStateDeleter {
    void operator()(void* s) const { Decoder_Interface_exit(s); }
};
struct EncoderStateDeleter {
    void operator()(void* s) const { Encoder_Interface_exit(s); }
};

struct Decoder {
    FilePtr file;
    std::unique_ptr<void, DecoderStateDeleter> state;
    short samples[kFrameSamples] = {};
    // After a damaged frame nothing later can be trusted to be a frame boundary.
    bool damaged = false;
};

struct Encoder {
    FilePtr file;
    std::unique_ptr<void, EncoderStateDeleter> state;
    Mode mode = MR102;
};

}  // namespace

extern "C" {

void* amrnbdec_init(const char* path) {
    FilePtr file = OpenWithMagic(path, kMagic);
    if (!file)
        return nullptr;
    auto decoder = std::make_unique<Decoder>();
    decoder->state.reset(Decoder_Interface_init());
    if (!decoder->state)
        return nullptr;
    decoder->file = std::move(file);
    return decoder.release();
}

int amrnbdec_decode(void* handle, short** samples, long* position) {
    if (!handle)
        return -1;
    auto* decoder = static_cast<Decoder*>(handle);
    if (decoder->damaged)
        return -1;
    uint8_t frame[kMaxFrameBytes];
    switch (ReadFrame(decoder->file.get(), kSizes, frame)) {
        case FrameResult::End:
            return 0;
        case FrameResult::Damaged:
            decoder->damaged = true;
            return -1;
        case FrameResult::Frame:
            break;
    }
    Decoder_Interface_Decode(decoder->state.get(), frame, decoder->samples, 0);
    if (samples)
        *samples = decoder->samples;
    if (position)
        *position = std::ftell(decoder->file.get());
    return kFrameSamples;
}

void amrnbdec_quit(void* handle) {
    delete static_cast<Decoder*>(handle);
}

void* amrnbenc_init(const char* path, int dtx, enum AmrnbMode mode) {
    if (mode < AMRNB_MR475 || mode > AMRNB_MR122)
        return nullptr;
    auto encoder = std::make_unique<Encoder>();
    encoder->state.reset(Encoder_Interface_init(dtx ? 1 : 0));
    if (!encoder->state)
        return nullptr;
    encoder->file = CreateWithMagic(path, kMagic);
    if (!encoder->file)
        return nullptr;
    encoder->mode = static_cast<Mode>(mode);
    return encoder.release();
}

int amrnbenc_encode(void* handle, const short* frame) {
    if (!handle || !frame)
        return 0;
    auto* encoder = static_cast<Encoder*>(handle);
    uint8_t out[kMaxFrameBytes];
    const int size = Encoder_Interface_Encode(encoder->state.get(), encoder->mode, frame, out, 0);
    return AppendFrame(encoder->file.get(), out, size);
}

void amrnbenc_quit(void* handle) {
    delete static_cast<Encoder*>(handle);
}

}  // extern "C"
