#include "engine/resample_stage.h"

#include <soxr.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "audio/audio_reader.h"

namespace kestrune {

namespace {

template <typename T>
T* Reserve(std::vector<T>& buffer, size_t count) {
    if (buffer.size() < count)
        buffer.resize(count);
    return buffer.data();
}

// One channel, high quality, and no threads of its own: engines may run side by side and each
// stage stays on its caller's thread. Float samples for the 16-bit blocks (converted here);
// wide blocks go in and out as they are, at very high quality so that 24 bits stay 24 bits.
soxr* OpenResampler(int inputRate, int outputRate, soxr_datatype_t samples = SOXR_FLOAT32_I,
                    unsigned long recipe = SOXR_HQ) {
    const soxr_io_spec_t io = soxr_io_spec(samples, samples);
    const soxr_quality_spec_t quality = soxr_quality_spec(recipe, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr* handle = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, &runtime);
    if (error) {
        soxr_delete(handle);
        return nullptr;
    }
    return handle;
}

}  // namespace

void ResampleStage::ResamplerCloser::operator()(soxr* handle) const {
    soxr_delete(handle);
}

ResampleStage::ResampleStage() = default;
ResampleStage::~ResampleStage() = default;

int ResampleStage::Configure() {
    left_.reset();
    right_.reset();
    configured_ = false;
    const auto validChannels = [](int c) { return c == 1 || c == 2; };
    const bool bitsKnown = (inputBitsPerSample == 16 && outputBitsPerSample == 16) ||
                           (inputBitsPerSample == 32 && outputBitsPerSample == 32);
    if (!validChannels(inputChannels) || !validChannels(outputChannels) || inputSampleRate <= 0 ||
        outputSampleRate <= 0 || !bitsKnown) {
        return 0;
    }
    ratio_ = static_cast<double>(outputSampleRate) / inputSampleRate;
    const soxr_datatype_t samples = !Wide()        ? SOXR_FLOAT32_I
                                    : floatSamples ? SOXR_FLOAT32_I
                                                   : SOXR_INT32_I;
    const unsigned long recipe = Wide() ? SOXR_VHQ : SOXR_HQ;
    if (inputSampleRate != outputSampleRate) {
        left_.reset(OpenResampler(inputSampleRate, outputSampleRate, samples, recipe));
        if (!left_)
            return 0;
        // The right channel only has its own resampler when it has its own samples.
        if (inputChannels == 2 && outputChannels == 2) {
            right_.reset(OpenResampler(inputSampleRate, outputSampleRate, samples, recipe));
            if (!right_)
                return 0;
        }
    }
    configured_ = true;
    return 1;
}

int ResampleStage::OutputCapacity(int frames) const {
    if (inputSampleRate <= 0 || outputSampleRate <= 0)
        return frames;
    return (outputSampleRate / inputSampleRate + 1) * frames;
}

int ResampleStage::PieceFrames() const {
    // 18432 output frames: what a block brought up fifteen times in rate needs.
    constexpr int kMostOutputFrames = 16 * kBlockFrames;
    const int perInputFrame = OutputCapacity(1);
    return std::clamp(kMostOutputFrames / std::max(perInputFrame, 1), 1, kBlockFrames);
}

int ResampleStage::RunChannel(soxr* handle, const int16_t* in, int frames, int capacity,
                              int16_t* out) {
    float* floatOut = Reserve(floatOut_, static_cast<size_t>(capacity));
    const size_t room = static_cast<size_t>(capacity);
    size_t produced = 0;
    if (!in) {
        // End of input: the resampler gives out what it still holds, as far as room allows.
        if (soxr_process(handle, nullptr, 0, nullptr, floatOut, room, &produced))
            return -1;
    } else {
        float* floatIn = Reserve(floatIn_, static_cast<size_t>(frames));
        constexpr float kToFloat = 1.0f / 32768.0f;
        for (int i = 0; i < frames; ++i)
            floatIn[i] = in[i] * kToFloat;
        // The library takes a whole block at once; keep feeding it should it ever not.
        const size_t total = static_cast<size_t>(frames);
        size_t consumed = 0;
        while (consumed < total && produced < room) {
            size_t used = 0, got = 0;
            if (soxr_process(handle, floatIn + consumed, total - consumed, &used,
                             floatOut + produced, room - produced, &got)) {
                return -1;
            }
            consumed += used;
            produced += got;
            if (used == 0 && got == 0)
                break;
        }
    }
    for (size_t i = 0; i < produced; ++i) {
        const float v = std::clamp(floatOut[i], -1.0f, 1.0f);
        // Truncation toward zero: full scale is +-32767, never -32768.
        out[i] = static_cast<int16_t>(v * 32767.0f);
    }
    return static_cast<int>(produced);
}

template <typename T>
void ResampleStage::CopyOut(const T* left, const T* right, int frames, T* outLeft,
                            T* outRight) const {
    const size_t bytes = static_cast<size_t>(frames) * sizeof(T);
    if (left != outLeft)
        std::memmove(outLeft, left, bytes);
    if (outputChannels == 2 && right != outRight)
        std::memmove(outRight, right, bytes);
}

int ResampleStage::Process(const int16_t* inLeft, const int16_t* inRight, int frames,
                           int16_t* outLeft, int16_t* outRight) {
    if (!configured_ || Wide() || frames <= 0 || !inLeft || !outLeft)
        return 0;
    if (inputChannels == 2 && !inRight)
        return 0;
    if (outputChannels == 2 && !outRight)
        return 0;

    const int16_t* left = inLeft;
    const int16_t* right = inputChannels == 2 ? inRight : nullptr;
    if (inputChannels == 2 && outputChannels == 1) {
        int16_t* mix = Reserve(monoMix_, static_cast<size_t>(frames));
        for (int i = 0; i < frames; ++i) {
            // The shift halves toward minus infinity: -3 and 0 give -2.
            mix[i] = static_cast<int16_t>((static_cast<int32_t>(left[i]) + right[i]) >> 1);
        }
        left = mix;
        right = nullptr;
    }

    if (!left_) {
        CopyOut(left, right ? right : left, frames, outLeft, outRight);
        return frames;
    }

    const int capacity = OutputCapacity(frames);
    int count = RunChannel(left_.get(), left, frames, capacity, outLeft);
    if (count < 0)
        return 0;
    if (right) {
        count = RunChannel(right_.get(), right, frames, capacity, outRight);
        if (count < 0)
            return 0;
    } else if (outputChannels == 2) {
        std::memcpy(outRight, outLeft, static_cast<size_t>(count) * sizeof(int16_t));
    }
    return count;
}

int ResampleStage::Flush(int16_t* outLeft, int16_t* outRight) {
    if (!configured_ || Wide() || !left_ || !outLeft)
        return 0;
    if (outputChannels == 2 && !outRight)
        return 0;
    const int capacity = OutputCapacity(PieceFrames());
    int count = RunChannel(left_.get(), nullptr, 0, capacity, outLeft);
    if (count < 0)
        return 0;
    if (right_) {
        count = RunChannel(right_.get(), nullptr, 0, capacity, outRight);
        if (count < 0)
            return 0;
    } else if (outputChannels == 2) {
        std::memcpy(outRight, outLeft, static_cast<size_t>(count) * sizeof(int16_t));
    }
    return count;
}

namespace {

// (left + right) / 2 of wide samples; integers halve toward minus infinity as the 16-bit mix does.
inline int32_t Average(int32_t l, int32_t r) {
    return static_cast<int32_t>((static_cast<int64_t>(l) + r) >> 1);
}
inline float Average(float l, float r) {
    return (l + r) * 0.5f;
}

// Runs one channel of wide samples through its resampler (in null: the end of the input).
template <typename T>
int RunWide(soxr* handle, const T* in, int frames, int capacity, T* out) {
    const size_t room = static_cast<size_t>(capacity);
    size_t produced = 0;
    if (!in)
        return soxr_process(handle, nullptr, 0, nullptr, out, room, &produced)
                   ? -1
                   : static_cast<int>(produced);
    const size_t total = static_cast<size_t>(frames);
    size_t consumed = 0;
    while (consumed < total && produced < room) {
        size_t used = 0, got = 0;
        if (soxr_process(handle, in + consumed, total - consumed, &used, out + produced,
                         room - produced, &got))
            return -1;
        consumed += used;
        produced += got;
        if (used == 0 && got == 0)
            break;
    }
    return static_cast<int>(produced);
}

}  // namespace

template <typename T>
int ResampleStage::ProcessWide(const T* inLeft, const T* inRight, int frames, T* outLeft,
                               T* outRight, std::vector<T>& mix) {
    const bool floats = std::is_same_v<T, float>;
    if (!configured_ || !Wide() || floatSamples != floats || frames <= 0 || !inLeft || !outLeft)
        return 0;
    if ((inputChannels == 2 && !inRight) || (outputChannels == 2 && !outRight))
        return 0;
    const T* left = inLeft;
    const T* right = inputChannels == 2 ? inRight : nullptr;
    if (inputChannels == 2 && outputChannels == 1) {
        T* m = Reserve(mix, static_cast<size_t>(frames));
        for (int i = 0; i < frames; ++i)
            m[i] = Average(left[i], right[i]);
        left = m;
        right = nullptr;
    }
    if (!left_) {
        CopyOut(left, right ? right : left, frames, outLeft, outRight);
        return frames;
    }
    const int capacity = OutputCapacity(frames);
    int count = RunWide(left_.get(), left, frames, capacity, outLeft);
    if (count < 0)
        return 0;
    if (right) {
        count = RunWide(right_.get(), right, frames, capacity, outRight);
        if (count < 0)
            return 0;
    } else if (outputChannels == 2) {
        std::memcpy(outRight, outLeft, static_cast<size_t>(count) * sizeof(T));
    }
    return count;
}

template <typename T>
int ResampleStage::FlushWide(T* outLeft, T* outRight) {
    if (!configured_ || !Wide() || floatSamples != std::is_same_v<T, float> || !left_ || !outLeft)
        return 0;
    if (outputChannels == 2 && !outRight)
        return 0;
    const int capacity = OutputCapacity(PieceFrames());
    int count = RunWide<T>(left_.get(), nullptr, 0, capacity, outLeft);
    if (count < 0)
        return 0;
    if (right_) {
        count = RunWide<T>(right_.get(), nullptr, 0, capacity, outRight);
        if (count < 0)
            return 0;
    } else if (outputChannels == 2) {
        std::memcpy(outRight, outLeft, static_cast<size_t>(count) * sizeof(T));
    }
    return count;
}

int ResampleStage::Process(const int32_t* inLeft, const int32_t* inRight, int frames,
                           int32_t* outLeft, int32_t* outRight) {
    return ProcessWide(inLeft, inRight, frames, outLeft, outRight, wideMix_);
}

int ResampleStage::Process(const float* inLeft, const float* inRight, int frames, float* outLeft,
                           float* outRight) {
    return ProcessWide(inLeft, inRight, frames, outLeft, outRight, floatMix_);
}

int ResampleStage::Flush(int32_t* outLeft, int32_t* outRight) {
    return FlushWide(outLeft, outRight);
}

int ResampleStage::Flush(float* outLeft, float* outRight) {
    return FlushWide(outLeft, outRight);
}

}  // namespace kestrune
