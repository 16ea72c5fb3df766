// Disc images with cue sheets: a row per track, each cut at the sheet's exact sample.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "engine/create_reader.h"
#include "engine/source_list.h"
#include "readers/cue_sheet.h"
#include "readers/embedded_cue_sheet.h"
#include "readers/source_type.h"
#include "tests/support/session_fixture.h"
#include "tests/support/test_support.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

// Three tracks: the first and second with a pregap (INDEX 00), the third starting 37 frames into a
// second and without a title.
constexpr const char* kSheet =
    "REM GENRE Rock\r\n"
    "REM DATE 1999\r\n"
    "PERFORMER \"The Band\"\r\n"
    "TITLE \"The Album\"\r\n"
    "FILE \"image.flac\" WAVE\r\n"
    "  TRACK 01 AUDIO\r\n"
    "    TITLE \"First\"\r\n"
    "    INDEX 00 00:00:00\r\n"
    "    INDEX 01 00:00:20\r\n"
    "  TRACK 02 AUDIO\r\n"
    "    TITLE \"Second\"\r\n"
    "    PERFORMER \"Guest\"\r\n"
    "    INDEX 00 00:01:30\r\n"
    "    INDEX 01 00:02:00\r\n"
    "  TRACK 03 AUDIO\r\n"
    "    INDEX 01 00:03:37\r\n";

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class CueTest : public test::SessionTest {
protected:
    CueTest() {
        config.settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
        config.settings.destSpecifiedFolder = dir.File("out");
        config.settings.id3TagType = TagSource::kFromSource;
        config.documentsFolder = dir.File("docs");
    }

    // A six-second image at rate with sheet beside it (FLAC, or as ext says WAV, WavPack or
    // TTA); its PCM in image.
    std::string MakeImage(int rate, test::Pcm& image, const std::string& sheet = kSheet,
                          const std::string& ext = "flac") {
        image = test::MakeSignal(rate, 2, static_cast<size_t>(rate) * 6);
        const std::string wav = dir.File(ext == "wav" ? "image.wav" : "source.wav");
        EXPECT_TRUE(test::WriteWav(wav, image));
        if (ext != "wav") {
            EXPECT_TRUE(test::Ffmpeg(wav, "-c:a " + (ext == "wv" ? std::string("wavpack") : ext),
                                     dir.File("image." + ext)));
            fs::remove(wav);
        }
        std::string named = sheet;
        if (const size_t at = named.find("image.flac"); at != std::string::npos)
            named.replace(at, 10, "image." + ext);
        WriteFile(dir.File("image.cue"), named);
        return dir.File("image.cue");
    }

    // Converts rows (one output each, or joined into mergePath).
    void Convert(std::vector<SourceFileEntry>& rows, const std::string& mergePath = {}) {
        std::vector<SourceFileEntry*> items;
        std::vector<int> numbers;
        for (SourceFileEntry& row : rows) {
            items.push_back(&row);
            numbers.push_back(static_cast<int>(numbers.size()));
        }
        RunDriver(items, numbers, FormatId::kFlac, !mergePath.empty(), mergePath);
    }
};

class ExactCuts : public CueTest,
                  public ::testing::WithParamInterface<std::tuple<int, const char*>> {};

TEST_P(ExactCuts, TracksStartAndEndAtTheSheetsSamplesAndJoinBackIntoTheImage) {
    const auto [rate, ext] = GetParam();
    test::Pcm image;
    std::vector<SourceFileEntry> rows;
    ASSERT_TRUE(session.ProbeRows(MakeImage(rate, image, kSheet, ext), rows).opened);

    // A track starts by moving the image's reader there, not by decoding what lies before.
    const std::string imagePath = dir.File(std::string("image.") + ext);
    ReaderChoice choice = CreateReader(imagePath, SourceTypeOf(imagePath), 0, ReaderUse::kDecode,
                                       ReaderTry::kDedicatedFirst, ReaderContext{});
    ASSERT_TRUE(choice.reader);
    ASSERT_TRUE(choice.reader->SeekFrame(rate));
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
    ASSERT_GT(choice.reader->Read(left.data(), right.data()), 0);
    EXPECT_EQ(left[0], image.samples[2 * static_cast<size_t>(rate)]);
    EXPECT_EQ(right[7], image.samples[2 * static_cast<size_t>(rate + 7) + 1]);
    choice.reader->Close();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(ColumnTextsOf(rows[0]).file, "01 - First");
    EXPECT_EQ(ColumnTextsOf(rows[2]).file, "03 - Track 03");
    EXPECT_EQ(ColumnTextsOf(rows[1]).sampleRate, std::to_string(rate) + " Hz");
    EXPECT_EQ(rows[0].duration, 2);
    EXPECT_EQ(rows[1].duration, 1);

    Convert(rows);
    // The pregap of track 2 (INDEX 00) stays at the end of track 1; the one before track 1 starts
    // it.
    const size_t cuts[] = {0, static_cast<size_t>(2 * rate),
                           static_cast<size_t>(3 * rate + 37 * rate / 75), image.Frames()};
    const char* names[] = {"01 - First.flac", "02 - Second.flac", "03 - Track 03.flac"};
    std::vector<int16_t> joined;
    for (size_t i = 0; i < 3; ++i) {
        test::Pcm track;
        ASSERT_TRUE(test::FfDecode(dir.File("out/") + names[i], track)) << names[i];
        EXPECT_EQ(track.Frames(), cuts[i + 1] - cuts[i]) << names[i];
        EXPECT_TRUE(std::equal(track.samples.begin(), track.samples.end(),
                               image.samples.begin() + static_cast<long>(cuts[i] * 2)))
            << names[i];
        joined.insert(joined.end(), track.samples.begin(), track.samples.end());
    }
    EXPECT_EQ(joined, image.samples);

    // The tags come from the sheet.
    const test::ProbeInfo second = test::FfProbe(dir.File("out/02 - Second.flac"));
    EXPECT_EQ(second.Tag("title"), "Second");
    EXPECT_EQ(second.Tag("artist"), "Guest");
    EXPECT_EQ(second.Tag("album"), "The Album");
    EXPECT_EQ(second.Tag("genre"), "Rock");
    EXPECT_EQ(second.Tag("date"), "1999");
    EXPECT_EQ(test::FfProbe(dir.File("out/03 - Track 03.flac")).Tag("artist"), "The Band");

    // Convert to One joins the tracks back into the image.
    Convert(rows, dir.File("joined.flac"));
    test::Pcm whole;
    ASSERT_TRUE(test::FfDecode(dir.File("joined.flac"), whole));
    EXPECT_EQ(whole.samples, image.samples);
    // Its album is the sheet's disc.
    const test::ProbeInfo disc = test::FfProbe(dir.File("joined.flac"));
    EXPECT_EQ(disc.Tag("album"), "The Album");
    EXPECT_EQ(disc.Tag("genre"), "Rock");
}

INSTANTIATE_TEST_SUITE_P(Rates, ExactCuts,
                         ::testing::Values(std::make_tuple(44100, "flac"),
                                           std::make_tuple(48000, "wav"),
                                           std::make_tuple(96000, "wv"),
                                           std::make_tuple(44100, "tta")));

// A track of a 24-bit image keeps its 24 bits, cut at the same samples.
TEST_F(CueTest, TrackOfAWideImageKeepsItsBits) {
    const std::string image = dir.File("image.flac");
    ASSERT_EQ(test::Run("ffmpeg -v error -nostdin -y -f lavfi -i "
                        "\"aevalsrc=0.5*sin(2*PI*440*t)+0.02*random(0):s=96000:d=6\" -ac 2 "
                        "-c:a flac -sample_fmt s32 -bits_per_raw_sample 24 " +
                        test::Quote(image)),
              0);
    WriteFile(dir.File("image.cue"), kSheet);
    std::vector<SourceFileEntry> rows;
    ASSERT_TRUE(session.ProbeRows(dir.File("image.cue"), rows).opened);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(ColumnTextsOf(rows[2]).sampleRate, "96000 Hz, 24-bit");
    std::vector<SourceFileEntry> last{rows[2]};
    Convert(last);

    // The samples from 3 s and 37 frames on, as ffmpeg decodes them from either file.
    auto digest = [](const std::string& path, const std::string& filter) {
        std::string md5;
        test::Run("ffmpeg -v error -nostdin -i " + test::Quote(path) + filter +
                      " -c:a pcm_s32le -f md5 -",
                  &md5);
        return md5;
    };
    const std::string track = dir.File("out/03 - Track 03.flac");
    EXPECT_EQ(digest(track, ""),
              digest(image, " -af atrim=start_sample=" + std::to_string(3 * 96000 + 37 * 1280)));
    EXPECT_EQ(test::FfProbe(track).sampleRate, 96000);
    std::string bits;
    test::Run("ffprobe -v error -show_entries stream=bits_per_raw_sample -of csv=p=0 " +
                  test::Quote(track),
              &bits);
    EXPECT_EQ(bits, "24\n");

    // Joined again, with a 16-bit file after them, the tracks are the image; the file's
    // samples keep their values in the wider output.
    test::Pcm tail = test::MakeSignal(96000, 2, 9600);
    ASSERT_TRUE(test::WriteWav(dir.File("tail.wav"), tail));
    std::vector<SourceFileEntry> withTail = rows;
    std::vector<SourceFileEntry> tailRow;
    ASSERT_TRUE(session.ProbeRows(dir.File("tail.wav"), tailRow).opened);
    withTail.push_back(tailRow.at(0));
    Convert(withTail, dir.File("joined.flac"));
    EXPECT_EQ(digest(dir.File("joined.flac"), " -af atrim=end_sample=576000"), digest(image, ""));
    EXPECT_EQ(digest(dir.File("joined.flac"), " -af atrim=start_sample=576000"),
              digest(dir.File("tail.wav"), ""));
}

TEST_F(CueTest, SkipAndLimitApplyToATrackAsToAFile) {
    test::Pcm image;
    std::vector<SourceFileEntry> rows;
    ASSERT_TRUE(session.ProbeRows(MakeImage(44100, image), rows).opened);
    config.settings.enableSkipLength = true;
    config.settings.skipLength = 500;
    config.settings.enableConvertLength = true;
    config.settings.convertLength = 250;
    std::vector<SourceFileEntry> second{rows[1]};
    Convert(second);
    test::Pcm track;
    ASSERT_TRUE(test::FfDecode(dir.File("out/02 - Second.flac"), track));
    ASSERT_EQ(track.Frames(), 44100u / 4);
    const size_t from = (2 * 44100 + 44100 / 2) * 2;
    EXPECT_TRUE(std::equal(track.samples.begin(), track.samples.end(),
                           image.samples.begin() + static_cast<long>(from)));
}

TEST_F(CueTest, SheetOfOneFilePerTrackCutsEachFromItsOwnFile) {
    const test::Pcm a = test::MakeSignal(44100, 2, 44100, 1),
                    b = test::MakeSignal(44100, 2, 66150, 2);
    ASSERT_TRUE(test::WriteWav(dir.File("a.wav"), a));
    ASSERT_TRUE(test::WriteWav(dir.File("b.wav"), b));
    WriteFile(dir.File("tracks.cue"),
              "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
              "FILE \"b.wav\" WAVE\nTRACK 02 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:00:30\n");
    std::vector<SourceFileEntry> rows;
    ASSERT_TRUE(session.ProbeRows(dir.File("tracks.cue"), rows).opened);
    ASSERT_EQ(rows.size(), 2u);
    Convert(rows);
    test::Pcm one, two;
    ASSERT_TRUE(test::FfDecode(dir.File("out/01 - Track 01.flac"), one));
    ASSERT_TRUE(test::FfDecode(dir.File("out/02 - Track 02.flac"), two));
    // Track 2's pregap begins its file: it goes with track 2 rather than being lost.
    EXPECT_EQ(one.samples, a.samples);
    EXPECT_EQ(two.samples, b.samples);
    EXPECT_EQ(rows[1].duration, 1);
}

// A FLAC CUESHEET block for 44.1 kHz with tracks starting at the given samples and the
// lead-out at end.
std::string FlacCueBlock(const std::vector<uint64_t>& starts, uint64_t end) {
    auto be = [](uint64_t v, int bytes) {
        std::string out;
        for (int i = bytes - 1; i >= 0; --i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        return out;
    };
    std::string body(128, '\0');
    body += be(88200, 8) + std::string(1, '\x80') + std::string(258, '\0');
    body.push_back(static_cast<char>(starts.size() + 1));
    for (size_t i = 0; i <= starts.size(); ++i) {
        const bool leadOut = i == starts.size();
        body += be(leadOut ? end : starts[i], 8);
        body.push_back(static_cast<char>(leadOut ? 170 : i + 1));
        body += std::string(12, '\0') + std::string(14, '\0');
        body.push_back(leadOut ? 0 : 1);
        if (!leadOut)
            body += be(0, 8) + std::string(1, '\x01') + std::string(3, '\0');
    }
    return std::string(1, '\x05') + be(body.size(), 3) + body;
}

// A disc image with its sheet inside: as a tag of a FLAC or WavPack file, or as FLAC's own
// block.
struct Embedding {
    const char* name;
    const char* extension;
    bool block;
};

class EmbeddedSheets : public CueTest, public ::testing::WithParamInterface<Embedding> {};

TEST_P(EmbeddedSheets, ListTheImagesTracksAndCutThem) {
    const Embedding& e = GetParam();
    const test::Pcm image = test::MakeSignal(44100, 2, 44100 * 6);
    ASSERT_TRUE(test::WriteWav(dir.File("image.wav"), image));
    const std::string path = dir.File(std::string("image") + e.extension);
    const std::string codec = e.extension == std::string(".wv") ? "wavpack" : "flac";
    ASSERT_TRUE(test::Ffmpeg(
        dir.File("image.wav"),
        "-c:a " + codec + (e.block ? std::string() : " -metadata CUESHEET=" + test::Quote(kSheet)),
        path));
    fs::remove(dir.File("image.wav"));
    const uint64_t third = 3 * 44100 + 37 * 588;
    if (e.block) {
        std::ifstream in(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        bytes.insert(4 + 4 + 34, FlacCueBlock({0, 2 * 44100, third}, 6 * 44100));
        WriteFile(path, bytes);
    }
    std::vector<SourceFileEntry> rows;
    ASSERT_TRUE(session.ProbeRows(path, rows).opened);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(ColumnTextsOf(rows[1]).file, e.block ? "02 - Track 02" : "02 - Second");
    std::vector<SourceFileEntry> last{rows[2]};
    Convert(last);
    test::Pcm track;
    ASSERT_TRUE(test::FfDecode(dir.File("out/") + ColumnTextsOf(rows[2]).file + ".flac", track));
    ASSERT_EQ(track.Frames(), image.Frames() - third);
    EXPECT_TRUE(std::equal(track.samples.begin(), track.samples.end(),
                           image.samples.begin() + static_cast<long>(third * 2)));
}

INSTANTIATE_TEST_SUITE_P(All, EmbeddedSheets,
                         ::testing::Values(Embedding{"FlacTag", ".flac", false},
                                           Embedding{"FlacBlock", ".flac", true},
                                           Embedding{"WavPackTag", ".wv", false}),
                         [](const auto& test) { return std::string(test.param.name); });

// Found by fuzzing: a CUESHEET block whose track offset and index position overflowed when
// added. The block is refused; the file lists as it would without it.
TEST(HostileCueBlock, PositionsBeyondAnyImageRefuseTheBlock) {
    CueSheet sheet;
    EXPECT_FALSE(ReadFlacCueBlock(
        std::string(KESTRUNE_SOURCE_DIR) + "/tests/data/hostile/flac_cue_block_index_overflow.flac",
        sheet));
}

// What a sheet says in any of its encodings.
struct Encoding {
    const char* name;
    std::string (*encode)(const std::string& utf8);
};

std::string Utf16(const std::string& utf8, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    // The sheet's text is Latin-1 letters only: one unit each.
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xC0) {
            c = ((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
        }
        const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

std::string Latin1(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0xC0)
            c = ((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
        out.push_back(static_cast<char>(c));
    }
    return out;
}

const Encoding kEncodings[] = {
    {"Utf8", [](const std::string& s) { return s; }},
    {"Utf8WithBom", [](const std::string& s) { return "\xEF\xBB\xBF" + s; }},
    {"Utf16Le", [](const std::string& s) { return Utf16(s, false); }},
    {"Utf16Be", [](const std::string& s) { return Utf16(s, true); }},
    {"Latin1", Latin1},
};

class SheetEncodings : public ::testing::TestWithParam<Encoding> {};

TEST_P(SheetEncodings, GiveTheSameTitles) {
    const std::string sheet =
        "PERFORMER \"Bj\xC3\xB6rk \xC3\x86gir\"\n"
        "FILE \"Caf\xC3\xA9.wav\" WAVE\n"
        "TRACK 01 AUDIO\nTITLE \"D\xC3\xA9j\xC3\xA0 vu\"\nINDEX 01 00:00:00\n";
    const CueParse parsed = ParseCueSheet(GetParam().encode(sheet));
    ASSERT_EQ(parsed.error, CueError::kNone);
    EXPECT_EQ(parsed.sheet.performer, "Bj\xC3\xB6rk \xC3\x86gir");
    ASSERT_EQ(parsed.sheet.tracks.size(), 1u);
    EXPECT_EQ(parsed.sheet.tracks[0].title, "D\xC3\xA9j\xC3\xA0 vu");
    EXPECT_EQ(parsed.sheet.tracks[0].file, "Caf\xC3\xA9.wav");
}

INSTANTIATE_TEST_SUITE_P(All, SheetEncodings, ::testing::ValuesIn(kEncodings),
                         [](const auto& test) { return std::string(test.param.name); });

// A sheet that cannot be cut: it fails when it is added, says why, and leaves nothing.
struct BadSheet {
    const char* name;
    void (*make)(const std::string& path);
    Failure failure;
};

std::string Repeated(const std::string& text, size_t times) {
    std::string out;
    out.reserve(text.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += text;
    return out;
}

const BadSheet kBadSheets[] = {
    {"MissingFile",
     [](const std::string& p) {
         WriteFile(p, "FILE \"gone.flac\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
     },
     {FailureReason::kSheetFileMissing, "gone.flac"}},
    {"Empty", [](const std::string& p) { WriteFile(p, ""); }, {FailureReason::kSheetNoTracks, {}}},
    {"IndexPastTheEnd",
     [](const std::string& p) {
         WriteFile(p,
                   "FILE \"image.flac\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                   "TRACK 02 AUDIO\nINDEX 01 00:09:00\n");
     },
     {FailureReason::kTrackPastEnd, "2"}},
    {"HundredTracks",
     [](const std::string& p) {
         std::string sheet = "FILE \"image.flac\" WAVE\n";
         for (int i = 0; i < 100; ++i)
             sheet += "TRACK 01 AUDIO\nINDEX 01 " + std::to_string(i) + ":00:00\n";
         WriteFile(p, sheet);
     },
     {FailureReason::kSheetTooManyTracks, {}}},
    {"MillionTracks",
     [](const std::string& p) {
         WriteFile(p, "FILE \"image.flac\" WAVE\n" + Repeated("TRACK 01 AUDIO\n", 1000000));
     },
     {FailureReason::kSheetTooLarge, {}}},
    {"TwoGigabyteLine",
     [](const std::string& p) {
         // Sparse: the size is what a reader would face, the disk holds next to nothing.
         WriteFile(p, "REM COMMENT \"");
         fs::resize_file(p, uintmax_t{2} << 30);
     },
     {FailureReason::kSheetTooLarge, {}}},
};

class BadSheets : public CueTest, public ::testing::WithParamInterface<BadSheet> {};

TEST_P(BadSheets, FailWhenAddedWithTheirReasonAndLeaveNothing) {
    test::Pcm image;
    MakeImage(44100, image);
    GetParam().make(dir.File("image.cue"));
    const auto before = test::FolderEntries(dir.path());
    SourceList list;
    EXPECT_EQ(list.AddSourceFile(session, dir.File("image.cue")), -1);
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(session.LastFailure(), GetParam().failure);
    EXPECT_EQ(test::FolderEntries(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(All, BadSheets, ::testing::ValuesIn(kBadSheets),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(CueTest, TrackThatEndsPastTheImageFailsWhenConvertedAndLeavesNoOutput) {
    // Within the image's last second, which probing cannot tell from its end.
    test::Pcm image;
    MakeImage(44100, image,
              "FILE \"image.flac\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
              "TRACK 02 AUDIO\nINDEX 01 00:06:40\n");
    std::vector<SourceFileEntry> rows;
    ASSERT_TRUE(session.ProbeRows(dir.File("image.cue"), rows).opened);
    ASSERT_EQ(rows.size(), 2u);
    Convert(rows);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(run.outcomes[i].end, ItemEnd::kFailed);
        EXPECT_EQ(run.outcomes[i].failure.reason, FailureReason::kTrackPastEnd);
    }
    EXPECT_TRUE(test::FolderEntries(dir.File("out")).empty());
}

}  // namespace
}  // namespace kestrune
