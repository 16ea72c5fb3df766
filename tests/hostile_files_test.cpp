// Files of a few bytes that once made Kestrune write or allocate far beyond what they hold
// (tests/data/hostile, made by make_hostile.py there). Each is probed and converted the way a
// user does it, with kestrune-cli: it must be refused with a reason that says what is wrong,
// at once, within a bounded amount of memory, and leave nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

constexpr char kDamagedSong[] = "The song would last longer than 2 hours: the file is damaged";
constexpr char kOneHertz[] = "The file's sample rate of 1 Hz is no audio rate (1000 to 768000 Hz)";
constexpr char kUndecodable[] =
    "Kestrune cannot decode this file. Please send it to support@kestrune.org so that we can add "
    "support for it.";
// What any of these may take: the program itself and its libraries, and no more.
constexpr long kMostKiB = 300 * 1024;

struct HostileFile {
    const char* name;
    const char* file;
    const char* reason;  // what probe and convert say; null: that no reader can decode it
};

std::string ConvertReason(const HostileFile& f) {
    return f.reason ? f.reason : kUndecodable;
}
std::string ProbeReason(const HostileFile& f) {
    return f.reason ? f.reason : "no reader can open this file";
}

std::string HostilePath(const char* file) {
    return std::string(KESTRUNE_SOURCE_DIR) + "/tests/data/hostile/" + file;
}

class HostileFileTest : public ::testing::TestWithParam<HostileFile> {
protected:
    test::TempDir dir;
};

TEST_P(HostileFileTest, ProbeRefusesItSayingWhy) {
    const HostileFile& f = GetParam();
    test::ChildProcess probe({test::CliPath(), "probe", HostilePath(f.file)});
    EXPECT_EQ(probe.Run(dir.path().string(), 60), 1) << probe.Out();
    EXPECT_EQ(probe.Out(), "File\tDuration\tBit Rate\tSample Rate\tChannels\n");
    EXPECT_NE(probe.Err().find(ProbeReason(f)), std::string::npos) << probe.Err();
    EXPECT_LT(probe.peakKiB(), kMostKiB);
}

// Converted at a high rate, as the bytes would be if they were believed: nothing is written,
// not even for a moment under another name.
TEST_P(HostileFileTest, ConvertRefusesItAndWritesNothing) {
    const HostileFile& f = GetParam();
    const fs::path out = dir.path() / "out";
    test::ChildProcess convert({test::CliPath(), "convert", "--settings", dir.File("settings.ini"),
                                "-f", "wav", "--rate", "96000", "--tags", "source", "-o",
                                out.string(), HostilePath(f.file)});
    EXPECT_EQ(convert.Run(dir.path().string(), 60), 1);
    EXPECT_EQ(convert.endSignal(), 0) << "it had to be stopped";
    EXPECT_EQ(convert.Out(), "Conversion Failure (" + ConvertReason(f) + ")\n");
    EXPECT_LT(convert.peakKiB(), kMostKiB);
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(out, ec))
        ADD_FAILURE() << "written: " << e.path();
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileFileTest,
    ::testing::Values(
        // A tempo map of 4.5e9 seconds: shown without a duration, rendered without end.
        HostileFile{"EndlessMidi", "midi_endless.mid", kDamagedSong},
        // 70 hours of silent rows, which the decoding layer and FFmpeg both rendered.
        HostileFile{"SeventyHourModule", "tracker_seventy_hours.s3m", kDamagedSong},
        // 64 frames at 1 Hz: an hour of output, and resampling buffers sized by the ratio.
        HostileFile{"OneHertzAiff", "aiff_one_hertz.aiff", kOneHertz},
        HostileFile{"OneHertzWav", "wav_one_hertz.wav", kOneHertz},
        HostileFile{"OneHertzThroughFFmpeg", "caf_one_hertz.caf", kOneHertz},
        // A 2 GiB INFO item in 60 bytes, which FFmpeg allocated and cleared while probing.
        HostileFile{"TwoGigabyteInfoItem", "wav_info_two_gigabytes.wav", nullptr},
        // A RIFF chunk size that wrapped the step to the next chunk to zero: opening never ended.
        HostileFile{"RiffMidiChunkLoop", "midi_riff_chunk_loop.rmi", nullptr}),
    [](const ::testing::TestParamInfo<HostileFile>& test) { return test.param.name; });

// Tags whose picture claims nearly 2 GiB in a file of a few hundred bytes, after a title: the
// conversion with the source's tags ends at once, within the same memory, with the audio and
// the title, and without the picture.
class HostileTagTest : public ::testing::TestWithParam<const char*> {
protected:
    test::TempDir dir;
};

TEST_P(HostileTagTest, ThePictureIsLeftOutAndTheRestConverted) {
    const fs::path out = dir.path() / "out";
    test::ChildProcess convert({test::CliPath(), "convert", "--settings", dir.File("settings.ini"),
                                "-f", "mp3", "--tags", "source", "-o", out.string(),
                                HostilePath(GetParam())});
    ASSERT_EQ(convert.Run(dir.path().string(), 60), 0) << convert.Out() << convert.Err();
    EXPECT_EQ(convert.endSignal(), 0) << "it had to be stopped";
    EXPECT_LT(convert.peakKiB(), kMostKiB);
    const std::string output = (out / fs::path(GetParam()).replace_extension(".mp3")).string();
    test::Pcm pcm;
    ASSERT_TRUE(test::FfDecode(output, pcm));
    EXPECT_GT(pcm.Frames(), 0u);
    const test::ProbeInfo info = test::FfProbe(output);
    EXPECT_EQ(info.Tag("title"), "Survivor");
    std::string streams;
    test::Run("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + test::Quote(output),
              &streams);
    EXPECT_EQ(streams, "audio\n") << "no picture";
}

INSTANTIATE_TEST_SUITE_P(Files, HostileTagTest,
                         ::testing::Values("flac_picture_two_gigabytes.flac",
                                           "mp3_picture_two_gigabytes.mp3"),
                         [](const ::testing::TestParamInfo<const char*>& test) {
                             return std::string(test.param).starts_with("flac") ? "Flac" : "Mp3";
                         });

// A FLAC stream whose frames turn stereo after its mono header: reading it went on without end
// (and without noticing Ctrl+C). What decodes before the damage is the output, and the
// conversion ends there like any other truncated file.
TEST(DamagedFlacTest, StereoFramesInAMonoStreamEndTheConversionWithWhatDecoded) {
    test::TempDir dir;
    const fs::path out = dir.path() / "out";
    test::ChildProcess convert({test::CliPath(), "convert", "--settings", dir.File("settings.ini"),
                                "-f", "wav", "-o", out.string(),
                                HostilePath("flac_mono_header_stereo_frames.flac")});
    ASSERT_EQ(convert.Run(dir.path().string(), 60), 0) << convert.Out() << convert.Err();
    EXPECT_EQ(convert.endSignal(), 0) << "it had to be stopped";
    EXPECT_LT(convert.peakKiB(), kMostKiB);
    ASSERT_EQ(test::FolderEntries(out),
              std::vector<std::string>{"flac_mono_header_stereo_frames.wav"});
    test::Pcm pcm;
    ASSERT_TRUE(test::FfDecode((out / "flac_mono_header_stereo_frames.wav").string(), pcm));
    EXPECT_EQ(pcm.channels, 1);
    EXPECT_EQ(pcm.samples, std::vector<int16_t>(192, 1000)) << "the first frame, and only it";
}

}  // namespace
}  // namespace kestrune
