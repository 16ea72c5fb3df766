#include <gtest/gtest.h>

#include <array>

#include "audio/audio_writer.h"
#include "audio/downmix.h"
#include "audio/tag_set.h"

namespace kestrune {
namespace {

struct DownmixCase {
    int channels;
    std::array<int16_t, 8> frame;
    int16_t left, right;
};

class DownmixTest : public ::testing::TestWithParam<DownmixCase> {};

TEST_P(DownmixTest, FoldsToStereo) {
    const DownmixCase& c = GetParam();
    int16_t l = 0, r = 0;
    DownmixFrame(c.channels, c.frame.data(), l, r);
    EXPECT_EQ(l, c.left);
    EXPECT_EQ(r, c.right);
}

// c(x) = trunc(x * 0.707f): c(3000) = 2121, c(1000) = 707, c(-1000) = -707.
INSTANTIATE_TEST_SUITE_P(
    EveryRow, DownmixTest,
    ::testing::Values(
        DownmixCase{1, {5, 6}, 5, 6}, DownmixCase{2, {-7, 9}, -7, 9},
        DownmixCase{3, {100, 200, 1000}, 807, 907},
        DownmixCase{3, {30000, 30000, 10000}, 32767, 32767},  // 37070 clipped
        DownmixCase{4, {1, 2, 10, 20}, 11, 22}, DownmixCase{5, {100, 200, 1000, 10, 20}, 817, 927},
        DownmixCase{6, {1000, 2000, 3000, 0, 100, 200}, 3221, 4321},
        DownmixCase{6, {-30000, -30000, -20000, -20000, -1000, 0}, -32768, -32768},
        DownmixCase{7, {1, 2, 1000, 1000, 10, 20, 1000}, 2132, 2143},  // c(3000) = 2121
        DownmixCase{8, {1, 2, -1000, 0, 10, 20, 100, 200}, -596, -485},
        DownmixCase{9, {11, 12, 13, 14, 15, 16, 17, 18}, 11, 12},  // beyond eight: s0, s1
        DownmixCase{12, {-3, 4, 1, 1, 1, 1, 1, 1}, -3, 4}),
    [](const ::testing::TestParamInfo<DownmixCase>& test) {
        return std::to_string(test.param.channels) + "ch_case" + std::to_string(test.index);
    });

TEST(TrackText, DecimalRule) {
    EXPECT_EQ(TrackTextToInt("7/12"), 7);
    EXPECT_EQ(TrackTextToInt("  12"), 12);
    EXPECT_EQ(TrackTextToInt("+3x"), 3);
    EXPECT_EQ(TrackTextToInt("-4"), -4);
    EXPECT_EQ(TrackTextToInt("A1"), 0);
    EXPECT_EQ(TrackTextToInt(""), 0);
    EXPECT_EQ(TrackTextToInt("99999999999999"), 2147483647);
}

TEST(TagSet, FieldsInReaderOrderAndTheTrackAsANumber) {
    const TagSet t{"T", "Ar", "Al", "1999", "Rock", "C", "7/12", "Co", "(c)"};
    EXPECT_EQ(t.year, "1999");
    EXPECT_EQ(t.genre, "Rock");
    EXPECT_EQ(t.track, "7/12");
    EXPECT_EQ(t.TrackNumber(), 7);
    EXPECT_FALSE(t.Empty());
    EXPECT_TRUE(TagSet{}.Empty());
}

}  // namespace
}  // namespace kestrune
