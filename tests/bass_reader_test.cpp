#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "audio/downmix.h"
#include "readers/bass_reader.h"
#include "tests/support/decoding_layer.h"
#include "tests/support/reader_checks.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::Decoded;
using test::Drain;
using test::Ffmpeg;
using test::Pcm;
using test::Quote;
using test::TempDir;

int ExpectedBitRate(const std::string& path, int64_t lengthBytes, int frameBytes, int rate) {
    const double seconds = static_cast<double>(lengthBytes) / (frameBytes * rate);
    return static_cast<int>(static_cast<double>(fs::file_size(path)) / (seconds * 125) + 0.5);
}

// ---------------------------------------------------------------- WAV

// Bytes of the data chunk of a RIFF WAVE file.
std::string WavData(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const uint32_t size = static_cast<unsigned char>(file[at + 4]) |
                              static_cast<unsigned char>(file[at + 5]) << 8 |
                              static_cast<unsigned char>(file[at + 6]) << 16 |
                              static_cast<uint32_t>(static_cast<unsigned char>(file[at + 7])) << 24;
        if (file.compare(at, 4, "data") == 0)
            return file.substr(at + 8, size);
        at += 8 + size + (size & 1);
    }
    return {};
}

// Writes a WAV file of the given format tag (1: PCM, 3: IEEE float) around raw sample bytes.
void WriteWavBytes(const std::string& path, int formatTag, int rate, int channels, int bits,
                   const std::string& data) {
    std::ofstream o(path, std::ios::binary);
    auto put = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            o.put(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    const auto blockAlign = static_cast<uint32_t>(channels * bits / 8);
    o.write("RIFF", 4);
    put(static_cast<uint32_t>(36 + data.size()), 4);
    o.write("WAVEfmt ", 8);
    put(16, 4);
    put(static_cast<uint32_t>(formatTag), 2);
    put(static_cast<uint32_t>(channels), 2);
    put(static_cast<uint32_t>(rate), 4);
    put(static_cast<uint32_t>(rate) * blockAlign, 4);
    put(blockAlign, 2);
    put(static_cast<uint32_t>(bits), 2);
    o.write("data", 4);
    put(static_cast<uint32_t>(data.size()), 4);
    o.write(data.data(), static_cast<std::streamsize>(data.size()));
}

void WriteWav8(const std::string& path, int rate, int channels, const std::string& data) {
    WriteWavBytes(path, 1, rate, channels, 8, data);
}

struct WavCase {
    int channels;
    int bits;
};

class WavTest : public ::testing::TestWithParam<WavCase> {};

TEST_P(WavTest, DeliversTheSamplesExactly) {
    const WavCase c = GetParam();
    TempDir dir;
    const Pcm source = test::MakeSignal(22050, c.channels, 30000, 3);
    std::string path = dir.File("s16.wav");
    ASSERT_TRUE(test::WriteWav(path, source));
    Pcm expected = source;
    if (c.bits == 8) {
        const std::string path8 = dir.File("u8.wav");
        ASSERT_EQ(test::Run("sox -D " + Quote(path) + " -b 8 -e unsigned-integer " + Quote(path8)),
                  0);
        path = path8;
        const std::string data = WavData(path);
        ASSERT_EQ(data.size(), source.samples.size());
        for (size_t i = 0; i < data.size(); ++i)
            expected.samples[i] =
                static_cast<int16_t>((static_cast<unsigned char>(data[i]) - 128) * 256);
    } else if (c.bits == 32) {
        // IEEE float at three times the level: the peaks go past full scale and clip.
        std::vector<float> data(source.samples.size());
        int clipped = 0;
        for (size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<float>(source.samples[i] * 3.0 / 32768.0);
            const long v = std::lrint(data[i] * 32768.0f);
            clipped += v > 32767 || v < -32768;
            expected.samples[i] = static_cast<int16_t>(std::clamp<long>(v, -32768, 32767));
        }
        EXPECT_GT(clipped, 0);
        path = dir.File("f32.wav");
        std::string bytes(data.size() * 4, '\0');
        std::memcpy(bytes.data(), data.data(), bytes.size());
        WriteWavBytes(path, 3, 22050, c.channels, 32, bytes);
    }
    BassReader reader;
    ASSERT_EQ(reader.Open(path, 44100), 1);
    EXPECT_EQ(reader.GetKind(), BassReader::kStream);
    EXPECT_EQ(reader.GetSampleRate(), 22050);
    EXPECT_EQ(reader.GetSourceChannels(), c.channels);
    EXPECT_EQ(reader.GetChannels(), c.channels);
    EXPECT_EQ(reader.GetBitsPerSample(), 16);
    const int deliveredBytes = c.bits == 8 ? 1 : 2;
    EXPECT_EQ(reader.GetSampleBits(), deliveredBytes * 8);
    EXPECT_EQ(reader.GetLength(), 30000 * c.channels * deliveredBytes);
    EXPECT_EQ(reader.GetDuration(), 1);  // 1.36 s, truncated
    EXPECT_EQ(reader.GetBitRate(),
              ExpectedBitRate(path, reader.GetLength(), c.channels * deliveredBytes, 22050));
    const Decoded d = Drain(reader);
    EXPECT_EQ(d.samples, expected.samples);
    EXPECT_EQ(d.blocks.front(), kBlockFrames);
    EXPECT_EQ(reader.GetPosition(), reader.GetLength());
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
    EXPECT_EQ(reader.Read(left.data(), c.channels == 2 ? right.data() : nullptr), 0);
}

INSTANTIATE_TEST_SUITE_P(MonoStereo8And16AndFloat, WavTest,
                         ::testing::Values(WavCase{1, 16}, WavCase{2, 16}, WavCase{1, 8},
                                           WavCase{2, 8}, WavCase{2, 32}),
                         [](const ::testing::TestParamInfo<WavCase>& test) {
                             return std::to_string(test.param.channels) + "ch_" +
                                    (test.param.bits == 32
                                         ? std::string("float")
                                         : std::to_string(test.param.bits) + "bit");
                         });

TEST(BassReader, SixChannelsAreDownmixedIn384FrameBlocks) {
    TempDir dir;
    const Pcm source = test::MakeSignal(48000, 6, 1000, 5);
    const std::string path = dir.File("six.wav");
    ASSERT_TRUE(test::WriteWav(path, source));
    BassReader reader;
    ASSERT_EQ(reader.Open(path, 44100), 1);
    EXPECT_EQ(reader.GetSourceChannels(), 6);
    EXPECT_EQ(reader.GetChannels(), 2);
    const Decoded d = Drain(reader);
    EXPECT_EQ(d.blocks, (std::vector<int>{384, 384, 232}));
    ASSERT_EQ(d.Frames(), 1000u);
    for (size_t f = 0; f < 1000; ++f) {
        int16_t l, r;
        DownmixFrame(6, &source.samples[f * 6], l, r);
        ASSERT_EQ(d.samples[2 * f], l) << f;
        ASSERT_EQ(d.samples[2 * f + 1], r) << f;
    }
}

TEST(BassReader, EightBitSixChannelsUseTheDownmixToo) {
    TempDir dir;
    std::string data(6 * 500, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 37 + i / 6) & 0xff);
    const std::string path = dir.File("six8.wav");
    WriteWav8(path, 8000, 6, data);
    BassReader reader;
    ASSERT_EQ(reader.Open(path, 44100), 1);
    const Decoded d = Drain(reader);
    // An 8-bit block holds 2 x 1152 bytes: 384 frames of six channels.
    EXPECT_EQ(d.blocks, (std::vector<int>{384, 116}));
    for (size_t f = 0; f < 500; ++f) {
        int16_t frame[6];
        for (int c = 0; c < 6; ++c)
            frame[c] =
                static_cast<int16_t>((static_cast<unsigned char>(data[f * 6 + c]) - 128) * 256);
        int16_t l, r;
        DownmixFrame(6, frame, l, r);
        ASSERT_EQ(d.samples[2 * f], l);
        ASSERT_EQ(d.samples[2 * f + 1], r);
    }
}

TEST(BassReader, BitRateIsFileBytesOverDuration) {
    // Five seconds of 8-bit mono at 20 kHz: 100,000 bytes of audio, 100,044 in the file.
    TempDir dir;
    const std::string path = dir.File("five.wav");
    WriteWav8(path, 20000, 1, std::string(100000, '\x90'));
    BassReader reader;
    ASSERT_EQ(reader.Open(path, 44100), 1);
    EXPECT_EQ(reader.GetDuration(), 5);
    EXPECT_EQ(reader.GetBitRate(), 160);
}

TEST(BassReader, Mp3ReportsItsLengthAndBitRate) {
    TempDir dir;
    const std::string wav = dir.File("in.wav"), mp3 = dir.File("in.mp3");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 5 * 44100, 7)));
    ASSERT_TRUE(Ffmpeg(wav, "-c:a libmp3lame -b:a 160k", mp3));
    BassReader reader;
    ASSERT_EQ(reader.Open(mp3, 44100), 1);
    EXPECT_EQ(reader.GetKind(), BassReader::kStream);
    EXPECT_EQ(reader.GetSampleRate(), 44100);
    EXPECT_EQ(reader.GetChannels(), 2);
    // The encoder's delay and padding are removed: exactly the five seconds come back.
    EXPECT_EQ(reader.GetLength(), 5 * 44100 * 4);
    EXPECT_EQ(reader.GetDuration(), 5);
    EXPECT_EQ(reader.GetBitRate(), ExpectedBitRate(mp3, reader.GetLength(), 4, 44100));
    EXPECT_NEAR(reader.GetBitRate(), 160, 2);
    const Decoded d = Drain(reader);
    EXPECT_EQ(d.Frames(), 5u * 44100);
    EXPECT_GT(test::Rms(d.samples), 1000);
    EXPECT_EQ(reader.GetPosition(), reader.GetLength());
}

TEST(BassReader, OpeningAgainClosesTheFirstFile) {
    TempDir dir;
    const Pcm a = test::MakeSignal(8000, 1, 3000, 1), b = test::MakeSignal(16000, 2, 5000, 2);
    ASSERT_TRUE(test::WriteWav(dir.File("a.wav"), a));
    ASSERT_TRUE(test::WriteWav(dir.File("b.wav"), b));
    BassReader reader;
    ASSERT_EQ(reader.Open(dir.File("a.wav"), 44100), 1);
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
    EXPECT_EQ(reader.Read(left.data(), nullptr), kBlockFrames);
    ASSERT_EQ(reader.Open(dir.File("b.wav"), 44100), 1);
    EXPECT_EQ(reader.GetPosition(), 0);
    EXPECT_EQ(reader.GetSampleRate(), 16000);
    EXPECT_EQ(Drain(reader).samples, b.samples);
    // A failed open leaves nothing open and the fields reset.
    EXPECT_EQ(reader.Open(dir.File("missing.wav"), 44100), 0);
    EXPECT_EQ(reader.GetLength(), 0);
    EXPECT_EQ(reader.GetSampleRate(), 0);
    EXPECT_EQ(reader.GetPosition(), 0);
    EXPECT_EQ(reader.Read(left.data(), right.data()), 0);
    reader.Close();
    reader.Close();
}

// ---------------------------------------------------------------- plug-in formats

struct CodecCase {
    const char* name;
    const char* file;
    const char* ffmpegArgs;
    int tolerance;  // -1: must equal the source exactly; otherwise against ffmpeg's decode
};

class PluginFormatTest : public ::testing::TestWithParam<CodecCase> {};

TEST_P(PluginFormatTest, DecodesLikeTheReference) {
    const CodecCase c = GetParam();
    TempDir dir;
    const Pcm source = test::MakeSignal(44100, 2, 50000, 11);
    const std::string wav = dir.File("in.wav"), encoded = dir.File(c.file);
    ASSERT_TRUE(test::WriteWav(wav, source));
    ASSERT_TRUE(Ffmpeg(wav, c.ffmpegArgs, encoded));
    BassReader reader;
    ASSERT_EQ(reader.Open(encoded, 44100), 1);
    EXPECT_EQ(reader.GetKind(), BassReader::kStream);
    EXPECT_EQ(reader.GetChannels(), 2);
    const Decoded d = Drain(reader);
    EXPECT_EQ(reader.GetPosition(), static_cast<int64_t>(d.samples.size() * 2));
    if (c.tolerance < 0) {
        EXPECT_EQ(reader.GetSampleRate(), 44100);
        EXPECT_EQ(reader.GetLength(), 50000 * 4);
        EXPECT_EQ(d.samples, source.samples);
        return;
    }
    Pcm reference;
    ASSERT_TRUE(test::FfDecode(encoded, reference));
    EXPECT_EQ(reader.GetSampleRate(), reference.sampleRate);
    // The container's length drops most of the encoder's padding, which ffmpeg keeps.
    EXPECT_GE(d.Frames(), source.Frames());
    ASSERT_LE(d.Frames(), reference.Frames());
    EXPECT_EQ(reader.GetLength(), static_cast<int64_t>(d.samples.size() * 2));
    int worst = 0;
    for (size_t i = 0; i < d.samples.size(); ++i)
        worst = std::max(worst, std::abs(d.samples[i] - reference.samples[i]));
    EXPECT_LE(worst, c.tolerance);
    EXPECT_GT(test::Rms(d.samples), 1000);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PluginFormatTest,
    ::testing::Values(CodecCase{"Flac", "a.flac", "-c:a flac", -1},
                      // Wider samples: the 16 bits of the source come back from the top.
                      CodecCase{"Flac24", "a.flac", "-c:a flac -sample_fmt s32", -1},
                      CodecCase{"WavPack", "a.wv", "-c:a wavpack", -1},
                      CodecCase{"WavPack32", "a.wv", "-c:a wavpack -sample_fmt s32p", -1},
                      CodecCase{"AlacInM4a", "a.m4a", "-c:a alac", -1},
                      CodecCase{"Alac24InM4a", "a.m4a", "-c:a alac -sample_fmt s32p", -1},
                      CodecCase{"AacInM4a", "a.m4a", "-c:a aac -b:a 128k", 1},
                      CodecCase{"AacInM4b", "a.m4b", "-c:a aac -b:a 96k -f ipod", 1},
                      CodecCase{"AacAdts", "a.aac", "-c:a aac -b:a 128k -f adts", 1},
                      CodecCase{"Adx", "a.adx", "-c:a adpcm_adx -f adx", 0}),
    [](const auto& test) { return std::string(test.param.name); });

// The layer started again from a folder that lacks one plug-in.
class MissingPluginTest : public ::testing::Test {
protected:
    void StartWithout(const std::string& plugin) {
        FreeDecodingLayer();
        for (const char* name : kDecoderPlugins)
            if (name != plugin)
                fs::create_symlink(fs::path(RunningProgramFolder()) / name, dir.path() / name);
        ASSERT_EQ(InitDecodingLayer(dir.path().string() + "/"), DecodingLayerStart::Ready);
    }
    void TearDown() override { test::DecodingLayer::Restart(); }
    TempDir dir;
};

TEST_F(MissingPluginTest, WithoutTheFlacPluginFlacFilesAreRefused) {
    TempDir files;
    const std::string wav = files.File("in.wav"), flac = files.File("in.flac");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 20000)));
    ASSERT_TRUE(Ffmpeg(wav, "-c:a flac", flac));
    StartWithout("libbassflac.so");
    BassReader reader;
    EXPECT_EQ(reader.Open(flac, 44100), 0);
    EXPECT_EQ(reader.GetLength(), 0);
    // The other formats are still there.
    EXPECT_EQ(reader.Open(wav, 44100), 1);
}

TEST_F(MissingPluginTest, AProgramPathWithoutAFolderLoadsNoPlugin) {
    TempDir files;
    const std::string wav = files.File("in.wav"), wv = files.File("in.wv");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 20000)));
    ASSERT_TRUE(Ffmpeg(wav, "-c:a wavpack", wv));
    FreeDecodingLayer();
    ASSERT_EQ(InitDecodingLayer("kestrune"), DecodingLayerStart::Ready);
    BassReader reader;
    EXPECT_EQ(reader.Open(wv, 44100), 0);
    EXPECT_EQ(reader.Open(wav, 44100), 1);
}

// ---------------------------------------------------------------- tracker music

std::vector<fs::path> CorpusModules(bool damaged) {
    std::vector<fs::path> out;
    for (const fs::path& p : test::CorpusFiles()) {
        std::string ext = p.extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (ext != ".mod" && ext != ".xm" && ext != ".it" && ext != ".s3m" && ext != ".mtm")
            continue;
        const std::string name = p.filename().string();
        const bool isDamaged = name.find("f_load") != std::string::npos ||
                               name.find("truncated") != std::string::npos ||
                               name.find("invalid") != std::string::npos ||
                               name.find("_bad_") != std::string::npos;
        if (isDamaged == damaged)
            out.push_back(p);
    }
    return out;
}

std::string ModuleName(const ::testing::TestParamInfo<fs::path>& info) {
    if (info.param.empty())
        return "CorpusMissing";
    std::string name = info.param.filename().string();
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

class ModuleTest : public ::testing::TestWithParam<fs::path> {};

TEST_P(ModuleTest, OpensAsTrackerMusicWithTheSongLength) {
    KESTRUNE_REQUIRE_CORPUS();
    const std::string path = GetParam().string();
    const test::ProbeInfo probe = test::FfProbe(path);
    BassReader reader;
    if (!probe.ok) {
        // What the module library cannot load is refused, never taken for another format.
        EXPECT_EQ(reader.Open(path, 44100), 0);
        return;
    }
    ASSERT_EQ(reader.Open(path, 44100), 1);
    EXPECT_EQ(reader.GetKind(), BassReader::kMusic);
    EXPECT_EQ(reader.GetSampleRate(), 44100);
    EXPECT_EQ(reader.GetChannels(), 2);
    // Music has no file position: the bit rate is that of the PCM.
    EXPECT_EQ(reader.GetBitRate(), 1411);
    const double seconds = static_cast<double>(reader.GetLength()) / (4 * 44100);
    EXPECT_NEAR(seconds, probe.duration, 0.001);
    EXPECT_EQ(reader.GetDuration(), static_cast<int>(seconds));
}

INSTANTIATE_TEST_SUITE_P(Corpus, ModuleTest,
                         ::testing::ValuesIn(test::CorpusFilesOrPlaceholder(CorpusModules(false))),
                         ModuleName);

struct ShortModule {
    const char* file;
    int rate;
};

class ShortModuleTest : public ::testing::TestWithParam<ShortModule> {};

TEST_P(ShortModuleTest, DecodingEndsAtTheReportedLength) {
    KESTRUNE_REQUIRE_CORPUS();
    const std::string path = (test::CorpusDir() / GetParam().file).string();
    BassReader reader;
    ASSERT_EQ(reader.Open(path, GetParam().rate), 1);
    EXPECT_EQ(reader.GetSampleRate(), GetParam().rate);
    const Decoded d = Drain(reader);
    // The songs jump back to their start at the end; decoding stops after one pass, where the
    // module library stops rendering: at its length estimate or a moment before, never after.
    const int64_t decoded = static_cast<int64_t>(d.samples.size() * 2);
    EXPECT_LE(decoded, reader.GetLength());
    EXPECT_GT(decoded, reader.GetLength() - 4 * GetParam().rate);
    EXPECT_EQ(reader.GetPosition(), decoded);
    EXPECT_GT(test::Rms(d.samples), 300);
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, ShortModuleTest,
    ::testing::Values(ShortModule{"libxmp__test-dev_data_TDZ3.MOD", 44100},
                      ShortModule{"libxmp__test-dev_data_TEMPO.MTM", 22050},
                      ShortModule{"libxmp__test-dev_data_m_pennylane.mod", 8000},
                      ShortModule{"libxmp__test-dev_data_format_xm_pattrunc.xm", 44100},
                      ShortModule{"libxmp__test-dev_data_m_Gidion_Graveland.mod", 11025},
                      ShortModule{"libxmp__test-dev_data_f_play_s3m_low_period_vibrato.s3m", 48000},
                      ShortModule{"libxmp__test-dev_data_format_it_schism.it", 44100}),
    [](const ::testing::TestParamInfo<ShortModule>& test) {
        return ModuleName({fs::path(test.param.file), test.index}) + "_" +
               std::to_string(test.param.rate) + "Hz";
    });

class DamagedModuleTest : public ::testing::TestWithParam<fs::path> {};

TEST_P(DamagedModuleTest, FailsCleanlyOrDecodesUpToItsLength) {
    KESTRUNE_REQUIRE_CORPUS();
    BassReader reader;
    if (!reader.Open(GetParam().string(), 8000)) {
        EXPECT_EQ(reader.GetLength(), 0);
        std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
        EXPECT_EQ(reader.Read(left.data(), right.data()), 0);
        return;
    }
    const Decoded d = Drain(reader);
    EXPECT_LE(static_cast<int64_t>(d.samples.size() * 2), reader.GetLength());
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamagedModuleTest,
                         ::testing::ValuesIn(test::CorpusFilesOrPlaceholder(CorpusModules(true))),
                         ModuleName);

std::vector<fs::path> AllCorpusFiles() {
    return test::CorpusFilesOrPlaceholder(test::CorpusFiles());
}

class CorpusSweepTest : public ::testing::TestWithParam<fs::path> {};

// Real files by other authors, damaged ones among them: each either is refused or decodes
// without running past its length, with the position counting every byte delivered.
TEST_P(CorpusSweepTest, OpensCleanlyOrDecodesWithinItsLength) {
    KESTRUNE_REQUIRE_CORPUS();
    BassReader reader;
    if (!reader.Open(GetParam().string(), 8000)) {
        EXPECT_EQ(reader.GetLength(), 0);
        return;
    }
    EXPECT_GT(reader.GetSampleRate(), 0);
    EXPECT_TRUE(reader.GetChannels() == 1 || reader.GetChannels() == 2);
    const Decoded d = Drain(reader);
    const int64_t frames = static_cast<int64_t>(d.Frames());
    EXPECT_LE(reader.GetPosition(), reader.GetLength());
    EXPECT_EQ(reader.GetPosition(),
              frames * reader.GetSourceChannels() * (reader.GetSampleBits() / 8));
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusSweepTest, ::testing::ValuesIn(AllCorpusFiles()),
                         ModuleName);

// ---------------------------------------------------------------- MIDI

void PutVarLen(std::string& out, uint32_t v) {
    std::string bytes(1, static_cast<char>(v & 0x7f));
    while (v >>= 7)
        bytes.insert(bytes.begin(), static_cast<char>(0x80 | (v & 0x7f)));
    out += bytes;
}

std::string Chunk(const char* id, const std::string& body) {
    std::string c(id, 4);
    const auto n = static_cast<uint32_t>(body.size());
    for (int s = 24; s >= 0; s -= 8)
        c += static_cast<char>((n >> s) & 0xff);
    return c + body;
}

// Two tracks at 480 ticks a quarter: a tempo map that halves the quarter after two beats
// (1 s + 0.5 s), and a piano line that ends on tick 1920 with running status in it.
std::string TestSong() {
    std::string header;
    header += std::string("\0\1\0\2\x01\xe0", 6);
    std::string tempo;
    PutVarLen(tempo, 0);
    tempo += std::string("\xff\x51\x03\x07\xa1\x20", 6);  // 500000 us
    PutVarLen(tempo, 960);
    tempo += std::string("\xff\x51\x03\x03\xd0\x90", 6);  // 250000 us
    PutVarLen(tempo, 0);
    tempo += std::string("\xff\x2f\x00", 3);
    std::string notes;
    PutVarLen(notes, 0);
    notes += std::string("\xc0\x00", 2);
    for (int i = 0; i < 8; ++i) {
        PutVarLen(notes, 0);
        notes += i == 0 ? std::string("\x90", 1) : std::string();
        notes += static_cast<char>(60 + i);
        notes += '\x60';
        PutVarLen(notes, 240);
        notes += static_cast<char>(60 + i);
        notes += '\0';  // velocity 0: note off, with running status
    }
    PutVarLen(notes, 0);
    notes += std::string("\xff\x2f\x00", 3);
    return Chunk("MThd", header) + Chunk("MTrk", tempo) + Chunk("MTrk", notes);
}

// With the program's sound font, as the session installs it before the first MIDI file.
class MidiTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        InstallSoundFont(RunningProgramFolder(), soundFont);
        ASSERT_NE(soundFont, 0);
    }
    int soundFont = 0;
};

TEST_P(MidiTest, RendersTheSongToItsTempoMapLength) {
    const int rate = GetParam();
    TempDir dir;
    const std::string path = dir.File("SONG.MID");
    test::WriteBytes(path, TestSong());
    BassReader reader;
    ASSERT_EQ(reader.Open(path, rate), 1);
    EXPECT_EQ(reader.GetKind(), BassReader::kMidi);
    EXPECT_EQ(reader.GetSampleRate(), rate);
    EXPECT_EQ(reader.GetChannels(), 2);
    // 1.5 s of music and one second for the last notes to die away.
    EXPECT_EQ(reader.GetLength(), std::llround(2.5 * rate) * 4);
    EXPECT_EQ(reader.GetDuration(), 2);
    const Decoded d = Drain(reader);
    EXPECT_EQ(static_cast<int64_t>(d.samples.size() * 2), reader.GetLength());
    std::vector<int16_t> music = d.samples;
    music.resize(static_cast<size_t>(1.5 * rate) * 2);
    EXPECT_GT(test::Rms(music), 200);
}

INSTANTIATE_TEST_SUITE_P(Rates, MidiTest, ::testing::Values(44100, 8000),
                         [](const ::testing::TestParamInfo<int>& test) {
                             return std::to_string(test.param) + "Hz";
                         });

TEST(BassReader, RiffMidiIsUnwrapped) {
    TempDir dir;
    const std::string smf = TestSong();
    std::string body = "RMID" + std::string("data", 4);
    const auto n = static_cast<uint32_t>(smf.size());
    for (int s = 0; s < 32; s += 8)
        body += static_cast<char>((n >> s) & 0xff);
    body += smf;
    std::string riff = "RIFF";
    const auto total = static_cast<uint32_t>(body.size());
    for (int s = 0; s < 32; s += 8)
        riff += static_cast<char>((total >> s) & 0xff);
    const std::string path = dir.File("song.rmi");
    test::WriteBytes(path, riff + body);
    BassReader reader;
    ASSERT_EQ(reader.Open(path, 22050), 1);
    EXPECT_EQ(reader.GetKind(), BassReader::kMidi);
    EXPECT_EQ(reader.GetLength(), std::llround(2.5 * 22050) * 4);
}

TEST(BassReader, AMidiNameThatIsNoMidiFileIsNotTriedAsMusic) {
    KESTRUNE_REQUIRE_CORPUS();
    TempDir dir;
    const std::string path = dir.File("module.mid");
    fs::copy_file(test::CorpusDir() / "libxmp__test-dev_data_TDZ3.MOD", path);
    BassReader reader;
    EXPECT_EQ(reader.Open(path, 44100), 0);
}

TEST(SoundFont, AMissingFontLeavesTheFlagAtZero) {
    KESTRUNE_REQUIRE_CORPUS();
    TempDir dir;
    int loaded = 0;
    InstallSoundFont(dir.path().string() + "/", loaded);
    EXPECT_EQ(loaded, 0);
    fs::copy_file(test::CorpusDir() / "libxmp__test-dev_data_TDZ3.MOD",
                  dir.path() / kSoundFontName);
    InstallSoundFont(dir.path().string() + "/", loaded);
    EXPECT_EQ(loaded, 0);  // not a sound font
    InstallSoundFont(RunningProgramFolder(), loaded);
    EXPECT_NE(loaded, 0);
}

// ---------------------------------------------------------------- tags

struct Tags : TagSet {
    Tags() : TagSet{"keep", "keep", "keep", "keep", "keep", "keep", "keep", "keep", "keep"} {}
    int Read(BassReader& r) { return r.ReadTags(*this); }
};

const char* const kTagArgs =
    "-metadata title='Night Train' -metadata artist='Ann Bell' -metadata album='Rails' "
    "-metadata date=1998 -metadata genre=Blues -metadata comment='Take two' -metadata track=7 "
    "-metadata composer='C. Moss' -metadata copyright='1998 Rails Ltd'";

struct TagCase {
    const char* name;
    const char* file;
    const char* codecArgs;
};

class TagTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(TagTest, ReadsEveryFieldInItsPlace) {
    TempDir dir;
    const std::string wav = dir.File("in.wav"), out = dir.File(GetParam().file);
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 44100)));
    ASSERT_TRUE(Ffmpeg(wav, std::string(GetParam().codecArgs) + " " + kTagArgs, out));
    BassReader reader;
    ASSERT_EQ(reader.Open(out, 44100), 1);
    Tags t;
    EXPECT_EQ(t.Read(reader), 1);
    EXPECT_EQ(t.title, "Night Train");
    EXPECT_EQ(t.artist, "Ann Bell");
    EXPECT_EQ(t.album, "Rails");
    EXPECT_EQ(t.year, "1998");
    EXPECT_EQ(t.genre, "Blues");
    EXPECT_EQ(t.comment, "Take two");
    EXPECT_EQ(t.track, "7");
    EXPECT_EQ(t.composer, "C. Moss");
    EXPECT_EQ(t.copyright, "1998 Rails Ltd");
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TagTest,
    ::testing::Values(TagCase{"Id3v2", "t.mp3", "-c:a libmp3lame -id3v2_version 3"},
                      TagCase{"Flac", "t.flac", "-c:a flac"}, TagCase{"M4a", "t.m4a", "-c:a aac"},
                      TagCase{"WavPack", "t.wv", "-c:a wavpack"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(BassReader, ALineBreakInTheCommentShiftsTheLaterFields) {
    TempDir dir;
    const std::string wav = dir.File("in.wav"), out = dir.File("t.flac");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 44100)));
    ASSERT_TRUE(Ffmpeg(wav,
                       "-c:a flac -metadata title=T -metadata comment='one\ntwo' "
                       "-metadata composer=K -metadata copyright=P",
                       out));
    BassReader reader;
    ASSERT_EQ(reader.Open(out, 44100), 1);
    Tags t;
    EXPECT_EQ(t.Read(reader), 1);
    EXPECT_EQ(t.title, "T");
    EXPECT_EQ(t.track, "");
    EXPECT_EQ(t.comment, "one");
    EXPECT_EQ(t.composer, "two");
    EXPECT_EQ(t.copyright, "K");
}

TEST(BassReader, AFileWithoutTagsLeavesTheTextsAlone) {
    TempDir dir;
    const std::string wav = dir.File("in.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 4410)));
    BassReader reader;
    Tags t;
    EXPECT_EQ(t.Read(reader), 0);  // nothing open
    ASSERT_EQ(reader.Open(wav, 44100), 1);
    EXPECT_EQ(t.Read(reader), 0);
    EXPECT_EQ(t.title, "keep");
    EXPECT_EQ(t.copyright, "keep");
    EXPECT_EQ(t.track, "keep");
}

// ---------------------------------------------------------------- audio CD

TEST(BassReader, ReadsATrackOfTheDiscImage) {
    TempDir dir;
    // Two audio tracks of whole sectors (588 frames each), in one raw image.
    const Pcm one = test::MakeSignal(44100, 2, 588 * 150, 21);
    const Pcm two = test::MakeSignal(44100, 2, 588 * 230, 22);
    {
        std::ofstream bin(dir.File("disc.bin"), std::ios::binary);
        for (const Pcm* p : {&one, &two})
            for (int16_t s : p->samples) {
                bin.put(static_cast<char>(s & 0xff));
                bin.put(static_cast<char>((s >> 8) & 0xff));
            }
    }
    std::ofstream(dir.File("disc.cue")) << "FILE \"disc.bin\" BINARY\n"
                                           "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                           "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n";
    test::WriteBytes(dir.File("Track02.cda"), std::string(44, '\0'));
    setenv("KESTRUNE_CD_IMAGE", dir.File("disc.cue").c_str(), 1);
    BassReader reader;
    const int opened = reader.Open(dir.File("Track02.cda"), 44100);
    unsetenv("KESTRUNE_CD_IMAGE");
    ASSERT_EQ(opened, 1);
    EXPECT_EQ(reader.GetSampleRate(), 44100);
    EXPECT_EQ(reader.GetChannels(), 2);
    EXPECT_EQ(reader.GetLength(), 230 * 2352);
    EXPECT_EQ(reader.GetBitRate(), 1411);
    const Decoded d = Drain(reader);
    EXPECT_EQ(d.samples, two.samples);
}

// ---------------------------------------------------------------- threads

TEST(BassReader, ReadersInSeveralThreadsDecodeTheSameAsAlone) {
    KESTRUNE_REQUIRE_CORPUS();
    TempDir dir;
    const std::string wav = dir.File("in.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 3 * 44100, 31)));
    std::vector<std::string> files = {
        wav, dir.File("a.mp3"), dir.File("a.flac"), dir.File("a.m4a"),
        (test::CorpusDir() / "libxmp__test-dev_data_TDZ3.MOD").string()};
    ASSERT_TRUE(Ffmpeg(wav, "-c:a libmp3lame", files[1]));
    ASSERT_TRUE(Ffmpeg(wav, "-c:a flac", files[2]));
    ASSERT_TRUE(Ffmpeg(wav, "-c:a aac", files[3]));
    files.push_back(dir.File("song.mid"));
    test::WriteBytes(files.back(), TestSong());
    std::vector<std::vector<int16_t>> alone;
    for (const std::string& f : files) {
        BassReader r;
        ASSERT_EQ(r.Open(f, 44100), 1) << f;
        alone.push_back(Drain(r).samples);
    }
    std::vector<std::vector<int16_t>> together(files.size() * 2);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < together.size(); ++i)
        threads.emplace_back([&, i] {
            BassReader r;
            if (r.Open(files[i % files.size()], 44100))
                together[i] = Drain(r).samples;
        });
    for (auto& t : threads)
        t.join();
    for (size_t i = 0; i < together.size(); ++i)
        EXPECT_EQ(together[i], alone[i % files.size()]) << files[i % files.size()];
}

}  // namespace
}  // namespace kestrune
