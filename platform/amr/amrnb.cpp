#include "platform/amr/amrnb.h"

#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrnb/interf_enc.h>

#include "platform/amr/amr_band.h"

namespace {

using namespace kestrune::amr;

constexpr char kMagic[] = "#!AMR\n";
// Speech bytes per frame type: the eight modes, SID, three foreign SID types, reserved, no data.
constexpr FrameSizes kSizes = {12, 13, 15, 17, 19, 20, 26, 31, 5, 6, 5, 5, -1, -1, -1, 0};

using Decoder = BandDecoder<160, Decoder_Interface_init, Decoder_Interface_exit>;
using Encoder = BandEncoder<Encoder_Interface_exit>;

}  // namespace

extern "C" {

void* amrnbdec_init(const char* path) {
    return OpenBandDecoder<Decoder>(path, kMagic);
}

int amrnbdec_decode(void* handle, short** samples, long* position) {
    return DecodeBandFrame<Decoder>(handle, kSizes, samples, position,
                                    [](void* state, uint8_t* frame, short* out) {
                                        Decoder_Interface_Decode(state, frame, out, 0);
                                    });
}

void amrnbdec_quit(void* handle) {
    delete static_cast<Decoder*>(handle);
}

void* amrnbenc_init(const char* path, int dtx, enum AmrnbMode mode) {
    if (mode < AMRNB_MR475 || mode > AMRNB_MR122)
        return nullptr;
    return OpenBandEncoder<Encoder>(path, kMagic, mode, dtx,
                                    [dtx] { return Encoder_Interface_init(dtx ? 1 : 0); });
}

int amrnbenc_encode(void* handle, const short* frame) {
    return EncodeBandFrame<Encoder>(
        handle, frame, [](Encoder& encoder, const short* samples, uint8_t* out) {
            return Encoder_Interface_Encode(encoder.state.get(), static_cast<Mode>(encoder.mode),
                                            samples, out, 0);
        });
}

void amrnbenc_quit(void* handle) {
    delete static_cast<Encoder*>(handle);
}

}  // extern "C"
