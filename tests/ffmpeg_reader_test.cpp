#include "readers/ffmpeg_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <sstream>
#include <thread>

#include "audio/downmix.h"
#include "audio/tag_set.h"
#include "common/byte_order.h"
#include "tests/support/reader_checks.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
}

namespace kestrune {
namespace {

using test::Pcm;
using test::Quote;
using test::TempDir;
using test::WavBytes;
using test::WriteBytes;

// What a reader delivered: interleaved in its output channel count.
struct Decoded {
    int channels = 0;
    std::vector<int16_t> samples;
    int blocks = 0;
    bool blockSizesOk = true;  // every block 1..kBlockFrames
    bool positionsOk = true;   // within the file
    size_t Frames() const { return channels ? samples.size() / channels : 0; }
};

Decoded ReadAll(AudioReader& reader, int maxBlocks = 1 << 30) {
    Decoded d;
    d.channels = reader.GetChannels();
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
    while (d.blocks < maxBlocks) {
        const int n = reader.Read(left.data(), d.channels == 2 ? right.data() : nullptr);
        if (n <= 0)
            break;
        ++d.blocks;
        if (n > kBlockFrames)
            d.blockSizesOk = false;
        for (int i = 0; i < n; ++i) {
            d.samples.push_back(left[i]);
            if (d.channels == 2)
                d.samples.push_back(right[i]);
        }
        if (reader.GetPosition() < 0 ||
            (reader.GetLength() > 0 && reader.GetPosition() > reader.GetLength()))
            d.positionsOk = false;
    }
    return d;
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Ffmpeg(const std::string& args) {
    return test::Run("ffmpeg -v error -nostdin -y " + args + " 2>/dev/null") == 0;
}

// The reader's float rule, written out independently: scale, truncate toward zero, clamp.
int16_t FloatRule(double x) {
    if (std::isnan(x))
        return 0;
    const double t = std::trunc(x * 32768.0);
    return static_cast<int16_t>(std::clamp(t, -32768.0, 32767.0));
}

// Decodes with the ffmpeg command line to float and applies the float rule, so that a
// decoder's own output can be compared with ours sample for sample.
bool FfDecodeTruncated(const std::string& path, Pcm& out) {
    const test::ProbeInfo info = test::FfProbe(path);
    if (!info.ok)
        return false;
    std::string raw;
    if (test::Run(
            "ffmpeg -v error -nostdin -i " + Quote(path) + " -map 0:a:0 -f f32le - 2>/dev/null",
            &raw) != 0)
        return false;
    out.sampleRate = info.sampleRate;
    out.channels = info.channels;
    out.samples.resize(raw.size() / 4);
    for (size_t i = 0; i < out.samples.size(); ++i) {
        float f;
        std::memcpy(&f, raw.data() + 4 * i, 4);
        out.samples[i] = FloatRule(f);
    }
    return true;
}

// The six-channel mix on standard-order samples (front L/R, centre, LFE, surround L/R).
void MixSix(const int16_t* s, int16_t& left, int16_t& right) {
    const int32_t m = static_cast<int32_t>(static_cast<float>(s[2] + s[3]) * 0.707f);
    left = static_cast<int16_t>(std::clamp(m + s[0] + s[4], -32768, 32767));
    right = static_cast<int16_t>(std::clamp(m + s[1] + s[5], -32768, 32767));
}

// What the reader must deliver for an interleaved 16-bit source.
std::vector<int16_t> ExpectedStereo(const Pcm& src) {
    if (src.channels <= 2)
        return src.samples;
    std::vector<int16_t> out;
    for (size_t f = 0; f < src.Frames(); ++f) {
        const int16_t* s = &src.samples[f * src.channels];
        int16_t l, r;
        if (src.channels == 6)
            MixSix(s, l, r);
        else
            DownmixFrame(src.channels, s, l, r);
        out.push_back(l);
        out.push_back(r);
    }
    return out;
}

class FFmpegReaderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitFFmpegLogging(); }
    TempDir dir;
};

// ---------------------------------------------------------------------------------------------
// 16-bit PCM, mono and stereo: exact samples, exact length, block sizes, format fields.

struct PcmCase {
    int channels;
    int rate;
    size_t frames;
};

class PcmWavTest : public FFmpegReaderTest, public ::testing::WithParamInterface<PcmCase> {};

TEST_P(PcmWavTest, DeliversTheSamplesExactly) {
    const PcmCase c = GetParam();
    const Pcm src = test::MakeSignal(c.rate, c.channels, c.frames, 7);
    const std::string path = dir.File("in.wav");
    ASSERT_TRUE(test::WriteWav(path, src));

    FFmpegReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    EXPECT_EQ(reader.GetSampleRate(), c.rate);
    EXPECT_EQ(reader.GetSourceChannels(), c.channels);
    EXPECT_EQ(reader.GetChannels(), c.channels);
    EXPECT_EQ(reader.GetBitsPerSample(), 16);
    EXPECT_EQ(reader.GetBitRate(), c.rate * c.channels * 16 / 1000);
    EXPECT_EQ(reader.GetDuration(), static_cast<int>(c.frames / c.rate));
    EXPECT_EQ(reader.GetLength(), static_cast<int64_t>(std::filesystem::file_size(path)));
    EXPECT_GT(reader.GetPosition(), 0);

    const Decoded d = ReadAll(reader);  // a mono stream gets no right buffer
    EXPECT_TRUE(d.blockSizesOk);
    EXPECT_TRUE(d.positionsOk);
    EXPECT_EQ(d.Frames(), c.frames);
    EXPECT_EQ(d.samples, src.samples);
    EXPECT_EQ(reader.GetPosition(), reader.GetLength());
    EXPECT_LE(reader.Read(std::vector<int16_t>(kBlockFrames).data(), nullptr), 0);
    reader.Close();
    reader.Close();  // twice is harmless
}

INSTANTIATE_TEST_SUITE_P(MonoAndStereo, PcmWavTest,
                         ::testing::Values(PcmCase{2, 44100, 44100 * 2 + 517},
                                           PcmCase{1, 22050, 22050 * 3 + 1}, PcmCase{2, 8000, 100},
                                           PcmCase{1, 48000, 1152 * 4}),
                         [](const ::testing::TestParamInfo<PcmCase>& test) {
                             return std::to_string(test.param.channels) + "ch_" +
                                    std::to_string(test.param.rate) + "Hz_" +
                                    std::to_string(test.param.frames) + "frames";
                         });

// ---------------------------------------------------------------------------------------------
// Sample codings of WAV files: each decoder format through its conversion rule.

struct CodingCase {
    const char* name;
    int tag;
    int bits;
    std::function<std::string()> data;  // stereo frames, coded
    std::vector<int16_t> expected;      // interleaved
};

template <typename T>
std::string Coded(const std::vector<T>& values) {
    std::string out;
    for (T v : values) {
        uint64_t bits = 0;
        std::memcpy(&bits, &v, sizeof(T));
        AppendLe(out, bits, sizeof(T));
    }
    return out;
}

const std::vector<double> kFloatValues = {1.5,  -1.5,  1.0,     -1.0,     0.5, -0.25,
                                          1e-5, -1e-5, 0.99999, -0.99999, 0.0, 0.123456};

std::vector<int16_t> FloatExpected() {
    std::vector<int16_t> e;
    for (double v : kFloatValues)
        e.push_back(FloatRule(v));
    return e;
}

std::vector<CodingCase> CodingCases() {
    std::vector<CodingCase> cases;
    cases.push_back({"u8",
                     1,
                     8,
                     [] {
                         return Coded<uint8_t>({0, 255, 128, 127, 1, 129});
                     },
                     {-32768, 32512, 0, -256, -32512, 256}});
    cases.push_back({"s16",
                     1,
                     16,
                     [] {
                         return Coded<int16_t>({-32768, 32767, -1, 0, 1, 1234});
                     },
                     {-32768, 32767, -1, 0, 1, 1234}});
    cases.push_back({"s24",
                     1,
                     24,
                     [] {
                         std::string s;
                         for (int32_t v : {-8388608, 8388607, -1, 255, 256, -257})
                             AppendLe(s, static_cast<uint32_t>(v), 3);
                         return s;
                     },
                     {-32768, 32767, -1, 0, 1, -2}});
    cases.push_back({"s32",
                     1,
                     32,
                     [] {
                         return Coded<int32_t>({std::numeric_limits<int32_t>::min(),
                                                std::numeric_limits<int32_t>::max(), -1, 65535,
                                                65536, -65537, 123456789, -123456789});
                     },
                     {-32768, 32767, -1, 0, 1, -2, 1883, -1884}});
    cases.push_back({"s64",
                     1,
                     64,
                     [] {
                         return Coded<int64_t>({std::numeric_limits<int64_t>::min(),
                                                std::numeric_limits<int64_t>::max(), -1,
                                                (int64_t{1} << 48), -(int64_t{1} << 48) - 1, 0});
                     },
                     {-32768, 32767, -1, 1, -2, 0}});
    cases.push_back({"float", 3, 32,
                     [] {
                         std::vector<float> f(kFloatValues.begin(), kFloatValues.end());
                         return Coded<float>(f);
                     },
                     FloatExpected()});
    cases.push_back({"double", 3, 64, [] { return Coded<double>(kFloatValues); }, FloatExpected()});
    return cases;
}

class CodingTest : public FFmpegReaderTest, public ::testing::WithParamInterface<CodingCase> {};

TEST_P(CodingTest, ConvertsByTheRule) {
    const CodingCase& c = GetParam();
    const std::string path = dir.File(std::string(c.name) + ".wav");
    ASSERT_TRUE(WriteBytes(path, WavBytes(c.tag, c.bits, 2, 8000, c.data())));

    FFmpegReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    EXPECT_EQ(reader.GetChannels(), 2);
    EXPECT_EQ(ReadAll(reader).samples, c.expected);
}

INSTANTIATE_TEST_SUITE_P(WavCodings, CodingTest, ::testing::ValuesIn(CodingCases()),
                         [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------------------------
// ConvertFrames over every sample format a decoder can deliver, packed and planar, and every
// channel routing.

// Raw test values of one format, as 64-bit integers or doubles, with their 16-bit results
// worked out independently of the reader.
struct FormatValues {
    std::vector<double> asDouble;  // flt, dbl
    std::vector<int64_t> asInt;    // integer formats
    std::vector<int16_t> expected;
};

int64_t FloorDiv(int64_t x, int64_t d) {
    return x >= 0 ? x / d : -((-(x + 1)) / d) - 1;
}

FormatValues ValuesFor(AVSampleFormat packed) {
    FormatValues v;
    switch (packed) {
        case AV_SAMPLE_FMT_U8:
            v.asInt = {0, 1, 127, 128, 129, 255};
            for (int64_t b : v.asInt)
                v.expected.push_back(static_cast<int16_t>((b - 128) * 256));
            break;
        case AV_SAMPLE_FMT_S16:
            v.asInt = {-32768, -1, 0, 1, 32767, 1234, -4321};
            for (int64_t b : v.asInt)
                v.expected.push_back(static_cast<int16_t>(b));
            break;
        case AV_SAMPLE_FMT_S32:
            v.asInt = {INT32_MIN, -65537, -65536, -1, 0, 65535, 65536, INT32_MAX};
            for (int64_t b : v.asInt)
                v.expected.push_back(FloorDiv(b, 65536));
            break;
        case AV_SAMPLE_FMT_S64:
            v.asInt = {INT64_MIN, -(int64_t{1} << 48) - 1, -1, 0, int64_t{1} << 48, INT64_MAX};
            for (int64_t b : v.asInt)
                v.expected.push_back(static_cast<int16_t>(FloorDiv(b, int64_t{1} << 48)));
            break;
        default:
            v.asDouble = kFloatValues;
            v.asDouble.push_back(std::nan(""));
            for (double x : v.asDouble)
                v.expected.push_back(FloatRule(x));
            break;
    }
    return v;
}

size_t ValueCount(const FormatValues& v) {
    return v.asInt.empty() ? v.asDouble.size() : v.asInt.size();
}

// A frame whose sample (i, c) is value number (i + 3c) of the format's list.
FramePtr MakeFrame(AVSampleFormat format, int channels, int samples, const FormatValues& v) {
    FramePtr f(av_frame_alloc());
    f->format = format;
    f->nb_samples = samples;
    av_channel_layout_default(&f->ch_layout, channels);
    if (av_frame_get_buffer(f.get(), 0) < 0)
        return nullptr;
    const bool planar = av_sample_fmt_is_planar(format);
    const int bytes = av_get_bytes_per_sample(format);
    const size_t n = ValueCount(v);
    for (int i = 0; i < samples; ++i) {
        for (int c = 0; c < channels; ++c) {
            const size_t k = (i + 3 * c) % n;
            uint8_t* p =
                planar ? f->extended_data[c] + static_cast<size_t>(i) * bytes
                       : f->extended_data[0] + (static_cast<size_t>(i) * channels + c) * bytes;
            switch (av_get_packed_sample_fmt(format)) {
                case AV_SAMPLE_FMT_U8:
                    *p = static_cast<uint8_t>(v.asInt[k]);
                    break;
                case AV_SAMPLE_FMT_S16: {
                    const int16_t x = static_cast<int16_t>(v.asInt[k]);
                    std::memcpy(p, &x, 2);
                    break;
                }
                case AV_SAMPLE_FMT_S32: {
                    const int32_t x = static_cast<int32_t>(v.asInt[k]);
                    std::memcpy(p, &x, 4);
                    break;
                }
                case AV_SAMPLE_FMT_S64:
                    std::memcpy(p, &v.asInt[k], 8);
                    break;
                case AV_SAMPLE_FMT_FLT: {
                    const float x = static_cast<float>(v.asDouble[k]);
                    std::memcpy(p, &x, 4);
                    break;
                }
                default:
                    std::memcpy(p, &v.asDouble[k], 8);
                    break;
            }
        }
    }
    return f;
}

class ConvertFramesTest : public ::testing::TestWithParam<AVSampleFormat> {};

TEST_P(ConvertFramesTest, EveryChannelCountFollowsItsRoute) {
    const AVSampleFormat format = GetParam();
    const FormatValues v = ValuesFor(av_get_packed_sample_fmt(format));
    const size_t n = ValueCount(v);
    constexpr int kSamples = 40;
    for (int channels : {1, 2, 3, 6, 8, 10}) {
        SCOPED_TRACE(channels);
        FramePtr frame = MakeFrame(format, channels, kSamples, v);
        ASSERT_TRUE(frame);
        // A window in the middle of the frame, as Read hands out leftovers.
        const int first = 5, count = 30;
        std::vector<int16_t> left(count + 1, 777), right(count + 1, 777);
        ASSERT_EQ(ConvertFrames(*frame, first, count, ChooseSixChannelMap(*frame, 0), left.data(),
                                right.data()),
                  count);
        for (int k = 0; k < count; ++k) {
            int16_t s[16];
            for (int c = 0; c < channels; ++c)
                s[c] = v.expected[(first + k + 3 * c) % n];
            int16_t l = s[0], r = channels == 1 ? s[0] : s[1];
            if (channels == 6)
                MixSix(s, l, r);
            else if (channels > 2)
                DownmixFrame(channels, s, l, r);
            ASSERT_EQ(left[k], l) << k;
            ASSERT_EQ(right[k], r) << k;
        }
        EXPECT_EQ(left[count], 777);  // nothing beyond the window
        EXPECT_EQ(right[count], 777);

        // Mono output: no right buffer, the same left.
        std::vector<int16_t> leftOnly(count);
        ASSERT_EQ(ConvertFrames(*frame, first, count, ChooseSixChannelMap(*frame, 0),
                                leftOnly.data(), nullptr),
                  count);
        EXPECT_TRUE(std::equal(leftOnly.begin(), leftOnly.end(), left.begin()));
    }
}

TEST_P(ConvertFramesTest, RefusesAWindowOutsideTheFrame) {
    const FormatValues v = ValuesFor(av_get_packed_sample_fmt(GetParam()));
    FramePtr frame = MakeFrame(GetParam(), 2, 10, v);
    ASSERT_TRUE(frame);
    int16_t left[32], right[32];
    EXPECT_EQ(ConvertFrames(*frame, 5, 6, kStandardSixOrder, left, right), 0);
    EXPECT_EQ(ConvertFrames(*frame, -1, 2, kStandardSixOrder, left, right), 0);
    EXPECT_EQ(ConvertFrames(*frame, 0, 10, kStandardSixOrder, nullptr, right), 0);
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, ConvertFramesTest,
    ::testing::Values(AV_SAMPLE_FMT_U8, AV_SAMPLE_FMT_U8P, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P,
                      AV_SAMPLE_FMT_S32, AV_SAMPLE_FMT_S32P, AV_SAMPLE_FMT_S64, AV_SAMPLE_FMT_S64P,
                      AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_DBL, AV_SAMPLE_FMT_DBLP),
    [](const auto& test) { return std::string(av_get_sample_fmt_name(test.param)); });

// ---------------------------------------------------------------------------------------------
// Six channels: where the speakers are.

TEST(SixChannelMapTest, FollowsTheLayoutWhenItNamesTheSpeakers) {
    FramePtr frame(av_frame_alloc());
    av_channel_layout_from_mask(&frame->ch_layout, AV_CH_LAYOUT_5POINT1);
    EXPECT_EQ(ChooseSixChannelMap(*frame, AV_CODEC_ID_AAC), kStandardSixOrder);
    av_channel_layout_uninit(&frame->ch_layout);
    av_channel_layout_from_mask(&frame->ch_layout, AV_CH_LAYOUT_5POINT1_BACK);
    EXPECT_EQ(ChooseSixChannelMap(*frame, AV_CODEC_ID_MP3ON4), kStandardSixOrder);

    // The order an AAC bit stream carries: C L R Ls Rs LFE.
    av_channel_layout_uninit(&frame->ch_layout);
    frame->ch_layout.order = AV_CHANNEL_ORDER_CUSTOM;
    frame->ch_layout.nb_channels = 6;
    frame->ch_layout.u.map =
        static_cast<AVChannelCustom*>(av_calloc(6, sizeof(AVChannelCustom)));  // freed by uninit
    ASSERT_NE(frame->ch_layout.u.map, nullptr);
    const AVChannel aac[] = {AV_CHAN_FRONT_CENTER, AV_CHAN_FRONT_LEFT, AV_CHAN_FRONT_RIGHT,
                             AV_CHAN_SIDE_LEFT,    AV_CHAN_SIDE_RIGHT, AV_CHAN_LOW_FREQUENCY};
    for (int i = 0; i < 6; ++i)
        frame->ch_layout.u.map[i].id = aac[i];
    EXPECT_EQ(ChooseSixChannelMap(*frame, 0), kAacSixOrder);

    // Six channels without an LFE: stream order.
    av_channel_layout_uninit(&frame->ch_layout);
    av_channel_layout_from_mask(&frame->ch_layout, AV_CH_LAYOUT_6POINT0);
    EXPECT_EQ(ChooseSixChannelMap(*frame, AV_CODEC_ID_AAC), kStandardSixOrder);
}

TEST(SixChannelMapTest, FallsBackOnTheCodecWhenTheOrderIsUnknown) {
    FramePtr frame(av_frame_alloc());
    frame->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
    frame->ch_layout.nb_channels = 6;
    EXPECT_EQ(ChooseSixChannelMap(*frame, AV_CODEC_ID_AAC), kAacSixOrder);
    EXPECT_EQ(ChooseSixChannelMap(*frame, AV_CODEC_ID_MP3ON4), kMp3On4SixOrder);
    EXPECT_EQ(ChooseSixChannelMap(*frame, AV_CODEC_ID_FLAC), kStandardSixOrder);
}

TEST(SixChannelMapTest, EveryOrderMixesCentreAndLfeIntoBothSides) {
    // FL=1000 FR=2000 C=3000 LFE=0 SL=100 SR=200, stored in each order.
    const int16_t speakers[6] = {1000, 2000, 3000, 0, 100, 200};
    for (const SixChannelMap& map : {kStandardSixOrder, kAacSixOrder, kMp3On4SixOrder}) {
        FramePtr frame(av_frame_alloc());
        frame->format = AV_SAMPLE_FMT_S16;
        frame->nb_samples = 1;
        frame->ch_layout.order = AV_CHANNEL_ORDER_UNSPEC;
        frame->ch_layout.nb_channels = 6;
        ASSERT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
        auto* s = reinterpret_cast<int16_t*>(frame->data[0]);
        for (int k = 0; k < 6; ++k)
            s[map[k]] = speakers[k];
        int16_t l = 0, r = 0;
        ASSERT_EQ(ConvertFrames(*frame, 0, 1, map, &l, &r), 1);
        EXPECT_EQ(l, 3221);
        EXPECT_EQ(r, 4321);
    }
}

// ---------------------------------------------------------------------------------------------
// More than two channels in files.

class ManyChannelsTest : public FFmpegReaderTest, public ::testing::WithParamInterface<int> {};

TEST_P(ManyChannelsTest, PcmFoldsToStereo) {
    const int channels = GetParam();
    const Pcm src = test::MakeSignal(16000, channels, 5000, 3);
    const std::string path = dir.File("multi.wav");
    ASSERT_TRUE(test::WriteWav(path, src));
    FFmpegReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    EXPECT_EQ(reader.GetSourceChannels(), channels);
    EXPECT_EQ(reader.GetChannels(), 2);
    const Decoded d = ReadAll(reader);
    EXPECT_TRUE(d.blockSizesOk);
    EXPECT_EQ(d.samples, ExpectedStereo(src));
}

INSTANTIATE_TEST_SUITE_P(Counts, ManyChannelsTest, ::testing::Values(3, 4, 6, 8),
                         [](const ::testing::TestParamInfo<int>& test) {
                             return std::to_string(test.param) + "ch";
                         });

TEST_F(FFmpegReaderTest, AacFivePointOneMixesBySpeaker) {
    const Pcm src = test::MakeSignal(48000, 6, 24000, 5);
    const std::string wav = dir.File("six.wav"), m4a = dir.File("six.m4a");
    ASSERT_TRUE(test::WriteWav(wav, src));
    ASSERT_TRUE(Ffmpeg("-i " + Quote(wav) + " -c:a aac -b:a 384k " + Quote(m4a)));
    Pcm theirs;
    ASSERT_TRUE(FfDecodeTruncated(m4a, theirs));
    ASSERT_EQ(theirs.channels, 6);

    FFmpegReader reader;
    ASSERT_EQ(reader.Open(m4a, 0), 1);
    EXPECT_EQ(reader.GetSourceChannels(), 6);
    const Decoded d = ReadAll(reader);
    const std::vector<int16_t> expected = ExpectedStereo(theirs);
    ASSERT_EQ(d.samples.size(), expected.size());
    int worst = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        worst = std::max(worst, std::abs(d.samples[i] - expected[i]));
    EXPECT_LE(worst, 1);
}

// ---------------------------------------------------------------------------------------------
// Compressed formats: everything the decoder holds comes out, sample for sample.

struct CodecCase {
    const char* name;
    const char* ext;
    const char* args;
    bool lossless;
};

class CodecTest : public FFmpegReaderTest, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(CodecTest, MatchesTheDecoderToTheLastSample) {
    const CodecCase& c = GetParam();
    const Pcm src = test::MakeSignal(44100, 2, 44100 + 333, 11);
    const std::string wav = dir.File("src.wav"), out = dir.File(std::string("out.") + c.ext);
    ASSERT_TRUE(test::WriteWav(wav, src));
    ASSERT_TRUE(Ffmpeg("-i " + Quote(wav) + " " + c.args + " " + Quote(out)));
    Pcm theirs;
    ASSERT_TRUE(FfDecodeTruncated(out, theirs));

    FFmpegReader reader;
    ASSERT_EQ(reader.Open(out, 0), 1);
    EXPECT_EQ(reader.GetSampleRate(), theirs.sampleRate);
    EXPECT_EQ(reader.GetChannels(), 2);
    EXPECT_GT(reader.GetBitRate(), 0);
    const Decoded d = ReadAll(reader);
    EXPECT_TRUE(d.blockSizesOk);
    EXPECT_TRUE(d.positionsOk);
    EXPECT_EQ(d.samples.size(), theirs.samples.size());  // the decoder was drained
    EXPECT_EQ(d.samples, theirs.samples);
    if (c.lossless) {
        EXPECT_EQ(d.samples, src.samples);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, CodecTest,
    ::testing::Values(CodecCase{"flac", "flac", "-c:a flac", true},
                      CodecCase{"wavpack", "wv", "-c:a wavpack", true},
                      CodecCase{"alac24", "m4a", "-c:a alac -sample_fmt s32p", true},
                      CodecCase{"mp3", "mp3", "-c:a libmp3lame -b:a 128k", false},
                      CodecCase{"vorbis", "ogg", "-c:a libvorbis -q:a 3", false},
                      CodecCase{"aac", "m4a", "-c:a aac -b:a 128k", false},
                      CodecCase{"opus", "opus", "-c:a libopus -b:a 96k", false}),
    [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------------------------
// Which stream, and what HasAudioStream says.

TEST_F(FFmpegReaderTest, AudioAfterVideoIsFound) {
    const Pcm src = test::MakeSignal(44100, 2, 30000, 2);
    const std::string wav = dir.File("a.wav"), mkv = dir.File("av.mkv");
    ASSERT_TRUE(test::WriteWav(wav, src));
    ASSERT_TRUE(Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -i " + Quote(wav) +
                       " -map 0:v -map 1:a -c:v mpeg4 -c:a copy " + Quote(mkv)));
    std::string types;
    test::Run("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + Quote(mkv), &types);
    ASSERT_EQ(types, "video\naudio\n");

    FFmpegReader reader;
    ASSERT_EQ(reader.Open(mkv, 0), 1);
    EXPECT_EQ(reader.GetSampleRate(), 44100);
    EXPECT_EQ(ReadAll(reader).samples, src.samples);

    FFmpegProbeReader probe;
    ASSERT_EQ(probe.Open(mkv, 0), 1);
    EXPECT_EQ(probe.HasAudioStream(), 1);
    EXPECT_EQ(probe.GetSampleRate(), 44100);
    EXPECT_EQ(probe.GetChannels(), 2);
}

TEST_F(FFmpegReaderTest, VideoOnlyHasNoAudio) {
    const std::string mkv = dir.File("v.mkv");
    ASSERT_TRUE(
        Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=10:duration=2 -c:v mpeg4 " + Quote(mkv)));
    FFmpegReader reader;
    EXPECT_EQ(reader.Open(mkv, 0), 0);
    EXPECT_EQ(reader.HasAudioStream(), 0);

    FFmpegProbeReader probe;
    ASSERT_EQ(probe.Open(mkv, 0), 1);
    EXPECT_EQ(probe.HasAudioStream(), 0);
    EXPECT_EQ(probe.GetSampleRate(), 0);
    EXPECT_EQ(probe.GetChannels(), 0);
    EXPECT_EQ(probe.GetDuration(), 2);
    EXPECT_EQ(probe.Read(nullptr, nullptr), 0);
}

TEST_F(FFmpegReaderTest, AudioWithoutADecoderStillCountsAsAudio) {
    // A QuickTime file of PCM whose sample entry is relabelled as a codec this FFmpeg can
    // name but not decode.
    const std::string mov = dir.File("pcm.mov"), odd = dir.File("odd.mov");
    ASSERT_TRUE(
        Ffmpeg("-f lavfi -i sine=frequency=440:duration=0.5:sample_rate=44100 "
               "-c:a pcm_s16le -f mov " +
               Quote(mov)));
    std::string bytes = ReadFileBytes(mov);
    const size_t at = bytes.find("sowt");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 4, "mhm1");
    ASSERT_TRUE(WriteBytes(odd, bytes));
    ASSERT_EQ(test::FfProbe(odd).codecName, "mpegh_3d_audio");
    ASSERT_EQ(avcodec_find_decoder(AV_CODEC_ID_MPEGH_3D_AUDIO), nullptr);

    FFmpegReader reader;
    EXPECT_EQ(reader.Open(odd, 0), 0);
    EXPECT_EQ(reader.HasAudioStream(), 1);

    FFmpegProbeReader probe;
    ASSERT_EQ(probe.Open(odd, 0), 1);
    EXPECT_EQ(probe.HasAudioStream(), 1);
    EXPECT_EQ(probe.GetSampleRate(), 44100);
    EXPECT_EQ(probe.GetSourceChannels(), 1);
    EXPECT_EQ(probe.GetChannels(), 1);
}

TEST_F(FFmpegReaderTest, UnreadableFilesFailWithoutClaimingNoAudio) {
    const std::string empty = dir.File("empty.mp3"), noise = dir.File("noise.bin");
    ASSERT_TRUE(WriteBytes(empty, ""));
    std::string junk;
    test::Lcg random(99);
    for (int i = 0; i < 5000; ++i)
        junk += static_cast<char>(random.Next() >> 24);
    ASSERT_TRUE(WriteBytes(noise, junk));
    for (const std::string& path : {empty, noise, dir.File("missing.wav")}) {
        SCOPED_TRACE(path);
        FFmpegReader reader;
        EXPECT_EQ(reader.Open(path, 0), 0);
        EXPECT_EQ(reader.HasAudioStream(), 1);
        int16_t l[kBlockFrames], r[kBlockFrames];
        EXPECT_EQ(reader.Read(l, r), 0);
        FFmpegProbeReader probe;
        EXPECT_EQ(probe.Open(path, 0), 0);
        EXPECT_EQ(probe.HasAudioStream(), 1);
    }
}

TEST_F(FFmpegReaderTest, NoDurationInTheContainerGivesZero) {
    // Matroska written to a pipe cannot go back to store its duration.
    const std::string mka = dir.File("piped.mka");
    ASSERT_EQ(test::Run("ffmpeg -v error -nostdin -f lavfi -i sine=duration=3 -c:a libvorbis "
                        "-f matroska - 2>/dev/null > " +
                        Quote(mka)),
              0);
    std::string shown;
    test::Run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(mka), &shown);
    ASSERT_EQ(shown, "N/A\n");
    Pcm theirs;
    ASSERT_TRUE(FfDecodeTruncated(mka, theirs));

    FFmpegReader reader;
    ASSERT_EQ(reader.Open(mka, 0), 1);
    EXPECT_EQ(reader.GetDuration(), 0);
    EXPECT_EQ(ReadAll(reader).samples, theirs.samples);
    FFmpegProbeReader probe;
    ASSERT_EQ(probe.Open(mka, 0), 1);
    EXPECT_EQ(probe.GetDuration(), 0);
}

TEST_F(FFmpegReaderTest, ReopeningForgetsTheLastFile) {
    const Pcm a = test::MakeSignal(44100, 2, 2000, 1), b = test::MakeSignal(8000, 1, 900, 2);
    ASSERT_TRUE(test::WriteWav(dir.File("a.wav"), a));
    ASSERT_TRUE(test::WriteWav(dir.File("b.wav"), b));
    FFmpegReader reader;
    ASSERT_EQ(reader.Open(dir.File("a.wav"), 0), 1);
    int16_t l[kBlockFrames], r[kBlockFrames];
    ASSERT_GT(reader.Read(l, r), 0);  // leave decoded audio behind
    ASSERT_EQ(reader.Open(dir.File("b.wav"), 0), 1);
    EXPECT_EQ(reader.GetSampleRate(), 8000);
    EXPECT_EQ(ReadAll(reader).samples, b.samples);
}

// ---------------------------------------------------------------------------------------------
// Damaged input: never a crash or a hang, and good packets after bad ones still play.

TEST_F(FFmpegReaderTest, DamagedAndTruncatedFilesEndCleanly) {
    const Pcm src = test::MakeSignal(44100, 2, 44100 * 2, 4);
    const std::string wav = dir.File("s.wav");
    ASSERT_TRUE(test::WriteWav(wav, src));
    for (const char* args : {"-c:a libmp3lame -b:a 128k out.mp3", "-c:a aac out.m4a",
                             "-c:a flac out.flac", "-c:a libvorbis out.ogg"}) {
        SCOPED_TRACE(args);
        std::string a = args;
        const std::string name = a.substr(a.rfind(' ') + 1);
        const std::string path = dir.File(name);
        ASSERT_TRUE(
            Ffmpeg("-i " + Quote(wav) + " " + a.substr(0, a.rfind(' ')) + " " + Quote(path)));
        const std::string whole = ReadFileBytes(path);
        FFmpegReader clean;
        ASSERT_EQ(clean.Open(path, 0), 1);
        const size_t cleanFrames = ReadAll(clean).Frames();

        // Garbage over a stretch in the middle: decoding goes on after it.
        std::string damaged = whole;
        test::Lcg random(5);
        for (size_t i = whole.size() * 2 / 5; i < whole.size() / 2; ++i)
            damaged[i] = static_cast<char>(random.Next() >> 24);
        const std::string bad = dir.File("bad-" + name);
        ASSERT_TRUE(WriteBytes(bad, damaged));
        FFmpegReader reader;
        Pcm theirs;
        const bool theyDecode = test::FfDecode(bad, theirs);
        if (reader.Open(bad, 0)) {
            const Decoded d = ReadAll(reader);
            EXPECT_TRUE(d.blockSizesOk);
            // The bad packets are skipped: no more is lost than the ffmpeg command line loses.
            EXPECT_LE(d.Frames(), cleanFrames);
            if (theyDecode) {
                EXPECT_GE(d.Frames(), theirs.Frames());
            }
        }

        // Cut at several places, the header included.
        for (size_t cut : {size_t{10}, size_t{200}, whole.size() / 3, whole.size() - 7}) {
            const std::string part = dir.File("cut-" + name);
            ASSERT_TRUE(WriteBytes(part, whole.substr(0, cut)));
            FFmpegReader r2;
            if (r2.Open(part, 0)) {
                const Decoded d = ReadAll(r2);
                EXPECT_TRUE(d.blockSizesOk);
                EXPECT_LE(d.Frames(), cleanFrames);
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Tags.

struct TagCase {
    const char* name;
    const char* ext;
    std::string metadata;  // ffmpeg -metadata arguments
    TagSet expected;
};

std::string Meta(std::initializer_list<std::pair<const char*, std::string>> tags) {
    std::string args;
    for (const auto& [k, v] : tags)
        args += " -metadata " + Quote(std::string(k) + "=" + v);
    return args;
}

const std::string kNote = "\xF0\x9F\x8E\xB5";  // U+1F3B5, four bytes

std::vector<TagCase> TagCases() {
    std::vector<TagCase> cases;
    TagSet all;
    all.title = "Grüße " + kNote + " aus Köln";
    all.artist = "Ærø Ensemble " + kNote;
    all.album = "日本語のアルバム";
    all.year = "2004";
    all.genre = "Électro";
    all.comment = "naïve";
    all.track = "7";
    all.copyright = "© 2004 Ünïcødé";
    const std::string allArgs = Meta({{"title", all.title},
                                      {"artist", all.artist},
                                      {"album", all.album},
                                      {"date", "2004-05-03"},
                                      {"genre", all.genre},
                                      {"comment", all.comment},
                                      {"track", "7/12"},
                                      {"composer", "Not Used"},
                                      {"copyright", all.copyright}});
    cases.push_back({"flac", "flac", allArgs, all});
    cases.push_back({"matroska", "mka", allArgs, all});
    // Ogg keeps its comments with the stream.
    cases.push_back({"ogg_stream_tags", "ogg", allArgs, all});

    TagSet author;
    author.title = "Only Title";
    author.artist = "Written By " + kNote;
    cases.push_back(
        {"author_key", "mka", Meta({{"title", author.title}, {"author", author.artist}}), author});

    TagSet repaired;
    repaired.title =
        "A\xEF\xBF\xBD"
        "B\xEF\xBF\xBD";  // "A\xFF" "B" then a cut sequence
    repaired.artist =
        "\xEF\xBF\xBD\xEF\xBF\xBD"
        "x";                                                  // an overlong "/" is two bad bytes
    repaired.album = "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";  // a surrogate: three bad bytes
    cases.push_back({"repaired", "flac",
                     Meta({{"title",
                            "A\xFF"
                            "B\xE2\x82"},
                           {"artist", "\xC0\xAFx"},
                           {"album", "\xED\xA0\x80"}}),
                     repaired});

    TagSet numbers;
    numbers.year = "1999";
    numbers.track = "12";
    cases.push_back({"numbers_only", "flac", Meta({{"year", "1999"}, {"track", "12"}}), numbers});
    return cases;
}

class TagTest : public FFmpegReaderTest, public ::testing::WithParamInterface<TagCase> {};

TEST_P(TagTest, TextsArriveIntact) {
    const TagCase& c = GetParam();
    const std::string path = dir.File(std::string("tagged.") + c.ext);
    const std::string codec = std::string(c.ext) == "ogg" ? " -c:a libvorbis" : "";
    ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=duration=0.2" + codec + c.metadata + " " + Quote(path)));
    FFmpegReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    TagSet got;
    got.composer = "preset";
    ASSERT_NE(reader.ReadTags(got), 0);
    EXPECT_EQ(got.title, c.expected.title);
    EXPECT_EQ(got.artist, c.expected.artist);
    EXPECT_EQ(got.album, c.expected.album);
    EXPECT_EQ(got.year, c.expected.year);
    EXPECT_EQ(got.genre, c.expected.genre);
    EXPECT_EQ(got.comment, c.expected.comment);
    EXPECT_EQ(got.track, c.expected.track);
    EXPECT_EQ(got.composer, "");
    EXPECT_EQ(got.copyright, c.expected.copyright);
}

INSTANTIATE_TEST_SUITE_P(Containers, TagTest, ::testing::ValuesIn(TagCases()),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(FFmpegReaderTest, NoTagsLeavesTheTextsAlone) {
    const std::string wav = dir.File("plain.wav"), flac = dir.File("plain.flac");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(8000, 1, 800)));
    // Tags the reader does not use, and numbers that are no numbers, are no tags.
    ASSERT_TRUE(Ffmpeg("-i " + Quote(wav) +
                       Meta({{"language", "eng"}, {"date", "0"}, {"track", "none"}}) + " " +
                       Quote(flac)));
    for (const std::string& path : {wav, flac}) {
        SCOPED_TRACE(path);
        FFmpegReader reader;
        ASSERT_EQ(reader.Open(path, 0), 1);
        TagSet tags{"t", "a", "al", "y", "g", "c", "tr", "co", "cr"};
        EXPECT_EQ(reader.ReadTags(tags), 0);
        EXPECT_EQ(tags.title, "t");
        EXPECT_EQ(tags.track, "tr");
        EXPECT_EQ(tags.composer, "co");
        EXPECT_EQ(tags.copyright, "cr");
    }
    FFmpegReader closed;
    TagSet kept{"x", "x", "x", "x", "x", "x", "x", "x", "x"};
    EXPECT_EQ(closed.ReadTags(kept), 0);
    EXPECT_EQ(kept.title, "x");
}

// ---------------------------------------------------------------------------------------------
// Two readers in two threads share nothing.

TEST_F(FFmpegReaderTest, TwoThreadsDecodeSideBySide) {
    const Pcm src = test::MakeSignal(44100, 2, 44100, 8);
    const std::string wav = dir.File("t.wav"), flac = dir.File("t.flac");
    ASSERT_TRUE(test::WriteWav(wav, src));
    ASSERT_TRUE(Ffmpeg("-i " + Quote(wav) + " " + Quote(flac)));
    std::vector<int16_t> results[2];
    std::thread threads[2];
    for (int t = 0; t < 2; ++t)
        threads[t] = std::thread([&, t] {
            FFmpegReader reader;
            if (reader.Open(flac, 0))
                results[t] = ReadAll(reader).samples;
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(results[0], src.samples);
    EXPECT_EQ(results[1], src.samples);
}

// ---------------------------------------------------------------------------------------------
// Real files by other authors: open or fail, never crash or hang; where a file opens, its
// format agrees with what ffprobe read in it (kept in the corpus manifest).

// Well-formed UTF-8 per RFC 3629, checked by code points.
bool IsUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int len = b < 0x80         ? 1
                        : (b >> 5) == 6  ? 2
                        : (b >> 4) == 14 ? 3
                        : (b >> 3) == 30 ? 4
                                         : 0;
        if (len == 0 || i + len > s.size())
            return false;
        uint32_t cp = len == 1 ? b : b & (0x7F >> len);
        for (int k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c >> 6) != 2)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

TEST_F(FFmpegReaderTest, CorpusFilesOpenOrFailCleanly) {
    KESTRUNE_REQUIRE_CORPUS();
    const auto files = test::CorpusFiles();
    ASSERT_FALSE(files.empty());
    const auto manifest = test::ReadCorpusManifest();
    ASSERT_FALSE(manifest.empty());
    int opened = 0;
    for (const auto& file : files) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(name);
        FFmpegProbeReader probe;
        const int probed = probe.Open(file.string(), 0);
        FFmpegReader reader;
        if (!reader.Open(file.string(), 0))
            continue;
        ++opened;
        EXPECT_EQ(probed, 1);
        const auto it = manifest.find(name);
        ASSERT_NE(it, manifest.end()) << "ffprobe saw no audio stream";
        EXPECT_EQ(reader.GetSampleRate(), it->second.sampleRate);
        EXPECT_EQ(reader.GetSourceChannels(), it->second.channels);
        EXPECT_EQ(probe.GetSampleRate(), it->second.sampleRate);
        EXPECT_EQ(reader.GetChannels(), it->second.channels < 2 ? 1 : 2);
        if (opened % 50 == 1) {  // the manifest still says what this machine's ffprobe says
            const test::ProbeInfo live = test::FfProbe(file.string());
            EXPECT_EQ(live.sampleRate, it->second.sampleRate);
            EXPECT_EQ(live.channels, it->second.channels);
        }
        // Long tracker songs play for minutes; a few hundred blocks exercise the decoder.
        const Decoded d = ReadAll(reader, 400);
        EXPECT_TRUE(d.blockSizesOk);
        EXPECT_TRUE(d.positionsOk);
        TagSet tags;
        reader.ReadTags(tags);
        for (const std::string* t : {&tags.title, &tags.artist, &tags.album, &tags.comment})
            EXPECT_TRUE(IsUtf8(*t)) << *t;
    }
    EXPECT_GT(opened, static_cast<int>(files.size() / 2));
}

}  // namespace
}  // namespace kestrune
