#include "writers/amr/amrwb.h"

#include <opencore-amrwb/dec_if.h>
#include <vo-amrwbenc/enc_if.h>

#include "writers/amr/amr_file.h"

namespace {

using namespace kestrune::amr;

constexpr char kMagic[] = "#!AMR-WB\n";
constexpr int kFrameSamples = 320;
constexpr int kHighestMode = 8;
// Speech bytes per frame type: the nine modes, SID, reserved, speech lost, no data.
constexpr FrameSizes kSizes = {17, 23, 32, 36, 40, 46, 50, 58, 60, 5, -1, -1, -1, -1, 0, 0};

struct DecoderStateDeleter {
    void operator()(void* s) const { D_IF_exit(s); }
};
struct EncoderStateDeleter {
    void operator()(void* s) const { E_IF_exit(s); }
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
    int mode = 6;
    int dtx = 0;
};

}  // namespace

extern "C" {

void* amrwbdec_init(const char* path) {
    FilePtr file = OpenWithMagic(path, kMagic);
    if (!file)
        return nullptr;
    auto decoder = std::make_unique<Decoder>();
    decoder->state.reset(D_IF_init());
    if (!decoder->state)
        return nullptr;
    decoder->file = std::move(file);
    return decoder.release();
}

int amrwbdec_decode(void* handle, short** samples, long* position) {
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
    D_IF_decode(decoder->state.get(), frame, decoder->samples, _good_frame);
    if (samples)
        *samples = decoder->samples;
    if (position)
        *position = std::ftell(decoder->file.get());
    return kFrameSamples;
}

void amrwbdec_quit(void* handle) {
    delete static_cast<Decoder*>(handle);
}

void* amrwbenc_init(const char* path, int dtx, int mode) {
    if (mode < 0 || mode > kHighestMode)
        return nullptr;
    auto encoder = std::make_unique<Encoder>();
    encoder->state.reset(E_IF_init());
    if (!encoder->state)
        return nullptr;
    encoder->file = CreateWithMagic(path, kMagic);
    if (!encoder->file)
        return nullptr;
    encoder->mode = mode;
    encoder->dtx = dtx ? 1 : 0;
    return encoder.release();
}

int amrwbenc_encode(void* handle, const short* frame) {
    if (!handle || !frame)
        return 0;
    auto* encoder = static_cast<Encoder*>(handle);
    uint8_t out[kMaxFrameBytes];
    const int size = E_IF_encode(encoder->state.get(), encoder->mode, frame, out, encoder->dtx);
    return AppendFrame(encoder->file.get(), out, size);
}

void amrwbenc_quit(void* handle) {
    delete static_cast<Encoder*>(handle);
}

}  // extern "C"
