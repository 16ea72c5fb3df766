#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct soxr;

namespace kestrune {

// Converts planar 16-bit blocks of one file to another sample rate (one fixed ratio, the
// resampler's high-quality setting) and to another channel count: stereo to mono by averaging, mono
// to stereo by duplicating. One object serves one file: set the six format fields, Configure once,
// give it every block in order, then Flush until it returns 0. With both bit fields at 32 it takes
// the wide blocks of a source of more than 16 bits instead (32-bit integers, or floats when
// floatSamples is set), at the resampler's very-high-quality setting.
class ResampleStage {
public:
    ResampleStage();
    ~ResampleStage();
    ResampleStage(const ResampleStage&) = delete;
    ResampleStage& operator=(const ResampleStage&) = delete;

    int outputChannels = -1;
    int outputSampleRate = -1;
    int outputBitsPerSample = -1;
    int inputChannels = -1;
    int inputSampleRate = -1;
    int inputBitsPerSample = -1;
    bool floatSamples = false;  // with 32 bits: float blocks rather than integer ones

    // Reads the format fields and opens the resamplers when the rates differ. 1 on success,
    // 0 when a format is not 1 or 2 channels at a positive rate, or a resampler cannot open.
    int Configure();

    // Converts one block. outLeft (and outRight, written only for stereo output) must hold
    // OutputCapacity(frames) frames. Returns the frames written, which follow the resampler:
    // it works in chunks of its own, so a block may give anything from 0 to the capacity,
    // on average ratio x frames. What it still holds at the end comes out through Flush.
    int Process(const int16_t* inLeft, const int16_t* inRight, int frames, int16_t* outLeft,
                int16_t* outRight);

    // At the end of the file: emits what the resampler still holds, at most
    // OutputCapacity(PieceFrames()) frames per call. Call until it returns 0.
    int Flush(int16_t* outLeft, int16_t* outRight);

    // The same for wide blocks.
    int Process(const int32_t* inLeft, const int32_t* inRight, int frames, int32_t* outLeft,
                int32_t* outRight);
    int Process(const float* inLeft, const float* inRight, int frames, float* outLeft,
                float* outRight);
    int Flush(int32_t* outLeft, int32_t* outRight);
    int Flush(float* outLeft, float* outRight);

    // (output rate / input rate, rounded down, + 1) x frames.
    int OutputCapacity(int frames) const;
    // The most input frames to give one Process call so that its output buffers stay within
    // a fixed size whatever the ratio: kBlockFrames for every ordinary ratio, fewer (at least
    // one) for a steep one.
    int PieceFrames() const;
    double Ratio() const { return ratio_; }

private:
    struct ResamplerCloser {
        void operator()(soxr* handle) const;
    };
    using ResamplerHandle = std::unique_ptr<soxr, ResamplerCloser>;

    // Runs one channel through its resampler (in null: end of input); a negative result
    // means the library failed.
    int RunChannel(soxr* handle, const int16_t* in, int frames, int capacity, int16_t* out);
    template <typename T>
    void CopyOut(const T* left, const T* right, int frames, T* outLeft, T* outRight) const;
    template <typename T>
    int ProcessWide(const T* inLeft, const T* inRight, int frames, T* outLeft, T* outRight,
                    std::vector<T>& mix);
    template <typename T>
    int FlushWide(T* outLeft, T* outRight);
    bool Wide() const { return inputBitsPerSample == 32; }

    double ratio_ = 1.0;
    bool configured_ = false;
    ResamplerHandle left_;
    ResamplerHandle right_;
    // Grown on demand, never shrunk: a file allocates on its first block only.
    std::vector<int16_t> monoMix_;
    std::vector<float> floatIn_;
    std::vector<float> floatOut_;
    std::vector<int32_t> wideMix_;
    std::vector<float> floatMix_;
};

}  // namespace kestrune
