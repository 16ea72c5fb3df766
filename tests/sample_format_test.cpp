// Bringing wide samples down to fewer bits: what passes unchanged, what is dithered, what clips.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "audio/sample_format.h"

namespace kestrune {
namespace {

// A 24-bit file that holds a 16-bit sound gives back the 16-bit samples exactly.
TEST(Ditherer, SamplesOnTheNarrowerStepsPassUnchanged) {
    std::vector<int32_t> wide;
    for (int v : {0, 1, -1, 12345, -32768, 32767})
        wide.push_back(v * 65536);
    std::vector<int16_t> narrow(wide.size());
    Ditherer().ToS16(wide.data(), narrow.data(), static_cast<int>(wide.size()));
    for (size_t i = 0; i < wide.size(); ++i)
        EXPECT_EQ(narrow[i] * 65536, wide[i]) << i;

    std::vector<int32_t> kept(wide.size());
    Ditherer().ToS32(wide.data(), kept.data(), static_cast<int>(wide.size()), 24);
    EXPECT_EQ(kept, wide);
}

// A level a quarter of a 16-bit step above zero, which plain rounding would turn into silence,
// comes out on average a quarter of a step up, the noise no more than a step either way; 24 bits
// kept leave the low byte zero.
TEST(Ditherer, KeepsLevelsBelowOneStepOnAverage) {
    const int n = 200000;
    std::vector<int32_t> quarter(n, 65536 / 4);
    std::vector<int16_t> out(n);
    Ditherer().ToS16(quarter.data(), out.data(), n);
    double sum = 0;
    for (int16_t v : out) {
        ASSERT_GE(v, -1);
        ASSERT_LE(v, 2);
        sum += v;
    }
    EXPECT_NEAR(sum / n, 0.25, 0.01);

    std::vector<float> floats(n, 0.25f / 8388608.0f);  // a quarter of a 24-bit step
    std::vector<int32_t> out24(n);
    Ditherer().ToS32(floats.data(), out24.data(), n, 24);
    double sum24 = 0;
    for (int32_t v : out24) {
        ASSERT_EQ(v & 0xff, 0);
        sum24 += v / 256;
    }
    EXPECT_NEAR(sum24 / n, 0.25, 0.01);
}

// Floats beyond full scale clip rather than wrap; a broken one is silence.
TEST(Ditherer, FloatsBeyondFullScaleClip) {
    const float in[] = {1.5f, -1.5f, std::numeric_limits<float>::quiet_NaN(), 1.0f, -1.0f};
    int16_t out[5];
    Ditherer().ToS16(in, out, 5);
    EXPECT_EQ(out[0], 32767);
    EXPECT_EQ(out[1], -32768);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 32767);
    EXPECT_EQ(out[4], -32768);
}

}  // namespace
}  // namespace kestrune
