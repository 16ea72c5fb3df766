#include "platform/amr/amrwb.h"

#include <opencore-amrwb/dec_if.h>
#include <vo-amrwbenc/enc_if.h>

#include "platform/amr/amr_band.h"

namespace {

using namespace kestrune::amr;

constexpr char kMagic[] = "#!AMR-WB\n";
constexpr int kHighestMode = 8;
// Speech bytes per frame type: the nine modes, SID, reserved, speech lost, no data.
constexpr FrameSizes kSizes = {17, 23, 32, 36, 40, 46, 50, 58, 60, 5, -1, -1, -1, -1, 0, 0};

using Decoder = BandDecoder<320, D_IF_init, D_IF_exit>;
using Encoder = BandEncoder<E_IF_exit>;

}  // namespace

extern "C" {

void* amrwbdec_init(const char* path) {
    return OpenBandDecoder<Decoder>(path, kMagic);
}

int amrwbdec_decode(void* handle, short** samples, long* position) {
    return DecodeBandFrame<Decoder>(handle, kSizes, samples, position,
                                    [](void* state, uint8_t* frame, short* out) {
                                        D_IF_decode(state, frame, out, _good_frame);
                                    });
}

void amrwbdec_quit(void* handle) {
    delete static_cast<Decoder*>(handle);
}

void* amrwbenc_init(const char* path, int dtx, int mode) {
    if (mode < 0 || mode > kHighestMode)
        return nullptr;
    return OpenBandEncoder<Encoder>(path, kMagic, mode, dtx, [] { return E_IF_init(); });
}

int amrwbenc_encode(void* handle, const short* frame) {
    return EncodeBandFrame<Encoder>(
        handle, frame, [](Encoder& encoder, const short* samples, uint8_t* out) {
            return E_IF_encode(encoder.state.get(), encoder.mode, samples, out, encoder.dtx);
        });
}

void amrwbenc_quit(void* handle) {
    delete static_cast<Encoder*>(handle);
}

}  // extern "C"
