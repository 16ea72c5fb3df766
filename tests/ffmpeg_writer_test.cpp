#include "writers/ffmpeg_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

#include "tests/support/lossy_match.h"
#include "tests/support/test_support.h"
#include "writers/output_catalogue.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

// FFmpeg's notes about refused bit rates (tried before a nearer one) would only be noise here;
// KESTRUNE_FFMPEG_LOG=1 shows them when a case needs looking into.
class QuietFFmpeg : public ::testing::Environment {
public:
    void SetUp() override {
        if (!std::getenv("KESTRUNE_FFMPEG_LOG"))
            av_log_set_level(AV_LOG_FATAL);
    }
};
const auto* const kQuiet = ::testing::AddGlobalTestEnvironment(new QuietFFmpeg);

// What ffprobe calls each codec, how many samples its encoder adds to the input beyond
// padding the last frame (priming, look-ahead, flush) and how exactly it keeps the signal.
struct CodecFacts {
    const char* probeName;
    int addedSamples;
    enum Kind { Exact, Quantised8, Law, Lossy } kind;
};

const std::map<int, CodecFacts>& Facts() {
    static const std::map<int, CodecFacts> facts = {
        {codec::kPcmS16le, {"pcm_s16le", 0, CodecFacts::Exact}},
        {codec::kPcmS16be, {"pcm_s16be", 0, CodecFacts::Exact}},
        {codec::kPcmS8, {"pcm_s8", 0, CodecFacts::Quantised8}},
        {codec::kPcmU8, {"pcm_u8", 0, CodecFacts::Quantised8}},
        {codec::kPcmMulaw, {"pcm_mulaw", 0, CodecFacts::Law}},
        {codec::kPcmAlaw, {"pcm_alaw", 0, CodecFacts::Law}},
        {codec::kPcmS32le, {"pcm_s32le", 0, CodecFacts::Exact}},
        {codec::kPcmS32be, {"pcm_s32be", 0, CodecFacts::Exact}},
        {codec::kPcmS24le, {"pcm_s24le", 0, CodecFacts::Exact}},
        {codec::kPcmS24be, {"pcm_s24be", 0, CodecFacts::Exact}},
        {codec::kPcmF32be, {"pcm_f32be", 0, CodecFacts::Exact}},
        {codec::kPcmF32le, {"pcm_f32le", 0, CodecFacts::Exact}},
        {codec::kPcmF64be, {"pcm_f64be", 0, CodecFacts::Exact}},
        {codec::kPcmF64le, {"pcm_f64le", 0, CodecFacts::Exact}},
        {codec::kAdpcmImaQt, {"adpcm_ima_qt", 0, CodecFacts::Lossy}},
        {codec::kAdpcmImaWav, {"adpcm_ima_wav", 0, CodecFacts::Lossy}},
        {codec::kAdpcmMs, {"adpcm_ms", 0, CodecFacts::Lossy}},
        {codec::kAdpcmG726, {"adpcm_g726", 0, CodecFacts::Lossy}},
        {codec::kAdpcmSwf, {"adpcm_swf", 0, CodecFacts::Lossy}},
        {codec::kAdpcmYamaha, {"adpcm_yamaha", 0, CodecFacts::Lossy}},
        {codec::kAmrNb, {"amr_nb", 0, CodecFacts::Lossy}},
        {codec::kMp2, {"mp2", 0, CodecFacts::Lossy}},
        {codec::kMp3, {"mp3", 1152, CodecFacts::Lossy}},  // 576 delay, then a flush frame
        {codec::kAac, {"aac", 1024, CodecFacts::Lossy}},  // one priming frame
        {codec::kAc3, {"ac3", 256, CodecFacts::Lossy}},
        {codec::kVorbis, {"vorbis", 1024, CodecFacts::Lossy}},  // half a long block
        {codec::kFlac, {"flac", 0, CodecFacts::Exact}},
        {codec::kAlac, {"alac", 0, CodecFacts::Exact}},
        {codec::kGsm, {"gsm", 0, CodecFacts::Lossy}},
        {codec::kGsmMs, {"gsm_ms", 0, CodecFacts::Lossy}},
    };
    return facts;
}

// The container name ffprobe reports for each muxer.
std::string ProbedFormat(const std::string& muxer) {
    static const std::map<std::string, std::string> names = {
        {"3g2", "mov,mp4,m4a,3gp,3g2,mj2"},
        {"3gp", "mov,mp4,m4a,3gp,3g2,mj2"},
        {"ipod", "mov,mp4,m4a,3gp,3g2,mj2"},
        {"mov", "mov,mp4,m4a,3gp,3g2,mj2"},
        {"mp4", "mov,mp4,m4a,3gp,3g2,mj2"},
        {"adts", "aac"},
        {"matroska", "matroska,webm"},
        {"mp2", "mp3"},  // one demuxer reads every MPEG audio layer
    };
    const auto it = names.find(muxer);
    return it == names.end() ? muxer : it->second;
}

OutputCatalogue& Catalogue() {
    static OutputCatalogue list = [] {
        OutputCatalogue l;
        BuildOutputCatalogue(l);
        return l;
    }();
    return list;
}

// Every (row, allowed codec) pair that the FFmpeg writer serves.
struct Pair {
    FormatId formatId;
    int codecId;
    std::string name;
};

std::vector<Pair> AllPairs() {
    std::vector<Pair> pairs;
    for (const OutputFormatEntry& row : Catalogue()) {
        if (!row.UsesFFmpegWriter())
            continue;
        std::vector<int> seen;
        for (const CodecEntry* entry : row.allowedCodecs) {
            if (std::find(seen.begin(), seen.end(), entry->codecId) != seen.end())
                continue;
            seen.push_back(entry->codecId);
            pairs.push_back({row.formatId, entry->codecId,
                             std::string(row.extension) +
                                 std::to_string(StoredValue(row.formatId)) + "_" +
                                 Facts().at(entry->codecId).probeName});
        }
    }
    return pairs;
}

struct Settings {
    std::string container;
    int codecId = 0;
    int sampleRate = 0;
    int channels = 0;
    int bitRate = 0;
};

// Configures a writer the way the engine does.
void Configure(FFmpegWriter& writer, const Settings& s, const std::string& path) {
    FFmpegEncoderOptions options;
    options.containerShortName = s.container;
    options.codecId = s.codecId;
    writer.SetEncoderOptions(options);
    writer.SetSampleRate(s.sampleRate);
    writer.SetChannels(s.channels);
    writer.SetBitRate(s.bitRate);
    writer.SetPath(path);
}

// Feeds interleaved PCM as planar blocks of uneven sizes (as a resampler hands them on).
bool Feed(FFmpegWriter& writer, const test::Pcm& pcm) {
    static constexpr int kBlocks[] = {1152, 1000, 333, 1152, 17, 0, 1152};
    std::vector<int16_t> left(1152), right(1152);
    size_t at = 0, turn = 0;
    bool ok = true;
    while (at < pcm.Frames()) {
        const int n = static_cast<int>(
            std::min<size_t>(kBlocks[turn++ % std::size(kBlocks)], pcm.Frames() - at));
        for (int i = 0; i < n; ++i) {
            left[i] = pcm.samples[(at + i) * pcm.channels];
            right[i] = pcm.samples[(at + i) * pcm.channels + pcm.channels - 1];
        }
        ok = writer.Write(left.data(), pcm.channels == 2 ? right.data() : nullptr, n) && ok;
        at += static_cast<size_t>(n);
    }
    return ok;
}

// The span the packets of the first audio stream cover (first start to last end), in
// seconds, and whether their decoding times never go backwards.
struct PacketSpan {
    double seconds = 0;
    size_t packets = 0;
    bool monotonic = true;
};

// Reads the packets with libavformat in process (ffprobe would list the same, slower).
PacketSpan ProbePackets(const std::string& path) {
    struct Packet {
        double pts, dts, duration;  // duration < 0: the demuxer does not know it
    };
    std::vector<Packet> packets;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return {};
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> ctx(
        raw, [](AVFormatContext* c) { avformat_close_input(&c); });
    if (avformat_find_stream_info(ctx.get(), nullptr) < 0)
        return {};
    const int index = av_find_best_stream(ctx.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0)
        return {};
    const AVRational tb = ctx->streams[index]->time_base;
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> pkt(av_packet_alloc(),
                                                       [](AVPacket* p) { av_packet_free(&p); });
    while (av_read_frame(ctx.get(), pkt.get()) >= 0) {
        if (pkt->stream_index == index && pkt->pts != AV_NOPTS_VALUE) {
            const int64_t dts = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
            packets.push_back(
                {static_cast<double>(pkt->pts) * av_q2d(tb), static_cast<double>(dts) * av_q2d(tb),
                 pkt->duration > 0 ? static_cast<double>(pkt->duration) * av_q2d(tb) : -1.0});
        }
        av_packet_unref(pkt.get());
    }
    PacketSpan span;
    span.packets = packets.size();
    if (packets.empty())
        return span;
    // Without durations a packet lasts until the next one; the last one as long as the one
    // before it.
    for (size_t i = 0; i + 1 < packets.size(); ++i)
        if (packets[i].duration < 0)
            packets[i].duration = packets[i + 1].pts - packets[i].pts;
    if (packets.back().duration < 0)
        packets.back().duration = packets.size() > 1 ? packets[packets.size() - 2].duration : 0;
    double first = packets.front().pts, end = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i > 0 && packets[i].dts < packets[i - 1].dts)
            span.monotonic = false;
        first = std::min(first, packets[i].pts);
        end = std::max(end, packets[i].pts + packets[i].duration);
    }
    span.seconds = end - first;
    return span;
}

// Containers whose length ffprobe only estimates (from the bit rate, the last time stamp
// seen or the index) rather than reads; the packets still carry the right times.
bool LengthIsRecorded(const std::string& muxer) {
    return muxer != "adts" && muxer != "avi" && muxer != "mpeg" && muxer != "swf" && muxer != "voc";
}

// Writes a signal with the given settings and checks what ffprobe and ffmpeg read back.
void WriteAndVerify(const Settings& s, const std::string& extension,
                    int64_t* encoderBitRate = nullptr) {
    test::TempDir dir;
    const std::string path = dir.File("out." + extension);
    const test::Pcm pcm = test::MakeSignal(s.sampleRate, s.channels, s.sampleRate * 3 / 2);
    FFmpegWriter writer;
    Configure(writer, s, path);
    ASSERT_EQ(writer.Open(), 1) << "rate " << s.sampleRate << " channels " << s.channels
                                << " bit rate " << s.bitRate;
    const int frameSize = writer.FrameSize();  // 0 for encoders that take any count
    if (encoderBitRate)
        *encoderBitRate = writer.EncoderBitRate();
    EXPECT_TRUE(Feed(writer, pcm));
    writer.Close();
    EXPECT_FALSE(writer.Failed());

    const CodecFacts& facts = Facts().at(s.codecId);
    const test::ProbeInfo info = test::FfProbe(path);
    ASSERT_TRUE(info.ok) << path;
    EXPECT_EQ(info.formatName, ProbedFormat(s.container));
    EXPECT_EQ(info.codecName, facts.probeName);
    int storedRate = s.sampleRate;
    if (s.container == "voc" && s.codecId == codec::kPcmU8) {
        // 8-bit VOC blocks keep the rate as a one-byte time constant: close, rarely exact
        EXPECT_NEAR(info.sampleRate, s.sampleRate, s.sampleRate / 100);
        storedRate = info.sampleRate;
    } else {
        EXPECT_EQ(info.sampleRate, s.sampleRate);
    }
    EXPECT_EQ(info.channels, s.channels);

    const double expected = static_cast<double>(pcm.Frames()) / storedRate;
    // the last frame padded to a whole one, plus what the encoder adds
    const int slackFrames = frameSize + facts.addedSamples;
    const double slack = static_cast<double>(slackFrames) / storedRate + 0.0005;
    const PacketSpan span = ProbePackets(path);
    EXPECT_TRUE(span.monotonic);
    EXPECT_GE(span.seconds, expected - 0.0005) << "slack " << slack;
    EXPECT_LE(span.seconds, expected + slack);
    if (LengthIsRecorded(s.container)) {
        EXPECT_GE(info.duration, expected - 0.0005) << "slack " << slack;
        EXPECT_LE(info.duration, expected + slack);
    }

    test::Pcm decoded;
    ASSERT_TRUE(test::FfDecode(path, decoded));
    ASSERT_EQ(decoded.channels, s.channels);
    switch (facts.kind) {
        case CodecFacts::Exact:
            EXPECT_EQ(decoded.samples, pcm.samples);
            break;
        case CodecFacts::Quantised8:
        case CodecFacts::Law: {
            ASSERT_EQ(decoded.samples.size(), pcm.samples.size());
            int worst = 0;
            bool within = true;
            for (size_t i = 0; i < pcm.samples.size(); ++i) {
                const int x = pcm.samples[i], y = decoded.samples[i];
                // 8-bit keeps the top byte; the logarithmic laws keep about 4 bits of mantissa
                const int tolerance =
                    facts.kind == CodecFacts::Quantised8 ? 255 : std::abs(x) / 16 + 32;
                within = within && std::abs(x - y) <= tolerance;
                worst = std::max(worst, std::abs(x - y));
            }
            EXPECT_TRUE(within) << "largest error " << worst;
            break;
        }
        case CodecFacts::Lossy: {
            const size_t frames = decoded.Frames();
            EXPECT_GE(frames + 1, pcm.Frames());
            EXPECT_LE(frames, pcm.Frames() + static_cast<size_t>(slackFrames));
            test::ExpectFollowsSource(pcm, decoded, facts.probeName, s.container);
            break;
        }
    }
}

class EveryPair : public ::testing::TestWithParam<Pair> {};

// Automatic parameters: a stereo 44100 Hz source and a mono 22050 Hz source.
TEST_P(EveryPair, WritesWhatFfprobeReadsBack) {
    const Pair& pair = GetParam();
    for (const auto& [rate, channels] : {std::pair{44100, 2}, std::pair{22050, 1}}) {
        SCOPED_TRACE("source " + std::to_string(rate) + " Hz, " + std::to_string(channels) +
                     " channel(s)");
        OutputFormatEntry row = *FindOutputFormat(Catalogue(), pair.formatId);
        row.autoParams = 1;
        row.codecId = pair.codecId;
        ResolvedEncoding enc;
        ASSERT_TRUE(ResolveEncoding(row, rate, channels, enc));
        WriteAndVerify(
            {row.containerShortName, pair.codecId, enc.sampleRate, enc.channels, enc.bitRate},
            row.extension);
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryPair, ::testing::ValuesIn(AllPairs()),
                         [](const ::testing::TestParamInfo<Pair>& test) {
                             return test.param.name;
                         });

// Manual parameters, resolved from a 44100 Hz stereo source; bitRate is what the encoder
// must end up with (0: not checked, -1: lower than asked, -2: higher than asked).
struct ManualCase {
    FormatId formatId;
    int codecId;
    int sampleRate, bitRate, channels;
    int64_t encoderBitRate;
    std::string name;
};

class ManualSettings : public ::testing::TestWithParam<ManualCase> {};

TEST_P(ManualSettings, AreWrittenAsResolved) {
    const ManualCase& c = GetParam();
    OutputFormatEntry row = *FindOutputFormat(Catalogue(), c.formatId);
    row.autoParams = 0;
    row.codecId = c.codecId;
    row.sampleRate = c.sampleRate;
    row.bitRate = c.bitRate;
    row.channels = c.channels;
    ResolvedEncoding enc;
    ASSERT_TRUE(ResolveEncoding(row, 44100, 2, enc));
    int64_t used = 0;
    WriteAndVerify({row.containerShortName, c.codecId, enc.sampleRate, enc.channels, enc.bitRate},
                   row.extension, &used);
    if (c.encoderBitRate > 0) {
        EXPECT_EQ(used, c.encoderBitRate);
    } else if (c.encoderBitRate == -1) {
        EXPECT_LT(used, enc.bitRate);
    } else if (c.encoderBitRate == -2) {
        EXPECT_GT(used, enc.bitRate);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, ManualSettings,
    ::testing::Values(
        // G.726 takes bits per sample: out of range means 4
        ManualCase{FormatId::kWav, codec::kAdpcmG726, 22050, 7, 1, 5 * 22050,
                   "G726StoredSevenIsFive"},
        ManualCase{FormatId::kWav, codec::kAdpcmG726, 8000, 2, 1, 2 * 8000, "G726TwoBits"},
        ManualCase{FormatId::kWav, codec::kAdpcmG726, 11025, 3, 1, 3 * 11025,
                   "G726ThreeBitsOddByteRate"},
        ManualCase{FormatId::kWav, codec::kAdpcmG726, 11025, 5, 1, 5 * 11025,
                   "G726FiveBitsOddByteRate"},
        // PCM and ADPCM: bits x channels x rate
        ManualCase{FormatId::kWav, codec::kPcmS24le, 6000, 0, 1, 24 * 6000, "Wav24BitAt6000"},
        ManualCase{FormatId::kWav, codec::kAdpcmImaWav, 96000, 0, 2, 4 * 2 * 96000, "ImaAt96000"},
        ManualCase{FormatId::kAiff, codec::kPcmF64be, 88200, 0, 2, 64 * 2 * 88200,
                   "Aiff64BitFloat"},
        ManualCase{FormatId::kWav, codec::kGsmMs, 8000, 0, 1, 13000, "GsmMsAt13000"},
        // MPEG layer 2 has no 320 kbit/s below 32000 Hz and nothing under 32 kbit/s above
        ManualCase{FormatId::kMp2, codec::kMp2, 22050, 320000, 2, 160000, "Mp2HalfRateTopsAt160k"},
        ManualCase{FormatId::kMp2, codec::kMp2, 48000, 8000, 1, 32000, "Mp2FullRateStartsAt32k"},
        ManualCase{FormatId::kMp3, codec::kMp3, 8000, 320000, 1, 0, "Mp3At8000"},
        ManualCase{FormatId::kOgg, codec::kVorbis, 8000, 480000, 2, -1, "VorbisAboveItsRange"},
        ManualCase{FormatId::kOgg, codec::kVorbis, 48000, 8000, 2, -2, "VorbisBelowItsRange"},
        ManualCase{FormatId::kAc3, codec::kAc3, 32000, 640000, 1, 0, "Ac3MonoAtTheTop"},
        ManualCase{FormatId::kMp4, codec::kAac, 8000, 320000, 1, 0, "AacAt8000"},
        ManualCase{FormatId::k3gp, codec::kAmrNb, 8000, 4750, 1, 4750, "Amr475"},
        ManualCase{FormatId::k3g2, codec::kAmrNb, 8000, 12200, 2, 12200, "Amr122FromStereo"},
        ManualCase{FormatId::kFlac, codec::kFlac, 96000, 0, 2, 0, "FlacAt96000"},
        ManualCase{FormatId::kMmf, codec::kAdpcmYamaha, 4000, 0, 1, 4 * 4000, "MmfAt4000"},
        ManualCase{FormatId::kVoc, codec::kPcmU8, 22050, 0, 1, 8 * 22050, "VocDefaults"}),
    [](const ::testing::TestParamInfo<ManualCase>& test) { return test.param.name; });

// Every sample rate, channel count and bit rate the codec table offers for a codec with a
// bit-rate choice opens; where the encoder refuses the asked rate it gets the nearest it takes.
TEST(BitRateChoices, EveryTableCombinationOpens) {
    test::TempDir dir;
    const struct {
        int codecId;
        const char* container;
    } codecs[] = {{codec::kMp2, "mp2"}, {codec::kMp3, "mp3"},    {codec::kAac, "adts"},
                  {codec::kAc3, "ac3"}, {codec::kVorbis, "ogg"}, {codec::kAmrNb, "3gp"}};
    std::vector<std::string> replaced;
    for (const auto& c : codecs) {
        const CodecEntry* entry = nullptr;
        for (const CodecEntry& e : CodecTable())
            if (e.codecId == c.codecId)
                entry = &e;  // the last: C5/C9 are subsets of C4/C8
        ASSERT_NE(entry, nullptr);
        for (int channels = 1; channels <= 2; ++channels) {
            if (!(entry->channelMask & channels))
                continue;
            for (int rate : entry->sampleRates) {
                for (int bitRate : entry->bitRates) {
                    FFmpegWriter writer;
                    Configure(writer, {c.container, c.codecId, rate, channels, bitRate},
                              dir.File("probe"));
                    ASSERT_EQ(writer.Open(), 1)
                        << c.container << " " << rate << " Hz " << channels << " ch " << bitRate;
                    if (writer.EncoderBitRate() != bitRate)
                        replaced.push_back(std::string(c.container) + " " + std::to_string(rate) +
                                           "/" + std::to_string(channels) + " " +
                                           std::to_string(bitRate) + "->" +
                                           std::to_string(writer.EncoderBitRate()));
                    writer.Close();
                }
            }
        }
    }
    // Only codecs with real limits see a different rate; the rest take the table as it is.
    for (const std::string& r : replaced)
        EXPECT_TRUE(r.rfind("mp2", 0) == 0 || r.rfind("ac3", 0) == 0 || r.rfind("ogg", 0) == 0)
            << r;
}

// Tags with text from beyond Latin-1 (a 4-byte character included) read back unchanged.
const char kTitle[] = "Gr\xC3\xBC\xC3\x9F\x65 \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x8E\xB5";
const char kArtist[] = "Bj\xC3\xB6rk \xC3\x85str\xC3\xB6m";
const char kAlbum[] = "\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD0\xB8";
const char kComposer[] = "Dvo\xC5\x99\xC3\xA1k";
const char kComment[] = "\xE2\x9C\x93 checked";
const char kCopyright[] = "\xC2\xA9 1893";

void SetTestTags(FFmpegWriter& writer, const std::string& title, int track) {
    writer.SetTags(TagSet{title, kArtist, kAlbum, "1893", "Klassik", kComment,
                          track != 0 ? std::to_string(track) : "", kComposer, kCopyright});
}

// 3GPP asset boxes (moov/udta/titl, perf, ...): ffprobe does not read them, so the test does.
std::map<std::string, std::string> Read3gppAssets(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&d](size_t at) {
        return (uint32_t{static_cast<uint8_t>(d[at])} << 24) |
               (uint32_t{static_cast<uint8_t>(d[at + 1])} << 16) |
               (uint32_t{static_cast<uint8_t>(d[at + 2])} << 8) | static_cast<uint8_t>(d[at + 3]);
    };
    // the payload range of the first child box of type inside [begin, end)
    auto find = [&](size_t begin, size_t end, const char* type) -> std::pair<size_t, size_t> {
        while (begin + 8 <= end) {
            const size_t size = u32(begin);
            if (size < 8 || begin + size > end)
                break;
            if (d.compare(begin + 4, 4, type) == 0)
                return {begin + 8, begin + size};
            begin += size;
        }
        return {0, 0};
    };
    std::map<std::string, std::string> tags;
    const auto moov = find(0, d.size(), "moov");
    const auto udta = find(moov.first, moov.second, "udta");
    const std::pair<const char*, const char*> strings[] = {
        {"titl", "title"},   {"perf", "artist"}, {"auth", "author"},   {"gnre", "genre"},
        {"dscp", "comment"}, {"albm", "album"},  {"cprt", "copyright"}};
    for (const auto& [box, key] : strings) {
        const auto [begin, end] = find(udta.first, udta.second, box);
        if (begin == 0 || begin + 6 > end)
            continue;  // version, flags, language, then text
        const size_t text = begin + 6;
        const size_t nul = d.find('\0', text);
        if (nul == std::string::npos || nul >= end)
            continue;
        tags[key] = d.substr(text, nul - text);
        if (std::string(box) == "albm" && nul + 1 < end)
            tags["track"] = std::to_string(static_cast<uint8_t>(d[nul + 1]));
    }
    const auto [yBegin, yEnd] = find(udta.first, udta.second, "yrrc");
    if (yBegin && yBegin + 6 <= yEnd)
        tags["date"] = std::to_string((static_cast<uint8_t>(d[yBegin + 4]) << 8) |
                                      static_cast<uint8_t>(d[yBegin + 5]));
    return tags;
}

// Writes a short tagged file of a row and returns the tags found in it.
std::map<std::string, std::string> WriteTagged(FormatId formatId, const std::string& title,
                                               int track) {
    const OutputFormatEntry& row = *FindOutputFormat(Catalogue(), formatId);
    ResolvedEncoding enc;
    EXPECT_TRUE(ResolveEncoding(row, 44100, 2, enc));
    test::TempDir dir;
    const std::string path = dir.File(std::string("tagged.") + row.extension);
    FFmpegWriter writer;
    Configure(writer,
              {row.containerShortName, row.codecId, enc.sampleRate, enc.channels, enc.bitRate},
              path);
    SetTestTags(writer, title, track);
    EXPECT_EQ(writer.Open(), 1);
    const test::Pcm pcm = test::MakeSignal(enc.sampleRate, enc.channels, enc.sampleRate / 4);
    EXPECT_TRUE(Feed(writer, pcm));
    writer.Close();
    if (std::string(row.containerShortName) == "3gp")
        return Read3gppAssets(path);
    std::map<std::string, std::string> tags;
    std::istringstream in(test::FfProbe(path).tags);
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            tags.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return tags;
}

struct TagCase {
    FormatId formatId;
    // the key each value is found under when read back, or null where the container has
    // no place for it
    const char *title, *artist, *author, *album, *genre, *date, *comment, *track, *composer,
        *copyright;
};

class Tags : public ::testing::TestWithParam<TagCase> {};

TEST_P(Tags, ReadBackAsWritten) {
    const TagCase& c = GetParam();
    const auto tags = WriteTagged(c.formatId, kTitle, 9);
    std::string all;
    for (const auto& [k, v] : tags)
        all += k + "=" + v + "\n";
    const std::pair<const char*, std::string> expected[] = {
        {c.title, kTitle},       {c.artist, kArtist},      {c.author, kArtist},   {c.album, kAlbum},
        {c.genre, "Klassik"},    {c.date, "1893"},         {c.comment, kComment}, {c.track, "9"},
        {c.composer, kComposer}, {c.copyright, kCopyright}};
    for (const auto& [key, value] : expected) {
        if (!key)
            continue;
        const auto it = tags.find(key);
        ASSERT_NE(it, tags.end()) << key << " missing from\n" << all;
        std::string found = it->second;
        if (std::string(key) == "track")
            found = found.substr(0, found.find('/'));  // "9/0"
        EXPECT_EQ(found, value) << key;
    }
}

const char* const n = nullptr;
INSTANTIATE_TEST_SUITE_P(
    Containers, Tags,
    ::testing::Values(
        // ID3v2: "author" goes into a user text frame
        TagCase{FormatId::kMp3, "title", "artist", "author", "album", "genre", "date", "comment",
                "track", "composer", "copyright"},
        // iTunes-style atoms have no author
        TagCase{FormatId::kM4a, "title", "artist", n, "album", "genre", "date", "comment", "track",
                "composer", "copyright"},
        TagCase{FormatId::kM4b, "title", "artist", n, "album", "genre", "date", "comment", "track",
                "composer", "copyright"},
        TagCase{FormatId::kMp4, "title", "artist", n, "album", "genre", "date", "comment", "track",
                "composer", "copyright"},
        // QuickTime user data keeps neither track nor composer (and the author is not read)
        TagCase{FormatId::kMov, "title", "artist", n, "album", "genre", "date", "comment", n, n,
                "copyright"},
        // 3GPP assets: the track rides on the album box; no composer
        TagCase{FormatId::k3gp, "title", "artist", "author", "album", "genre", "date", "comment",
                "track", n, "copyright"},
        // Vorbis comments and Matroska tags keep every key
        TagCase{FormatId::kOgg, "title", "artist", "author", "album", "genre", "date", "comment",
                "track", "composer", "copyright"},
        TagCase{FormatId::kFlac, "title", "artist", "author", "album", "genre", "date", "comment",
                "track", "composer", "copyright"},
        TagCase{FormatId::kMka, "title", "artist", "author", "album", "genre", "date", "comment",
                "track", "composer", "copyright"},
        // RIFF INFO: the album (IPRD) reads back as "product"; no author or composer
        TagCase{FormatId::kAvi, "title", "artist", n, "product", "genre", "date", "comment",
                "track", n, "copyright"}),
    [](const ::testing::TestParamInfo<TagCase>& test) {
        return std::string(FindOutputFormat(Catalogue(), test.param.formatId)->extension) +
               std::to_string(StoredValue(test.param.formatId));
    });

// MP3 tags are an ID3v2.3 tag at the start of the file.
TEST(TagsInMp3, AreAnId3v23TagInFront) {
    test::TempDir dir;
    const std::string path = dir.File("id3.mp3");
    FFmpegWriter writer;
    Configure(writer, {"mp3", codec::kMp3, 44100, 2, 128000}, path);
    SetTestTags(writer, kTitle, 3);
    ASSERT_EQ(writer.Open(), 1);
    EXPECT_TRUE(Feed(writer, test::MakeSignal(44100, 2, 4410)));
    writer.Close();
    std::ifstream in(path, std::ios::binary);
    char head[4] = {};
    in.read(head, 4);
    EXPECT_EQ(std::string(head, 3), "ID3");
    EXPECT_EQ(head[3], 3);
    EXPECT_EQ(test::FfProbe(path).Tag("title"), kTitle);
}

// A track of 0 and an empty title leave their keys out; the others are still written.
TEST(TagsLeftOut, ZeroTrackAndEmptyTitle) {
    for (FormatId formatId : {FormatId::kMp3, FormatId::kOgg, FormatId::kM4a, FormatId::kMka}) {
        SCOPED_TRACE(StoredValue(formatId));
        const auto tags = WriteTagged(formatId, "", 0);
        EXPECT_EQ(tags.count("title"), 0u);
        EXPECT_EQ(tags.count("track"), 0u);
        EXPECT_EQ(tags.count("artist"), 1u);
    }
}

// Invalid UTF-8 never reaches a file: each broken sequence becomes U+FFFD, the rest stays.
TEST(TagsRepaired, InvalidUtf8BecomesReplacementCharacters) {
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xE9 bar", "caf\xEF\xBF\xBD bar"},                      // Latin-1 byte
        {"a\xC3", "a\xEF\xBF\xBD"},                                  // cut short at the end
        {"\xE6\x9D x", "\xEF\xBF\xBD x"},                            // cut short inside
        {"\xC0\xAF!", "\xEF\xBF\xBD\xEF\xBF\xBD!"},                  // overlong
        {"\xED\xA0\x80z", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz"},  // surrogate
        {"\xF0\x9F\x8E\xB5 ok", "\xF0\x9F\x8E\xB5 ok"},              // valid 4-byte stays
    };
    for (FormatId formatId : {FormatId::kMp3, FormatId::kOgg}) {
        for (const auto& [written, repaired] : cases) {
            SCOPED_TRACE(std::to_string(StoredValue(formatId)) + " " + repaired);
            const auto tags = WriteTagged(formatId, written, 1);
            ASSERT_EQ(tags.count("title"), 1u);
            EXPECT_EQ(tags.at("title"), repaired);
        }
    }
}

// Frames are buffered until a whole encoder frame is there; Close encodes the rest.
TEST(FrameBuffering, TwoShortWritesMakeOneFrameAndAPendingRest) {
    test::TempDir dir;
    const std::string path = dir.File("buffered.mp2");
    FFmpegWriter writer;
    Configure(writer, {"mp2", codec::kMp2, 44100, 2, 192000}, path);
    ASSERT_EQ(writer.Open(), 1);
    ASSERT_EQ(writer.FrameSize(), 1152);
    const test::Pcm pcm = test::MakeSignal(44100, 2, 2000);
    std::vector<int16_t> left(2000), right(2000);
    for (size_t i = 0; i < 2000; ++i) {
        left[i] = pcm.samples[2 * i];
        right[i] = pcm.samples[2 * i + 1];
    }
    EXPECT_EQ(writer.Write(left.data(), right.data(), 1000), 1);
    EXPECT_EQ(writer.PendingFrames(), 1000);
    EXPECT_EQ(writer.Write(left.data() + 1000, right.data() + 1000, 1000), 1);
    EXPECT_EQ(writer.PendingFrames(), 848);
    EXPECT_EQ(writer.Write(left.data(), right.data(), 0), 1);  // nothing to do
    EXPECT_EQ(writer.PendingFrames(), 848);
    writer.Close();
    EXPECT_FALSE(writer.Failed());
    // the pending 848 frames were padded to a whole frame: two frames in all
    test::Pcm decoded;
    ASSERT_TRUE(test::FfDecode(path, decoded));
    EXPECT_EQ(decoded.Frames(), 2304u);
    EXPECT_NEAR(ProbePackets(path).seconds, 2304.0 / 44100, 1e-4);
    EXPECT_NEAR(test::FfProbe(path).duration, 2304.0 / 44100, 1e-3);
}

// A mono source sent to a stereo output passes the same buffer twice.
TEST(FrameBuffering, SameBufferForBothChannels) {
    test::TempDir dir;
    const std::string path = dir.File("twice.wav");
    FFmpegWriter writer;
    Configure(writer, {"wav", codec::kPcmS16le, 22050, 2, 0}, path);
    ASSERT_EQ(writer.Open(), 1);
    const test::Pcm mono = test::MakeSignal(22050, 1, 3000);
    EXPECT_EQ(writer.Write(mono.samples.data(), mono.samples.data(), 3000), 1);
    writer.Close();
    test::Pcm decoded;
    ASSERT_TRUE(test::FfDecode(path, decoded));
    ASSERT_EQ(decoded.Frames(), 3000u);
    for (size_t i = 0; i < 3000; ++i) {
        ASSERT_EQ(decoded.samples[2 * i], mono.samples[i]);
        ASSERT_EQ(decoded.samples[2 * i + 1], mono.samples[i]);
    }
}

// G.726 takes its bits per sample from the bit rate; anything outside 2..5 means 4.
TEST(BitRates, G726OutOfRangeMeansFourBits) {
    test::TempDir dir;
    for (const auto& [stored, bits] :
         {std::pair{7, 4}, std::pair{0, 4}, std::pair{1, 4}, std::pair{2, 2}, std::pair{5, 5}}) {
        FFmpegWriter writer;
        Configure(writer, {"wav", codec::kAdpcmG726, 8000, 1, stored}, dir.File("g.wav"));
        ASSERT_EQ(writer.Open(), 1);
        EXPECT_EQ(writer.EncoderBitRate(), bits * 8000) << stored;
        writer.Close();
    }
}

// Open fails cleanly: nothing is left on disk and Close (once or twice) is harmless.
struct FailingOpen {
    Settings settings;
    const char* why;
};

class OpenFailure : public ::testing::TestWithParam<FailingOpen> {};

TEST_P(OpenFailure, LeavesNothingBehind) {
    const FailingOpen& c = GetParam();
    test::TempDir dir;
    const std::string path = dir.File("never.out");
    FFmpegWriter writer;
    Configure(writer, c.settings, path);
    writer.SetTags(TagSet{"t", "a", "b", "2000", "g", "c", "1", "m", "r"});
    EXPECT_EQ(writer.Open(), 0) << c.why;
    EXPECT_FALSE(fs::exists(path)) << c.why;
    writer.Close();
    writer.Close();
    EXPECT_EQ(writer.Write(nullptr, nullptr, 0), 0);  // not open
    EXPECT_FALSE(fs::exists(path));
}

INSTANTIATE_TEST_SUITE_P(
    Writer, OpenFailure,
    ::testing::Values(
        FailingOpen{{"nosuchmuxer", codec::kPcmS16le, 44100, 2, 0}, "unknown container"},
        FailingOpen{{"wav", 0x15010, 44100, 2, 128000}, "a codec without an encoder"},
        FailingOpen{{"wav", 0x7777, 44100, 2, 0}, "a codec id outside the table"},
        FailingOpen{{"aiff", codec::kGsm, 44100, 1, 0}, "GSM is 8000 Hz only"},
        FailingOpen{{"wav", codec::kGsmMs, 8000, 2, 0}, "GSM is mono only"},
        FailingOpen{{"3gp", codec::kAmrNb, 16000, 1, 12200}, "narrow-band AMR is 8000 Hz"},
        FailingOpen{{"au", codec::kMp3, 44100, 2, 128000},
                    "AU holds no MP3: refused when the header is written, after the file "
                    "was created"},
        FailingOpen{{"wav", codec::kPcmS16le, 0, 2, 0}, "no sample rate"},
        FailingOpen{{"wav", codec::kPcmS16le, 44100, 3, 0}, "three channels"}),
    [](const ::testing::TestParamInfo<FailingOpen>& test) {
        return "case" + std::to_string(test.index);
    });

TEST(OpenFailure, CloseWithoutOpenIsHarmless) {
    FFmpegWriter writer;
    writer.Close();
    EXPECT_FALSE(writer.Failed());
}

// A write that fails (a full disk) is reported and stays reported; the device survives.
TEST(WriteFailure, FullDiskIsReported) {
    ASSERT_TRUE(fs::exists("/dev/full"));
    FFmpegWriter writer;
    Configure(writer, {"wav", codec::kPcmS16le, 44100, 2, 0}, "/dev/full");
    ASSERT_EQ(writer.Open(), 1);
    const test::Pcm pcm = test::MakeSignal(44100, 2, 44100);
    bool refused = false;
    for (int block = 0; block < 40 && !refused; ++block)
        refused = !Feed(writer, pcm);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(writer.Failed());
    std::vector<int16_t> some(64, 1);
    EXPECT_EQ(writer.Write(some.data(), some.data(), 64), 0);  // sticky
    writer.Close();
    EXPECT_TRUE(writer.Failed());
    struct stat st;
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// Every row is written here but those of the AMR and the Windows Media writers.
TEST(EveryPairList, CoversEveryRowButTheAmrAndWindowsMediaOnes) {
    std::set<FormatId> covered,
        others = {FormatId::kAmr, FormatId::kAwb, FormatId::kWma, FormatId::kWmv, FormatId::kAsf};
    for (const Pair& p : AllPairs())
        covered.insert(p.formatId);
    for (const OutputFormatEntry& row : Catalogue())
        EXPECT_NE(covered.count(row.formatId), others.count(row.formatId))
            << StoredValue(row.formatId);
}

}  // namespace
}  // namespace kestrune
