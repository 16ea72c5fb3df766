// Loudness as kestrune-cli measures it while converting: the ReplayGain tags, the loudness
// mode's gain and what --json reports, held against ffmpeg's EBU R128 meter.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::Quote;

std::string Cli() {
    return std::string(KESTRUNE_BIN_DIR) + "/kestrune-cli";
}

// What ffmpeg's ebur128 filter measures in a file: the integrated loudness and the sample peak
// of its summary (NaN where it printed none).
struct Metered {
    double lufs = NAN;
    double peakDb = NAN;
};

double After(const std::string& text, size_t from, const std::string& label) {
    const size_t at = text.find(label, from);
    if (at == std::string::npos)
        return NAN;
    std::istringstream in(text.substr(at + label.size()));
    double value = NAN;
    in >> value;
    return in ? value : NAN;
}

Metered FfMeter(const std::string& path) {
    std::string out;
    test::Run("ffmpeg -nostats -hide_banner -i " + Quote(path) +
                  " -af ebur128=peak=sample -f null - 2>&1",
              &out);
    const size_t summary = out.rfind("Summary:");
    if (summary == std::string::npos)
        return {};
    return {After(out, summary, "I:"), After(out, summary, "Peak:")};
}

// "+15.75 dB" as 15.75; NaN for no text.
double Db(const std::string& text) {
    return text.empty() ? NAN : std::stod(text);
}

// A test signal made by ffmpeg's lavfi sources, written as a 16-bit WAV file.
bool MakeSignal(const std::string& lavfi, const std::string& path, int channels = 2) {
    return test::Run("ffmpeg -nostdin -loglevel error -y -f lavfi -i " + Quote(lavfi) + " -ac " +
                     std::to_string(channels) + " -ar 44100 -c:a pcm_s16le " + Quote(path)) == 0;
}

class LoudnessTest : public ::testing::Test {
protected:
    // Converts files into the out folder with a private settings file; the file objects of
    // --json, in the order of the files.
    std::vector<QJsonObject> Convert(const std::string& args,
                                     const std::vector<std::string>& files) {
        std::string line = "timeout 300 " + Quote(Cli()) + " convert --settings " +
                           Quote(dir.File("settings.ini")) + " --json -o " +
                           Quote(dir.File("out")) + " " + args;
        for (const std::string& f : files)
            line += " " + Quote(f);
        std::string out;
        const int status = test::Run(line + " 2>/dev/null", &out);
        EXPECT_TRUE(status == 0 || status == 1) << line << " exited " << status;
        std::vector<QJsonObject> objects;
        std::istringstream in(out);
        for (std::string l; std::getline(in, l);) {
            const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(l)).object();
            if (o.value(QLatin1String("type")).toString() == QLatin1String("file"))
                objects.push_back(o);
        }
        EXPECT_EQ(objects.size(), files.size()) << out;
        return objects;
    }
    static std::string Output(const QJsonObject& o) {
        return o.value(QLatin1String("output")).toString().toStdString();
    }
    static QJsonValue Member(const QJsonObject& o, const char* key) {
        return o.value(QLatin1String(key));
    }

    test::TempDir dir;
};

// Every (lossless) output's track gain is the reference -18 LUFS less the loudness an independent
// meter finds in it, and its peak the meter's; --json says the same.
void ExpectTrackTags(const std::string& output, const QJsonObject& reported) {
    const Metered m = FfMeter(output);
    ASSERT_FALSE(std::isnan(m.lufs)) << output;
    const test::ProbeInfo info = test::FfProbe(output);
    const double gain = Db(info.Tag("replaygain_track_gain"));
    EXPECT_NEAR(gain, -18.0 - m.lufs, 0.2) << output << "\n" << info.tags;
    const double peak = Db(info.Tag("replaygain_track_peak"));
    EXPECT_NEAR(20 * std::log10(peak), m.peakDb, 0.2) << output;
    EXPECT_NEAR(reported.value(QLatin1String("loudness")).toDouble(), m.lufs, 0.2);
    EXPECT_NEAR(reported.value(QLatin1String("trackGain")).toDouble(), gain, 0.006);
}

struct Signal {
    const char* name;
    const char* lavfi;
    int channels;
};

class TrackGainTest : public LoudnessTest, public ::testing::WithParamInterface<Signal> {};

TEST_P(TrackGainTest, AgreesWithAnIndependentMeter) {
    const std::string source = dir.File(std::string(GetParam().name) + ".wav");
    ASSERT_TRUE(MakeSignal(GetParam().lavfi, source, GetParam().channels));
    const auto files = Convert("-f flac --replaygain track", {source});
    ASSERT_EQ(files.size(), 1u);
    ExpectTrackTags(Output(files[0]), files[0]);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TrackGainTest,
    ::testing::Values(Signal{"tone", "aevalsrc=0.1*sin(2*PI*997*t):d=10", 2},
                      Signal{"noise", "anoisesrc=d=10:c=pink:a=0.3:seed=7", 2},
                      Signal{"loud_mono", "aevalsrc=0.7*sin(2*PI*220*t):d=6", 1},
                      // Quiet passages fall under the relative gate.
                      Signal{"gated", "aevalsrc=0.3*sin(2*PI*440*t)*lt(mod(t\\,4)\\,2):d=12", 2}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(LoudnessTest, CorpusMusicAgreesWithAnIndependentMeter) {
    KESTRUNE_REQUIRE_CORPUS();
    const auto manifest = test::ReadCorpusManifest();
    std::vector<std::string> files;
    for (const fs::path& f : test::CorpusFiles()) {
        const auto it = manifest.find(f.filename().string());
        const std::string ext = f.extension().string();
        if (it != manifest.end() && it->second.duration >= 2.0 &&
            f.filename().string().find("silence") == std::string::npos &&
            (ext == ".wav" || ext == ".flac" || ext == ".mp3" || ext == ".ogg" || ext == ".mod"))
            files.push_back(f.string());
    }
    if (files.size() > 8)
        files.resize(8);
    ASSERT_FALSE(files.empty());
    int measured = 0;
    for (const QJsonObject& o : Convert("-f flac --replaygain track", files)) {
        if (Member(o, "status").toString() != QLatin1String("converted") ||
            Member(o, "loudness").isNull())
            continue;
        SCOPED_TRACE(Member(o, "source").toString().toStdString());
        ExpectTrackTags(Output(o), o);
        ++measured;
    }
    EXPECT_GE(measured, 3);
}

// An album's gain is the loudness of its files played one after the other, however many
// workers convert them; a folder of one file is an album of one.
class AlbumGainTest : public LoudnessTest, public ::testing::WithParamInterface<int> {};

TEST_P(AlbumGainTest, IsTheAlbumPlayedThrough) {
    fs::create_directories(dir.File("A"));
    fs::create_directories(dir.File("B"));
    const std::vector<std::string> files = {dir.File("A/1.wav"), dir.File("A/2.wav"),
                                            dir.File("B/1.wav")};
    ASSERT_TRUE(MakeSignal("aevalsrc=0.05*sin(2*PI*440*t):d=5", files[0]));
    ASSERT_TRUE(MakeSignal("anoisesrc=d=4:c=pink:a=0.4:seed=3", files[1]));
    ASSERT_TRUE(MakeSignal("aevalsrc=0.3*sin(2*PI*1000*t):d=3", files[2]));
    const auto out =
        Convert("-f flac --keep-tree --replaygain album -j " + std::to_string(GetParam()), files);
    ASSERT_EQ(out.size(), 3u);
    std::string played;
    test::Run("ffmpeg -nostats -hide_banner -i " + Quote(files[0]) + " -i " + Quote(files[1]) +
                  " -filter_complex '[0:a][1:a]concat=n=2:v=0:a=1,ebur128' -f null - 2>&1",
              &played);
    const double album = After(played, played.rfind("Summary:"), "I:");
    for (size_t i = 0; i < 3; ++i) {
        const test::ProbeInfo info = test::FfProbe(Output(out[i]));
        const double gain = Db(info.Tag("replaygain_album_gain"));
        if (i < 2)
            EXPECT_NEAR(gain, -18.0 - album, 0.2) << info.tags;
        else
            EXPECT_EQ(info.Tag("replaygain_album_gain"), info.Tag("replaygain_track_gain"));
        EXPECT_NEAR(Member(out[i], "albumGain").toDouble(), gain, 0.006);
    }
    EXPECT_EQ(test::Run("ls -A " + Quote(dir.File("out")) + " -R | grep -q kestrune-part"), 1);
}

INSTANTIATE_TEST_SUITE_P(Workers, AlbumGainTest, ::testing::Values(1, 2));

// A joined file is measured as one track on what went into it, and is an album of its own; the
// loudness mode brings each part to the target before it joins. Every file's --json object
// reports the joined file.
struct Join {
    const char* name;
    const char* args;
    bool album;
    bool loudnessMode;
};

class JoinedGainTest : public LoudnessTest, public ::testing::WithParamInterface<Join> {};

TEST_P(JoinedGainTest, AgreesWithAnIndependentMeter) {
    const std::vector<std::string> files = {dir.File("quiet.wav"), dir.File("loud.wav")};
    ASSERT_TRUE(MakeSignal("aevalsrc=0.05*sin(2*PI*440*t):d=4", files[0]));
    ASSERT_TRUE(MakeSignal("anoisesrc=d=3:c=pink:a=0.4:seed=5", files[1]));
    fs::create_directories(dir.File("out"));
    const std::string joined = dir.File("out/all.flac");
    const auto out = Convert("--to-one " + Quote(joined) + " " + GetParam().args, files);
    ASSERT_EQ(out.size(), 2u);
    for (const QJsonObject& o : out) {
        EXPECT_EQ(Output(o), joined);
        EXPECT_EQ(Member(o, "loudness"), Member(out[1], "loudness"));
    }
    ExpectTrackTags(joined, out[0]);
    const test::ProbeInfo info = test::FfProbe(joined);
    if (GetParam().album) {
        EXPECT_EQ(info.Tag("replaygain_album_gain"), info.Tag("replaygain_track_gain"));
        EXPECT_EQ(Member(out[0], "albumGain"), Member(out[0], "trackGain"));
    } else {
        EXPECT_EQ(info.Tag("replaygain_album_gain"), "") << info.tags;
    }
    if (GetParam().loudnessMode) {
        EXPECT_NEAR(FfMeter(joined).lufs, -16.0, 0.5);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, JoinedGainTest,
                         ::testing::Values(Join{"track", "--replaygain track", false, false},
                                           Join{"album_loudness",
                                                "--replaygain album --loudness -16", true, true}),
                         [](const auto& p) { return std::string(p.param.name); });

// Each format carries the gain under its own names, and the source's stale ReplayGain is gone.
class TagNamesTest : public LoudnessTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(TagNamesTest, CarryTheGainUnderTheFormatsNames) {
    const std::string wav = dir.File("tone.wav");
    const std::string source = dir.File("tagged.flac");
    ASSERT_TRUE(MakeSignal("aevalsrc=0.2*sin(2*PI*997*t):d=6", wav));
    ASSERT_TRUE(test::Ffmpeg(wav,
                             "-metadata REPLAYGAIN_TRACK_GAIN=\"+9.99 dB\" -metadata "
                             "REPLAYGAIN_ALBUM_GAIN=\"+9.99 dB\" -metadata R128_TRACK_GAIN=999",
                             source));
    const std::string format = GetParam();
    const auto files = Convert("-f " + format + " --replaygain track", {source});
    ASSERT_EQ(files.size(), 1u);
    const test::ProbeInfo info = test::FfProbe(Output(files[0]));
    // Measured on the audio that went to the encoder: the source's here.
    const double lufs = FfMeter(wav).lufs;
    EXPECT_EQ(info.Tag("replaygain_album_gain"), "") << info.tags;
    if (format == "opus") {
        // A Q7.8 gain towards -23 LUFS; Opus files carry no REPLAYGAIN_ tags.
        EXPECT_NEAR(std::stoi(info.Tag("r128_track_gain")) / 256.0, -23.0 - lufs, 0.2) << info.tags;
        EXPECT_EQ(info.Tag("replaygain_track_gain"), "") << info.tags;
    } else {
        EXPECT_NEAR(Db(info.Tag("replaygain_track_gain")), -18.0 - lufs, 0.2) << info.tags;
        EXPECT_NE(info.Tag("replaygain_track_peak"), "") << info.tags;
        EXPECT_EQ(info.Tag("r128_track_gain"), "") << info.tags;
    }
    // The file around the tags is whole.
    test::Pcm pcm;
    ASSERT_TRUE(test::FfDecode(Output(files[0]), pcm));
    EXPECT_NEAR(static_cast<double>(pcm.Frames()) / pcm.sampleRate, 6.0, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Formats, TagNamesTest,
                         ::testing::Values("mp3", "flac", "ogg", "m4a", "wma", "opus", "mka"),
                         [](const auto& p) { return std::string(p.param); });

// The loudness mode brings a quiet file to the target, and a peaky one only as far as its peak
// allows (-1 dBFS); the "Volume" figure is the gain applied.
TEST_F(LoudnessTest, LoudnessModeReachesTheTargetOrStopsAtThePeakLimit) {
    const std::string quiet = dir.File("quiet.wav");
    const std::string peaky = dir.File("peaky.wav");
    ASSERT_TRUE(MakeSignal("aevalsrc=0.02*sin(2*PI*997*t):d=8", quiet));
    // A faint tone with a click of half scale every second.
    ASSERT_TRUE(MakeSignal("aevalsrc=0.01*sin(2*PI*440*t)+0.5*lt(mod(t\\,1)\\,0.0005):d=8", peaky));
    const double before = FfMeter(quiet).lufs;
    const auto files = Convert("-f flac --loudness -16", {quiet, peaky});
    ASSERT_EQ(files.size(), 2u);
    const Metered q = FfMeter(Output(files[0]));
    EXPECT_NEAR(q.lufs, -16.0, 0.5);
    EXPECT_NEAR(Member(files[0], "volume").toDouble(), 100 * std::pow(10.0, (-16 - before) / 20),
                2.0);
    const Metered p = FfMeter(Output(files[1]));
    EXPECT_LE(p.peakDb, -0.95);
    EXPECT_GE(p.peakDb, -1.3);
    EXPECT_LT(p.lufs, -17.0);
}

// Silence has no loudness and a very short file none that can be gated: both convert, without
// a gain tag and without a gain.
TEST_F(LoudnessTest, SilentAndShortFilesConvertWithoutAGain) {
    const std::string silent = dir.File("silent.wav");
    const std::string shortTone = dir.File("short.wav");
    ASSERT_TRUE(MakeSignal("anullsrc=d=3", silent));
    ASSERT_TRUE(MakeSignal("aevalsrc=0.3*sin(2*PI*440*t):d=0.2", shortTone));
    for (const char* args :
         {"-f mp3 --replaygain track", "-f flac --replaygain album --loudness -18"}) {
        SCOPED_TRACE(args);
        const auto files = Convert(args, {silent, shortTone});
        ASSERT_EQ(files.size(), 2u);
        for (const QJsonObject& o : files) {
            EXPECT_EQ(Member(o, "status").toString(), QLatin1String("converted"));
            EXPECT_TRUE(Member(o, "loudness").isNull());
            EXPECT_TRUE(Member(o, "trackGain").isNull());
            EXPECT_DOUBLE_EQ(Member(o, "volume").toDouble(), 100.0);
            const test::ProbeInfo info = test::FfProbe(Output(o));
            EXPECT_EQ(info.tags.find("replaygain"), std::string::npos) << info.tags;
        }
        fs::remove_all(dir.File("out"));
    }
}

}  // namespace
}  // namespace kestrune
