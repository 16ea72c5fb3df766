#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

#include "writers/output_catalogue.h"

namespace kestrune {
namespace {

const CodecEntry& Row(int n) {
    return CodecTable()[static_cast<size_t>(n - 1)];
}

// A row added anywhere changes nothing here; one lost or moved by accident fails.
TEST(Catalogue, TodaysRowsKeepTheirOrderAndEveryIdIsUnique) {
    OutputCatalogue list;
    BuildOutputCatalogue(list);
    const std::vector<int> today = {8300, 8350, 6000, 6100, 3400, 5100, 6200, 5500, 7300, 5000,
                                    8000, 5600, 3200, 3650, 6500, 6700, 6800, 1400, 1500, 8100,
                                    1100, 1000, 6600, 1200, 4000, 8200, 8400, 2000, 7100, 7200};
    std::vector<int> kept;
    std::set<int> ids;
    for (const OutputFormatEntry& row : list) {
        const int id = StoredValue(row.formatId);
        if (std::find(today.begin(), today.end(), id) != today.end())
            kept.push_back(id);
        ids.insert(id);
        // A row written by FFmpeg must be able to resolve its default codec.
        if (row.UsesFFmpegWriter()) {
            EXPECT_NE(row.GoverningCodec(), nullptr) << id;
        }
    }
    EXPECT_EQ(kept, today);
    EXPECT_EQ(ids.size(), list.size());
    // Every row of the codec table is offered by some format.
    for (const CodecEntry& entry : CodecTable()) {
        EXPECT_TRUE(std::any_of(list.begin(), list.end(),
                                [&](const OutputFormatEntry& row) {
                                    return std::find(row.allowedCodecs.begin(),
                                                     row.allowedCodecs.end(),
                                                     &entry) != row.allowedCodecs.end();
                                }))
            << "codec 0x" << std::hex << entry.codecId;
    }
}

TEST(Catalogue, LabelsAndSettingsNames) {
    OutputCatalogue list;
    BuildOutputCatalogue(list);
    EXPECT_EQ(FindOutputFormat(list, FormatId::kMp3)->DisplayLabel(), "MP3");
    EXPECT_EQ(FindOutputFormat(list, FormatId::k3g2)->DisplayLabel(), "3G2 (audio only)");
    EXPECT_EQ(FindOutputFormat(list, FormatId::kAacDevice)->PageTitle(), "AAC for iPod/DSi");
    EXPECT_EQ(FindOutputFormat(list, FormatId::kWav)->PageTitle(), "WAV");
    // The three m4a rows keep separate settings.
    EXPECT_EQ(FindOutputFormat(list, FormatId::kAacDevice)->SettingsName(), "AACDEVICE");
    EXPECT_EQ(FindOutputFormat(list, FormatId::kAlac)->SettingsName(), "ALAC");
    EXPECT_EQ(FindOutputFormat(list, FormatId::kM4a)->SettingsName(), "M4A");
    // Every row keeps its parameters under a name of its own, but the AMR and Windows Media
    // rows, which keep none.
    std::set<std::string> names;
    size_t stored = 0;
    for (const auto& row : list) {
        const std::set<FormatId> none = {FormatId::kAmr, FormatId::kAwb, FormatId::kWma,
                                         FormatId::kWmv, FormatId::kAsf};
        EXPECT_EQ(row.HasStoredParameters(), !none.count(row.formatId))
            << StoredValue(row.formatId);
        if (row.HasStoredParameters()) {
            ++stored;
            names.insert(row.SettingsName());
        }
    }
    EXPECT_EQ(names.size(), stored);
    EXPECT_EQ(FindOutputFormat(list, FormatId{4242}), nullptr);
}

TEST(Catalogue, LongCodecListsKeepTheirOrder) {
    OutputCatalogue list;
    BuildOutputCatalogue(list);
    auto ids = [&](FormatId formatId) {
        std::vector<int> out;
        for (const CodecEntry* c : FindOutputFormat(list, formatId)->allowedCodecs)
            out.push_back(c->codecId);
        return out;
    };
    using namespace codec;
    EXPECT_EQ(ids(FormatId::kWav),
              (std::vector<int>{kPcmU8, kPcmS16le, kPcmS24le, kPcmS32le, kPcmF32le, kPcmF64le,
                                kPcmAlaw, kPcmMulaw, kAdpcmMs, kAdpcmImaWav, kAdpcmG726,
                                kAdpcmYamaha, kGsmMs, kMp3}));
    EXPECT_EQ(ids(FormatId::kAiff),
              (std::vector<int>{kPcmS8, kPcmS16be, kPcmS24be, kPcmS32be, kPcmF32be, kPcmF64be,
                                kPcmAlaw, kPcmMulaw, kAdpcmImaQt, kGsm}));
    EXPECT_EQ(ids(FormatId::kFlv), (std::vector<int>{kMp3, kAac, kAdpcmSwf}));
    // FLV's AAC is the 44100-only, stereo-only row.
    EXPECT_EQ(FindOutputFormat(list, FormatId::kFlv)->allowedCodecs[1]->channelMask, 2);
}

using NearestCase = std::tuple<int, int, int>;  // value, codec row whose rates to use, result
class NearestAllowedTest : public ::testing::TestWithParam<NearestCase> {};

TEST_P(NearestAllowedTest, PicksTheNearestLowerOnTies) {
    const auto [value, row, expected] = GetParam();
    EXPECT_EQ(NearestAllowed(value, Row(row).sampleRates), expected);
}

INSTANTIATE_TEST_SUITE_P(Rates, NearestAllowedTest,
                         ::testing::Values(NearestCase{22050, 7, 22050},   // R-MP2
                                           NearestCase{30000, 3, 32000},   // R-AC3
                                           NearestCase{38050, 3, 32000},   // tie: lower wins
                                           NearestCase{96000, 8, 48000},   // R-8to48
                                           NearestCase{4000, 4, 8000},     // R-AAC
                                           NearestCase{44100, 5, 44100},
                                           NearestCase{-5, 13, 6000},      // below the first
                                           NearestCase{11025, 24, 11025},  // R-MMF
                                           NearestCase{6000, 24, 4000}),   // 2000 vs 2000
                         [](const ::testing::TestParamInfo<NearestCase>& test) {
                             const int value = std::get<0>(test.param);
                             return (value < 0 ? "minus" + std::to_string(-value)
                                               : std::to_string(value)) +
                                    "_inRow" + std::to_string(std::get<1>(test.param));
                         });

TEST(NearestAllowed, NoListKeepsTheValue) {
    EXPECT_EQ(NearestAllowed(12345, {}), 12345);
    EXPECT_EQ(NearestAllowed(128000, Row(22).bitRates), 5);  // G.726 bits per sample
    EXPECT_EQ(NearestAllowed(4, Row(22).bitRates), 4);
}

TEST(ChannelMask, FollowsTheMaskBits) {
    EXPECT_EQ(ApplyChannelMask(2, 1), 1);
    EXPECT_EQ(ApplyChannelMask(1, 2), 2);
    EXPECT_EQ(ApplyChannelMask(1, 3), 1);
    EXPECT_EQ(ApplyChannelMask(2, 3), 2);
    EXPECT_EQ(ApplyChannelMask(2, 2), 2);
    EXPECT_EQ(ApplyChannelMask(1, 1), 1);
}

TEST(AutoBitRate, TableEdges) {
    const struct {
        int rate, channels, expected;
    } cases[] = {{8000, 1, 24000},  {12000, 2, 48000},  {12001, 1, 32000},  {16000, 2, 56000},
                 {22050, 1, 48000}, {24000, 2, 64000},  {32000, 1, 64000},  {32000, 2, 96000},
                 {44100, 1, 96000}, {44100, 2, 128000}, {48000, 1, 128000}, {96000, 2, 192000}};
    for (const auto& c : cases)
        EXPECT_EQ(AutoBitRate(c.rate, c.channels), c.expected) << c.rate << "/" << c.channels;
}

TEST(Resolve, ExamplesOfAutomaticAndManualModes) {
    OutputCatalogue list;
    BuildOutputCatalogue(list);
    ResolvedEncoding r;

    // Automatic MP3 from 22050 Hz mono.
    ASSERT_TRUE(ResolveEncoding(*FindOutputFormat(list, FormatId::kMp3), 22050, 1, r));
    EXPECT_EQ(std::tie(r.sampleRate, r.channels, r.bitRate), std::make_tuple(22050, 1, 48000));

    // Manual MP3 with everything 0 from 48000 Hz stereo.
    OutputFormatEntry mp3 = *FindOutputFormat(list, FormatId::kMp3);
    mp3.autoParams = 0;
    mp3.sampleRate = mp3.bitRate = mp3.channels = 0;
    ASSERT_TRUE(ResolveEncoding(mp3, 48000, 2, r));
    EXPECT_EQ(std::tie(r.sampleRate, r.channels, r.bitRate), std::make_tuple(48000, 2, 192000));

    // Mono to the stereo-only ALAC row.
    ASSERT_TRUE(ResolveEncoding(*FindOutputFormat(list, FormatId::kAlac), 44100, 1, r));
    EXPECT_EQ(r.channels, 2);
    EXPECT_EQ(r.bitRate, 0);

    // Stereo to 3G2 AMR is mono even when the row asks for two channels.
    OutputFormatEntry g2 = *FindOutputFormat(list, FormatId::k3g2);
    g2.channels = 2;
    ASSERT_TRUE(ResolveEncoding(g2, 44100, 2, r));
    EXPECT_EQ(std::tie(r.sampleRate, r.channels, r.bitRate), std::make_tuple(8000, 1, 10200));

    // G.726 takes its bit-rate field as bits per sample.
    OutputFormatEntry wav = *FindOutputFormat(list, FormatId::kWav);
    wav.autoParams = 0;
    wav.codecId = codec::kAdpcmG726;
    wav.bitRate = 4;
    ASSERT_TRUE(ResolveEncoding(wav, 44100, 2, r));
    EXPECT_EQ(r.bitRate, 4);
    EXPECT_EQ(r.channels, 1);
    wav.bitRate = 128000;
    ASSERT_TRUE(ResolveEncoding(wav, 44100, 2, r));
    EXPECT_EQ(r.bitRate, 5);

    // A codec id outside the row's list cannot be converted to.
    OutputFormatEntry bad = *FindOutputFormat(list, FormatId::kMp3);
    bad.codecId = codec::kFlac;
    EXPECT_FALSE(ResolveEncoding(bad, 44100, 2, r));
}

TEST(Resolve, RequestedRate) {
    OutputFormatEntry row;
    row.autoParams = 1;
    row.sampleRate = 8000;
    EXPECT_EQ(RequestedSampleRate(row), 44100);
    row.autoParams = 0;
    EXPECT_EQ(RequestedSampleRate(row), 8000);
    row.sampleRate = 0;
    EXPECT_EQ(RequestedSampleRate(row), 44100);
}

}  // namespace
}  // namespace kestrune
