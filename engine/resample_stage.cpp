#include "engine/resample_stage.h"

#include <soxr.h>

#include <algorithm>
#include <cstring>

#include "audio/audio_reader.h"

namespace kestrune {

namespace {

template <typename T>
T* Reserve(std::vector<T>& buffer, size_t count) {
    if (buffer.size() < count)
        buffer.resize(count);
    return buffer.data();
}

// One channel, float samples, high quality, and no threads of its own: engines may run side
// by side and each stage stays on its caller's thread.
soxr* OpenResampler(int inputRate, int outputRate) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
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
    if (!validChannels(inputChannels) || !validChannels(outputChannels) || inputSampleRate <= 0 ||
        outputSampleRate <= 0) {
        return 0;
    }
    ratio_ = static_cast<double>(outputSampleRate) / inputSampleRate;
    if (inputSampleRate != outputSampleRate) {
        left_.reset(OpenResampler(inputSampleRate, outputSampleRate));
        if (!left_)
            return 0;
        // The right channel only has its own resampler when it has its own samples.
        if (inputChannels == 2 && outputChannels == 2) {
            right_.reset(OpenResampler(inputSampleRate, outputSampleRate));
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

void ResampleStage::CopyOut(const int16_t* left, const int16_t* right, int frames, int16_t* outLeft,
                            int16_t* outRight) const {
    const size_t bytes = static_cast<size_t>(frames) * sizeof(int16_t);
    if (left != outLeft)
        std::memmove(outLeft, left, bytes);
    if (outputChannels == 2 && right != outRight)
        std::memmove(outRight, right, bytes);
}

int ResampleStage::Process(const int16_t* inLeft, const int16_t* inRight, int frames,
                           int16_t* outLeft, int16_t* outRight) {
    if (!configured_ || frames <= 0 || !inLeft || !outLeft)
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
    if (!configured_ || !left_ || !outLeft)
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

}  // namespace kestrune
