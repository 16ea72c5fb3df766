#include "writers/amr_writer.h"

#include <algorithm>

#include "platform/amr/amrnb.h"
#include "platform/amr/amrwb.h"

namespace kestrune {

AmrWriter::~AmrWriter() {
    Close();
}

void AmrWriter::SetPath(const std::string& p) {
    path = p;
}

void AmrWriter::SetEncoderOptions(const EncoderOptions& options) {
    const auto* amr = dynamic_cast<const AmrOptions*>(&options);
    if (!amr || encoder)
        return;
    narrowBand = amr->narrowBand ? 1 : 0;
    dtx = amr->dtx;
    narrowBandMode = amr->narrowBandMode;
    wideBandMode = amr->wideBandMode;
}

int AmrWriter::Open() {
    if (encoder || path.empty())
        return 0;
    if (narrowBand)
        encoder = amrnbenc_init(path.c_str(), dtx, static_cast<AmrnbMode>(narrowBandMode));
    else
        encoder = amrwbenc_init(path.c_str(), dtx, wideBandMode);
    fill = 0;
    encodedFrames = 0;
    failed = false;
    completed = false;
    return encoder ? 1 : 0;
}

bool AmrWriter::EncodeFrame(const int16_t* samples) {
    ++encodedFrames;
    const int written =
        narrowBand ? amrnbenc_encode(encoder, samples) : amrwbenc_encode(encoder, samples);
    if (written <= 0)
        failed = true;
    return written > 0;
}

int AmrWriter::Write(const int16_t* left, const int16_t* right, int frames) {
    (void)right;
    if (!encoder)
        return 0;
    if (frames <= 0 || !left)
        return 1;
    const int length = FrameLength();
    bool ok = true;
    if (fill + frames < length) {
        std::copy_n(left, frames, frame + fill);
        fill += frames;
        return 1;
    }
    int used = 0;
    if (fill > 0) {
        used = length - fill;
        std::copy_n(left, used, frame + fill);
        ok = EncodeFrame(frame) && ok;
    }
    // Whole frames go to the encoder straight from the caller's buffer.
    for (; frames - used >= length; used += length)
        ok = EncodeFrame(left + used) && ok;
    fill = frames - used;
    std::copy_n(left + used, fill, frame);
    return ok ? 1 : 0;
}

void AmrWriter::Close() {
    if (encoder) {
        if (fill > 0) {
            std::fill(frame + fill, frame + FrameLength(), int16_t{0});
            EncodeFrame(frame);
        }
        if (narrowBand)
            amrnbenc_quit(encoder);
        else
            amrwbenc_quit(encoder);
        encoder = nullptr;
        completed = !failed;
    }
    path.clear();
    narrowBand = 1;
    dtx = 0;
    narrowBandMode = 6;
    wideBandMode = 6;
    fill = 0;
}

}  // namespace kestrune
