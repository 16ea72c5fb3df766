#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_reader.h"
#include "readers/g72x.h"
#include "readers/pcm_unpack.h"

namespace kestrune {

// Sun/NeXT audio files in either byte order: linear PCM, floating point, G.711 and the
// G.721/G.723 ADPCM family.
class AuReader : public AudioReader {
public:
    AuReader();
    ~AuReader() override;

    void Close() override;
    int Open(const std::string& path, int preferredRate) override;
    int Read(int16_t* left, int16_t* right) override;
    // Linear samples of more than 16 bits and floats also come whole.
    SampleFormat GetWideFormat() override;
    int ReadS32(int32_t* left, int32_t* right) override;
    int ReadF32(float* left, float* right) override;

private:
    int ReadAdpcm(int16_t* left, int16_t* right);
    template <typename Sample, typename Unpacker>
    int ReadLinear(Sample* left, Sample* right, Unpacker unpack);

    FileHandle file_;
    std::unique_ptr<uint8_t[]> buffer_;  // one block, made in Open
    int encoding_ = 0;
    int codeBits_ = 0;
    bool bigEndian_ = true;
    UnpackFn unpack_ = nullptr;
    UnpackS32Fn unpackS32_ = nullptr;
    UnpackF32Fn unpackF32_ = nullptr;
    int64_t dataOffset_ = 0;
    int64_t blockBytes_ = 0;  // one Read's worth of coded data
    // One decoder per decoded channel: two interleaved channels sharing one predictor would
    // turn a stereo file into noise.
    std::vector<G72xDecoder> adpcm_;
    uint32_t bitBuffer_ = 0;
    int bitCount_ = 0;
};

}  // namespace kestrune
