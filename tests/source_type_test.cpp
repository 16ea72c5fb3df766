#include <gtest/gtest.h>

#include "readers/source_type.h"

namespace kestrune {
namespace {

TEST(SourceType, ByLowerCasedLastExtensionOfTheFileName) {
    const struct {
        const char* path;
        SourceType type;
    } cases[] = {
        {"/m/Song.MP3", SourceType::kMp3},        {"/m/archive.tar.wav", SourceType::kWav},
        {"/m/README", SourceType::kOther},        {"/m/clip.webm", SourceType::kOther},
        {"/m/dir.wav/noext", SourceType::kOther}, {"/m/x.Flac", SourceType::kFlac},
        {"/m/track01.cda", SourceType::kCdAudio}, {"/m/a.dts", SourceType::kDts},
        {"/m/voice.AWB", SourceType::kAmr},       {"/m/m.xwmv", SourceType::kWindowsMedia},
        {"/m/t.kar", SourceType::kMidi},          {"/m/tune.mo3", SourceType::kTracker},
        {"/m/s.AFC", SourceType::kAiff},          {"/m/s.snd", SourceType::kAu},
        {"/m/v.ogv", SourceType::kOgg},           {"/m/b.m4b", SourceType::kMp4},
        {"/m/trailing.", SourceType::kOther},     {"relative.aac", SourceType::kAac},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SourceTypeOf(c.path), c.type) << c.path;
    EXPECT_EQ(ExtensionOf("/a.b/c"), "");
    EXPECT_EQ(FileNameOf("/a/b/c.mp3"), "c.mp3");
    EXPECT_EQ(FileNameOf("c.mp3"), "c.mp3");
}

TEST(ColumnTexts, AsTheListShowsThem) {
    EXPECT_EQ(DurationText(3600), "1:00:00");
    EXPECT_EQ(DurationText(59), "00:59");
    EXPECT_EQ(DurationText(61), "01:01");
    EXPECT_EQ(DurationText(3725), "1:02:05");
    EXPECT_EQ(DurationText(0), "");
    const char* expected[] = {"Mono", "Mono", "Stereo", "2.1", "4.0", "5.0", "5.1", "6.1", "7.1"};
    for (int c = 0; c <= 8; ++c)
        EXPECT_EQ(ChannelsText(c), expected[c]) << c;
    EXPECT_EQ(ChannelsText(12), "12");

    SourceFileEntry e;
    e.path = "/music/a b.flac";
    e.sourceChannels = 6;
    e.sampleRate = 48000;
    e.bitRate = 0;
    e.duration = 75;
    const ColumnTexts t = ColumnTextsOf(e);
    EXPECT_EQ(t.file, "a b.flac");
    EXPECT_EQ(t.duration, "01:15");
    EXPECT_EQ(t.bitRate, "");
    EXPECT_EQ(t.sampleRate, "48000 Hz");
    EXPECT_EQ(t.channels, "5.1");
    e.bitRate = 320;
    e.sampleRate = 0;
    EXPECT_EQ(ColumnTextsOf(e).bitRate, "320 kbps");
    EXPECT_EQ(ColumnTextsOf(e).sampleRate, "");
    // The depth where the file says and it is not the 16 bits every source was taken to be.
    e.sampleRate = 96000;
    e.depth = {16, false};
    EXPECT_EQ(ColumnTextsOf(e).sampleRate, "96000 Hz");
    e.depth = {24, false};
    EXPECT_EQ(ColumnTextsOf(e).sampleRate, "96000 Hz, 24-bit");
    e.depth = {32, true};
    EXPECT_EQ(ColumnTextsOf(e).sampleRate, "96000 Hz, 32-bit float");
    // A broken header's values are unknown, not shown.
    e.sampleRate = -1;
    e.sourceChannels = 0;
    e.bitRate = -8;
    EXPECT_EQ(ColumnTextsOf(e).sampleRate, "");
    EXPECT_EQ(ColumnTextsOf(e).channels, "");
    EXPECT_EQ(ColumnTextsOf(e).bitRate, "");
}

}  // namespace
}  // namespace kestrune
