// The engine with every reader and writer family: what a user gets for each kind of source and
// output, through the batch and merge drivers.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/conversion_session.h"
#include "engine/source_list.h"
#include "messages/item_texts.h"
#include "readers/bass_reader.h"
#include "tests/support/session_fixture.h"
#include "tests/support/test_support.h"
#include "writers/ffmpeg_writer.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::Quote;

// A one-track song at 120 beats a minute: eight quarter notes, 4 s of music.
std::string Song() {
    auto chunk = [](const char* id, const std::string& body) {
        std::string c(id, 4);
        const auto n = static_cast<uint32_t>(body.size());
        for (int s = 24; s >= 0; s -= 8)
            c += static_cast<char>((n >> s) & 0xff);
        return c + body;
    };
    std::string track;
    track += std::string("\x00\xc0\x00", 3);
    for (int i = 0; i < 8; ++i) {
        track += std::string("\x00\x90", 2) + static_cast<char>(60 + i) + '\x60';
        track += std::string("\x83\x60\x80", 3) + static_cast<char>(60 + i) + '\x40';  // 480 ticks
    }
    track += std::string("\x00\xff\x2f\x00", 4);
    return chunk("MThd", std::string("\0\0\0\1\x01\xe0", 6)) + chunk("MTrk", track);
}

class FamiliesTest : public test::SessionTest {
protected:
    explicit FamiliesTest(const std::string& programFolder = RunningProgramFolder())
        : SessionTest(programFolder) {
        config.settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
        config.settings.destSpecifiedFolder = dir.File("out");
        config.settings.browseOutputFolder = false;
    }

    // Adds a file as the window does: asked first whether to fetch a missing Windows Media
    // runtime, then probed.
    SourceFileEntry& Add(const std::string& path) {
        if (ProbeNeedsWindowsMedia(config, {path}))
            AnswerProbeNeeds(host);
        entries.push_back({});
        SourceFileEntry& e = entries.back();
        EXPECT_TRUE(session.ProbeSource(path, e).opened) << path;
        e.path = path;
        e.sourceType = SourceTypeOf(path);
        return e;
    }
    SourceFileEntry& AddWav(const std::string& name, int rate, int channels, double seconds) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(test::WriteWav(
            path, test::MakeSignal(rate, channels, static_cast<size_t>(rate * seconds))));
        return Add(path);
    }
    // Makes a file with the ffmpeg command line from a generated WAV.
    SourceFileEntry& AddEncoded(const std::string& name, const std::string& codecArgs,
                                double seconds = 1.0) {
        const std::string wav = dir.File(name + ".src.wav");
        EXPECT_TRUE(
            test::WriteWav(wav, test::MakeSignal(44100, 2, static_cast<size_t>(44100 * seconds))));
        EXPECT_TRUE(test::Ffmpeg(wav, codecArgs, dir.File(name))) << name;
        return Add(dir.File(name));
    }

    void Run(FormatId formatId, const std::vector<int>& which = {}, bool toOne = false,
             const std::string& mergePath = {}) {
        std::vector<SourceFileEntry*> items;
        std::vector<int> rows;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!which.empty() &&
                std::find(which.begin(), which.end(), static_cast<int>(i)) == which.end())
                continue;
            items.push_back(&entries[i]);
            rows.push_back(static_cast<int>(i));
        }
        RunDriver(items, rows, formatId, toOne, mergePath);
    }

    std::deque<SourceFileEntry> entries;
};

// Every source family decodes to a WAV of the source's length.
TEST_F(FamiliesTest, EverySourceFamilyConverts) {
    struct Source {
        const char* name;
        const char* args;
    };
    const Source sources[] = {
        {"mp3.mp3", "-c:a libmp3lame -b:a 128k"},
        {"flac.flac", "-c:a flac"},
        {"wv.wv", "-c:a wavpack"},
        {"aac.m4a", "-c:a aac"},
        {"alac.m4a", "-c:a alac"},
        {"adx.adx", "-c:a adpcm_adx"},
        {"vorbis.ogg", "-c:a libvorbis"},
        {"aiff.aiff", "-c:a pcm_s16be"},
        {"au.au", "-c:a pcm_mulaw"},
        {"wma.wma", "-c:a wmav2"},
        {"opus.ogg", "-c:a libopus"},  // not Vorbis: the generic reader takes it
    };
    for (const Source& s : sources)
        AddEncoded(s.name, s.args);
    // AMR files come from our own writer: this FFmpeg has no AMR encoder.
    AddWav("amrsource.wav", 8000, 1, 1.0);
    Run(FormatId::kAmr, {static_cast<int>(entries.size()) - 1});
    fs::rename(dir.File("out/amrsource.amr"), dir.File("amr.amr"));
    entries.pop_back();
    Add(dir.File("amr.amr"));
    host.output.clear();
    Run(FormatId::kWav);
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string name = fs::path(entries[i].path).stem().string() + ".wav";
        ASSERT_EQ(host.output[static_cast<int>(i)], name) << entries[i].path;
        const test::ProbeInfo info = test::FfProbe(entries[i].outputPath);
        EXPECT_NEAR(info.duration, 1.0, 0.1) << entries[i].path;
    }
}

TEST_F(FamiliesTest, TrackerMusicAndMidi) {
    KESTRUNE_REQUIRE_CORPUS();
    const std::string song = dir.File("song.mid");
    std::ofstream(song, std::ios::binary) << Song();
    Add(song);
    Add((test::CorpusDir() / "libxmp__test-dev_data_m_GAMEMUSIC.mod").string());
    Run(FormatId::kWav);
    ASSERT_EQ(host.output[0], "song.wav");
    // Four seconds of music and the layer's one-second release tail.
    EXPECT_NEAR(test::FfProbe(entries[0].outputPath).duration, 5.0, 0.05);
    test::Pcm pcm;
    ASSERT_TRUE(test::FfDecode(entries[0].outputPath, pcm));
    EXPECT_GT(*std::max_element(pcm.samples.begin(), pcm.samples.end()), 400);
    ASSERT_EQ(host.output[1], "libxmp__test-dev_data_m_GAMEMUSIC.wav");
    EXPECT_NEAR(test::FfProbe(entries[1].outputPath).duration,
                test::FfProbe(entries[1].path).duration, 0.05);
}

TEST_F(FamiliesTest, MidiWithoutTheSoundFontFailsAlone) {
    config.loadSoundFont = [](const std::string&) { return 0; };
    const std::string song = dir.File("song.mid");
    std::ofstream(song, std::ios::binary) << Song();
    AddWav("first.wav", 44100, 2, 0.5);
    Add(song);
    AddWav("last.wav", 22050, 1, 0.5);
    host.answer = false;
    Run(FormatId::kMp3);
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_NE(host.questions[0].find("file \"ct4mgm.sf2\" is required"), std::string::npos);
    EXPECT_NE(host.questions[0].find(config.programFolder), std::string::npos);
    EXPECT_EQ(host.output[0], "first.mp3");
    EXPECT_EQ(host.output[1], "Failure. Requires file \"ct4mgm.sf2\".");
    EXPECT_EQ(host.output[2], "last.mp3");

    // Yes opens the program's folder and the download page, and ends the run.
    host.answer = true;
    host.output.clear();
    Run(FormatId::kMp3);
    EXPECT_TRUE(host.output.empty());
    ASSERT_EQ(host.opened.size(), 2u);
    EXPECT_EQ(host.opened[0], config.programFolder);
}

TEST_F(FamiliesTest, AmrAndWindowsMediaOutputs) {
    AddWav("voice.wav", 44100, 2, 1.0);
    const struct {
        FormatId formatId;
        const char* ext;
        const char* codec;
        int rate;
    } outputs[] = {{FormatId::kAmr, "amr", "amr_nb", 8000},
                   {FormatId::kAwb, "awb", "amr_wb", 16000},
                   {FormatId::kWma, "wma", "wmav2", 44100},
                   {FormatId::kWmv, "wmv", "wmav2", 44100},
                   {FormatId::kAsf, "asf", "wmav2", 44100}};
    config.settings.id3TagType = TagSource::kCustom;
    config.tagOptions.artist = "Somebody";
    for (const auto& o : outputs) {
        Run(o.formatId);
        const std::string out = dir.File(std::string("out/voice.") + o.ext);
        ASSERT_EQ(host.output[0], std::string("voice.") + o.ext) << o.ext;
        const test::ProbeInfo info = test::FfProbe(out);
        EXPECT_EQ(info.codecName, o.codec) << o.ext;
        EXPECT_EQ(info.sampleRate, o.rate) << o.ext;
        EXPECT_NEAR(info.duration, 1.0, 0.1) << o.ext;
        if (IsWindowsMediaFormat(o.formatId)) {
            EXPECT_EQ(info.Tag("artist").empty() ? info.Tag("author") : info.Tag("artist"),
                      "Somebody")
                << o.ext;
        }
        fs::remove(out);
    }
}

TEST_F(FamiliesTest, MergesToAmrAndWmaResampleEverySource) {
    AddWav("a.wav", 44100, 2, 1.0);
    AddWav("b.wav", 22050, 1, 0.5);
    AddWav("c.wav", 11025, 1, 0.5);
    const std::string amr = dir.File("all.amr");
    Run(FormatId::kAmr, {}, true, amr);
    test::ProbeInfo info = test::FfProbe(amr);
    EXPECT_EQ(info.sampleRate, 8000);
    EXPECT_NEAR(info.duration, 2.0, 0.1);
    const std::string wma = dir.File("all.wma");
    Run(FormatId::kWma, {}, true, wma);
    info = test::FfProbe(wma);
    EXPECT_EQ(info.codecName, "wmav2");
    EXPECT_EQ(info.channels, 2);
    EXPECT_NEAR(info.duration, 2.0, 0.1);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(host.output[i], "all.wma");
}

// Frames the first packets of a file's audio last at most: what the demuxer hands out at once.
int LongestPacketFrames(const std::string& path, int rate) {
    std::string out;
    test::Run(
        "ffprobe -v error -select_streams a:0 -read_intervals %+#8 -show_entries "
        "packet=duration -of csv=p=0 " +
            Quote(path),
        &out);
    double longest = 0;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
            longest = std::max(longest, std::atof(line.c_str()));
    return static_cast<int>(longest * rate + 0.5);
}

// The frame size and the delay of the FFmpeg writer's encoder for a row (0 and 0 for a row of
// another writer, and a frame size of 0 for a codec without frames).
std::pair<int, int> EncoderFramesOf(const OutputFormatEntry& row, int rate, int channels,
                                    const std::string& at) {
    ResolvedEncoding enc;
    if (!row.UsesFFmpegWriter() || !ResolveEncoding(row, rate, channels, enc))
        return {0, 0};
    FFmpegWriter writer;
    FFmpegEncoderOptions options;
    options.containerShortName = row.containerShortName;
    options.codecId = row.codecId;
    writer.SetEncoderOptions(options);
    writer.SetSampleRate(enc.sampleRate);
    writer.SetChannels(enc.channels);
    writer.SetBitRate(enc.bitRate);
    writer.SetPath(at);
    std::pair<int, int> frames{0, 0};
    if (writer.Open())
        frames = {writer.FrameSize(), writer.EncoderDelay()};
    writer.Close();
    fs::remove(at);
    return frames;
}

class OutputLengths : public FamiliesTest, public ::testing::WithParamInterface<FormatId> {};

// Every output format decodes (by ffmpeg) to at least the source's length: exactly where the
// container says how long the audio is, otherwise at most one codec frame more, and in the
// containers that cannot say where the audio starts, the encoder's delay more again.
TEST_P(OutputLengths, NoOutputIsShorterThanItsSource) {
    const OutputFormatEntry& row = *FindOutputFormat(config.catalogue, GetParam());
    const std::string container = row.containerShortName ? row.containerShortName : "";
    const bool exact = container == "mp3" || container == "flac" || container == "ogg" ||
                       container == "wav" || container == "aiff" || container == "au";
    const bool delayUnrecorded =
        container == "adts" || container == "avi" || container == "flv" || container == "swf";
    AddWav("stereo.wav", 44100, 2, 1.3);
    AddWav("mono.wav", 22050, 1, 1.3);
    // Opus encodes at 48 kHz whatever comes in: a source at that rate too.
    if (GetParam() == FormatId::kOpus)
        AddWav("stereo48k.wav", 48000, 2, 1.3);
    Run(GetParam());
    for (const SourceFileEntry& source : entries) {
        SCOPED_TRACE(source.path);
        ASSERT_FALSE(source.outputPath.empty());
        test::Pcm decoded;
        ASSERT_TRUE(test::FfDecode(source.outputPath, decoded));
        ResolvedEncoding enc;
        // VOC keeps its rate as a time constant that ffprobe reads back only roughly.
        const int rate = ResolveEncoding(row, source.sampleRate, source.sourceChannels, enc)
                             ? enc.sampleRate
                             : decoded.sampleRate;
        const auto expected = static_cast<long>(std::lround(1.3 * rate));
        const long extra = static_cast<long>(decoded.Frames()) - expected;
        EXPECT_GE(extra, 0) << "frames lost";
        if (exact) {
            EXPECT_EQ(extra, 0);
        } else {
            const auto [frameSize, delay] =
                EncoderFramesOf(row, source.sampleRate, source.sourceChannels,
                                dir.File("probe." + std::string(row.extension)));
            long allowed = frameSize > 0
                               ? frameSize
                               : LongestPacketFrames(source.outputPath, decoded.sampleRate);
            if (delayUnrecorded)
                allowed += delay;
            EXPECT_LE(extra, allowed);
        }
    }
}

std::vector<FormatId> EveryFormat() {
    OutputCatalogue catalogue;
    BuildOutputCatalogue(catalogue);
    std::vector<FormatId> ids;
    for (const OutputFormatEntry& row : catalogue)
        ids.push_back(row.formatId);
    return ids;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, OutputLengths, ::testing::ValuesIn(EveryFormat()),
                         [](const ::testing::TestParamInfo<FormatId>& test) {
                             return "format" + std::to_string(StoredValue(test.param));
                         });

// A second of two different tones over full-band noise, which fills every low bit.
const char kWideSignal[] =
    "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*440*t)+0.02*random(0)|0.4*sin(2*PI*660*t)+0.02*random(1)"
    ":s=96000:d=1\"";

// What ffmpeg decodes of a file's audio, as samples of pcm (a 24-bit file as 32-bit integers):
// its MD5, with the rate it plays at.
std::string SamplesDigest(const std::string& path, const std::string& pcm) {
    std::string md5;
    test::Run(
        "ffmpeg -v error -nostdin -i " + Quote(path) + " -map 0:a:0 -c:a " + pcm + " -f md5 -",
        &md5);
    return md5 + " at " + std::to_string(test::FfProbe(path).sampleRate);
}

struct LosslessCase {
    const char* name;  // of the source
    const char* make;  // ffmpeg's arguments after the signal
    FormatId target;
    const char* samples;  // the form in which source and output must decode the same
};

class LosslessOutputs : public FamiliesTest, public ::testing::WithParamInterface<LosslessCase> {};

// A lossless output keeps the source's samples and rate whole: 24 bits at 96 kHz, floats, and a
// rate that the lossy lists lack.
TEST_P(LosslessOutputs, DecodeToTheSourcesSamples) {
    const LosslessCase& c = GetParam();
    const std::string source = dir.File(c.name);
    ASSERT_EQ(test::Run("ffmpeg -v error -nostdin -y " + std::string(kWideSignal) + " " + c.make +
                        " " + Quote(source)),
              0);
    Add(source);
    Run(c.target);
    ASSERT_FALSE(entries[0].outputPath.empty());
    EXPECT_EQ(SamplesDigest(entries[0].outputPath, c.samples), SamplesDigest(source, c.samples));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, LosslessOutputs,
    ::testing::Values(
        LosslessCase{"flac24.flac", "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24",
                     FormatId::kFlac, "pcm_s32le"},
        LosslessCase{"flac24.flac", "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24",
                     FormatId::kWav, "pcm_s32le"},
        LosslessCase{"flac24.flac", "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24",
                     FormatId::kAlac, "pcm_s32le"},
        LosslessCase{"flac24.flac", "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24",
                     FormatId::kWavPack, "pcm_s32le"},
        LosslessCase{"aiff24.aiff", "-c:a pcm_s24be", FormatId::kAiff, "pcm_s32le"},
        LosslessCase{"au32.au", "-c:a pcm_s32be", FormatId::kWav, "pcm_s32le"},
        LosslessCase{"float.wav", "-c:a pcm_f32le", FormatId::kWav, "pcm_f32le"},
        LosslessCase{"mono11025.wav", "-ac 1 -ar 11025 -c:a pcm_s16le", FormatId::kFlac,
                     "pcm_s32le"},
        // FLAC written to a pipe has no length in its header: it is counted when opened.
        LosslessCase{"flac24Piped.flac",
                     "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24 -f flac - >",
                     FormatId::kWav, "pcm_s32le"},
        LosslessCase{"flac16Piped.flac", "-c:a flac -sample_fmt s16 -f flac - >", FormatId::kWav,
                     "pcm_s16le"},
        // Containers only FFmpeg's own demuxers read.
        LosslessCase{"flac24inMka.mka", "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24",
                     FormatId::kFlac, "pcm_s32le"},
        LosslessCase{"floatInCaf.caf", "-c:a pcm_f32le", FormatId::kWav, "pcm_f32le"}),
    [](const ::testing::TestParamInfo<LosslessCase>& test) {
        const std::string name = test.param.name;
        return name.substr(0, name.find('.')) + "To" +
               std::to_string(StoredValue(test.param.target));
    });

// A 24-bit source still makes a lossy file, and a resampled lossless one keeps its 24 bits.
TEST_F(FamiliesTest, WideSourceToMp3AndResampledFlac) {
    const std::string source = dir.File("wide.flac");
    ASSERT_EQ(test::Run("ffmpeg -v error -nostdin -y " + std::string(kWideSignal) +
                        " -c:a flac -sample_fmt s32 -bits_per_raw_sample 24 " + Quote(source)),
              0);
    Add(source);
    Run(FormatId::kMp3);
    test::Pcm mp3;
    ASSERT_TRUE(test::FfDecode(entries[0].outputPath, mp3));
    EXPECT_EQ(mp3.sampleRate, 48000);
    EXPECT_EQ(mp3.Frames(), 48000u);
    EXPECT_GT(test::Rms(mp3.samples), 5000);

    OutputFormatEntry& flac = *FindOutputFormat(config.catalogue, FormatId::kFlac);
    flac.autoParams = 0;
    flac.sampleRate = 44100;
    Run(FormatId::kFlac);
    std::string bits;
    test::Run(
        "ffprobe -v error -show_entries stream=bits_per_raw_sample,sample_rate,duration_ts "
        "-of csv=p=0 " +
            Quote(entries[0].outputPath),
        &bits);
    EXPECT_EQ(bits, "44100,44100,24\n");
}

// A program folder without the Windows Media layer.
class FamiliesWithoutWindowsMedia : public FamiliesTest {
protected:
    FamiliesWithoutWindowsMedia() : FamiliesTest("/nonexistent/kestrune/") {}
};

TEST_F(FamiliesWithoutWindowsMedia, MissingWindowsMediaRuntime) {
    AddWav("a.wav", 44100, 2, 0.5);
    host.answer = false;
    AddEncoded("b.wma", "-c:a wmav2", 0.5);
    // Probing the file asked already: its dedicated reader needs the runtime.
    EXPECT_EQ(host.questions.size(), 1u);
    host.questions.clear();
    // A Windows Media output ends the run after the question.
    Run(FormatId::kWma);
    ASSERT_EQ(host.questions.size(), 1u);
    EXPECT_NE(host.questions[0].find("Windows Media Format 9 Series Runtime"), std::string::npos);
    EXPECT_TRUE(host.output.empty());
    EXPECT_FALSE(fs::exists(dir.File("out")));
    // A Windows Media source still converts through the generic reader.
    Run(FormatId::kWav, {1});
    EXPECT_EQ(host.output[1], "b.wav");
    EXPECT_EQ(session.UsedDedicatedReader(), 0);
}

TEST_F(FamiliesTest, TheListHoldsAFileOnce) {
    AddWav("Song.wav", 44100, 2, 0.2);
    AddWav("SONG.wav", 44100, 1, 0.2);  // another file on this system
    fs::create_directory(dir.path() / "sub");
    fs::create_symlink(dir.File("Song.wav"), dir.File("link.wav"));
    SourceList list;
    EXPECT_EQ(list.AddSourceFile(session, dir.File("Song.wav")), 0);
    EXPECT_EQ(list.AddSourceFile(session, dir.File("SONG.wav")), 1);
    EXPECT_EQ(list.AddSourceFile(session, dir.File("Song.wav")), 0);
    EXPECT_EQ(list.AddSourceFile(session, dir.File("sub/../Song.wav")), 0);
    EXPECT_EQ(list.AddSourceFile(session, dir.File("link.wav")), 0);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_EQ(list[1].sourceChannels, 1);
    std::ofstream(dir.File("noise.mp3")) << std::string(2000, 'n');
    EXPECT_EQ(list.AddSourceFile(session, dir.File("noise.mp3")), -1);
    std::ofstream(dir.File("track01.cda")) << std::string(44, 'c');
    EXPECT_EQ(list.AddSourceFile(session, dir.File("track01.cda")), -1);
    EXPECT_EQ(FailureDetailText(session.LastFailure()),
              "IMPORTANT: please DO NOT add CDA file from hard drive, but add CDA file from CD "
              "drive.");
    list.Remove(0);
    EXPECT_EQ(list.AddSourceFile(session, dir.File("link.wav")), 1);
}

TEST_F(FamiliesTest, TagsComeFromAiffId3AndWavInfo) {
    config.settings.id3TagType = TagSource::kFromSource;
    AddEncoded("tagged.aiff",
               "-c:a pcm_s16be -write_id3v2 1 -metadata title='Aiff Title' "
               "-metadata artist='Aiff Artist' -metadata track=5",
               0.3);
    AddEncoded("tagged.wav",
               "-c:a pcm_s16le -metadata title='Wav Title' -metadata "
               "artist='Wav Artist' -metadata genre='Jazz'",
               0.3);
    Run(FormatId::kMp3);
    test::ProbeInfo info = test::FfProbe(dir.File("out/tagged.mp3"));
    ASSERT_EQ(host.output[0], "tagged.mp3");
    EXPECT_EQ(info.Tag("title"), "Aiff Title");
    EXPECT_EQ(info.Tag("artist"), "Aiff Artist");
    EXPECT_EQ(info.Tag("track"), "5");
    ASSERT_EQ(host.output[1], "tagged_1.mp3");
    info = test::FfProbe(dir.File("out/tagged_1.mp3"));
    EXPECT_EQ(info.Tag("title"), "Wav Title");
    EXPECT_EQ(info.Tag("artist"), "Wav Artist");
    EXPECT_EQ(info.Tag("genre"), "Jazz");
}

TEST_F(FamiliesTest, ASixChannelSourceCountsAsStereoInAMerge) {
    const std::string six = dir.File("six.wav");
    ASSERT_EQ(test::Run("ffmpeg -v error -nostdin -f lavfi -i sine=frequency=300:sample_rate=32000:"
                        "duration=1 -af pan='5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0' " +
                        Quote(six)),
              0);
    Add(six);
    AddWav("mono.wav", 22050, 1, 1.0);
    EXPECT_EQ(entries[0].sourceChannels, 6);
    const std::string merged = dir.File("merged.mp3");
    Run(FormatId::kMp3, {}, true, merged);
    const test::ProbeInfo info = test::FfProbe(merged);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sampleRate, 32000);
    EXPECT_NEAR(info.duration, 2.0, 0.1);
}

}  // namespace
}  // namespace kestrune
