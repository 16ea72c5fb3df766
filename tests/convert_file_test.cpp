#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/conversion_session.h"
#include "messages/item_texts.h"
#include "readers/bass_reader.h"
#include "tests/support/session_fixture.h"
#include "tests/support/test_support.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::Pcm;

// A session converting to WAV 16-bit, with automatic parameters and no tags.
class ConvertFileTest : public test::SessionTest {
protected:
    ConvertFileTest() {
        config.settings.id3TagType = TagSource::kNone;
        wav = *FindOutputFormat(config.catalogue, FormatId::kWav);
        run.Present({{0, "source.wav"}}, "WAV");
    }

    // Writes pcm as a WAV source and converts it; returns what ConvertFile returned.
    StepOutcome Convert(const Pcm& pcm, const OutputFormatEntry& format, Pcm* out = nullptr) {
        SourceFileEntry src;
        src.path = dir.File("source.wav");
        EXPECT_TRUE(test::WriteWav(src.path, pcm));
        src.sourceType = SourceTypeOf(src.path);
        src.outputPath = dir.File(std::string("out.") + format.extension);
        run.ItemStarted(0, Pass::kConverting);
        const StepOutcome outcome = session.ConvertFile(src, format);
        outputPath = src.outputPath;
        if (outcome == StepOutcome::kDone && out) {
            EXPECT_TRUE(test::FfDecode(outputPath, *out));
        }
        return outcome;
    }

    static Pcm Ramp(int rate, int channels, size_t frames) {
        Pcm p;
        p.sampleRate = rate;
        p.channels = channels;
        p.samples.resize(frames * static_cast<size_t>(channels));
        for (size_t i = 0; i < p.samples.size(); ++i)
            p.samples[i] = static_cast<int16_t>(static_cast<int>(i * 7 % 60000) - 30000);
        return p;
    }

    OutputFormatEntry wav;
    std::string outputPath;
};

TEST_F(ConvertFileTest, PlainCopyIsExact) {
    const Pcm in = test::MakeSignal(44100, 2, 50000);
    Pcm out;
    ASSERT_EQ(Convert(in, wav, &out), StepOutcome::kDone);
    EXPECT_EQ(out.samples, in.samples);
    EXPECT_FLOAT_EQ(session.AppliedGain(), 1.0f);
    // The per-file label names the item, then counts from 0 to 100 %.
    ASSERT_GE(host.fileLabels.size(), 2u);
    EXPECT_EQ(host.fileLabels.front(), "Starting to convert source.wav...");
    EXPECT_EQ(host.fileLabels[1], "[0%] Converting source.wav...");
    EXPECT_EQ(host.fileLabels.back(), "[100%] Converting source.wav...");
    EXPECT_EQ(host.fileFraction, 1.0);
}

TEST_F(ConvertFileTest, SkipAndLimitCountFrames) {
    const Pcm in = Ramp(44100, 2, 3 * 44100);
    config.settings.enableSkipLength = true;
    config.settings.skipLength = 1000;
    Pcm out;
    ASSERT_EQ(Convert(in, wav, &out), StepOutcome::kDone);
    ASSERT_EQ(out.Frames(), in.Frames() - 44100);
    EXPECT_TRUE(std::equal(out.samples.begin(), out.samples.end(), in.samples.begin() + 88200));

    // Skip and limit together: the limit counts after the skipped part.
    config.settings.enableConvertLength = true;
    config.settings.convertLength = 500;
    ASSERT_EQ(Convert(in, wav, &out), StepOutcome::kDone);
    ASSERT_EQ(out.Frames(), 22050u);
    EXPECT_TRUE(std::equal(out.samples.begin(), out.samples.end(), in.samples.begin() + 88200));
}

TEST_F(ConvertFileTest, LimitAtEightKilohertzPassesExactly4000Frames) {
    const Pcm in = Ramp(8000, 1, 20000);
    config.settings.enableConvertLength = true;
    config.settings.convertLength = 500;
    OutputFormatEntry manual = wav;
    manual.autoParams = 0;
    manual.sampleRate = 0;
    manual.channels = 0;
    Pcm out;
    ASSERT_EQ(Convert(in, manual, &out), StepOutcome::kDone);
    EXPECT_EQ(out.sampleRate, 8000);
    ASSERT_EQ(out.Frames(), 4000u);
    EXPECT_TRUE(std::equal(out.samples.begin(), out.samples.end(), in.samples.begin()));
}

TEST_F(ConvertFileTest, SkipNotShorterThanTheFileFails) {
    const Pcm in = Ramp(44100, 1, 44100 * 2 + 100);  // duration 2 s
    config.settings.enableSkipLength = true;
    config.settings.skipLength = 2000;
    EXPECT_EQ(Convert(in, wav), StepOutcome::kFailed);
    EXPECT_EQ(session.UsedDedicatedReader(), 0);  // no retry
    EXPECT_EQ(FailureDetailText(session.LastFailure()),
              "Length of the file is shorter than skipping length set at Options -> General");
    EXPECT_FALSE(fs::exists(outputPath));
}

TEST_F(ConvertFileTest, GainTruncatesAndClips) {
    Pcm in;
    in.sampleRate = 44100;
    in.channels = 2;
    in.samples = {-3, 3, 30000, -30000, 1001, -1001, 32767, -32768};
    config.settings.volumeType = VolumeMode::kManual;
    config.settings.volume = 50;
    Pcm out;
    ASSERT_EQ(Convert(in, wav, &out), StepOutcome::kDone);
    EXPECT_EQ(out.samples, (std::vector<int16_t>{-1, 1, 15000, -15000, 500, -500, 16383, -16384}));
    EXPECT_FLOAT_EQ(session.AppliedGain(), 0.5f);
    config.settings.volume = 150;
    ASSERT_EQ(Convert(in, wav, &out), StepOutcome::kDone);
    EXPECT_EQ(out.samples,
              (std::vector<int16_t>{-4, 4, 32767, -32768, 1501, -1501, 32767, -32768}));
    config.settings.volume = 100;
    ASSERT_EQ(Convert(in, wav, &out), StepOutcome::kDone);
    EXPECT_EQ(out.samples, in.samples);
    EXPECT_FLOAT_EQ(session.AppliedGain(), 1.0f);
}

TEST_F(ConvertFileTest, ChannelRouting) {
    Pcm stereo;
    stereo.sampleRate = 44100;
    stereo.channels = 2;
    for (int i = 0; i < 3000; ++i) {
        stereo.samples.push_back(static_cast<int16_t>(i - 1500));  // left
        stereo.samples.push_back(static_cast<int16_t>(3 - i));     // right
    }
    OutputFormatEntry mono = wav;
    mono.autoParams = 0;
    mono.sampleRate = 0;
    mono.channels = 1;
    Pcm out;
    const struct {
        MonoMix monoType;
        int (*expect)(int l, int r);
    } cases[] = {
        {MonoMix::kAverage, [](int l, int r) { return (l + r) >> 1; }},
        {MonoMix::kLeft, [](int l, int) { return l; }},
        {MonoMix::kRight, [](int, int r) { return r; }},
    };
    for (const auto& c : cases) {
        config.settings.monoType = c.monoType;
        ASSERT_EQ(Convert(stereo, mono, &out), StepOutcome::kDone) << static_cast<int>(c.monoType);
        ASSERT_EQ(out.channels, 1);
        ASSERT_EQ(out.Frames(), 3000u);
        for (size_t f = 0; f < 3000; ++f)
            ASSERT_EQ(out.samples[f], c.expect(stereo.samples[2 * f], stereo.samples[2 * f + 1]))
                << "mono type " << static_cast<int>(c.monoType) << " frame " << f;
    }

    // A mono source to a stereo output carries the same samples on both sides, scaled once.
    const Pcm in = Ramp(44100, 1, 5000);
    OutputFormatEntry two = wav;
    two.autoParams = 0;
    two.sampleRate = 0;
    two.channels = 2;
    config.settings.volumeType = VolumeMode::kManual;
    config.settings.volume = 50;
    ASSERT_EQ(Convert(in, two, &out), StepOutcome::kDone);
    ASSERT_EQ(out.channels, 2);
    ASSERT_EQ(out.Frames(), 5000u);
    for (size_t f = 0; f < 5000; ++f) {
        ASSERT_EQ(out.samples[2 * f], static_cast<int16_t>(in.samples[f] / 2)) << f;
        ASSERT_EQ(out.samples[2 * f + 1], out.samples[2 * f]) << f;
    }
}

TEST_F(ConvertFileTest, ResampledOutputKeepsItsLength) {
    const Pcm in = test::MakeSignal(22050, 2, 22050 * 2);
    OutputFormatEntry manual = wav;
    manual.autoParams = 0;
    manual.sampleRate = 44100;
    manual.channels = 0;
    Pcm out;
    ASSERT_EQ(Convert(in, manual, &out), StepOutcome::kDone);
    EXPECT_EQ(out.sampleRate, 44100);
    EXPECT_NEAR(static_cast<double>(out.Frames()), 2.0 * in.Frames(), 1152);
}

TEST_F(ConvertFileTest, CancelLeavesNoOutput) {
    const Pcm in = test::MakeSignal(44100, 2, 44100 * 3);
    host.cancelAtPoll = 5;
    EXPECT_EQ(Convert(in, wav), StepOutcome::kCancelled);
    EXPECT_TRUE(host.cancelled);
    EXPECT_FALSE(fs::exists(outputPath));
    EXPECT_NE(host.fileLabels.back(), "[100%] Converting source.wav...");
}

TEST_F(ConvertFileTest, NeverWritesOverOrDeletesTheSource) {
    const Pcm in = test::MakeSignal(44100, 1, 4000);
    const std::string sourcePath = dir.File("source.wav");
    ASSERT_TRUE(test::WriteWav(sourcePath, in));
    const auto before = fs::file_size(sourcePath);
    fs::create_directory(dir.path() / "sub");
    fs::create_symlink(sourcePath, dir.path() / "link.wav");
    for (const std::string& spelling : {sourcePath, dir.File("sub/../source.wav"),
                                        dir.File("./source.wav"), dir.File("link.wav")}) {
        SourceFileEntry src;
        src.path = sourcePath;
        src.sourceType = SourceType::kWav;
        src.outputPath = spelling;
        EXPECT_EQ(session.ConvertFile(src, wav), StepOutcome::kFailed) << spelling;
        ASSERT_TRUE(fs::exists(sourcePath));
        EXPECT_EQ(fs::file_size(sourcePath), before) << spelling;
    }
    Pcm back;
    ASSERT_TRUE(test::FfDecode(sourcePath, back));
    EXPECT_EQ(back.samples, in.samples);
}

TEST_F(ConvertFileTest, AFailingWriteFailsTheFile) {
    const Pcm in = test::MakeSignal(44100, 2, 44100);
    SourceFileEntry src;
    src.path = dir.File("source.wav");
    ASSERT_TRUE(test::WriteWav(src.path, in));
    src.sourceType = SourceType::kWav;
    src.outputPath = "/dev/full";
    EXPECT_EQ(session.ConvertFile(src, wav), StepOutcome::kFailed);
    EXPECT_TRUE(fs::exists("/dev/full"));  // only regular files are ever removed
}

TEST_F(ConvertFileTest, NoAudioAndNoReader) {
    const std::string text = dir.File("notes.wav");
    std::ofstream(text) << "this is not audio at all";
    SourceFileEntry src;
    src.path = text;
    src.sourceType = SourceType::kWav;
    src.outputPath = dir.File("out.wav");
    EXPECT_EQ(session.ConvertFile(src, wav), StepOutcome::kFailed);
    EXPECT_EQ(FailureDetailText(session.LastFailure()),
              "Kestrune cannot decode this file. Please send it to support@kestrune.org so that "
              "we can add support for it.");
    EXPECT_FALSE(fs::exists(src.outputPath));
}

TEST_F(ConvertFileTest, CustomAndCopiedTags) {
    const Pcm in = test::MakeSignal(44100, 2, 20000);
    const OutputFormatEntry mp3 = *FindOutputFormat(config.catalogue, FormatId::kMp3);
    config.settings.id3TagType = TagSource::kCustom;
    config.tagOptions.titleAsFileName = true;
    config.tagOptions.artist = "Ärtist ☃";
    config.tagOptions.trackNumType = TrackNumMode::kRunPosition;
    // As the third item of a run: the position is the track number.
    SourceFileEntry item;
    item.path = dir.File("source.wav");
    ASSERT_TRUE(test::WriteWav(item.path, in));
    item.sourceType = SourceType::kWav;
    OutputClaim claim;
    ASSERT_EQ(claim.Hold(dir.File("out.mp3")), OutputClaim::Take::kTaken);
    const ItemOutcome outcome = session.ConvertItem(item, 2, mp3, std::move(claim));
    ASSERT_EQ(outcome.end, ItemEnd::kConverted);
    EXPECT_EQ(OutputText(outcome), "out.mp3");
    test::ProbeInfo info = test::FfProbe(outcome.outputPath);
    EXPECT_EQ(info.Tag("title"), "source");
    EXPECT_EQ(info.Tag("artist"), "Ärtist ☃");
    EXPECT_EQ(info.Tag("track"), "3");

    // Copied from a tagged source: the track number 7 of 12 keeps its total.
    const std::string tagged = dir.File("tagged.mp3");
    ASSERT_TRUE(test::Ffmpeg(dir.File("source.wav"),
                             "-metadata title='Copied' -metadata artist='Someone' -metadata "
                             "track=7/12 -metadata date=1999",
                             tagged));
    config.settings.id3TagType = TagSource::kFromSource;
    SourceFileEntry src;
    src.path = tagged;
    src.sourceType = SourceTypeOf(tagged);
    src.outputPath = dir.File("copied.m4a");
    const OutputFormatEntry m4a = *FindOutputFormat(config.catalogue, FormatId::kM4a);
    ASSERT_EQ(session.ConvertFile(src, m4a), StepOutcome::kDone);
    info = test::FfProbe(src.outputPath);
    EXPECT_EQ(info.Tag("title"), "Copied");
    EXPECT_EQ(info.Tag("artist"), "Someone");
    EXPECT_EQ(info.Tag("track"), "7/12");
    EXPECT_EQ(info.Tag("date"), "1999");
}

}  // namespace
}  // namespace kestrune
