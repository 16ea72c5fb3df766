#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <numeric>
#include <vector>

#include "audio/audio_reader.h"
#include "engine/resample_stage.h"
#include "tests/support/test_support.h"

// Counts every allocation of the test program, so a test can prove that the block loop
// allocates nothing once the first block has been seen.
namespace {
std::atomic<long> allocations{0};
}
void* operator new(size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
// Out of line, so the compiler does not take free() after the replaced new for a mismatch.
[[gnu::noinline]] static void Release(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p) noexcept {
    Release(p);
}
void operator delete(void* p, size_t) noexcept {
    Release(p);
}

namespace kestrune {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Runs planar 16-bit channels through a configured stage block by block, flushing at the
// end. Records every block's output frame count.
struct StageRun {
    std::vector<int16_t> left, right;
    std::vector<int> blockFrames;
    int flushed = 0;
};

StageRun RunStage(ResampleStage& stage, const std::vector<int16_t>& inLeft,
                  const std::vector<int16_t>* inRight, bool flush = true) {
    StageRun run;
    const int capacity = stage.OutputCapacity(kBlockFrames);
    std::vector<int16_t> outL(capacity), outR(capacity);
    auto append = [&](int n) {
        run.left.insert(run.left.end(), outL.begin(), outL.begin() + n);
        if (stage.outputChannels == 2)
            run.right.insert(run.right.end(), outR.begin(), outR.begin() + n);
    };
    for (size_t pos = 0; pos < inLeft.size(); pos += kBlockFrames) {
        const int frames = static_cast<int>(std::min<size_t>(kBlockFrames, inLeft.size() - pos));
        const int n =
            stage.Process(inLeft.data() + pos, inRight ? inRight->data() + pos : nullptr, frames,
                          outL.data(), stage.outputChannels == 2 ? outR.data() : nullptr);
        EXPECT_LE(n, stage.OutputCapacity(frames));
        run.blockFrames.push_back(n);
        append(n);
    }
    while (flush) {
        const int n = stage.Flush(outL.data(), stage.outputChannels == 2 ? outR.data() : nullptr);
        if (n == 0)
            break;
        run.flushed += n;
        append(n);
    }
    return run;
}

void SetFormat(ResampleStage& stage, int inRate, int inChannels, int outRate, int outChannels) {
    stage.inputSampleRate = inRate;
    stage.inputChannels = inChannels;
    stage.inputBitsPerSample = 16;
    stage.outputSampleRate = outRate;
    stage.outputChannels = outChannels;
    stage.outputBitsPerSample = 16;
    ASSERT_EQ(stage.Configure(), 1);
}

std::vector<int16_t> Sine(int rate, double freq, double amplitude, size_t frames) {
    std::vector<int16_t> s(frames);
    for (size_t i = 0; i < frames; ++i)
        s[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * kPi * freq * i / rate)));
    return s;
}

std::vector<int16_t> Channel(const test::Pcm& pcm, int c) {
    std::vector<int16_t> out(pcm.Frames());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = pcm.samples[i * pcm.channels + c];
    return out;
}

struct MixCase {
    int16_t left, right, mono;
};

class SameRateMixTest : public testing::TestWithParam<MixCase> {};

TEST_P(SameRateMixTest, StereoToMonoHalvesTheSumDownward) {
    ResampleStage stage;
    SetFormat(stage, 44100, 2, 44100, 1);
    const std::vector<int16_t> l(7, GetParam().left), r(7, GetParam().right);
    std::vector<int16_t> out(14, 111);
    ASSERT_EQ(stage.Process(l.data(), r.data(), 7, out.data(), nullptr), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(out[i], GetParam().mono);
    EXPECT_EQ(out[7], 111);  // nothing beyond the block
}

INSTANTIATE_TEST_SUITE_P(
    Values, SameRateMixTest,
    testing::Values(MixCase{-3, 0, -2}, MixCase{3, 0, 1}, MixCase{32767, 32767, 32767},
                    MixCase{-32768, -32768, -32768}, MixCase{-1, 0, -1}, MixCase{100, -101, -1}),
    [](const testing::TestParamInfo<MixCase>& test) {
        auto n = [](int v) { return v < 0 ? "minus" + std::to_string(-v) : std::to_string(v); };
        return "L" + n(test.param.left) + "_R" + n(test.param.right);
    });

TEST(SameRate, MonoToStereoDuplicates) {
    ResampleStage stage;
    SetFormat(stage, 32000, 1, 32000, 2);
    const test::Pcm pcm = test::MakeSignal(32000, 1, 5000);
    const StageRun run = RunStage(stage, pcm.samples, nullptr);
    EXPECT_EQ(run.left, pcm.samples);
    EXPECT_EQ(run.right, pcm.samples);
    EXPECT_EQ(run.flushed, 0);
}

TEST(SameRate, StereoBlockIsMixedFrameForFrame) {
    ResampleStage stage;
    SetFormat(stage, 48000, 2, 48000, 1);
    const test::Pcm pcm = test::MakeSignal(48000, 2, 3000);
    const std::vector<int16_t> l = Channel(pcm, 0), r = Channel(pcm, 1);
    const StageRun run = RunStage(stage, l, &r);
    ASSERT_EQ(run.left.size(), l.size());
    for (size_t i = 0; i < l.size(); ++i)
        ASSERT_EQ(run.left[i], (l[i] + r[i]) >> 1) << i;
}

struct RateCase {
    int inRate, inChannels, outRate, outChannels;
    int steadyBlock;  // frames a full block yields once the filter is filled
};

class RateChangeTest : public testing::TestWithParam<RateCase> {};

TEST_P(RateChangeTest, BlockSizesAndFlushedLength) {
    const RateCase& c = GetParam();
    ResampleStage stage;
    SetFormat(stage, c.inRate, c.inChannels, c.outRate, c.outChannels);
    const size_t frames = 40 * kBlockFrames + 500;
    const test::Pcm pcm = test::MakeSignal(c.inRate, c.inChannels, frames);
    const std::vector<int16_t> l = Channel(pcm, 0);
    const std::vector<int16_t> r = c.inChannels == 2 ? Channel(pcm, 1) : std::vector<int16_t>{};
    const StageRun run = RunStage(stage, l, c.inChannels == 2 ? &r : nullptr);

    // The resampler works in chunks of its own, so single blocks vary; but the output keeps
    // pace with the input: never ahead of it, and never behind by more than one block's room.
    const double ratio = stage.Ratio();
    const double room = stage.OutputCapacity(kBlockFrames);
    EXPECT_LT(run.blockFrames.front(), c.steadyBlock);
    double in = 0, out = 0;
    for (size_t b = 0; b < run.blockFrames.size(); ++b) {
        in += std::min<double>(kBlockFrames, frames - b * kBlockFrames);
        out += run.blockFrames[b];
        EXPECT_LE(out, in * ratio + 1) << "block " << b;
        EXPECT_GT(out, in * ratio - room) << "block " << b;
    }
    // Over the file, a block gives ratio x 1152 frames.
    const double perBlock = static_cast<double>(run.left.size()) / (frames / double(kBlockFrames));
    EXPECT_NEAR(perBlock, c.steadyBlock, c.steadyBlock * 0.001 + 1);

    const double expected = frames * ratio;
    const size_t beforeFlush = run.left.size() - run.flushed;
    EXPECT_LT(beforeFlush, expected - 1);  // held back until the end...
    EXPECT_GT(run.flushed, 0);
    EXPECT_NEAR(static_cast<double>(run.left.size()), expected, 1.0);  // ...and then given out
    if (c.outChannels == 2) {
        ASSERT_EQ(run.right.size(), run.left.size());
        if (c.inChannels == 1)
            EXPECT_EQ(run.right, run.left);
        else
            EXPECT_NE(run.right, run.left);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, RateChangeTest,
    testing::Values(RateCase{22050, 1, 44100, 1, 2304}, RateCase{44100, 2, 8000, 1, 209},
                    RateCase{11025, 1, 44100, 2, 4608}, RateCase{44100, 2, 48000, 2, 1254},
                    RateCase{48000, 2, 44100, 2, 1058}, RateCase{8000, 1, 44100, 1, 6350}),
    [](const testing::TestParamInfo<RateCase>& test) {
        const RateCase& c = test.param;
        return std::to_string(c.inRate) + "Hz_" + std::to_string(c.inChannels) + "ch_to_" +
               std::to_string(c.outRate) + "Hz_" + std::to_string(c.outChannels) + "ch";
    });

TEST(RateChange, StereoToMonoAveragesBeforeResampling) {
    // Opposite channels cancel in the average: the result is silence, not either channel.
    ResampleStage stage;
    SetFormat(stage, 44100, 2, 8000, 1);
    const std::vector<int16_t> l = Sine(44100, 440, 20000, 10 * kBlockFrames);
    std::vector<int16_t> r(l.size());
    for (size_t i = 0; i < l.size(); ++i)
        r[i] = static_cast<int16_t>(-l[i]);
    const StageRun run = RunStage(stage, l, &r);
    ASSERT_FALSE(run.left.empty());
    for (int16_t v : run.left)
        ASSERT_LE(std::abs(v), 1);
}

TEST(RateChange, FullScaleIsClampedToPlusMinus32767) {
    // A full-scale square wave overshoots in the filter; the overshoot is limited to -1.0..1.0,
    // which comes out as -32767..32767, never -32768.
    ResampleStage stage;
    SetFormat(stage, 44100, 1, 48000, 1);
    std::vector<int16_t> square(20 * kBlockFrames);
    for (size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 441) % 2 ? 32767 : -32768;
    const StageRun run = RunStage(stage, square, nullptr);
    const auto [lo, hi] = std::minmax_element(run.left.begin(), run.left.end());
    EXPECT_EQ(*lo, -32767);
    EXPECT_EQ(*hi, 32767);
}

TEST(RateChange, SineKeepsFrequencyAmplitudeAndTiming) {
    ResampleStage stage;
    SetFormat(stage, 44100, 1, 48000, 1);
    const double freq = 1000.0, amplitude = 16000.0;
    const std::vector<int16_t> in = Sine(44100, freq, amplitude, 2 * 44100);
    const StageRun run = RunStage(stage, in, nullptr);
    ASSERT_NEAR(static_cast<double>(run.left.size()), 96000.0, 2.0);

    // Least-squares fit of an ideal sine and cosine of the same frequency at the new rate,
    // away from the edges: the sine part carries the amplitude, the cosine part would show a
    // time shift, and what is left over is the resampler's error.
    const size_t from = 2000, to = run.left.size() - 2000;
    double sinPart = 0, cosPart = 0;
    for (size_t k = from; k < to; ++k) {
        const double w = 2 * kPi * freq * k / 48000.0;
        sinPart += run.left[k] * std::sin(w);
        cosPart += run.left[k] * std::cos(w);
    }
    const double n = static_cast<double>(to - from);
    sinPart *= 2 / n;
    cosPart *= 2 / n;
    double residual = 0;
    for (size_t k = from; k < to; ++k) {
        const double w = 2 * kPi * freq * k / 48000.0;
        const double e = run.left[k] - (sinPart * std::sin(w) + cosPart * std::cos(w));
        residual += e * e;
    }
    residual = std::sqrt(residual / n);
    EXPECT_NEAR(sinPart, amplitude, amplitude * 0.001);
    EXPECT_LT(std::abs(cosPart), amplitude * 0.001);
    EXPECT_LT(residual, 2.0);  // about the rounding to 16 bits, far below the signal
}

TEST(RateChange, NoAllocationAfterTheFirstBlock) {
    ResampleStage stage;
    SetFormat(stage, 44100, 2, 22050, 2);
    const test::Pcm pcm = test::MakeSignal(44100, 2, kBlockFrames);
    const std::vector<int16_t> l = Channel(pcm, 0), r = Channel(pcm, 1);
    std::vector<int16_t> outL(stage.OutputCapacity(kBlockFrames)), outR(outL.size());
    stage.Process(l.data(), r.data(), kBlockFrames, outL.data(), outR.data());
    const long before = allocations.load();
    for (int b = 0; b < 20; ++b)
        stage.Process(l.data(), r.data(), kBlockFrames - b, outL.data(), outR.data());
    stage.Flush(outL.data(), outR.data());
    EXPECT_EQ(allocations.load(), before);
}

// However far apart the rates are, the stage is fed in pieces whose output fits a buffer of
// bounded size (a block brought up by 768 would need 885,000 frames), and the whole second
// still comes out.
class SteepRatioTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(SteepRatioTest, PiecesKeepTheBuffersBounded) {
    const auto [inRate, outRate] = GetParam();
    ResampleStage stage;
    SetFormat(stage, inRate, 1, outRate, 1);
    const int piece = stage.PieceFrames();
    ASSERT_GE(piece, 1);
    ASSERT_LE(piece, kBlockFrames);
    const int capacity = stage.OutputCapacity(piece);
    EXPECT_LE(capacity, 16 * kBlockFrames + outRate / inRate + 1);
    const test::Pcm pcm = test::MakeSignal(inRate, 1, static_cast<size_t>(inRate));
    std::vector<int16_t> out(static_cast<size_t>(capacity));
    long total = 0;
    for (size_t at = 0; at < pcm.samples.size(); at += static_cast<size_t>(piece)) {
        const int frames =
            static_cast<int>(std::min<size_t>(static_cast<size_t>(piece), pcm.samples.size() - at));
        const int n = stage.Process(pcm.samples.data() + at, nullptr, frames, out.data(), nullptr);
        ASSERT_LE(n, capacity);
        total += n;
    }
    for (int n = stage.Flush(out.data(), nullptr); n > 0; n = stage.Flush(out.data(), nullptr)) {
        ASSERT_LE(n, capacity);
        total += n;
    }
    EXPECT_NEAR(total, outRate, outRate / 1000 + 2);
}

INSTANTIATE_TEST_SUITE_P(Rates, SteepRatioTest,
                         ::testing::Values(std::make_pair(8000, 48000), std::make_pair(1000, 96000),
                                           std::make_pair(1000, 768000)),
                         [](const ::testing::TestParamInfo<std::pair<int, int>>& test) {
                             return std::to_string(test.param.first) + "To" +
                                    std::to_string(test.param.second);
                         });

TEST(Configure, RefusesUnsetFormats) {
    ResampleStage stage;
    EXPECT_EQ(stage.Configure(), 0);
    std::vector<int16_t> in(10), out(30);
    EXPECT_EQ(stage.Process(in.data(), nullptr, 10, out.data(), nullptr), 0);
    stage.inputChannels = 3;
    stage.outputChannels = 2;
    stage.inputSampleRate = stage.outputSampleRate = 44100;
    EXPECT_EQ(stage.Configure(), 0);
}

}  // namespace
}  // namespace kestrune
