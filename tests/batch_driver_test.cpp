#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>

#include "engine/conversion_session.h"
#include "engine/raw_pcm_writer.h"
#include "readers/bass_reader.h"
#include "tests/support/session_fixture.h"
#include "tests/support/test_support.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

class BatchTest : public test::SessionTest {
protected:
    BatchTest() {
        config.settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
        config.settings.destSpecifiedFolder = dir.File("out");
        config.settings.id3TagType = TagSource::kNone;
        config.settings.browseOutputFolder = true;
        config.documentsFolder = dir.File("docs");
    }

    // Adds a WAV file of the given shape to the list.
    SourceFileEntry& AddWav(const std::string& name, int rate, int channels, double seconds,
                            uint32_t seed = 1) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(test::WriteWav(
            path, test::MakeSignal(rate, channels, static_cast<size_t>(rate * seconds), seed)));
        return Add(path);
    }

    SourceFileEntry& Add(const std::string& path) {
        entries.push_back({});
        SourceFileEntry& e = entries.back();
        if (!session.ProbeSource(path, e).opened) {
            e = SourceFileEntry{};
            e.path = path;
            e.sourceType = SourceTypeOf(path);
        }
        return e;
    }

    void Run(const std::vector<int>& which, FormatId formatId, bool toOne = false,
             const std::string& mergePath = {}) {
        items.clear();
        rows.clear();
        for (int i : which) {
            EXPECT_LT(static_cast<size_t>(i), entries.size());
            items.push_back(&entries[static_cast<size_t>(i)]);
            rows.push_back(i);
        }
        RunDriver(items, rows, formatId, toOne, mergePath);
    }

    std::deque<SourceFileEntry> entries;
    std::vector<SourceFileEntry*> items;
    std::vector<int> rows;
};

TEST_F(BatchTest, ConvertsExactlyTheChosenItemsInOrder) {
    for (int i = 0; i < 5; ++i)
        AddWav("s" + std::to_string(i) + ".wav", 44100, 2, 0.5, i + 1);
    config.settings.id3TagType = TagSource::kCustom;
    config.tagOptions.trackNumType = TrackNumMode::kRunPosition;
    Run({0, 2, 4}, FormatId::kMp3);
    for (int i : {0, 2, 4}) {
        const std::string out = dir.File("out/s" + std::to_string(i) + ".mp3");
        EXPECT_EQ(host.output[i], "s" + std::to_string(i) + ".mp3");
        EXPECT_EQ(host.volume[i], "100.00%");
        EXPECT_EQ(entries[static_cast<size_t>(i)].outputPath, out);
        EXPECT_EQ(test::FfProbe(out).Tag("track"), std::to_string(i / 2 + 1));
    }
    EXPECT_EQ(host.output.count(1), 0u);
    EXPECT_EQ(host.output.count(3), 0u);
    EXPECT_FALSE(fs::exists(dir.File("out/s1.mp3")));
    EXPECT_EQ(host.overallLabels.back(), "Converting 3 of 3 file(s) to MP3...");
    // The first output is shown in the file manager.
    ASSERT_EQ(host.selected.size(), 1u);
    EXPECT_EQ(host.selected[0], dir.File("out/s0.mp3"));
    EXPECT_EQ(host.outputHistory[2], (std::vector<std::string>{"Converting...", "s2.mp3"}));
}

TEST_F(BatchTest, CancelDuringTheSecondItem) {
    for (int i = 0; i < 5; ++i)
        AddWav("c" + std::to_string(i) + ".wav", 44100, 2, 2.0, i + 1);
    // Every name claimed, the blocks of the first item, then a few of the second.
    const int blocksPerItem = static_cast<int>(44100 * 2.0 / 1152) + 1;
    host.cancelAtPoll = 5 + 1 + blocksPerItem + 1 + 5;
    Run({0, 1, 2, 3, 4}, FormatId::kWav);
    EXPECT_EQ(host.output[0], "c0.wav");
    EXPECT_EQ(host.output[1], "Cancelled");
    EXPECT_TRUE(entries[1].outputPath.empty());
    EXPECT_FALSE(fs::exists(dir.File("out/c1.wav")));
    for (int i = 2; i < 5; ++i)
        EXPECT_EQ(host.output.count(i), 0u) << i;
    EXPECT_TRUE(host.selected.empty());
}

// An album's outputs wait under their partial names for the album's gain: a cancel in its middle
// leaves none of them, not even the one that was whole.
TEST_F(BatchTest, CancelInTheMiddleOfAnAlbumLeavesNoneOfItsFiles) {
    config.settings.replayGain = ReplayGainMode::kAlbum;
    for (int i = 0; i < 3; ++i)
        AddWav("a" + std::to_string(i) + ".wav", 44100, 2, 2.0, i + 1);
    const int blocksPerItem = static_cast<int>(44100 * 2.0 / 1152) + 1;
    host.cancelAtPoll = 3 + 1 + blocksPerItem + 1 + 5;
    Run({0, 1, 2}, FormatId::kFlac);
    EXPECT_EQ(host.output[0], "Cancelled");
    EXPECT_EQ(host.output[1], "Cancelled");
    EXPECT_EQ(host.output.count(2), 0u);
    EXPECT_TRUE(entries[0].outputPath.empty());
    EXPECT_EQ(test::FolderEntries(dir.File("out")), std::vector<std::string>{});
}

// Overwriting, two files of one album that take the same name: the later one's output is the
// file, tagged with the gain of the album that remains, and nothing goes elsewhere. A cancel
// leaves neither.
TEST_F(BatchTest, OverwriteWithinAHeldAlbumKeepsTheLaterFile) {
    config.settings.replayGain = ReplayGainMode::kAlbum;
    config.settings.targetExistsOpt = TargetExists::kOverwrite;
    AddWav("same.wav", 44100, 2, 1.0, 1);
    const std::string longer = dir.File("longer.wav");
    ASSERT_TRUE(test::WriteWav(longer, test::MakeSignal(44100, 2, 88200, 2)));
    ASSERT_TRUE(test::Ffmpeg(longer, "", dir.File("same.flac")));
    Add(dir.File("same.flac"));
    for (int workers : {1, 2}) {
        SCOPED_TRACE(workers);
        fs::remove_all(dir.File("out"));
        RunDriver({&entries[0], &entries[1]}, {0, 1}, FormatId::kFlac, false, {}, workers);
        EXPECT_EQ(host.output[0], "same.flac");
        EXPECT_EQ(host.output[1], "same.flac");
        EXPECT_EQ(test::FolderEntries(dir.File("out")), std::vector<std::string>{"same.flac"});
        EXPECT_FALSE(fs::exists(dir.File("docs")));
        test::Pcm pcm;
        ASSERT_TRUE(test::FfDecode(dir.File("out/same.flac"), pcm));
        EXPECT_EQ(pcm.Frames(), 88200u);
        const test::ProbeInfo info = test::FfProbe(dir.File("out/same.flac"));
        EXPECT_NE(info.Tag("replaygain_album_gain"), "") << info.tags;
        EXPECT_EQ(info.Tag("replaygain_album_gain"), info.Tag("replaygain_track_gain"));
    }
    // Cancelled while the later one converts: neither output is left, and neither row claims one.
    fs::remove_all(dir.File("out"));
    host.cancelAtPoll = host.polls + 44100 / 1152 + 40;
    RunDriver({&entries[0], &entries[1]}, {0, 1}, FormatId::kFlac, false, {}, 1);
    EXPECT_EQ(host.output[0], "Cancelled");
    EXPECT_EQ(host.output[1], "Cancelled");
    EXPECT_EQ(test::FolderEntries(dir.File("out")), std::vector<std::string>{});
}

TEST_F(BatchTest, FailureTexts) {
    AddWav("short.wav", 44100, 1, 1.5);
    const std::string junk = dir.File("junk.mp2");
    std::ofstream(junk) << std::string(5000, 'x');
    Add(junk);
    const std::string video = dir.File("video.mkv");
    ASSERT_EQ(test::Run("ffmpeg -v error -nostdin -f lavfi -i testsrc=size=64x48:rate=5 -t 1 "
                        "-c:v mpeg4 " +
                        test::Quote(video)),
              0);
    Add(video);
    config.settings.enableSkipLength = true;
    config.settings.skipLength = 5000;
    Run({0, 1, 2}, FormatId::kMp3);
    EXPECT_EQ(host.output[0],
              "Conversion Failure (Length of the file is shorter than skipping length set at "
              "Options -> General)");
    EXPECT_EQ(host.output[1],
              "Conversion Failure (Kestrune cannot decode this file. Please send it to "
              "support@kestrune.org so that we can add support for it.)");
    EXPECT_EQ(host.output[2], "No audio in the file");
    EXPECT_TRUE(host.widened);
    for (const auto& e : entries)
        EXPECT_TRUE(e.outputPath.empty());
    EXPECT_TRUE(host.selected.empty());
    EXPECT_FALSE(fs::exists(dir.File("out/short.mp3")));
}

TEST(Normalization, GainFromPeaks) {
    EXPECT_EQ(GainFromPeaks(-32768, 20000), -1.0f);
    EXPECT_FLOAT_EQ(GainFromPeaks(-16384, 8192), 2.0f);
    EXPECT_FLOAT_EQ(GainFromPeaks(-20000, 30000), 32767.0f / 30000.0f);
    EXPECT_EQ(GainFromPeaks(0, 8192), -1.0f);
    EXPECT_EQ(GainFromPeaks(-100, 0), -1.0f);
    EXPECT_EQ(GainFromPeaks(-100, 32762), -1.0f);
}

TEST_F(BatchTest, NormalizationScalesToFullScale) {
    test::Pcm quiet;
    quiet.sampleRate = 44100;
    quiet.channels = 1;
    for (int i = 0; i < 10000; ++i)
        quiet.samples.push_back(static_cast<int16_t>((i % 200) * 80 - 8000));
    quiet.samples[5] = -16384;
    quiet.samples[6] = 8192;
    ASSERT_TRUE(test::WriteWav(dir.File("quiet.wav"), quiet));
    Add(dir.File("quiet.wav"));
    config.settings.volumeType = VolumeMode::kNormalize;
    Run({0}, FormatId::kWav);
    EXPECT_EQ(host.volume[0], "200.00%");
    EXPECT_EQ(host.outputHistory[0],
              (std::vector<std::string>{"Normalizing...", "Converting...", "quiet.wav"}));
    test::Pcm out;
    ASSERT_TRUE(test::FfDecode(dir.File("out/quiet.wav"), out));
    ASSERT_EQ(out.samples.size(), quiet.samples.size());
    EXPECT_EQ(out.samples[5], -32768);
    EXPECT_EQ(out.samples[6], 16384);
    EXPECT_EQ(out.samples[100], quiet.samples[100] * 2);
}

TEST_F(BatchTest, DtsInRiffIsCopiedRaw) {
    // A RIFF file named .dts goes through the raw copy: 4n bytes for n stereo frames.
    const test::Pcm pcm = test::MakeSignal(44100, 2, 3000);
    const std::string dts = dir.File("film.dts");
    ASSERT_TRUE(test::WriteWav(dts, pcm));
    SourceFileEntry substitute;
    substitute.path = dts;
    substitute.sourceType = SourceType::kDts;
    ASSERT_EQ(session.ExtractDtsStream(substitute), StepOutcome::kDone);
    ASSERT_FALSE(substitute.outputPath.empty());
    EXPECT_EQ(fs::file_size(substitute.outputPath), 4u * 3000);
    EXPECT_EQ(fs::status(substitute.outputPath).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    std::ifstream raw(substitute.outputPath, std::ios::binary);
    std::vector<int16_t> bytes(pcm.samples.size());
    raw.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size() * 2));
    EXPECT_EQ(bytes, pcm.samples);
    fs::remove(substitute.outputPath);

    // In a run the raw copy is made and is gone afterwards, whatever the outcome.
    const std::string wrapped = dir.File("film2.dts");
    ASSERT_TRUE(test::WriteWav(wrapped, pcm));
    Add(wrapped);
    const fs::path tmp = dir.path() / "tmp";
    fs::create_directory(tmp);
    const char* oldTmp = getenv("TMPDIR");
    const std::string saved = oldTmp ? oldTmp : "";
    setenv("TMPDIR", tmp.c_str(), 1);
    Run({0}, FormatId::kWav);
    if (oldTmp)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_EQ(host.outputHistory[0].front(), "Preprocessing...");
    EXPECT_TRUE(fs::is_empty(tmp));

    // A .dts file that is not RIFF is not preprocessed.
    host.outputHistory.clear();
    const std::string plain = dir.File("plain.dts");
    std::ofstream(plain) << std::string(4000, '\x7f');
    Add(plain);
    Run({1}, FormatId::kWav);
    EXPECT_NE(host.outputHistory[1].front(), "Preprocessing...");
}

TEST_F(BatchTest, TemporaryNamesNeverRepeat) {
    const std::string a = MakeTempFileName(dir.path().string(), "k", ".dts");
    std::ofstream(a) << "x";
    const std::string b = MakeTempFileName(dir.path().string(), "k", ".dts");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(dir.path().string() + "/k", 0), 0u);
    EXPECT_EQ(b.substr(b.size() - 4), ".dts");
}

TEST_F(BatchTest, MergeTakesTheLargestRateAndChannels) {
    AddWav("a.wav", 22050, 1, 1.0, 1);
    AddWav("b.wav", 44100, 2, 1.5, 2);
    AddWav("c.wav", 32000, 1, 1.0, 3);
    const std::string merged = dir.File("merged.mp3");
    Run({0, 1, 2}, FormatId::kMp3, true, merged);
    const test::ProbeInfo info = test::FfProbe(merged);
    EXPECT_EQ(info.codecName, "mp3");
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_NEAR(info.duration, 3.5, 3 * 1152.0 / 44100 + 0.06);
    std::string bitRate;
    test::Run("ffprobe -v error -select_streams a:0 -show_entries stream=bit_rate -of csv=p=0 " +
                  test::Quote(merged),
              &bitRate);
    EXPECT_EQ(std::stoi(bitRate), 128000);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(host.output[i], "merged.mp3") << i;

    // Skip and limit apply to every item.
    config.settings.enableSkipLength = true;
    config.settings.skipLength = 200;
    const std::string merged2 = dir.File("merged2.wav");
    Run({0, 1, 2}, FormatId::kWav, true, merged2);
    EXPECT_NEAR(test::FfProbe(merged2).duration, 3.5 - 0.6, 0.01);
}

TEST_F(BatchTest, CancelledMergeLeavesNoFile) {
    for (int i = 0; i < 4; ++i)
        AddWav("m" + std::to_string(i) + ".wav", 44100, 2, 1.0, i + 1);
    const int blocksPerItem = 44100 / 1152 + 1;
    host.cancelAtPoll = 2 * (blocksPerItem + 1) + 3;
    const std::string merged = dir.File("all.mp3");
    Run({0, 1, 2, 3}, FormatId::kMp3, true, merged);
    EXPECT_FALSE(fs::exists(merged));
    EXPECT_EQ(host.output[0], "all.mp3");
    EXPECT_EQ(host.output[1], "all.mp3");
    EXPECT_EQ(host.output[2], "Cancelled");
    EXPECT_EQ(host.output.count(3), 0u);
    EXPECT_TRUE(host.selected.empty());
}

}  // namespace
}  // namespace kestrune
