#include <gtest/gtest.h>
#include <sndfile.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <tuple>

#include "audio/downmix.h"
#include "common/byte_order.h"
#include "readers/au_reader.h"
#include "readers/g711.h"
#include "support/test_support.h"
#include "tests/support/reader_checks.h"

namespace kestrune {
namespace {

using namespace test;  // the reader checks

std::vector<uint8_t> AuHeader(uint32_t encoding, uint32_t rate, uint32_t channels,
                              uint32_t dataSize, bool bigEndian = true, uint32_t offset = 24) {
    const char* magic = bigEndian ? ".snd" : "dns.";
    std::vector<uint8_t> h(magic, magic + 4);
    for (uint32_t word : {offset, dataSize, encoding, rate, channels})
        bigEndian ? AppendBe(h, word, 4) : AppendLe(h, word, 4);
    return h;
}

// ---- Every encoding libsndfile writes, both byte orders, against libsndfile's decode ----

using AuCase = std::tuple<const char*, int, bool, int>;  // name, subformat, little, channels

class AuAgainstSndfile : public ::testing::TestWithParam<AuCase> {};

TEST_P(AuAgainstSndfile, DecodesSampleForSample) {
    const auto [name, subformat, little, channelCount] = GetParam();
    TempDir dir;
    const std::string path = dir.File("t.au");
    const Pcm pcm = test::MakeSignal(22050, channelCount, 30000, 7);
    const int format = SF_FORMAT_AU | subformat | (little ? SF_ENDIAN_LITTLE : SF_ENDIAN_BIG);
    ASSERT_TRUE(SndWrite(path, format, pcm)) << name;

    std::vector<int16_t> expected;
    int fileChannels = 0;
    const bool floating = subformat == SF_FORMAT_FLOAT || subformat == SF_FORMAT_DOUBLE;
    const bool adpcm = subformat == SF_FORMAT_G721_32 || subformat == SF_FORMAT_G723_24 ||
                       subformat == SF_FORMAT_G723_40;
    if (adpcm) {
        // libsndfile's ADPCM decoder departs from the standard's multiplier (it drops the
        // rounding term), so the standard's decode comes from sox instead.
        ASSERT_TRUE(SoxReadShort(path, expected));
        fileChannels = 1;
    } else {
        ASSERT_TRUE(SndReadShort(path, expected, fileChannels, floating));
    }
    ASSERT_EQ(fileChannels, channelCount);

    AuReader reader;
    ASSERT_EQ(reader.Open(path, 44100), 1) << name;
    EXPECT_EQ(reader.GetSampleRate(), 22050);
    EXPECT_EQ(reader.GetSourceChannels(), channelCount);
    EXPECT_EQ(reader.GetChannels(), channelCount == 1 ? 1 : 2);
    EXPECT_EQ(reader.GetBitsPerSample(), 16);
    EXPECT_EQ(reader.GetDuration(), 1);
    Decoded got = Drain(reader);
    EXPECT_EQ(reader.GetPosition(), reader.GetLength());
    reader.Close();

    std::vector<int16_t> want = Fold(expected, channelCount);
    if (adpcm) {
        // The writer pads its last block; what lies beyond the signal is not compared.
        ASSERT_GE(got.samples.size(), pcm.Frames());
        got.samples.resize(pcm.Frames());
        ASSERT_GE(want.size(), pcm.Frames());
        want.resize(pcm.Frames());
    }
    ASSERT_EQ(got.samples.size(), want.size()) << name;
    size_t mismatches = 0;
    for (size_t i = 0; i < want.size(); ++i)
        mismatches += got.samples[i] != want[i];
    EXPECT_EQ(mismatches, 0u) << name;
}

std::vector<AuCase> AllCases() {
    const std::pair<const char*, int> codings[] = {
        {"s8", SF_FORMAT_PCM_S8},  {"s16", SF_FORMAT_PCM_16},  {"s24", SF_FORMAT_PCM_24},
        {"s32", SF_FORMAT_PCM_32}, {"float", SF_FORMAT_FLOAT}, {"double", SF_FORMAT_DOUBLE},
        {"ulaw", SF_FORMAT_ULAW},  {"alaw", SF_FORMAT_ALAW}};
    std::vector<AuCase> cases;
    for (const auto& [name, sub] : codings)
        for (bool little : {false, true})
            for (int ch : {1, 2, 6, 10})
                cases.emplace_back(name, sub, little, ch);
    // libsndfile writes the ADPCM family for one channel only.
    const std::pair<const char*, int> adpcm[] = {{"g721", SF_FORMAT_G721_32},
                                                 {"g723_24", SF_FORMAT_G723_24},
                                                 {"g723_40", SF_FORMAT_G723_40}};
    for (const auto& [name, sub] : adpcm)
        for (bool little : {false, true})
            cases.emplace_back(name, sub, little, 1);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Encodings, AuAgainstSndfile, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<AuCase>& test) {
                             return std::string(std::get<0>(test.param)) +
                                    (std::get<2>(test.param) ? "_le_" : "_be_") +
                                    std::to_string(std::get<3>(test.param)) + "ch";
                         });

// ---- Files written by sox, in both of its byte orders, against sox's own decode ----

using SoxCase = std::tuple<const char*, const char*, bool, int>;  // name, options, little, ch

class AuFromSox : public ::testing::TestWithParam<SoxCase> {};

TEST_P(AuFromSox, DecodesSampleForSample) {
    const auto [name, options, little, channelCount] = GetParam();
    TempDir dir;
    const std::string wav = dir.File("in.wav"), au = dir.File("out.au");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(16000, channelCount, 20000, 5)));
    ASSERT_EQ(test::Run("sox -V1 " + test::Quote(wav) + " " + options + (little ? " -L " : " ") +
                        test::Quote(au)),
              0);
    std::vector<int16_t> expected;
    ASSERT_TRUE(SoxReadShort(au, expected));
    AuReader reader;
    ASSERT_EQ(reader.Open(au, 0), 1) << name;
    EXPECT_EQ(reader.GetSampleRate(), 16000);
    const Decoded got = Drain(reader);
    EXPECT_EQ(got.samples, expected) << name;
}

std::vector<SoxCase> SoxCases() {
    const std::pair<const char*, const char*> encodings[] = {
        {"s8", "-e signed -b 8"},   {"s16", "-e signed -b 16"}, {"s24", "-e signed -b 24"},
        {"s32", "-e signed -b 32"}, {"ulaw", "-e u-law"},       {"alaw", "-e a-law"}};
    std::vector<SoxCase> cases;
    for (const auto& [name, options] : encodings)
        for (bool little : {false, true})
            for (int ch : {1, 2})
                cases.emplace_back(name, options, little, ch);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Encodings, AuFromSox, ::testing::ValuesIn(SoxCases()),
                         [](const ::testing::TestParamInfo<SoxCase>& test) {
                             return std::string(std::get<0>(test.param)) +
                                    (std::get<2>(test.param) ? "_le_" : "_be_") +
                                    std::to_string(std::get<3>(test.param)) + "ch";
                         });

// ---- ADPCM with two channels: each channel keeps its own predictor ----

std::vector<unsigned> UnpackCodes(const uint8_t* data, size_t bytes, int bits) {
    std::vector<unsigned> codes;
    uint32_t reservoir = 0;
    int count = 0;
    for (size_t i = 0; i < bytes; ++i) {
        reservoir |= uint32_t{data[i]} << count;
        count += 8;
        while (count >= bits) {
            codes.push_back(reservoir & ((1u << bits) - 1));
            reservoir >>= bits;
            count -= bits;
        }
    }
    return codes;
}

std::vector<uint8_t> PackCodes(const std::vector<unsigned>& codes, int bits) {
    std::vector<uint8_t> out;
    uint32_t reservoir = 0;
    int count = 0;
    for (unsigned c : codes) {
        reservoir |= c << count;
        count += bits;
        while (count >= 8) {
            out.push_back(static_cast<uint8_t>(reservoir));
            reservoir >>= 8;
            count -= 8;
        }
    }
    if (count > 0)
        out.push_back(static_cast<uint8_t>(reservoir));
    return out;
}

using StereoAdpcmCase = std::tuple<const char*, int, int, int>;  // name, subformat, bits, code

class AuStereoAdpcm : public ::testing::TestWithParam<StereoAdpcmCase> {};

TEST_P(AuStereoAdpcm, EachChannelDecodesLikeItsMonoTwin) {
    const auto [name, subformat, bits, encoding] = GetParam();
    TempDir dir;
    const size_t frames = 12000;
    std::vector<unsigned> codes[2];
    std::vector<int16_t> expected[2];
    for (int ch = 0; ch < 2; ++ch) {
        const std::string mono = dir.File("m" + std::to_string(ch) + ".au");
        ASSERT_TRUE(SndWrite(mono, SF_FORMAT_AU | subformat | SF_ENDIAN_BIG,
                             test::MakeSignal(8000, 1, frames, 20 + ch)));
        ASSERT_TRUE(SoxReadShort(mono, expected[ch]));
        const std::vector<uint8_t> bytes = ReadBytes(mono);
        const uint32_t offset = LoadBe32(bytes.data() + 4);
        codes[ch] = UnpackCodes(bytes.data() + offset, bytes.size() - offset, bits);
        codes[ch].resize(frames);
    }
    std::vector<unsigned> interleaved;
    for (size_t i = 0; i < frames; ++i) {
        interleaved.push_back(codes[0][i]);
        interleaved.push_back(codes[1][i]);
    }
    const std::vector<uint8_t> data = PackCodes(interleaved, bits);
    auto file =
        AuHeader(static_cast<uint32_t>(encoding), 8000, 2, static_cast<uint32_t>(data.size()));
    file.insert(file.end(), data.begin(), data.end());
    const std::string path = dir.File("stereo.au");
    WriteBytes(path, file);

    AuReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1) << name;
    const Decoded got = Drain(reader);
    ASSERT_EQ(got.samples.size(), frames * 2) << name;
    size_t mismatches = 0;
    for (size_t i = 0; i < frames; ++i)
        mismatches +=
            (got.samples[2 * i] != expected[0][i]) + (got.samples[2 * i + 1] != expected[1][i]);
    EXPECT_EQ(mismatches, 0u) << name;
}

INSTANTIATE_TEST_SUITE_P(Codecs, AuStereoAdpcm,
                         ::testing::Values(StereoAdpcmCase{"g721", SF_FORMAT_G721_32, 4, 23},
                                           StereoAdpcmCase{"g723_24", SF_FORMAT_G723_24, 3, 25},
                                           StereoAdpcmCase{"g723_40", SF_FORMAT_G723_40, 5, 26}),
                         [](const auto& test) { return std::string(std::get<0>(test.param)); });

// ---- Header rules ----

struct HeaderCase {
    const char* name;
    std::vector<uint8_t> bytes;
    int open, rate, sourceChannels, channels;
    int64_t length;
};

std::vector<uint8_t> WithData(std::vector<uint8_t> header, size_t dataBytes) {
    header.resize(header.size() + dataBytes, 0);
    return header;
}

std::vector<HeaderCase> HeaderCases() {
    std::vector<HeaderCase> c;
    c.push_back({"rate0", WithData(AuHeader(3, 0, 1, 200), 200), 1, 8000, 1, 1, 200});
    c.push_back({"rate200k", WithData(AuHeader(3, 200000, 2, 200), 200), 1, 8000, 2, 2, 200});
    c.push_back({"channels0", WithData(AuHeader(3, 44100, 0, 200), 200), 1, 44100, 1, 1, 200});
    c.push_back({"unknownSize", WithData(AuHeader(1, 8000, 1, 0xFFFFFFFFu), 1000000), 1, 8000, 1, 1,
                 1000000});
    c.push_back({"tenChannels", WithData(AuHeader(3, 8000, 10, 400), 400), 1, 8000, 10, 2, 400});
    c.push_back(
        {"littleEndian", WithData(AuHeader(3, 16000, 2, 40, false), 40), 1, 16000, 2, 2, 40});
    c.push_back({"encoding24", WithData(AuHeader(24, 8000, 1, 100), 100), 0, 0, 0, 0, 0});
    c.push_back({"encoding0", WithData(AuHeader(0, 8000, 1, 100), 100), 0, 0, 0, 0, 0});
    auto badMagic = WithData(AuHeader(3, 8000, 1, 100), 100);
    badMagic[0] = 'x';
    c.push_back({"badMagic", badMagic, 0, 0, 0, 0, 0});
    c.push_back(
        {"offsetBelow24", WithData(AuHeader(3, 8000, 1, 100, true, 16), 100), 0, 0, 0, 0, 0});
    auto tooShort = AuHeader(3, 8000, 1, 0);
    tooShort.resize(20);
    c.push_back({"tooShort", tooShort, 0, 0, 0, 0, 0});
    // The encoding word one byte further on is found by the search.
    std::vector<uint8_t> shifted = AuHeader(0, 0, 0, 16, true, 40);
    shifted.resize(12);
    shifted.push_back(0xFF);  // a stray byte before the encoding
    for (uint32_t word : {3, 11025, 1})
        AppendBe(shifted, word, 4);
    shifted.resize(40, 0);
    c.push_back({"shiftedEncoding", WithData(shifted, 16), 1, 11025, 1, 1, 16});
    return c;
}

class AuHeaderRules : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(AuHeaderRules, OpensOrRefuses) {
    const HeaderCase& hc = GetParam();
    TempDir dir;
    const std::string path = dir.File("h.au");
    WriteBytes(path, hc.bytes);
    AuReader reader;
    ASSERT_EQ(reader.Open(path, 0), hc.open);
    EXPECT_EQ(reader.GetSampleRate(), hc.rate);
    EXPECT_EQ(reader.GetSourceChannels(), hc.sourceChannels);
    EXPECT_EQ(reader.GetChannels(), hc.channels);
    EXPECT_EQ(reader.GetLength(), hc.length);
    if (hc.open) {
        const Decoded d = Drain(reader);
        EXPECT_GT(d.samples.size(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, AuHeaderRules, ::testing::ValuesIn(HeaderCases()),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(AuReader, TenChannelsKeepTheFirstTwoAndSkipTheRest) {
    TempDir dir;
    const std::string path = dir.File("ten.au");
    auto bytes = AuHeader(3, 8000, 10, 2 * 20 * 3);
    for (int frame = 0; frame < 3; ++frame)
        for (int ch = 0; ch < 10; ++ch) {
            const int v = 1000 * frame + 100 * ch;
            bytes.push_back(static_cast<uint8_t>(v >> 8));
            bytes.push_back(static_cast<uint8_t>(v));
        }
    WriteBytes(path, bytes);
    AuReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    const Decoded d = Drain(reader);
    EXPECT_EQ(d.samples, (std::vector<int16_t>{0, 100, 1000, 1100, 2000, 2100}));
}

TEST(AuReader, MuLawSecondAtEightKilohertz) {
    TempDir dir;
    const std::string path = dir.File("u.au");
    WriteBytes(path, WithData(AuHeader(1, 8000, 1, 8000), 8000));
    AuReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    EXPECT_EQ(reader.GetDuration(), 1);
    EXPECT_EQ(reader.GetBitRate(), 64);
}

TEST(AuReader, FileShorterThanItsDataSizeEndsEarly) {
    TempDir dir;
    const std::string path = dir.File("short.au");
    WriteBytes(path, WithData(AuHeader(3, 8000, 1, 100000), 1000));
    AuReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    EXPECT_EQ(reader.GetLength(), 100000);
    const Decoded d = Drain(reader);
    EXPECT_EQ(d.samples.size(), 500u);
}

TEST(AuReader, FloatBeyondFullScaleIsClippedNotWrapped) {
    TempDir dir;
    const std::string path = dir.File("f.au");
    const float values[] = {1.0f, -1.0f, 2.5f, -3.0f, 0.5f, -0.5f, 1e30f, -1e30f};
    auto bytes = AuHeader(6, 8000, 1, sizeof values);
    for (float v : values) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        for (int i = 3; i >= 0; --i)
            bytes.push_back(static_cast<uint8_t>(u >> (8 * i)));
    }
    WriteBytes(path, bytes);
    AuReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    const Decoded d = Drain(reader);
    EXPECT_EQ(d.samples,
              (std::vector<int16_t>{32767, -32768, 32767, -32768, 16383, -16384, 32767, -32768}));
}

// Every prefix and many single-byte corruptions of a real file: the reader either refuses or
// decodes a bounded amount, and never reads outside what it was given.
TEST(AuReader, SurvivesDamagedFiles) {
    TempDir dir;
    const std::string good = dir.File("good.au");
    ASSERT_TRUE(
        SndWrite(good, SF_FORMAT_AU | SF_FORMAT_G723_40, test::MakeSignal(8000, 1, 3000, 3)));
    const std::vector<uint8_t> original = ReadBytes(good);
    const std::string bad = dir.File("bad.au");
    Lcg random(12345);
    for (int round = 0; round < 300; ++round) {
        const auto bytes =
            Damaged(original, round, {.cutEvery = 3, .changes = 4, .span = 40}, random);
        WriteBytes(bad, bytes);
        AuReader reader;
        if (reader.Open(bad, 0) == 1) {
            const Decoded d = Drain(reader);
            EXPECT_LE(d.samples.size(), bytes.size() * 8);
        }
    }
}

TEST(AuReader, CorpusFilesDecodeLikeFfprobeOrAreRefused) {
    KESTRUNE_REQUIRE_CORPUS();
    int seen = 0;
    for (const auto& file : test::CorpusFiles()) {
        const std::string ext = file.extension().string();
        if (ext != ".au" && ext != ".snd")
            continue;
        ++seen;
        AuReader reader;
        if (reader.Open(file.string(), 0) != 1)
            continue;
        const test::ProbeInfo probe = test::FfProbe(file.string());
        const Decoded d = Drain(reader);
        if (!probe.ok)
            continue;
        EXPECT_EQ(reader.GetSourceChannels(), probe.channels) << file;
        const double seconds =
            static_cast<double>(d.samples.size()) / reader.GetChannels() / reader.GetSampleRate();
        EXPECT_NEAR(seconds, probe.duration, 0.05) << file;
    }
    if (seen == 0)
        GTEST_SKIP() << "no AU files in the corpus";
}

}  // namespace
}  // namespace kestrune
