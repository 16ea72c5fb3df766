// The decoding layer's calls, used directly.

#include <gtest/gtest.h>
#include <libopenmpt/libopenmpt.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/bass/bass.h"
#include "tests/support/decoding_layer.h"
#include "tests/support/test_support.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using namespace test;

constexpr DWORD kEnd = 0xFFFFFFFFu;
constexpr QWORD kUnknown = ~QWORD{0};

std::string BinFile(const char* name) {
    return std::string(KESTRUNE_BIN_DIR) + "/" + name;
}

// Everything a channel delivers, read in odd-sized requests.
std::vector<unsigned char> ReadAll(DWORD handle, DWORD request = 5000) {
    std::vector<unsigned char> out, buf(request);
    for (;;) {
        const DWORD got = BASS_ChannelGetData(handle, buf.data(), request);
        if (got == kEnd)
            break;
        out.insert(out.end(), buf.begin(), buf.begin() + got);
    }
    return out;
}

// What libmpg123 itself makes of a file, at the stream's own rate and channels.
std::vector<unsigned char> Mpg123Reference(const std::string& path, long& rate, int& channels) {
    std::vector<unsigned char> pcm;
    int err = 0;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (!h)
        return pcm;
    int encoding = 0;
    if (mpg123_open(h, path.c_str()) == MPG123_OK &&
        mpg123_getformat(h, &rate, &channels, &encoding) == MPG123_OK) {
        mpg123_format_none(h);
        mpg123_format(h, rate, channels, MPG123_ENC_SIGNED_16);
        unsigned char buf[16384];
        size_t done = 0;
        int rc;
        while ((rc = mpg123_read(h, buf, sizeof buf, &done)) == MPG123_OK ||
               rc == MPG123_NEW_FORMAT || done > 0) {
            pcm.insert(pcm.end(), buf, buf + done);
            if (rc == MPG123_DONE)
                break;
        }
    }
    mpg123_close(h);
    mpg123_delete(h);
    return pcm;
}

TEST(Layer, ReportsVersionTwoPointFour) {
    EXPECT_EQ(BASS_GetVersion() >> 16, 0x0204u);
}

TEST(Layer, OnlyTheNoSoundDeviceStarts) {
    EXPECT_FALSE(BASS_Init(1, 44100, 0, nullptr, nullptr));
    EXPECT_TRUE(BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 0));
}

TEST(Layer, NothingOpensBeforeTheLibraryIsStarted) {
    TempDir dir;
    const std::string wav = dir.File("a.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(8000, 1, 800)));
    const HSTREAM before = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(before, 0u);
    ASSERT_TRUE(BASS_Free());
    // Freeing the library frees its channels.
    EXPECT_EQ(BASS_ChannelGetLength(before, BASS_POS_BYTE), kUnknown);
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, BASS_STREAM_DECODE), 0u);
    ASSERT_TRUE(BASS_Init(0, 44100, 0, nullptr, nullptr));
    const HSTREAM after = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, BASS_STREAM_DECODE);
    EXPECT_NE(after, 0u);
    EXPECT_TRUE(BASS_StreamFree(after));
}

struct Mp3Case {
    const char* name;
    int rate;
    int channels;
    const char* args;
    const char* file;
};

class MpegTest : public ::testing::TestWithParam<Mp3Case> {};

TEST_P(MpegTest, DecodesExactlyAsLibmpg123) {
    const Mp3Case c = GetParam();
    TempDir dir;
    const std::string wav = dir.File("in.wav"), mp = dir.File(c.file);
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(c.rate, c.channels, c.rate * 2, 9)));
    ASSERT_TRUE(Ffmpeg(wav, c.args, mp));
    long rate = 0;
    int channels = 0;
    const std::vector<unsigned char> reference = Mpg123Reference(mp, rate, channels);
    ASSERT_FALSE(reference.empty());

    const HSTREAM h = BASS_StreamCreateFile(FALSE, mp.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    BASS_CHANNELINFO info{};
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, static_cast<DWORD>(rate));
    EXPECT_EQ(info.chans, static_cast<DWORD>(channels));
    EXPECT_EQ(info.flags & BASS_SAMPLE_8BITS, 0u);
    EXPECT_EQ(BASS_ChannelGetLength(h, BASS_POS_BYTE), reference.size());
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), fs::file_size(mp));
    EXPECT_DOUBLE_EQ(BASS_ChannelBytes2Seconds(h, reference.size()),
                     static_cast<double>(reference.size()) / (rate * channels * 2));
    const std::vector<unsigned char> got = ReadAll(h, 4608 + 2 * channels);
    ASSERT_EQ(got.size(), reference.size());
    const size_t same = static_cast<size_t>(
        std::mismatch(got.begin(), got.end(), reference.begin()).first - got.begin());
    EXPECT_EQ(same, got.size()) << "first different byte";
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), reference.size());
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_FALSE(BASS_StreamFree(h));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, MpegTest,
    ::testing::Values(Mp3Case{"Layer3Stereo", 44100, 2, "-c:a libmp3lame -b:a 160k", "a.mp3"},
                      Mp3Case{"Layer3Mono", 22050, 1, "-c:a libmp3lame -b:a 48k", "a.mp3"},
                      Mp3Case{"Layer3Mpeg25", 8000, 1, "-c:a libmp3lame -b:a 16k", "a.mp3"},
                      Mp3Case{"Layer3WithId3", 48000, 2,
                              "-c:a libmp3lame -metadata title=Song -id3v2_version 4", "a.mp3"},
                      Mp3Case{"Layer2", 48000, 2, "-c:a mp2 -b:a 192k", "a.mp2"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Layer, DataIsDeliveredInWholeFramesUpToTheLength) {
    TempDir dir;
    const std::string wav = dir.File("a.wav");
    const Pcm pcm = test::MakeSignal(8000, 2, 1001);
    ASSERT_TRUE(test::WriteWav(wav, pcm));
    const HSTREAM h = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(BASS_ChannelGetLength(h, BASS_POS_BYTE), 4004u);
    EXPECT_EQ(BASS_ChannelGetLength(h, 1), kUnknown);  // only byte positions exist here
    std::vector<int16_t> buf(2000);
    EXPECT_EQ(BASS_ChannelGetData(h, buf.data(), 1003), 1000u);
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), 1000u);
    EXPECT_EQ(BASS_ChannelGetData(h, buf.data(), 4000), 3004u);
    EXPECT_EQ(buf[500], pcm.samples[1000]);
    EXPECT_EQ(BASS_ChannelGetData(h, buf.data(), 4000), kEnd);
    EXPECT_EQ(BASS_ChannelGetData(h, buf.data(), 4000), kEnd);
    EXPECT_FALSE(BASS_MusicFree(h));  // a stream is not music
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_EQ(BASS_ChannelGetData(h, buf.data(), 4000), kEnd);
}

TEST(Layer, TrackerMusicHasNoFilePosition) {
    KESTRUNE_REQUIRE_CORPUS();
    const std::string mod = (test::CorpusDir() / "libxmp__test-dev_data_TEMPO2.MTM").string();
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, mod.c_str(), 0, 0, BASS_STREAM_DECODE), 0u);
    const HMUSIC h = BASS_MusicLoad(
        FALSE, mod.c_str(), 0, 0, BASS_MUSIC_DECODE | BASS_MUSIC_PRESCAN | BASS_MUSIC_RAMP, 32000);
    ASSERT_NE(h, 0u);
    BASS_CHANNELINFO info{};
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, 32000u);
    EXPECT_EQ(info.chans, 2u);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), kUnknown);
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(h, BASS_ChannelGetLength(h, BASS_POS_BYTE)),
                test::FfProbe(mod).duration, 0.001);
    EXPECT_FALSE(BASS_StreamFree(h));
    EXPECT_TRUE(BASS_MusicFree(h));
}

TEST(Layer, MusicEndsAfterOnePassWhereAPlayerWouldRepeat) {
    KESTRUNE_REQUIRE_CORPUS();
    const std::string mod = (test::CorpusDir() / "libxmp__test-dev_data_TDZ3.MOD").string();
    std::ifstream in(mod, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Told to repeat, the module library keeps playing past the end of the song.
    openmpt_module* looping = openmpt_module_create_from_memory2(
        data.data(), data.size(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(looping, nullptr);
    openmpt_module_set_repeat_count(looping, -1);
    const double seconds = openmpt_module_get_duration_seconds(looping);
    std::vector<int16_t> pcm(2 * 8000);
    size_t rendered = 0;
    for (int i = 0; i < static_cast<int>(seconds) + 3; ++i)
        rendered += openmpt_module_read_interleaved_stereo(looping, 8000, 8000, pcm.data());
    openmpt_module_destroy(looping);
    EXPECT_GT(rendered, static_cast<size_t>((seconds + 2) * 8000));

    const HMUSIC h = BASS_MusicLoad(FALSE, mod.c_str(), 0, 0,
                                    BASS_MUSIC_DECODE | BASS_MUSIC_PRESCAN | BASS_MUSIC_RAMP, 8000);
    ASSERT_NE(h, 0u);
    const QWORD length = BASS_ChannelGetLength(h, BASS_POS_BYTE);
    EXPECT_EQ(length, static_cast<QWORD>(std::llround(seconds * 8000)) * 4);
    EXPECT_EQ(ReadAll(h).size(), length);
    EXPECT_TRUE(BASS_MusicFree(h));
}

// The module library's length is an estimate; where its rendering stops is where the music
// ends. This module's rendering stops two seconds before the estimate, which must not be
// filled with silence.
TEST(Layer, MusicEndsWhereTheLibraryStopsRendering) {
    KESTRUNE_REQUIRE_CORPUS();
    const std::string mod = (test::CorpusDir() / "libxmp__test-dev_data_m_fracture.stm").string();
    std::ifstream in(mod, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    openmpt_module* direct = openmpt_module_create_from_memory2(
        data.data(), data.size(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(direct, nullptr);
    openmpt_module_set_repeat_count(direct, 0);
    openmpt_module_ctl_set_text(direct, "play.at_end", "stop");
    const double estimate = openmpt_module_get_duration_seconds(direct);
    std::vector<int16_t> pcm(2 * 8000);
    size_t rendered = 0;
    for (size_t n = 1; n > 0; rendered += n)
        n = openmpt_module_read_interleaved_stereo(direct, 8000, 8000, pcm.data());
    openmpt_module_destroy(direct);
    ASSERT_LT(rendered + 8000, static_cast<size_t>(estimate * 8000));

    const HMUSIC h = BASS_MusicLoad(FALSE, mod.c_str(), 0, 0,
                                    BASS_MUSIC_DECODE | BASS_MUSIC_PRESCAN | BASS_MUSIC_RAMP, 8000);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(BASS_ChannelGetLength(h, BASS_POS_BYTE), std::llround(estimate * 8000) * 4u);
    EXPECT_EQ(ReadAll(h, 32768).size(), rendered * 4);
    EXPECT_TRUE(BASS_MusicFree(h));
}

TEST(Layer, NoiseIsNotTakenForAudio) {
    TempDir dir;
    std::mt19937 random(5);
    std::string noise(300000, '\0');
    for (char& ch : noise)
        ch = static_cast<char>(random() & 0xff);
    const std::string path = dir.File("noise.mp3");
    std::ofstream(path, std::ios::binary)
        .write(noise.data(), static_cast<std::streamsize>(noise.size()));
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE), 0u);
    EXPECT_EQ(BASS_MusicLoad(FALSE, path.c_str(), 0, 0, BASS_MUSIC_DECODE, 44100), 0u);
    EXPECT_EQ(BASS_MIDI_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE, 44100), 0u);
    EXPECT_EQ(
        BASS_StreamCreateFile(FALSE, dir.File("missing.wav").c_str(), 0, 0, BASS_STREAM_DECODE),
        0u);
    EXPECT_EQ(BASS_StreamCreateFile(TRUE, noise.data(), 0, noise.size(), BASS_STREAM_DECODE), 0u);
}

TEST(Layer, PluginsAreSharedObjectsWithTheEntryPoint) {
    EXPECT_EQ(BASS_PluginLoad(BinFile("no-such-plugin.so").c_str(), 0), 0u);
    // The layer itself is a shared object but no plug-in.
    EXPECT_EQ(BASS_PluginLoad(BinFile("libkestrune_bass.so").c_str(), 0), 0u);
    const HPLUGIN flac = BASS_PluginLoad(BinFile("libbassflac.so").c_str(), 0);
    ASSERT_NE(flac, 0u);
    EXPECT_EQ(BASS_PluginLoad(BinFile("libbassflac.so").c_str(), 0), flac);

    TempDir dir;
    const std::string wav = dir.File("a.wav"), path = dir.File("a.flac");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 1, 10000)));
    ASSERT_TRUE(Ffmpeg(wav, "-c:a flac", path));
    const HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    // A stream outlives the release of its plug-in.
    EXPECT_TRUE(BASS_PluginFree(flac));
    EXPECT_FALSE(BASS_PluginFree(flac));
    EXPECT_EQ(ReadAll(h).size(), 20000u);
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE), 0u);
}

// One note of a quarter at 480 ticks a quarter, default tempo: half a second of music.
std::string OneNoteSong(bool timeCode) {
    std::string track =
        std::string("\x00\xc0\x00\x00\x90\x45\x70\x83\x60\x80\x45\x00\x00\xff\x2f\x00", 16);
    std::string smf = std::string("MThd\0\0\0\6\0\0\0\1", 12);
    // Time code: 25 frames a second, 40 ticks a frame, so 480 ticks are 0.48 s.
    smf += timeCode ? std::string("\xe7\x28", 2) : std::string("\x01\xe0", 2);
    smf += "MTrk";
    smf += std::string("\0\0\0", 3) + static_cast<char>(track.size());
    return smf + track;
}

class MidiLayerTest : public ::testing::TestWithParam<bool> {};

TEST_P(MidiLayerTest, WithoutAFontTheSongHasItsLengthInSilence) {
    TempDir dir;
    const std::string path = dir.File("song.mid");
    const std::string smf = OneNoteSong(GetParam());
    std::ofstream(path, std::ios::binary)
        .write(smf.data(), static_cast<std::streamsize>(smf.size()));
    const HSTREAM h =
        BASS_MIDI_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE, 16000);
    ASSERT_NE(h, 0u);
    const double music = GetParam() ? 0.48 : 0.5;
    EXPECT_EQ(BASS_ChannelGetLength(h, BASS_POS_BYTE), std::llround((music + 1.0) * 16000) * 4);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), smf.size());
    const std::vector<unsigned char> pcm = ReadAll(h);
    EXPECT_EQ(pcm.size(), BASS_ChannelGetLength(h, BASS_POS_BYTE));
    const size_t silent = static_cast<size_t>(
        std::find_if(pcm.begin(), pcm.end(), [](unsigned char b) { return b != 0; }) - pcm.begin());
    EXPECT_EQ(silent, pcm.size()) << "first sounding byte";
    EXPECT_TRUE(BASS_StreamFree(h));
}

INSTANTIATE_TEST_SUITE_P(Divisions, MidiLayerTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& test) {
                             return test.param ? "TimeCode" : "TicksPerBeat";
                         });

TEST(Layer, OnlySoundFontsBecomeFonts) {
    KESTRUNE_REQUIRE_CORPUS();
    const std::string notFont = (test::CorpusDir() / "libxmp__test-dev_data_TDZ3.MOD").string();
    EXPECT_EQ(BASS_MIDI_FontInit(notFont.c_str(), 0), 0u);
    const BASS_MIDI_FONT unknown{12345, -1, 0};
    EXPECT_FALSE(BASS_MIDI_StreamSetFonts(0, &unknown, 1));
    const HSOUNDFONT font = BASS_MIDI_FontInit(BinFile("ct4mgm.sf2").c_str(), 0);
    ASSERT_NE(font, 0u);
    const BASS_MIDI_FONT entry{font, -1, 0};
    EXPECT_TRUE(BASS_MIDI_StreamSetFonts(0, &entry, 1));
    // Back to no default font for the other tests of this process.
    EXPECT_TRUE(BASS_MIDI_StreamSetFonts(0, nullptr, 0));
}

TEST(Layer, TagTextFollowsTheFormat) {
    TempDir dir;
    const std::string wav = dir.File("a.wav"), mp3 = dir.File("a.mp3");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 44100)));
    ASSERT_TRUE(
        Ffmpeg(wav, "-c:a libmp3lame -metadata title='Blue Hour' -metadata artist=Mina", mp3));
    const HSTREAM h = BASS_StreamCreateFile(FALSE, mp3.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    EXPECT_STREQ(TAGS_Read(h, "%ARTI - %TITL (%YEAR) 100%"), "Mina - Blue Hour () 100%");
    EXPECT_STREQ(TAGS_Read(h, "%TRCK\n%TITL\n%ARTI\n%ALBM\n%GNRE\n%YEAR\n%CMNT\n%COMP\n%COPY"),
                 "\nBlue Hour\nMina\n\n\n\n\n\n");
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_STREQ(TAGS_Read(h, "%TITL"), "");
    const HSTREAM plain = BASS_StreamCreateFile(FALSE, wav.c_str(), 0, 0, BASS_STREAM_DECODE);
    EXPECT_STREQ(TAGS_Read(plain, "%TITL\n%ARTI"), "");
    BASS_StreamFree(plain);
}

}  // namespace
}  // namespace kestrune
