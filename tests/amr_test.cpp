#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/amr/amrnb.h"
#include "platform/amr/amrwb.h"
#include "readers/amr_reader.h"
#include "tests/support/lossy_match.h"
#include "tests/support/reader_checks.h"
#include "writers/amr_writer.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

// Voiced bursts (a pitch pulse train through two resonances, with a syllable envelope)
// separated by pauses, so that voice activity detection has speech and silence to tell apart.
std::vector<int16_t> SpeechLike(int rate, int samples) {
    std::vector<int16_t> out(static_cast<size_t>(samples));
    double f1 = 0, f2 = 0;
    for (int i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double cycle = std::fmod(t, 0.9);
        if (cycle > 0.55) {
            out[static_cast<size_t>(i)] = 0;
            continue;
        }
        const double pitch = 110 + 30 * std::sin(2 * M_PI * 1.3 * t);
        const double envelope = std::sin(M_PI * cycle / 0.55);
        f1 += 2 * M_PI * pitch / rate;
        f2 += 2 * M_PI * (pitch * 7) / rate;
        double v = 0;
        for (int h = 1; h <= 12; ++h) {
            const double freq = pitch * h;
            const double formant = std::exp(-std::pow((freq - 650) / 300, 2)) +
                                   0.6 * std::exp(-std::pow((freq - 1700) / 400, 2));
            v += formant * std::sin(h * f1) / h;
        }
        v += 0.05 * std::sin(f2);
        out[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(v * envelope * 12000));
    }
    return out;
}

struct AmrCase {
    bool narrowBand;
    int mode;
    bool dtx;
};

std::string Name(const testing::TestParamInfo<AmrCase>& info) {
    return std::string(info.param.narrowBand ? "Nb" : "Wb") + "Mode" +
           std::to_string(info.param.mode) + (info.param.dtx ? "Dtx" : "");
}

std::vector<AmrCase> AllModes() {
    std::vector<AmrCase> cases;
    for (bool dtx : {false, true}) {
        for (int mode = 0; mode <= 7; ++mode)
            cases.push_back({true, mode, dtx});
        for (int mode = 0; mode <= 8; ++mode)
            cases.push_back({false, mode, dtx});
    }
    return cases;
}

// Sizes of the packets that FFmpeg's demuxer finds, header byte included.
std::vector<int> PacketSizes(const std::string& path) {
    std::string out;
    test::Run("ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 " +
                  test::Quote(path),
              &out);
    std::vector<int> sizes;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            sizes.push_back(std::stoi(line));
    return sizes;
}

// Writes signal through AmrWriter in engine-sized blocks.
bool WriteAmr(const std::string& path, const AmrOptions& options,
              const std::vector<int16_t>& signal) {
    AmrWriter writer;
    writer.SetEncoderOptions(options);
    writer.SetPath(path);
    if (!writer.Open())
        return false;
    for (size_t at = 0; at < signal.size(); at += kBlockFrames) {
        const int n = static_cast<int>(std::min<size_t>(kBlockFrames, signal.size() - at));
        if (!writer.Write(signal.data() + at, nullptr, n))
            return false;
    }
    writer.Close();
    return true;
}

class AmrModes : public testing::TestWithParam<AmrCase> {};

TEST_P(AmrModes, WrittenFileDecodesWithFfmpegAndAmrReader) {
    const AmrCase c = GetParam();
    const int rate = c.narrowBand ? 8000 : 16000;
    const int frameLength = c.narrowBand ? 160 : 320;
    // Not a whole number of frames: the last one is padded.
    const auto signal = SpeechLike(rate, rate * 2 + 77);
    const int frames = (static_cast<int>(signal.size()) + frameLength - 1) / frameLength;
    test::TempDir dir;
    const std::string path = dir.File(c.narrowBand ? "out.amr" : "out.awb");
    ASSERT_TRUE(WriteAmr(path, AmrOptions(c.narrowBand, c.dtx, c.mode, c.mode), signal));

    std::ifstream in(path, std::ios::binary);
    std::string magic(c.narrowBand ? 6 : 9, '\0');
    in.read(magic.data(), static_cast<std::streamsize>(magic.size()));
    EXPECT_EQ(magic, c.narrowBand ? "#!AMR\n" : "#!AMR-WB\n");

    const test::ProbeInfo probe = test::FfProbe(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.codecName, c.narrowBand ? "amr_nb" : "amr_wb");
    EXPECT_EQ(probe.sampleRate, rate);
    EXPECT_EQ(probe.channels, 1);

    // FFmpeg's decoders have no comfort noise: they drop silence descriptors (6 bytes), and the
    // narrow-band one drops no-data frames (1 byte) too.
    const std::vector<int> packets = PacketSizes(path);
    ASSERT_EQ(static_cast<int>(packets.size()), frames);
    int speechFrames = 0, ffmpegFrames = 0;
    for (int size : packets) {
        speechFrames += size > 6 ? 1 : 0;
        ffmpegFrames += size > 6 || (size == 1 && !c.narrowBand) ? 1 : 0;
    }
    if (c.dtx)
        EXPECT_LT(speechFrames, frames) << "the pauses should have been sent as silence frames";
    else
        EXPECT_EQ(speechFrames, frames);
    test::Pcm decoded;
    ASSERT_TRUE(test::FfDecode(path, decoded));
    EXPECT_EQ(decoded.sampleRate, rate);
    EXPECT_EQ(decoded.Frames(), static_cast<size_t>(ffmpegFrames * frameLength));

    AmrReader reader;
    ASSERT_EQ(reader.Open(path, 44100), 1);
    EXPECT_EQ(reader.GetSampleRate(), rate);
    EXPECT_EQ(reader.GetChannels(), 1);
    EXPECT_EQ(reader.GetSourceChannels(), 1);
    EXPECT_EQ(reader.GetBitsPerSample(), 16);
    EXPECT_EQ(reader.GetLength(), static_cast<int64_t>(fs::file_size(path)));
    EXPECT_EQ(reader.GetPosition(), c.narrowBand ? 6 : 9);
    const test::Decoded d = test::Drain(reader);
    const std::vector<int16_t>& ours = d.samples;
    EXPECT_EQ(ours.size(), static_cast<size_t>(frames * frameLength));
    EXPECT_LE(
        std::count_if(d.blocks.begin(), d.blocks.end(), [](int n) { return n < kBlockFrames; }), 1);
    EXPECT_EQ(reader.GetPosition(), reader.GetLength());
    reader.Close();

    // Without DTX both decoders see the same frames: their outputs must agree closely, and
    // follow the source.
    if (!c.dtx) {
        test::ExpectFollowsSource({rate, 1, signal}, decoded, probe.codecName, "amr");
        double dot = 0, a2 = 0, b2 = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            dot += static_cast<double>(ours[i]) * decoded.samples[i];
            a2 += static_cast<double>(ours[i]) * ours[i];
            b2 += static_cast<double>(decoded.samples[i]) * decoded.samples[i];
        }
        EXPECT_GT(dot / std::sqrt(a2 * b2), 0.9);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryMode, AmrModes, testing::ValuesIn(AllModes()), Name);

TEST(AmrWriter, HigherModesMakeLargerFiles) {
    test::TempDir dir;
    for (bool narrow : {true, false}) {
        const auto signal = SpeechLike(narrow ? 8000 : 16000, narrow ? 8000 : 16000);
        uintmax_t previous = 0;
        for (int mode = 0; mode <= (narrow ? 7 : 8); ++mode) {
            const std::string path = dir.File("m" + std::to_string(mode) + ".amr");
            ASSERT_TRUE(WriteAmr(path, AmrOptions(narrow, 0, mode, mode), signal));
            EXPECT_GT(fs::file_size(path), previous) << "mode " << mode;
            previous = fs::file_size(path);
        }
    }
}

TEST(AmrWriter, CollectsSamplesIntoFramesAndPadsTheLastOne) {
    test::TempDir dir;
    const std::string path = dir.File("buffer.amr");
    const auto signal = SpeechLike(8000, 200);
    AmrWriter writer;
    writer.SetEncoderOptions(AmrOptions(1, 0, 7, 6));
    writer.SetPath(path);
    ASSERT_EQ(writer.Open(), 1);
    EXPECT_EQ(writer.Write(signal.data(), nullptr, 100), 1);
    EXPECT_EQ(writer.EncodedFrames(), 0);
    EXPECT_EQ(writer.PendingSamples(), 100);
    EXPECT_EQ(writer.Write(signal.data() + 100, nullptr, 100), 1);
    EXPECT_EQ(writer.EncodedFrames(), 1);
    EXPECT_EQ(writer.PendingSamples(), 40);
    EXPECT_EQ(writer.Write(signal.data(), nullptr, 0), 1);
    EXPECT_EQ(writer.PendingSamples(), 40);
    writer.Close();
    EXPECT_EQ(writer.EncodedFrames(), 2);
    // 12.2 kbit/s frames are 32 bytes with their header.
    EXPECT_EQ(fs::file_size(path), 6u + 2 * 32);
    EXPECT_EQ(PacketSizes(path).size(), 2u);
    test::Pcm decoded;
    ASSERT_TRUE(test::FfDecode(path, decoded));
    EXPECT_EQ(decoded.Frames(), 320u);
}

TEST(AmrWriter, WholeFrameIsEncodedAtOnce) {
    test::TempDir dir;
    for (bool narrow : {true, false}) {
        const int length = narrow ? 160 : 320;
        const auto signal = SpeechLike(narrow ? 8000 : 16000, length * 3 + 5);
        AmrWriter writer;
        writer.SetEncoderOptions(AmrOptions(narrow, 0, 6, 6));
        writer.SetPath(dir.File("whole.amr"));
        ASSERT_EQ(writer.Open(), 1);
        EXPECT_EQ(writer.Write(signal.data(), nullptr, length), 1);
        EXPECT_EQ(writer.EncodedFrames(), 1);
        EXPECT_EQ(writer.PendingSamples(), 0);
        // A part frame, then enough to finish it and two more whole ones straight away.
        EXPECT_EQ(writer.Write(signal.data() + length, nullptr, 5), 1);
        EXPECT_EQ(writer.Write(signal.data() + length + 5, nullptr, length * 2), 1);
        EXPECT_EQ(writer.EncodedFrames(), 3);
        EXPECT_EQ(writer.PendingSamples(), 5);
        writer.Close();
        EXPECT_EQ(writer.EncodedFrames(), 4);
        EXPECT_EQ(PacketSizes(dir.File("whole.amr")).size(), 4u);
    }
}

TEST(AmrWriter, RefusesModesOutsideTheListsAndLeavesNoFile) {
    test::TempDir dir;
    const std::string path = dir.File("bad.amr");
    for (const AmrOptions& options : {AmrOptions(1, 0, 8, 6), AmrOptions(1, 0, -1, 6),
                                      AmrOptions(0, 0, 6, 9), AmrOptions(0, 1, 6, -1)}) {
        AmrWriter writer;
        writer.SetEncoderOptions(options);
        writer.SetPath(path);
        EXPECT_EQ(writer.Open(), 0);
        EXPECT_EQ(writer.Write(nullptr, nullptr, 0), 0);
        writer.Close();
        EXPECT_FALSE(fs::exists(path));
    }
    AmrWriter noPath;
    EXPECT_EQ(noPath.Open(), 0);
    AmrWriter badFolder;
    badFolder.SetPath(dir.File("missing/out.amr"));
    EXPECT_EQ(badFolder.Open(), 0);
}

TEST(AmrWriter, ReportsAFullDisk) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    for (bool narrow : {true, false}) {
        AmrWriter writer;
        writer.SetEncoderOptions(AmrOptions(narrow, 0, 7, 8));
        writer.SetPath("/dev/full");
        ASSERT_EQ(writer.Open(), 1);
        const auto signal = SpeechLike(narrow ? 8000 : 16000, 16000);
        int failed = 0;
        // Ten seconds: far more than the file buffer holds before it must reach the disk.
        for (int round = 0; round < 10 && !failed; ++round)
            failed += writer.Write(signal.data(), nullptr, 16000) == 0;
        EXPECT_EQ(failed, 1) << (narrow ? "narrow" : "wide");
        writer.Close();
    }
}

TEST(AmrWriter, CloseRestoresTheDefaults) {
    test::TempDir dir;
    AmrWriter writer;
    writer.SetEncoderOptions(AmrOptions(0, 1, 2, 3));
    writer.SetPath(dir.File("first.awb"));
    ASSERT_EQ(writer.Open(), 1);
    writer.Close();
    writer.Close();
    // Narrow band, mode 6 (10.2 kbit/s: 27-byte frames), no DTX.
    writer.SetPath(dir.File("second.amr"));
    ASSERT_EQ(writer.Open(), 1);
    const auto signal = SpeechLike(8000, 1600);
    EXPECT_EQ(writer.Write(signal.data(), nullptr, 1600), 1);
    writer.Close();
    EXPECT_EQ(PacketSizes(dir.File("second.amr")), std::vector<int>(10, 27));
}

TEST(AmrReader, MagicDecidesTheBand) {
    test::TempDir dir;
    // Named .amr although it is wide band: the magic decides, not the name.
    const std::string wide = dir.File("wide.amr");
    ASSERT_TRUE(WriteAmr(wide, AmrOptions(0, 0, 6, 4), SpeechLike(16000, 3200)));
    AmrReader reader;
    ASSERT_EQ(reader.Open(wide, 8000), 1);
    EXPECT_EQ(reader.GetSampleRate(), 16000);
    EXPECT_EQ(reader.GetPosition(), 9);
    EXPECT_EQ(test::Drain(reader).samples.size(), 3200u);
    reader.Close();
    EXPECT_EQ(reader.GetSampleRate(), 0);
    EXPECT_EQ(reader.Read(nullptr, nullptr), 0);
}

TEST(AmrReader, RefusesShortAndForeignFiles) {
    test::TempDir dir;
    struct Bad {
        const char* name;
        std::string bytes;
    };
    const Bad bad[] = {
        {"five bytes", "#!AMR"},
        {"narrow magic, eight bytes", std::string("#!AMR\n\x3c\x00", 8)},
        {"empty", ""},
        {"wave", std::string("RIFF\x24\x00\x00\x00WAVEfmt ", 16)},
        {"lower-case magic", "#!amr\n\x3c\x00\x00\x00\x00"},
        {"wide magic without line feed", "#!AMR-WB \x3c\x00\x00\x00"},
    };
    for (const Bad& b : bad) {
        const std::string path = dir.File("bad.amr");
        test::WriteBytes(path, b.bytes);
        AmrReader reader;
        EXPECT_EQ(reader.Open(path, 8000), 0) << b.name;
        EXPECT_EQ(reader.GetSampleRate(), 0) << b.name;
        EXPECT_EQ(reader.HasAudioStream(), 1) << b.name;
        reader.Close();
    }
    AmrReader missing;
    EXPECT_EQ(missing.Open(dir.File("none.amr"), 8000), 0);
}

TEST(AmrReader, StopsAtDamagedOrTruncatedFrames) {
    test::TempDir dir;
    const std::string good = dir.File("good.amr");
    ASSERT_TRUE(WriteAmr(good, AmrOptions(1, 0, 7, 6), SpeechLike(8000, 800)));
    std::ifstream in(good, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 6u + 5 * 32);
    // Cut in the middle of the fourth frame: three frames remain.
    test::WriteBytes(dir.File("cut.amr"), bytes.substr(0, 6 + 3 * 32 + 10));
    AmrReader reader;
    ASSERT_EQ(reader.Open(dir.File("cut.amr"), 8000), 1);
    EXPECT_EQ(test::Drain(reader).samples.size(), 480u);
    reader.Close();
    // A reserved frame type as the third frame: decoding ends before it.
    std::string damaged = bytes;
    damaged[6 + 2 * 32] = static_cast<char>(13 << 3);
    test::WriteBytes(dir.File("damaged.amr"), damaged);
    ASSERT_EQ(reader.Open(dir.File("damaged.amr"), 8000), 1);
    EXPECT_EQ(test::Drain(reader).samples.size(), 320u);
    int16_t block[kBlockFrames];
    EXPECT_EQ(reader.Read(block, nullptr), 0) << "the stream stays ended";
}

// Every Read but the last is a full block, and the samples are exactly the layer's frames in
// order, a frame split over two blocks included.
TEST(AmrReader, DeliversWholeBlocksAcrossFrameBoundaries) {
    test::TempDir dir;
    for (bool narrow : {true, false}) {
        const int rate = narrow ? 8000 : 16000;
        const int length = narrow ? 160 : 320;
        const std::string path = dir.File("blocks.amr");
        ASSERT_TRUE(WriteAmr(path, AmrOptions(narrow, 0, 5, 5), SpeechLike(rate, length * 20)));

        std::vector<int16_t> direct;
        void* decoder = narrow ? amrnbdec_init(path.c_str()) : amrwbdec_init(path.c_str());
        ASSERT_NE(decoder, nullptr);
        short* samples = nullptr;
        long position = 0;
        for (int n; (n = narrow ? amrnbdec_decode(decoder, &samples, &position)
                                : amrwbdec_decode(decoder, &samples, &position)) > 0;)
            direct.insert(direct.end(), samples, samples + n);
        narrow ? amrnbdec_quit(decoder) : amrwbdec_quit(decoder);
        ASSERT_EQ(direct.size(), static_cast<size_t>(length * 20));

        AmrReader reader;
        ASSERT_EQ(reader.Open(path, rate), 1);
        std::vector<int16_t> blocks;
        std::vector<int> counts;
        int16_t block[kBlockFrames];
        for (int n; (n = reader.Read(block, nullptr)) > 0;) {
            counts.push_back(n);
            blocks.insert(blocks.end(), block, block + n);
        }
        const int total = length * 20;
        std::vector<int> expected(static_cast<size_t>(total / kBlockFrames), kBlockFrames);
        expected.push_back(total % kBlockFrames);
        EXPECT_EQ(counts, expected);
        EXPECT_EQ(blocks, direct);
        EXPECT_EQ(reader.Read(block, nullptr), 0);
    }
}

TEST(AmrReader, DecodesCorpusFiles) {
    KESTRUNE_REQUIRE_CORPUS();
    int seen = 0;
    for (const fs::path& file : test::CorpusFiles()) {
        const std::string ext = file.extension().string();
        if (ext != ".amr" && ext != ".awb" && ext != ".AMR" && ext != ".AWB")
            continue;
        ++seen;
        AmrReader reader;
        if (reader.Open(file.string(), 8000) != 1)
            continue;
        const auto samples = test::Drain(reader).samples;
        const int frameLength = reader.GetSampleRate() == 8000 ? 160 : 320;
        EXPECT_EQ(samples.size() % static_cast<size_t>(frameLength), 0u) << file;
        test::Pcm decoded;
        if (test::FfDecode(file.string(), decoded)) {
            EXPECT_GE(samples.size(), decoded.Frames()) << file;
        }
    }
    if (seen == 0)
        GTEST_SKIP() << "the corpus holds no AMR files";
}

}  // namespace
}  // namespace kestrune
