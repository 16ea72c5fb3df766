#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "audio/downmix.h"
#include "common/byte_order.h"
#include "readers/aiff_reader.h"
#include "support/test_support.h"
#include "tests/support/reader_checks.h"

namespace kestrune {
namespace {

using namespace test;  // the reader checks

// ---- Hand-made files for the rules libsndfile has no way to write ----

// An 80-bit IEEE extended value.
void PutExtended(std::vector<uint8_t>& b, double v) {
    int exponent = 0;
    const double m = std::frexp(v, &exponent);  // v = m * 2^exponent, 0.5 <= m < 1
    const uint64_t mantissa = static_cast<uint64_t>(std::ldexp(m, 64));
    AppendBe(b, exponent - 1 + 16383, 2);
    AppendBe(b, mantissa, 8);
}

void PutChunk(std::vector<uint8_t>& b, const char* id, const std::vector<uint8_t>& body) {
    b.insert(b.end(), id, id + 4);
    AppendBe(b, body.size(), 4);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1)
        b.push_back(0);
}

struct AiffLayout {
    bool aifc = false;
    int channels = 1;
    uint32_t frames = 0;
    int sampleSize = 16;
    double rate = 8000;
    const char* compression = "NONE";
    std::vector<uint8_t> data;
    bool withSsnd = true;
    size_t commSize = 0;              // 0: the natural size
    std::vector<uint8_t> extraChunk;  // complete chunk bytes placed before SSND
};

std::vector<uint8_t> BuildAiff(const AiffLayout& s) {
    std::vector<uint8_t> comm;
    AppendBe(comm, s.channels, 2);
    AppendBe(comm, s.frames, 4);
    AppendBe(comm, s.sampleSize, 2);
    PutExtended(comm, s.rate);
    if (s.aifc) {
        comm.insert(comm.end(), s.compression, s.compression + 4);
        comm.push_back(0);
        comm.push_back(0);
    }
    if (s.commSize)
        comm.resize(s.commSize, 0);
    std::vector<uint8_t> body;
    const char* type = s.aifc ? "AIFC" : "AIFF";
    body.insert(body.end(), type, type + 4);
    PutChunk(body, "COMM", comm);
    body.insert(body.end(), s.extraChunk.begin(), s.extraChunk.end());
    if (s.withSsnd) {
        std::vector<uint8_t> ssnd(8, 0);
        ssnd.insert(ssnd.end(), s.data.begin(), s.data.end());
        PutChunk(body, "SSND", ssnd);
    }
    std::vector<uint8_t> file = {'F', 'O', 'R', 'M'};
    AppendBe(file, body.size(), 4);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// ---- Every compression libsndfile writes, against libsndfile's own decode ----

using AiffCase = std::tuple<const char*, int, int>;  // name, format bits, channels

class AiffAgainstSndfile : public ::testing::TestWithParam<AiffCase> {};

TEST_P(AiffAgainstSndfile, DecodesSampleForSample) {
    const auto [name, format, channelCount] = GetParam();
    TempDir dir;
    const std::string path = dir.File("t.aif");
    const Pcm pcm = test::MakeSignal(44100, channelCount, 50000, 11);
    ASSERT_TRUE(SndWrite(path, format, pcm)) << name;

    std::vector<int16_t> expected;
    int fileChannels = 0;
    const int sub = format & SF_FORMAT_SUBMASK;
    ASSERT_TRUE(SndReadShort(path, expected, fileChannels,
                             sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE));
    ASSERT_EQ(fileChannels, channelCount);

    AiffReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1) << name;
    EXPECT_EQ(reader.GetSampleRate(), 44100);
    EXPECT_EQ(reader.GetSourceChannels(), channelCount);
    EXPECT_EQ(reader.GetChannels(), channelCount == 1 ? 1 : 2);
    EXPECT_EQ(reader.GetDuration(), 1);
    EXPECT_GT(reader.GetBitRate(), 0);
    const Decoded got = Drain(reader);
    reader.Close();

    const std::vector<int16_t> want = Fold(expected, channelCount);
    // Block codecs end on a whole block; compare what both sides decoded.
    const size_t common = std::min(got.samples.size(), want.size());
    EXPECT_GE(common, pcm.Frames() * static_cast<size_t>(got.channels) * 99 / 100) << name;
    size_t mismatches = 0;
    for (size_t i = 0; i < common; ++i)
        mismatches += got.samples[i] != want[i];
    EXPECT_EQ(mismatches, 0u) << name;
}

std::vector<AiffCase> AiffCases() {
    std::vector<AiffCase> c;
    const std::pair<const char*, int> plain[] = {
        {"s8", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8},
        {"s16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16},
        {"s24", SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
        {"s32", SF_FORMAT_AIFF | SF_FORMAT_PCM_32},
        {"sowt16", SF_FORMAT_AIFF | SF_FORMAT_PCM_16 | SF_ENDIAN_LITTLE},
        {"sowt32", SF_FORMAT_AIFF | SF_FORMAT_PCM_32 | SF_ENDIAN_LITTLE},
        {"raw", SF_FORMAT_AIFF | SF_FORMAT_PCM_U8},
        {"ulaw", SF_FORMAT_AIFF | SF_FORMAT_ULAW},
        {"alaw", SF_FORMAT_AIFF | SF_FORMAT_ALAW},
        {"fl32", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {"fl64", SF_FORMAT_AIFF | SF_FORMAT_DOUBLE},
    };
    for (const auto& [name, format] : plain)
        for (int ch : {1, 2, 6})
            c.emplace_back(name, format, ch);
    for (const auto& [name, format] : {std::pair{"dwvw16", SF_FORMAT_AIFF | SF_FORMAT_DWVW_16},
                                       std::pair{"dwvw24", SF_FORMAT_AIFF | SF_FORMAT_DWVW_24}})
        c.emplace_back(name, format, 1);  // libsndfile writes DWVW for one channel only
    c.emplace_back("ima4", SF_FORMAT_AIFF | SF_FORMAT_IMA_ADPCM, 2);
    c.emplace_back("gsm", SF_FORMAT_AIFF | SF_FORMAT_GSM610, 1);
    return c;
}

INSTANTIATE_TEST_SUITE_P(Compressions, AiffAgainstSndfile, ::testing::ValuesIn(AiffCases()),
                         [](const ::testing::TestParamInfo<AiffCase>& test) {
                             return std::string(std::get<0>(test.param)) + "_" +
                                    std::to_string(std::get<2>(test.param)) + "ch";
                         });

// ---- Rules of the header and the compression table ----

struct OpenCase {
    const char* name;
    AiffLayout layout;
    int open;
    int rate;
    std::vector<int16_t> first;  // the first samples delivered (interleaved pairs for stereo)
};

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int x : v)
        out.push_back(static_cast<uint8_t>(x));
    return out;
}

std::vector<OpenCase> OpenCases() {
    std::vector<OpenCase> c;
    AiffLayout s;
    s.frames = 2;
    s.data = Bytes({0x12, 0x34, 0xFE, 0xDC});
    c.push_back({"plain16", s, 1, 8000, {0x1234, static_cast<int16_t>(0xFEDC)}});

    AiffLayout sowt = s;
    sowt.aifc = true;
    sowt.compression = "sowt";  // lower case: upper-cased before the comparison
    c.push_back({"sowtLowerCase", sowt, 1, 8000, {0x3412, static_cast<int16_t>(0xDCFE)}});

    AiffLayout twelve = s;
    twelve.sampleSize = 12;
    twelve.data = Bytes({0x7F, 0xF0, 0x80, 0x10});
    c.push_back({"twelveBit", twelve, 1, 8000, {0x7FF0, static_cast<int16_t>(0x8010)}});

    AiffLayout twenty = s;
    twenty.sampleSize = 20;
    twenty.data = Bytes({0x12, 0x34, 0x50, 0x80, 0x00, 0x10});
    c.push_back({"twentyBit", twenty, 1, 8000, {0x1234, static_cast<int16_t>(0x8000)}});

    AiffLayout raw = s;
    raw.aifc = true;
    raw.compression = "raw ";
    raw.sampleSize = 8;
    raw.data = Bytes({0x80, 0xFF, 0x00});
    c.push_back({"rawBytes", raw, 1, 8000, {0, 32512, -32768}});

    AiffLayout r44 = s;
    r44.rate = 44100.0;
    c.push_back({"rate44100", r44, 1, 44100, {0x1234}});
    AiffLayout r22 = s;
    r22.rate = 22050.5;
    c.push_back({"rate22050half", r22, 1, 22050, {0x1234}});

    AiffLayout comm19 = s;
    comm19.commSize = 19;
    c.push_back({"comm19Bytes", comm19, 0, 0, {}});
    AiffLayout noSsnd = s;
    noSsnd.withSsnd = false;
    c.push_back({"noSsnd", noSsnd, 0, 0, {}});
    AiffLayout monoIma = s;
    monoIma.aifc = true;
    monoIma.compression = "ima4";
    monoIma.data.assign(34, 0);
    c.push_back({"monoIma4", monoIma, 0, 0, {}});
    AiffLayout in24le = s;
    in24le.aifc = true;
    in24le.compression = "42n1";  // left to the fall-back readers
    c.push_back({"unknownCompression", in24le, 0, 0, {}});
    AiffLayout wide = s;
    wide.sampleSize = 33;
    c.push_back({"pcmWiderThan32", wide, 0, 0, {}});
    AiffLayout dwvw = s;
    dwvw.aifc = true;
    dwvw.compression = "DWVW";
    dwvw.sampleSize = 25;
    c.push_back({"dwvwTooWide", dwvw, 0, 0, {}});
    return c;
}

class AiffOpenRules : public ::testing::TestWithParam<OpenCase> {};

TEST_P(AiffOpenRules, OpensOrRefuses) {
    const OpenCase& oc = GetParam();
    TempDir dir;
    const std::string path = dir.File("x.aif");
    WriteBytes(path, BuildAiff(oc.layout));
    AiffReader reader;
    ASSERT_EQ(reader.Open(path, 0), oc.open);
    EXPECT_EQ(reader.GetSampleRate(), oc.rate);
    if (!oc.open)
        return;
    const Decoded d = Drain(reader);
    ASSERT_GE(d.samples.size(), oc.first.size());
    EXPECT_EQ(std::vector<int16_t>(d.samples.begin(), d.samples.begin() + oc.first.size()),
              oc.first);
}

INSTANTIATE_TEST_SUITE_P(Headers, AiffOpenRules, ::testing::ValuesIn(OpenCases()),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(AiffReader, DurationAndBitRate) {
    TempDir dir;
    AiffLayout two;  // two seconds: the bit rate comes from the file size
    two.frames = 16000;
    two.data.assign(32000, 0);
    const std::vector<uint8_t> twoBytes = BuildAiff(two);
    WriteBytes(dir.File("two.aif"), twoBytes);
    AiffReader reader;
    ASSERT_EQ(reader.Open(dir.File("two.aif"), 0), 1);
    EXPECT_EQ(reader.GetDuration(), 2);
    EXPECT_EQ(reader.GetBitRate(), static_cast<int>(twoBytes.size() / 250));
    EXPECT_EQ(reader.GetLength(), static_cast<int64_t>(twoBytes.size()));

    AiffLayout half = two;  // under a second: the bit rate comes from the format
    half.frames = 4000;
    half.data.assign(8000, 0);
    WriteBytes(dir.File("half.aif"), BuildAiff(half));
    ASSERT_EQ(reader.Open(dir.File("half.aif"), 0), 1);
    EXPECT_EQ(reader.GetDuration(), 0);
    EXPECT_EQ(reader.GetBitRate(), 128);
    EXPECT_EQ(Drain(reader).samples.size(), 4000u);
}

TEST(AiffReader, FloatBeyondFullScaleIsClippedNotWrapped) {
    AiffLayout s;
    s.aifc = true;
    s.compression = "fl64";
    s.frames = 4;
    for (double v : {1.0, -1.0, 3.5, -2.0}) {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        for (int i = 7; i >= 0; --i)
            s.data.push_back(static_cast<uint8_t>(u >> (8 * i)));
    }
    TempDir dir;
    WriteBytes(dir.File("f.aifc"), BuildAiff(s));
    AiffReader reader;
    ASSERT_EQ(reader.Open(dir.File("f.aifc"), 0), 1);
    EXPECT_EQ(Drain(reader).samples, (std::vector<int16_t>{32767, -32768, 32767, -32768}));
}

// Points the system temporary folder at a private one for the life of the object.
class ScopedTmpDir {
public:
    explicit ScopedTmpDir(const std::string& dir) {
        if (const char* old = std::getenv("TMPDIR"))
            old_ = old, had_ = true;
        setenv("TMPDIR", dir.c_str(), 1);
    }
    ~ScopedTmpDir() {
        if (had_)
            setenv("TMPDIR", old_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

private:
    std::string old_;
    bool had_ = false;
};

TEST(AiffReader, Id3ChunkGivesTagsAndLeavesNoTemporaryFile) {
    TempDir dir, tmp;
    const std::string wav = dir.File("in.wav"), aiff = dir.File("tagged.aiff");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 44100 * 2)));
    ASSERT_EQ(test::Run("ffmpeg -v error -nostdin -i " + test::Quote(wav) +
                        " -write_id3v2 1 -metadata title='Grey Heron' -metadata artist=Ardea "
                        "-metadata album=Shore -metadata track=4 " +
                        test::Quote(aiff)),
              0);
    ScopedTmpDir scoped(tmp.path().string());
    AiffReader reader;
    ASSERT_EQ(reader.Open(aiff, 0), 1);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
    TagSet t;
    ASSERT_NE(reader.ReadTags(t), 0);
    EXPECT_EQ(t.title, "Grey Heron");
    EXPECT_EQ(t.artist, "Ardea");
    EXPECT_EQ(t.album, "Shore");
    EXPECT_EQ(t.track, "4");
    EXPECT_EQ(reader.GetDuration(), 2);
    EXPECT_EQ(Drain(reader).samples.size(), 44100u * 2 * 2);
    reader.Close();
    // After Close the tags are gone.
    TagSet u;
    EXPECT_EQ(reader.ReadTags(u), 0);
}

TEST(AiffReader, TagSourceCanBeReplaced) {
    TempDir dir;
    const std::string wav = dir.File("in.wav"), aiff = dir.File("tagged.aiff");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(8000, 1, 800)));
    ASSERT_EQ(test::Run("ffmpeg -v error -nostdin -i " + test::Quote(wav) +
                        " -write_id3v2 1 -metadata title=Egret " + test::Quote(aiff)),
              0);
    AiffReader reader;
    std::string seenPath;
    reader.SetTagSource([&](const std::string& mp3, TagSet& tags) {
        seenPath = mp3;
        EXPECT_TRUE(std::filesystem::exists(mp3));
        // The carrier ends with two silent MPEG frames after the tag.
        EXPECT_GT(std::filesystem::file_size(mp3), 835u);
        tags.comment = "from the seam";
        return 1;
    });
    ASSERT_EQ(reader.Open(aiff, 0), 1);
    EXPECT_NE(seenPath.find(".mp3"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(seenPath));
    TagSet t;
    ASSERT_EQ(reader.ReadTags(t), 1);
    EXPECT_EQ(t.comment, "from the seam");
}

TEST(AiffReader, OversizedId3ChunkIsSkippedWhole) {
    AiffLayout s;
    s.frames = 2;
    s.data = Bytes({0x01, 0x02, 0x03, 0x04});
    std::vector<uint8_t> id3 = {'I', 'D', '3', ' '};
    const uint32_t size = 10 * 1024 * 1024 + 2;
    AppendBe(id3, size, 4);
    id3.resize(id3.size() + size, 0);
    s.extraChunk = id3;
    TempDir dir;
    WriteBytes(dir.File("big.aif"), BuildAiff(s));
    AiffReader reader;
    bool called = false;
    reader.SetTagSource([&](const std::string&, TagSet&) { return called = true, 1; });
    ASSERT_EQ(reader.Open(dir.File("big.aif"), 0), 1);
    EXPECT_FALSE(called);
    EXPECT_EQ(Drain(reader).samples, (std::vector<int16_t>{0x0102, 0x0304}));
}

TEST(AiffReader, SurvivesDamagedFiles) {
    TempDir dir;
    const std::string good = dir.File("good.aif");
    const std::pair<int, int> formats[] = {{SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2},
                                           {SF_FORMAT_AIFF | SF_FORMAT_IMA_ADPCM, 2},
                                           {SF_FORMAT_AIFF | SF_FORMAT_GSM610, 1},
                                           {SF_FORMAT_AIFF | SF_FORMAT_DWVW_16, 1}};
    Lcg random(99);
    for (const auto& [format, ch] : formats) {
        ASSERT_TRUE(SndWrite(good, format, test::MakeSignal(8000, ch, 4000, 5)));
        const std::vector<uint8_t> original = ReadBytes(good);
        for (int round = 0; round < 150; ++round) {
            const auto bytes =
                Damaged(original, round, {.cutEvery = 3, .changes = 6, .span = 80}, random);
            WriteBytes(dir.File("bad.aif"), bytes);
            AiffReader reader;
            if (reader.Open(dir.File("bad.aif"), 0) == 1) {
                const Decoded d = Drain(reader);
                // DWVW may spend as little as one bit on a sample.
                EXPECT_LE(d.samples.size(), bytes.size() * 8 * 2);
            }
        }
    }
}

TEST(AiffReader, CorpusFilesDecodeLikeFfprobeOrAreRefused) {
    KESTRUNE_REQUIRE_CORPUS();
    int seen = 0, decoded = 0;
    for (const auto& file : test::CorpusFiles()) {
        std::string ext = file.extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (ext != ".aif" && ext != ".aiff" && ext != ".aifc" && ext != ".afc")
            continue;
        ++seen;
        AiffReader reader;
        if (reader.Open(file.string(), 0) != 1)
            continue;
        const Decoded d = Drain(reader);
        const test::ProbeInfo probe = test::FfProbe(file.string());
        if (!probe.ok || reader.GetSampleRate() <= 0)
            continue;
        ++decoded;
        EXPECT_EQ(reader.GetSourceChannels(), probe.channels) << file;
        const double seconds =
            static_cast<double>(d.samples.size()) / reader.GetChannels() / reader.GetSampleRate();
        EXPECT_NEAR(seconds, probe.duration, 0.05) << file;
    }
    if (seen == 0)
        GTEST_SKIP() << "no AIFF files in the corpus";
    EXPECT_GT(decoded, 0);
}

}  // namespace
}  // namespace kestrune
