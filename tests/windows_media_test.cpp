#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio/program_folder.h"
#include "readers/windows_media_reader.h"
#include "tests/support/lossy_match.h"
#include "tests/support/reader_checks.h"
#include "writers/windows_media_runtime.h"
#include "writers/windows_media_writer.h"
#include "writers/wma_codec_list.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

// The runtime from the program's folder (the test's own, build/bin), with its format list.
class WindowsMedia : public testing::Test {
protected:
    static void SetUpTestSuite() {
        layer = std::make_unique<WindowsMediaSupport>(RunningProgramFolder());
        ASSERT_TRUE(layer->Load());
        formats = &layer->Formats();
    }
    static void TearDownTestSuite() {
        formats = nullptr;
        layer.reset();
    }
    // Loaded once per suite: probing the encoder for every format takes a moment.
    static std::unique_ptr<WindowsMediaSupport> layer;
    static const WmaCodecList* formats;
};
std::unique_ptr<WindowsMediaSupport> WindowsMedia::layer;
const WmaCodecList* WindowsMedia::formats = nullptr;

class Runtime : public WindowsMedia {
public:
    static const WindowsMediaRuntime* Get() { return layer->Runtime(); }
};

const WmaCodecFormat* Find(const WmaCodecList& list, int rate, int bitRate, int channels) {
    for (const WmaCodecFormat& f : list)
        if (f.SampleRate() == rate && f.bitRate == bitRate && f.Channels() == channels)
            return &f;
    return nullptr;
}

struct Tags {
    std::string title = "Night Train – Nachtzug 夜行列車", artist = "Ann Exämple", album = "Rails",
                genre = "Ambient", year = "2024", comment = "made by a test",
                composer = "B. Composer", copyright = "(c) nobody";
    int track = 7;
};

// Writes pcm through WindowsMediaWriter in engine-sized blocks; the sample time after the
// last block goes to *endTime.
bool WriteWma(const std::string& path, const test::Pcm& pcm, const WmaCodecFormat& format,
              const Tags* tags = nullptr, int64_t* endTime = nullptr) {
    WindowsMediaWriter writer(Runtime::Get());
    writer.SetSampleRate(pcm.sampleRate);
    writer.SetChannels(pcm.channels);
    writer.SetBitRate(format.bitRate);
    writer.SetEncoderOptions(WmaEncoderOptions(format));
    if (tags)
        writer.SetTags(TagSet{tags->title, tags->artist, tags->album, tags->year, tags->genre,
                              tags->comment, std::to_string(tags->track), tags->composer,
                              tags->copyright});
    writer.SetPath(path);
    if (!writer.Open())
        return false;
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
    const size_t frames = pcm.Frames();
    for (size_t at = 0; at < frames; at += kBlockFrames) {
        const int n = static_cast<int>(std::min<size_t>(kBlockFrames, frames - at));
        for (int i = 0; i < n; ++i) {
            left[i] = pcm.samples[(at + i) * pcm.channels];
            right[i] = pcm.samples[(at + i) * pcm.channels + (pcm.channels - 1)];
        }
        if (!writer.Write(left.data(), pcm.channels == 2 ? right.data() : nullptr, n))
            return false;
    }
    if (endTime)
        *endTime = writer.SampleTime();
    writer.Close();
    return true;
}

// The container's duration, which the reader's length reports.
double FormatDuration(const std::string& path) {
    std::string out;
    test::Run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + test::Quote(path),
              &out);
    return std::atof(out.c_str());
}

// The runtime's reader factory, or none.
wm::CreateSyncReaderFn SyncReaders(const WindowsMediaRuntime* runtime) {
    return runtime ? runtime->createSyncReader : nullptr;
}

// --- the runtime itself ---------------------------------------------------------------------

TEST(WindowsMediaRuntime, MissingOrForeignLibraryIsNoRuntime) {
    test::TempDir empty;
    EXPECT_EQ(OpenWindowsMediaRuntime(empty.path().string()), nullptr);
    test::TempDir junk;
    std::ofstream(junk.File(kWindowsMediaLibrary)) << "not a library";
    EXPECT_EQ(OpenWindowsMediaRuntime(junk.path().string()), nullptr);
    // A real shared object without the entry points.
    test::TempDir foreign;
    fs::create_symlink(fs::path(KESTRUNE_BIN_DIR) / "libamrnb.so",
                       foreign.path() / kWindowsMediaLibrary);
    EXPECT_EQ(OpenWindowsMediaRuntime(foreign.path().string()), nullptr);
    // The layer itself, found in another folder.
    test::TempDir linked;
    fs::create_symlink(fs::path(KESTRUNE_BIN_DIR) / kWindowsMediaLibrary,
                       linked.path() / kWindowsMediaLibrary);
    const auto runtime = OpenWindowsMediaRuntime(linked.path().string());
    ASSERT_NE(runtime, nullptr);
    EXPECT_NE(runtime->createSyncReader, nullptr);
}

// A folder without the layer: no runtime, no formats, and readers and writers made without a
// runtime refuse to open (leaving nothing behind); the same program's folder still loads.
TEST(WindowsMediaSupport, AFolderWithoutTheLayerHasNoRuntime) {
    KESTRUNE_REQUIRE_CORPUS();
    test::TempDir empty;
    WindowsMediaSupport missing(empty.path().string());
    EXPECT_FALSE(missing.Load());
    EXPECT_FALSE(missing.Load());  // tried again, still missing
    EXPECT_EQ(missing.Runtime(), nullptr);
    EXPECT_TRUE(missing.Formats().empty());
    EXPECT_EQ(missing.RebuildFormats(), 0);
    WmaCodecList list(1);
    EXPECT_EQ(BuildWmaCodecList(nullptr, list), 0);
    EXPECT_TRUE(list.empty());
    WindowsMediaReader reader(SyncReaders(missing.Runtime()));
    EXPECT_EQ(reader.Open(test::CorpusDir() / "mutagen__tests_data_issue_29.wma", 0), 0);
    WindowsMediaWriter writer(missing.Runtime());
    writer.SetSampleRate(44100);
    writer.SetChannels(2);
    writer.SetPath(empty.File("out.wma"));
    EXPECT_EQ(writer.Open(), 0);
    EXPECT_FALSE(fs::exists(empty.File("out.wma")));
    WindowsMediaSupport present(RunningProgramFolder());
    EXPECT_TRUE(present.Load());
}

// Sessions on several threads share one: the runtime is loaded once, with its list.
TEST(WindowsMediaSupport, LoadsOnceForEveryThread) {
    // The test program lives in build/bin, beside the layer.
    WindowsMediaSupport shared(RunningProgramFolder());
    std::vector<const WindowsMediaRuntime*> seen(4, nullptr);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i)
        threads.emplace_back([&, i] {
            if (shared.Load())
                seen[i] = shared.Runtime();
        });
    for (std::thread& t : threads)
        t.join();
    ASSERT_NE(seen[0], nullptr);
    for (const WindowsMediaRuntime* r : seen)
        EXPECT_EQ(r, seen[0]);
    EXPECT_FALSE(shared.Formats().empty());
    EXPECT_TRUE(shared.Load());
    EXPECT_EQ(shared.Runtime(), seen[0]);
}

// --- the format list ------------------------------------------------------------------------

TEST_F(WindowsMedia, FormatListIsOrderedAndFreeOfDuplicates) {
    ASSERT_FALSE(formats->empty());
    std::set<std::tuple<int, int, int>> seen;
    for (size_t i = 0; i < formats->size(); ++i) {
        const WmaCodecFormat& f = (*formats)[i];
        EXPECT_TRUE(f.mediaType.subtype == wm::kFormatTagWMAudioV8 ||
                    f.mediaType.subtype == wm::kFormatTagWMAudioV9);
        EXPECT_TRUE(f.Channels() == 1 || f.Channels() == 2);
        EXPECT_GT(f.bitRate, 0);
        EXPECT_TRUE(seen.insert({f.SampleRate(), f.bitRate, f.Channels()}).second)
            << f.SampleRate() << " " << f.bitRate << " " << f.Channels();
        if (i > 0) {
            const WmaCodecFormat& p = (*formats)[i - 1];
            EXPECT_TRUE(p.SampleRate() < f.SampleRate() ||
                        (p.SampleRate() == f.SampleRate() && p.bitRate <= f.bitRate));
        }
    }
    // What the automatic parameters ask for at the common rates is there.
    EXPECT_NE(Find(*formats, 44100, 128000, 2), nullptr);
    EXPECT_NE(Find(*formats, 48000, 192000, 2), nullptr);
    EXPECT_NE(Find(*formats, 44100, 48000, 1), nullptr);
    // A second build gives the same list.
    WmaCodecList again;
    ASSERT_EQ(BuildWmaCodecList(Runtime::Get(), again), 1);
    ASSERT_EQ(again.size(), formats->size());
    for (size_t i = 0; i < again.size(); ++i) {
        EXPECT_EQ(again[i].SampleRate(), (*formats)[i].SampleRate());
        EXPECT_EQ(again[i].bitRate, (*formats)[i].bitRate);
        EXPECT_EQ(again[i].Channels(), (*formats)[i].Channels());
    }
}

TEST_F(WindowsMedia, EveryListedFormatReallyEncodes) {
    test::TempDir dir;
    for (const WmaCodecFormat& f : *formats) {
        SCOPED_TRACE(std::to_string(f.SampleRate()) + " Hz " + std::to_string(f.bitRate) +
                     " bit/s " + std::to_string(f.Channels()) + " ch");
        const test::Pcm pcm =
            test::MakeSignal(f.SampleRate(), f.Channels(), static_cast<size_t>(f.SampleRate() / 4));
        const std::string path = dir.File("format.wma");
        ASSERT_TRUE(WriteWma(path, pcm, f));
        const test::ProbeInfo probe = test::FfProbe(path);
        ASSERT_TRUE(probe.ok);
        EXPECT_EQ(probe.formatName, "asf");
        EXPECT_EQ(probe.codecName, "wmav2");
        EXPECT_EQ(probe.sampleRate, f.SampleRate());
        EXPECT_EQ(probe.channels, f.Channels());
    }
}

WmaCodecFormat Synthetic(int rate, int bitRate, int channels) {
    WmaCodecFormat f;
    f.mediaType.majorType = wm::WmMajorType::Audio;
    f.mediaType.subtype = wm::kFormatTagWMAudioV8;
    f.mediaType.waveFormat.samplesPerSec = static_cast<uint32_t>(rate);
    f.mediaType.waveFormat.channels = static_cast<uint16_t>(channels);
    f.bitRate = bitRate;
    return f;
}

std::vector<std::tuple<int, int, int>> Triples(const WmaCodecList& list) {
    std::vector<std::tuple<int, int, int>> t;
    for (const WmaCodecFormat& f : list)
        t.emplace_back(f.SampleRate(), f.bitRate, f.Channels());
    return t;
}

TEST(WmaCodecList, InsertKeepsOrderAndDropsDuplicates) {
    WmaCodecList list;
    EXPECT_TRUE(InsertWmaFormat(list, Synthetic(44100, 128000, 2)));
    EXPECT_TRUE(InsertWmaFormat(list, Synthetic(22050, 32000, 2)));
    EXPECT_TRUE(InsertWmaFormat(list, Synthetic(44100, 64000, 2)));
    EXPECT_TRUE(InsertWmaFormat(list, Synthetic(44100, 128000, 1)));
    EXPECT_FALSE(InsertWmaFormat(list, Synthetic(44100, 128000, 2)));
    // The same rate and bit rate with the other channel count: still a duplicate, even though
    // it is not the first of the two entries.
    EXPECT_FALSE(InsertWmaFormat(list, Synthetic(44100, 128000, 1)));
    EXPECT_TRUE(InsertWmaFormat(list, Synthetic(48000, 32000, 1)));
    using T = std::tuple<int, int, int>;
    EXPECT_EQ(Triples(list),
              (std::vector<T>{T{22050, 32000, 2}, T{44100, 64000, 2}, T{44100, 128000, 1},
                              T{44100, 128000, 2}, T{48000, 32000, 1}}));
}

// --- choosing a format ----------------------------------------------------------------------

struct AutoCase {
    int rate, channels, wantRate, wantBitRate;
};

class WmaAuto : public testing::TestWithParam<AutoCase> {};

TEST_P(WmaAuto, FollowsTheTable) {
    const AutoCase c = GetParam();
    const WmaParameters p = WmaAutoParameters(c.rate, c.channels);
    EXPECT_EQ(p.sampleRate, c.wantRate);
    EXPECT_EQ(p.bitRate, c.wantBitRate);
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, WmaAuto,
    testing::Values(AutoCase{8000, 1, 22050, 20000}, AutoCase{12000, 1, 22050, 20000},
                    AutoCase{12001, 1, 44100, 32000}, AutoCase{16000, 1, 44100, 32000},
                    AutoCase{16001, 1, 44100, 48000}, AutoCase{24000, 1, 44100, 48000},
                    AutoCase{32000, 1, 44100, 48000}, AutoCase{44100, 1, 44100, 48000},
                    AutoCase{96000, 1, 44100, 48000}, AutoCase{8000, 2, 22050, 32000},
                    AutoCase{12000, 2, 22050, 32000}, AutoCase{12001, 2, 44100, 48000},
                    AutoCase{16000, 2, 44100, 48000}, AutoCase{16001, 2, 44100, 64000},
                    AutoCase{24000, 2, 44100, 64000}, AutoCase{24001, 2, 44100, 96000},
                    AutoCase{32000, 2, 44100, 96000}, AutoCase{32001, 2, 44100, 128000},
                    AutoCase{44100, 2, 44100, 128000}, AutoCase{44101, 2, 48000, 192000},
                    AutoCase{48000, 2, 48000, 192000}, AutoCase{22050, 6, 44100, 64000}),
    [](const testing::TestParamInfo<AutoCase>& test) {
        return std::to_string(test.param.rate) + "Hz_" + std::to_string(test.param.channels) + "ch";
    });

struct ChooseCase {
    const char* name;
    int rate, bitRate, channels;
    bool found;
    int gotRate, gotBitRate, gotChannels;
};

// A list of the runtime's shape: stereo and mono at several rates.
WmaCodecList ChoiceList() {
    WmaCodecList list;
    for (auto [r, b, c] : std::vector<std::tuple<int, int, int>>{{22050, 20000, 1},
                                                                 {22050, 32000, 2},
                                                                 {32000, 40000, 2},
                                                                 {44100, 32000, 1},
                                                                 {44100, 48000, 1},
                                                                 {44100, 64000, 2},
                                                                 {44100, 96000, 2},
                                                                 {44100, 128000, 2},
                                                                 {44100, 160000, 2},
                                                                 {44100, 192000, 2},
                                                                 {48000, 64000, 1},
                                                                 {48000, 128000, 2},
                                                                 {48000, 192000, 2}})
        InsertWmaFormat(list, Synthetic(r, b, c));
    return list;
}

class WmaChoose : public testing::TestWithParam<ChooseCase> {};

TEST_P(WmaChoose, PicksTheNearestFormat) {
    const ChooseCase c = GetParam();
    const WmaCodecList list = ChoiceList();
    const WmaChoice choice = ChooseWmaFormat(list, c.rate, c.bitRate, c.channels);
    ASSERT_EQ(choice.found, c.found);
    if (!c.found) {
        EXPECT_EQ(choice.format, nullptr);
        return;
    }
    ASSERT_NE(choice.format, nullptr);
    EXPECT_EQ(choice.format->SampleRate(), c.gotRate);
    EXPECT_EQ(choice.format->bitRate, c.gotBitRate);
    EXPECT_EQ(choice.format->Channels(), c.gotChannels);
    EXPECT_EQ(choice.bitRate, c.gotBitRate);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, WmaChoose,
    testing::Values(ChooseCase{"Exact", 44100, 128000, 2, true, 44100, 128000, 2},
                    ChooseCase{"NearerBelow", 44100, 100000, 2, true, 44100, 96000, 2},
                    ChooseCase{"NearerAbove", 44100, 120000, 2, true, 44100, 128000, 2},
                    ChooseCase{"TieGoesUp", 44100, 144000, 2, true, 44100, 160000, 2},
                    ChooseCase{"AboveEveryBitRate", 44100, 320000, 2, true, 44100, 192000, 2},
                    ChooseCase{"BelowEveryBitRate", 44100, 8000, 2, true, 44100, 64000, 2},
                    ChooseCase{"MissingRateTakesNextHigher", 24000, 32000, 2, true, 32000, 40000,
                               2},
                    ChooseCase{"MonoOnlyAmongMono", 44100, 64000, 1, true, 44100, 48000, 1},
                    ChooseCase{"AboveEveryRate", 96000, 128000, 1, true, 48000, 64000, 1},
                    ChooseCase{"NoSuchChannels", 44100, 128000, 6, false, 0, 0, 0},
                    ChooseCase{"Automatic48kStereo", 48000, 192000, 2, true, 48000, 192000, 2}),
    [](const testing::TestParamInfo<ChooseCase>& test) { return test.param.name; });

TEST(WmaChoose, MissingRateFallsBackToTheLastStereoFormatBelowIt) {
    // No stereo format at 48000 Hz or above: the last stereo one below it in list order.
    WmaCodecList list = ChoiceList();
    std::erase_if(list, [](const WmaCodecFormat& f) { return f.SampleRate() == 48000; });
    const WmaParameters wanted = WmaAutoParameters(48000, 2);
    const WmaChoice choice = ChooseWmaFormat(list, wanted.sampleRate, wanted.bitRate, 2);
    ASSERT_TRUE(choice.found);
    EXPECT_EQ(choice.format, &list[list.size() - 1]);
    EXPECT_EQ(choice.bitRate, 192000);
    EXPECT_EQ(ChooseWmaFormat(WmaCodecList{}, 44100, 128000, 2).found, false);
}

TEST_F(WindowsMedia, AutomaticChoiceFromTheRuntimesList) {
    const WmaParameters wanted = WmaAutoParameters(48000, 2);
    const WmaChoice choice = ChooseWmaFormat(*formats, wanted.sampleRate, wanted.bitRate, 2);
    ASSERT_TRUE(choice.found);
    EXPECT_EQ(choice.format->SampleRate(), 48000);
    EXPECT_EQ(choice.bitRate, 192000);
    EXPECT_EQ(choice.format->Channels(), 2);
}

// --- the writer -----------------------------------------------------------------------------

struct WriteCase {
    const char* ext;
    int sourceRate, sourceChannels;
    int formatRate, formatBitRate, formatChannels;
};

class WindowsMediaOutput : public WindowsMedia, public testing::WithParamInterface<WriteCase> {};

TEST_P(WindowsMediaOutput, FfprobeReadsWmav2WithTheTags) {
    const WriteCase c = GetParam();
    const WmaCodecFormat* format = Find(*formats, c.formatRate, c.formatBitRate, c.formatChannels);
    ASSERT_NE(format, nullptr);
    test::TempDir dir;
    const std::string path = dir.File(std::string("out.") + c.ext);
    const double seconds = 1.5;
    const test::Pcm pcm = test::MakeSignal(c.sourceRate, c.sourceChannels,
                                           static_cast<size_t>(c.sourceRate * seconds));
    const Tags tags;
    int64_t endTime = 0;
    ASSERT_TRUE(WriteWma(path, pcm, *format, &tags, &endTime));
    EXPECT_NEAR(static_cast<double>(endTime), seconds * 1e7, 2e4);

    const test::ProbeInfo probe = test::FfProbe(path);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.formatName, "asf");
    EXPECT_EQ(probe.codecName, "wmav2");
    EXPECT_EQ(probe.sampleRate, c.formatRate);
    EXPECT_EQ(probe.channels, c.formatChannels);
    EXPECT_EQ(probe.Tag("title"), tags.title);
    EXPECT_EQ(probe.Tag("artist"), tags.artist);
    EXPECT_EQ(probe.Tag("album_artist"), tags.artist);
    EXPECT_EQ(probe.Tag("album"), tags.album);
    EXPECT_EQ(probe.Tag("genre"), tags.genre);
    EXPECT_EQ(probe.Tag("comment"), tags.comment);
    EXPECT_EQ(probe.Tag("composer"), tags.composer);
    EXPECT_EQ(probe.Tag("copyright"), tags.copyright);
    EXPECT_EQ(probe.Tag("track"), "7");
    EXPECT_EQ(probe.Tag("wm/year"), tags.year);

    // The decoded length is the source's, give or take the codec's last frame.
    test::Pcm decoded;
    ASSERT_TRUE(test::FfDecode(path, decoded));
    EXPECT_NEAR(static_cast<double>(decoded.Frames()) / decoded.sampleRate, seconds, 0.1);
    if (c.sourceRate == c.formatRate && c.sourceChannels == c.formatChannels)
        test::ExpectFollowsSource(pcm, decoded, probe.codecName, probe.formatName);
}

INSTANTIATE_TEST_SUITE_P(
    Files, WindowsMediaOutput,
    testing::Values(WriteCase{"wma", 44100, 2, 44100, 128000, 2},
                    WriteCase{"wmv", 48000, 2, 48000, 192000, 2},
                    WriteCase{"asf", 22050, 1, 22050, 32000, 1},
                    // The runtime converts rate and channels to the chosen format.
                    WriteCase{"wma", 22050, 2, 44100, 64000, 2},
                    WriteCase{"wma", 48000, 1, 44100, 64000, 2},
                    WriteCase{"wma", 44100, 2, 32000, 48000, 1}),
    [](const testing::TestParamInfo<WriteCase>& test) {
        const WriteCase& c = test.param;
        return std::string(c.ext) + "_" + std::to_string(c.sourceRate) + "Hz_" +
               std::to_string(c.sourceChannels) + "ch_to_" + std::to_string(c.formatRate) + "Hz_" +
               std::to_string(c.formatChannels) + "ch";
    });

TEST_F(WindowsMedia, SampleTimeAdvancesByTruncatedHundredNanoseconds) {
    const WmaCodecFormat* format = Find(*formats, 44100, 128000, 2);
    ASSERT_NE(format, nullptr);
    test::TempDir dir;
    WindowsMediaWriter writer(Runtime::Get());
    writer.SetSampleRate(44100);
    writer.SetChannels(2);
    writer.SetBitRate(format->bitRate);
    writer.SetEncoderOptions(WmaEncoderOptions(*format));
    writer.SetPath(dir.File("time.wma"));
    ASSERT_EQ(writer.Open(), 1);
    const test::Pcm pcm = test::MakeSignal(44100, 1, 1000);
    EXPECT_EQ(writer.SampleTime(), 0);
    ASSERT_EQ(writer.Write(pcm.samples.data(), pcm.samples.data(), 1000), 1);
    EXPECT_EQ(writer.SampleTime(), 226757);
    ASSERT_EQ(writer.Write(pcm.samples.data(), pcm.samples.data(), 1000), 1);
    EXPECT_EQ(writer.SampleTime(), 2 * 226757);
    ASSERT_EQ(writer.Write(pcm.samples.data(), pcm.samples.data(), 0), 1);
    EXPECT_EQ(writer.SampleTime(), 2 * 226757);
    writer.Close();
    // A mono source given to a stereo output: both channels carry it.
    test::Pcm decoded;
    ASSERT_TRUE(test::FfDecode(dir.File("time.wma"), decoded));
    EXPECT_EQ(decoded.channels, 2);
}

TEST_F(WindowsMedia, WriterRefusesIncompleteSetUp) {
    const WmaCodecFormat* format = Find(*formats, 44100, 128000, 2);
    ASSERT_NE(format, nullptr);
    test::TempDir dir;
    struct Step {
        const char* name;
        bool mediaType, bitRate, path;
        int rate, channels;
    };
    for (const Step& s :
         {Step{"no media type", false, true, true, 44100, 2},
          Step{"no bit rate", true, false, true, 44100, 2},
          Step{"no path", true, true, false, 44100, 2}, Step{"no rate", true, true, true, 0, 2},
          Step{"six channels", true, true, true, 44100, 6}}) {
        WindowsMediaWriter writer(Runtime::Get());
        writer.SetSampleRate(s.rate);
        writer.SetChannels(s.channels);
        if (s.bitRate)
            writer.SetBitRate(format->bitRate);
        if (s.mediaType)
            writer.SetEncoderOptions(WmaEncoderOptions(*format));
        if (s.path)
            writer.SetPath(dir.File("never.wma"));
        EXPECT_EQ(writer.Open(), 0) << s.name;
        int16_t block[4] = {};
        EXPECT_EQ(writer.Write(block, block, 4), 0) << s.name;
        writer.Close();
        EXPECT_FALSE(fs::exists(dir.File("never.wma"))) << s.name;
    }
    WindowsMediaWriter badFolder(Runtime::Get());
    badFolder.SetSampleRate(44100);
    badFolder.SetChannels(2);
    badFolder.SetBitRate(format->bitRate);
    badFolder.SetEncoderOptions(WmaEncoderOptions(*format));
    badFolder.SetPath(dir.File("missing/out.wma"));
    EXPECT_EQ(badFolder.Open(), 0);
}

TEST_F(WindowsMedia, WriterReportsAFullDisk) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const WmaCodecFormat* format = Find(*formats, 44100, 128000, 2);
    ASSERT_NE(format, nullptr);
    WindowsMediaWriter writer(Runtime::Get());
    writer.SetSampleRate(44100);
    writer.SetChannels(2);
    writer.SetBitRate(format->bitRate);
    writer.SetEncoderOptions(WmaEncoderOptions(*format));
    writer.SetPath("/dev/full");
    ASSERT_EQ(writer.Open(), 1);
    const test::Pcm pcm = test::MakeSignal(44100, 1, kBlockFrames);
    bool failed = false;
    // A minute of audio: far more than the muxer and the output buffer hold back.
    for (int block = 0; block < 3000 && !failed; ++block)
        failed = writer.Write(pcm.samples.data(), pcm.samples.data(), kBlockFrames) == 0;
    EXPECT_TRUE(failed);
    writer.Close();
}

// --- the reader -----------------------------------------------------------------------------

TEST_F(WindowsMedia, ReadsBackWhatTheWriterWrote) {
    const WmaCodecFormat* format = Find(*formats, 44100, 128000, 2);
    ASSERT_NE(format, nullptr);
    test::TempDir dir;
    const std::string path = dir.File("round.wma");
    const test::Pcm pcm = test::MakeSignal(44100, 2, 44100 * 2);
    const Tags tags;
    ASSERT_TRUE(WriteWma(path, pcm, *format, &tags));

    WindowsMediaReader reader(SyncReaders(Runtime::Get()));
    ASSERT_EQ(reader.Open(path, 8000), 1);
    EXPECT_EQ(reader.GetSampleRate(), 44100);
    EXPECT_EQ(reader.GetChannels(), 2);
    EXPECT_EQ(reader.GetSourceChannels(), 2);
    EXPECT_EQ(reader.GetBitsPerSample(), 16);
    EXPECT_EQ(reader.GetDuration(), 2);
    EXPECT_EQ(reader.GetBitRate(), 128);
    TagSet got;
    EXPECT_EQ(reader.ReadTags(got), 1);
    EXPECT_EQ(got.title, tags.title);
    EXPECT_EQ(got.artist, tags.artist);
    EXPECT_EQ(got.album, tags.album);
    EXPECT_EQ(got.year, tags.year);
    EXPECT_EQ(got.genre, tags.genre);
    EXPECT_EQ(got.comment, tags.comment);
    EXPECT_EQ(got.track, "7");
    EXPECT_EQ(got.composer, tags.composer);
    EXPECT_EQ(got.copyright, tags.copyright);

    const test::Decoded d = test::Drain(reader);
    ASSERT_FALSE(d.blocks.empty());
    for (size_t i = 0; i + 1 < d.blocks.size(); ++i)
        EXPECT_EQ(d.blocks[i], kBlockFrames);
    test::Pcm ffmpeg;
    ASSERT_TRUE(test::FfDecode(path, ffmpeg));
    ASSERT_EQ(d.samples.size(), ffmpeg.samples.size());
    int worst = 0;
    for (size_t i = 0; i < d.samples.size(); ++i)
        worst = std::max(worst, std::abs(d.samples[i] - ffmpeg.samples[i]));
    EXPECT_LE(worst, 1);
    EXPECT_GT(reader.GetPosition(), 0);
    EXPECT_LE(reader.GetPosition(), reader.GetLength());
    reader.Close();
    EXPECT_EQ(reader.GetSampleRate(), 0);
}

struct FfmpegCase {
    const char* name;
    const char* ext;
    std::string args;  // encoding arguments after the inputs
    int rate, channels;
};

class WindowsMediaSource : public WindowsMedia, public testing::WithParamInterface<FfmpegCase> {};

TEST_P(WindowsMediaSource, DecodesFilesMadeByFfmpeg) {
    const FfmpegCase c = GetParam();
    test::TempDir dir;
    const std::string wav = dir.File("in.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(c.rate, c.channels, c.rate * 3 / 2)));
    const std::string path = dir.File(std::string("in.") + c.ext);
    ASSERT_EQ(test::Run("ffmpeg -v error -y -i " + test::Quote(wav) + " " + c.args +
                        " -metadata title=Tune -metadata artist=Someone -metadata track=07 " +
                        " -metadata WM/Year=1999 " + test::Quote(path)),
              0);
    const test::ProbeInfo probe = test::FfProbe(path);
    ASSERT_TRUE(probe.ok);

    WindowsMediaReader reader(SyncReaders(Runtime::Get()));
    ASSERT_EQ(reader.Open(path, 44100), 1);
    EXPECT_EQ(reader.GetSampleRate(), c.rate);
    EXPECT_EQ(reader.GetSourceChannels(), c.channels);
    EXPECT_NEAR(static_cast<double>(reader.GetLength()) / 1e7, FormatDuration(path), 0.002);
    TagSet got;
    reader.ReadTags(got);
    EXPECT_EQ(got.title, "Tune");
    EXPECT_EQ(got.artist, "Someone");
    EXPECT_EQ(got.track, "7");
    EXPECT_EQ(got.year, "1999");
    const test::Decoded d = test::Drain(reader);
    test::Pcm ffmpeg;
    ASSERT_TRUE(test::FfDecode(path, ffmpeg));
    EXPECT_EQ(d.Frames(), ffmpeg.Frames());
    EXPECT_NEAR(static_cast<double>(d.Frames()) / c.rate, probe.duration, 0.1);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, WindowsMediaSource,
    testing::Values(FfmpegCase{"Wmav2Stereo", "wma", "-c:a wmav2 -b:a 128k", 44100, 2},
                    FfmpegCase{"Wmav2Mono", "wma", "-c:a wmav2 -b:a 64k", 32000, 1},
                    FfmpegCase{"Wmav1Stereo", "wma", "-c:a wmav1 -b:a 96k", 22050, 2},
                    FfmpegCase{"Wmav1Mono", "asf", "-c:a wmav1 -b:a 48k", 44100, 1},
                    FfmpegCase{"VideoFirst", "wmv",
                               "-f lavfi -i testsrc=size=64x48:rate=10:duration=1.5 "
                               "-map 1:v -map 0:a -c:v wmv2 -c:a wmav2 -b:a 96k",
                               44100, 2}),
    [](const testing::TestParamInfo<FfmpegCase>& test) { return test.param.name; });

struct DownmixCase {
    const char* name;
    std::vector<int16_t> frame;
    int16_t left, right;
};

class WindowsMediaDownmix : public WindowsMedia, public testing::WithParamInterface<DownmixCase> {};

// PCM in ASF keeps the samples exact, so the folded stereo can be checked to the sample.
TEST_P(WindowsMediaDownmix, FoldsMoreThanTwoChannelsIntoStereo) {
    const DownmixCase c = GetParam();
    test::TempDir dir;
    test::Pcm pcm;
    pcm.sampleRate = 16000;
    pcm.channels = static_cast<int>(c.frame.size());
    const size_t frames = 5000;
    for (size_t i = 0; i < frames; ++i)
        pcm.samples.insert(pcm.samples.end(), c.frame.begin(), c.frame.end());
    ASSERT_TRUE(test::WriteWav(dir.File("multi.wav"), pcm));
    const std::string path = dir.File("multi.asf");
    ASSERT_EQ(test::Run("ffmpeg -v error -y -i " + test::Quote(dir.File("multi.wav")) +
                        " -c:a pcm_s16le " + test::Quote(path)),
              0);
    WindowsMediaReader reader(SyncReaders(Runtime::Get()));
    ASSERT_EQ(reader.Open(path, 44100), 1);
    EXPECT_EQ(reader.GetSourceChannels(), pcm.channels);
    EXPECT_EQ(reader.GetChannels(), 2);
    const test::Decoded d = test::Drain(reader);
    ASSERT_EQ(d.Frames(), frames);
    for (size_t i = 0; i < frames; ++i) {
        ASSERT_EQ(d.samples[2 * i], c.left) << i;
        ASSERT_EQ(d.samples[2 * i + 1], c.right) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, WindowsMediaDownmix,
    testing::Values(DownmixCase{"Six", {1000, 2000, 3000, 0, 100, 200}, 3221, 4321},
                    DownmixCase{"ThreeClipped", {30000, 30000, 10000}, 32767, 32767}),
    [](const testing::TestParamInfo<DownmixCase>& test) { return test.param.name; });

TEST_F(WindowsMedia, FilesWithoutAudioOrNotAsf) {
    test::TempDir dir;
    const std::string video = dir.File("video.wmv");
    ASSERT_EQ(test::Run("ffmpeg -v error -y -f lavfi -i testsrc=size=64x48:rate=10:duration=1 "
                        "-c:v wmv2 " +
                        test::Quote(video)),
              0);
    WindowsMediaReader reader(SyncReaders(Runtime::Get()));
    EXPECT_EQ(reader.Open(video, 44100), 0);
    EXPECT_EQ(reader.HasAudioStream(), 0);

    const std::string wav = dir.File("sound.wma");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 4410)));
    EXPECT_EQ(reader.Open(wav, 44100), 0);
    EXPECT_EQ(reader.HasAudioStream(), 1);
    EXPECT_EQ(reader.Open(dir.File("missing.wma"), 44100), 0);
    EXPECT_EQ(reader.HasAudioStream(), 1);
    int16_t block[kBlockFrames];
    EXPECT_EQ(reader.Read(block, block), 0);
}

TEST_F(WindowsMedia, CorpusFilesDecodeLikeFfmpeg) {
    KESTRUNE_REQUIRE_CORPUS();
    int decoded = 0;
    for (const fs::path& file : test::CorpusFiles()) {
        std::string ext = file.extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
        if (ext != ".wma" && ext != ".asf" && ext != ".wmv")
            continue;
        SCOPED_TRACE(file.filename().string());
        const test::ProbeInfo probe = test::FfProbe(file.string());
        WindowsMediaReader reader(SyncReaders(Runtime::Get()));
        const int opened = reader.Open(file.string(), 44100);
        if (!probe.ok) {
            EXPECT_EQ(opened, 0);
            continue;
        }
        ASSERT_EQ(opened, 1);
        ++decoded;
        EXPECT_EQ(reader.GetSampleRate(), probe.sampleRate);
        EXPECT_EQ(reader.GetSourceChannels(), probe.channels);
        EXPECT_NEAR(static_cast<double>(reader.GetLength()) / 1e7, FormatDuration(file.string()),
                    0.002);
        const test::Decoded d = test::Drain(reader);
        test::Pcm ffmpeg;
        if (test::FfDecode(file.string(), ffmpeg)) {
            EXPECT_EQ(d.Frames(), ffmpeg.Frames());
        }
    }
    EXPECT_GT(decoded, 0);
}

}  // namespace
}  // namespace kestrune
