#pragma once

#include <cstdint>
#include <string>

#include "audio/audio_writer.h"

namespace kestrune {

// The encoding choice of the AMR family. Modes index the rate lists: narrow band 0..7
// (4.75 to 12.2 kbit/s), wide band 0..8 (6.60 to 23.85 kbit/s).
struct AmrOptions : EncoderOptions {
    AmrOptions() = default;
    AmrOptions(int32_t narrow, int32_t dtxOn, int32_t nbMode, int32_t wbMode)
        : narrowBand(narrow), dtx(dtxOn), narrowBandMode(nbMode), wideBandMode(wbMode) {}
    int32_t narrowBand = 1;  // 1 = narrow band (8000 Hz), 0 = wide band (16000 Hz)
    int32_t dtx = 0;
    int32_t narrowBandMode = 6;
    int32_t wideBandMode = 6;
};

// Writes AMR storage files from mono PCM at 8000 Hz (narrow band) or 16000 Hz (wide band),
// collecting the PCM into codec frames of 160 or 320 samples.
class AmrWriter : public AudioWriter {
public:
    AmrWriter() = default;
    ~AmrWriter() override;

    void SetPath(const std::string& path) override;
    void SetEncoderOptions(const EncoderOptions& options) override;
    int Open() override;
    // Reads left only. 0 when the codec layer could not append a frame.
    int Write(const int16_t* left, const int16_t* right, int frames) override;
    // Pads a partly filled frame with silence, encodes it and closes the file.
    void Close() override;
    bool Completed() const override { return completed; }

    // Samples waiting for a whole frame, and frames handed to the encoder so far.
    int PendingSamples() const { return fill; }
    int64_t EncodedFrames() const { return encodedFrames; }

private:
    static constexpr int kMaxFrameSamples = 320;

    int FrameLength() const { return narrowBand ? 160 : 320; }
    bool EncodeFrame(const int16_t* frame);

    std::string path;
    void* encoder = nullptr;
    int32_t narrowBand = 1;
    int32_t dtx = 0;
    int32_t narrowBandMode = 6;
    int32_t wideBandMode = 6;
    int16_t frame[kMaxFrameSamples] = {};
    int fill = 0;
    int64_t encodedFrames = 0;
    bool failed = false;  // a frame could not be written: the file is not whole
    bool completed = false;
};

}  // namespace kestrune
