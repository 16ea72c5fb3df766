#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "audio/utf8_text.h"
#include "common/byte_order.h"
#include "readers/wav_info_tags.h"
#include "tests/support/reader_checks.h"

// The largest single allocation of this program while a test watches: a declared chunk size
// must not become a buffer bigger than the file.
namespace {
std::atomic<bool> gWatching{false};
std::atomic<size_t> gLargest{0};
}  // namespace

void* operator new(size_t n) {
    if (gWatching.load(std::memory_order_relaxed) && n > gLargest.load())
        gLargest = n;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
// The pair of the operator new above (gcc cannot tell that it allocates with malloc).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace kestrune {
namespace {

using Bytes = std::vector<uint8_t>;

void Append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}

// One chunk: id, little-endian size, body and the pad byte of an odd body.
Bytes Chunk(const std::string& id, const Bytes& body, bool pad = true) {
    Bytes b;
    Append(b, id);
    AppendLe(b, body.size(), 4);
    b.insert(b.end(), body.begin(), body.end());
    if (pad && (body.size() & 1))
        b.push_back(0);
    return b;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
Bytes TextZ(const std::string& s) {
    Bytes b = Text(s);
    b.push_back(0);
    return b;
}

Bytes List(const std::string& type, const std::vector<Bytes>& subs) {
    Bytes body = Text(type);
    for (const Bytes& s : subs)
        body.insert(body.end(), s.begin(), s.end());
    return Chunk("LIST", body);
}

Bytes Disp(uint32_t type, const std::string& text) {
    Bytes body;
    AppendLe(body, type, 4);
    Append(body, text);
    body.push_back(0);
    return Chunk("DISP", body);
}

// A small valid WAV (8 kHz mono, 16 samples) with the given chunks after its data.
Bytes Wav(const std::vector<Bytes>& chunks) {
    Bytes fmt;
    const uint8_t f[16] = {1, 0, 1, 0, 0x40, 0x1F, 0, 0, 0x80, 0x3E, 0, 0, 2, 0, 16, 0};
    fmt.assign(f, f + 16);
    Bytes body = Text("WAVE");
    for (const Bytes& c : {Chunk("fmt ", fmt), Chunk("data", Bytes(32, 0))})
        body.insert(body.end(), c.begin(), c.end());
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    Bytes file = Text("RIFF");
    AppendLe(file, body.size(), 4);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

struct Tags {
    int result = -1;
    std::string t[9];  // title, artist, album, date, genre, comment, track, composer, copyright
};

Tags Read(const std::string& path) {
    TagSet read{"stale", "stale", "stale", "stale", "stale", "stale", "stale", "stale", "stale"};
    Tags tags;
    tags.result = ReadWavInfoTags(path, read);
    const std::string* fields[] = {&read.title, &read.artist,   &read.album,
                                   &read.year,  &read.genre,    &read.comment,
                                   &read.track, &read.composer, &read.copyright};
    for (int i = 0; i < 9; ++i)
        tags.t[i] = *fields[i];
    return tags;
}

Tags ReadBytes(const Bytes& bytes) {
    test::TempDir dir;
    const std::string path = dir.File("t.wav");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return Read(path);
}

struct InfoCase {
    const char* name;
    Bytes file;
    int result;
    std::vector<std::string> expected;  // the nine texts
};

std::vector<InfoCase> InfoCases() {
    std::vector<InfoCase> c;
    c.push_back(
        {"allTexts",
         Wav({List("INFO", {Chunk("INAM", TextZ("Heron")), Chunk("IART", TextZ("Ardea")),
                            Chunk("IPRD", TextZ("Shore")), Chunk("ICRD", TextZ("2011-05-04")),
                            Chunk("IGNR", TextZ("Jazz")), Chunk("ICMT", TextZ("Dawn")),
                            Chunk("ITRK", TextZ("3")), Chunk("ICOP", TextZ("CC")),
                            Chunk("ISFT", TextZ("Lavf")), Chunk("IENG", TextZ("Me"))})}),
         1,
         {"Heron", "Ardea", "Shore", "2011", "Jazz", "Dawn", "3", "", "CC"}});
    c.push_back({"genreNumberInParentheses",
                 Wav({List("INFO", {Chunk("IGNR", TextZ("(17)"))})}),
                 1,
                 {"", "", "", "", "Rock", "", "", "", ""}});
    c.push_back({"genreNumberOutOfRangeStays",
                 Wav({List("INFO", {Chunk("IGNR", TextZ("(200)"))})}),
                 1,
                 {"", "", "", "", "(200)", "", "", "", ""}});
    c.push_back({"genreByteAlone",
                 Wav({List("INFO", {Chunk("IGRE", Bytes{17})})}),
                 1,
                 {"", "", "", "", "Rock", "", "", "", ""}});
    c.push_back({"genreTextBeatsByte",
                 Wav({List("INFO", {Chunk("IGRE", Bytes{17}), Chunk("IGNR", TextZ("Jazz"))})}),
                 1,
                 {"", "", "", "", "Jazz", "", "", "", ""}});
    c.push_back({"shortDateKept",
                 Wav({List("INFO", {Chunk("ICRD", TextZ("1999"))})}),
                 1,
                 {"", "", "", "1999", "", "", "", "", ""}});
    c.push_back(
        {"dispTitleOnly", Wav({Disp(1, "Intro")}), 1, {"Intro", "", "", "", "", "", "", "", ""}});
    c.push_back({"infoTitleBeatsDisp",
                 Wav({Disp(1, "Intro"), List("INFO", {Chunk("INAM", TextZ("Real"))})}),
                 1,
                 {"Real", "", "", "", "", "", "", "", ""}});
    c.push_back(
        {"dispOfAnotherType", Wav({Disp(8, "Picture")}), 0, {"", "", "", "", "", "", "", "", ""}});
    // "Odd" without its zero: three bytes, then the pad byte before the next id.
    c.push_back({"oddSizeWithPad",
                 Wav({List("INFO", {Chunk("INAM", Text("Odd")), Chunk("IART", Text("Ibis"))})}),
                 1,
                 {"Odd", "Ibis", "", "", "", "", "", "", ""}});
    c.push_back(
        {"lowerCaseIdIgnored",
         Wav({List("INFO", {Chunk("inam", TextZ("hidden")), Chunk("IART", TextZ("Seen"))})}),
         1,
         {"", "Seen", "", "", "", "", "", "", ""}});
    c.push_back({"otherListSkippedWhole",
                 Wav({List("adtl", {Chunk("INAM", TextZ("Cue")), Chunk("labl", TextZ("x"))})}),
                 0,
                 {"", "", "", "", "", "", "", "", ""}});
    c.push_back({"laterInfoReplacesEarlier",
                 Wav({List("INFO", {Chunk("INAM", TextZ("One"))}),
                      List("INFO", {Chunk("IART", TextZ("Two"))})}),
                 1,
                 {"", "Two", "", "", "", "", "", "", ""}});
    c.push_back({"invalidUtf8Repaired",
                 Wav({List("INFO", {Chunk("INAM", TextZ("Caf\xE9"))})}),
                 1,
                 {"Caf\xEF\xBF\xBD", "", "", "", "", "", "", "", ""}});
    c.push_back({"noTags", Wav({}), 0, {"", "", "", "", "", "", "", "", ""}});
    Bytes notWave = Wav({List("INFO", {Chunk("INAM", TextZ("x"))})});
    std::memcpy(notWave.data() + 8, "AVI ", 4);
    c.push_back({"notWave", notWave, 0, {"", "", "", "", "", "", "", "", ""}});
    // A list that claims more than the file holds gives what it did hold.
    Bytes truncated =
        Wav({List("INFO", {Chunk("INAM", TextZ("Cut")), Chunk("IART", TextZ("Off"))})});
    truncated.resize(truncated.size() - 6);
    c.push_back({"truncatedList", truncated, 1, {"Cut", "", "", "", "", "", "", "", ""}});
    return c;
}

class WavInfo : public ::testing::TestWithParam<InfoCase> {};

TEST_P(WavInfo, ReadsTheInfoList) {
    const InfoCase& ic = GetParam();
    const Tags tags = ReadBytes(ic.file);
    EXPECT_EQ(tags.result, ic.result);
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(tags.t[i], ic.expected[i]) << i;
}

INSTANTIATE_TEST_SUITE_P(Files, WavInfo, ::testing::ValuesIn(InfoCases()),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(WavInfoTags, MissingFileGivesNothing) {
    const Tags tags = Read("/nonexistent/kestrune/none.wav");
    EXPECT_EQ(tags.result, 0);
    for (const auto& s : tags.t)
        EXPECT_EQ(s, "");
}

TEST(WavInfoTags, ReadsWhatFfmpegWrites) {
    test::TempDir dir;
    const std::string in = dir.File("in.wav"), out = dir.File("tagged.wav");
    ASSERT_TRUE(test::WriteWav(in, test::MakeSignal(8000, 1, 800)));
    ASSERT_EQ(test::Run("ffmpeg -v error -nostdin -i " + test::Quote(in) +
                        " -metadata title='Grey Heron' -metadata artist=Ardea -metadata "
                        "album=Shore -metadata genre=Ambient -metadata date=2011-05-04 "
                        "-metadata copyright=CC -metadata comment=Dawn " +
                        test::Quote(out)),
              0);
    const Tags tags = Read(out);
    EXPECT_EQ(tags.result, 1);
    EXPECT_EQ(tags.t[0], "Grey Heron");
    EXPECT_EQ(tags.t[1], "Ardea");
    EXPECT_EQ(tags.t[2], "Shore");
    EXPECT_EQ(tags.t[3], "2011");
    EXPECT_EQ(tags.t[4], "Ambient");
    EXPECT_EQ(tags.t[5], "Dawn");
    EXPECT_EQ(tags.t[8], "CC");
}

TEST(WavInfoTags, SurvivesDamagedFiles) {
    const Bytes original =
        Wav({Disp(1, "Intro"),
             List("INFO", {Chunk("INAM", TextZ("Heron")), Chunk("IGRE", Bytes{200}),
                           Chunk("IART", Text("Odd")), Chunk("ICRD", TextZ("2011"))})});
    test::Lcg random(3);
    for (int round = 0; round < 400; ++round) {
        const Tags tags = ReadBytes(
            test::Damaged(original, round, {.cutEvery = 4, .changes = 3, .from = 12}, random));
        EXPECT_TRUE(tags.result == 0 || tags.result == 1);
        for (const auto& s : tags.t)
            EXPECT_EQ(RepairUtf8(s), s);
        EXPECT_LE(tags.t[3].size(), 4u * 3);
    }
}

TEST(WavInfoTags, DeclaredSizesBeyondTheFileAllocateOnlyWhatItHolds) {
    // A LIST/INFO and a DISP chunk that claim 8 MiB, cut after their first item.
    Bytes info =
        Wav({List("INFO", {Chunk("INAM", TextZ("Heron")), Chunk("IART", TextZ("Ardea"))})});
    const size_t listAt = info.size() - 40;
    ASSERT_EQ(std::memcmp(&info[listAt], "LIST", 4), 0);
    info[listAt + 6] = 0x80;  // size 0x0080xxxx
    info.resize(info.size() - 14);
    Bytes disp = Wav({Disp(1, "Intro")});
    disp[disp.size() - 12] = 0x80;  // size 0x0080000A
    for (const auto& [bytes, title] :
         {std::pair<Bytes, std::string>{info, "Heron"}, {disp, "Intro"}}) {
        test::TempDir dir;
        const std::string path = dir.File("t.wav");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        TagSet tags;
        gLargest = 0;
        gWatching = true;
        const int found = ReadWavInfoTags(path, tags);
        gWatching = false;
        EXPECT_EQ(found, 1);
        EXPECT_EQ(tags.title, title);
        EXPECT_LT(gLargest.load(), 64u * 1024) << "for a file of " << bytes.size() << " bytes";
    }
}

TEST(WavInfoTags, ADispChunkCutAfterItsTypeIsAnEmptyTitle) {
    // The file ends right after the DISP chunk's type word: there is no text to read at all.
    Bytes bytes = Wav({Disp(1, "Intro")});
    bytes.resize(bytes.size() - 6);
    const Tags tags = ReadBytes(bytes);
    EXPECT_EQ(tags.result, 1);
    EXPECT_EQ(tags.t[0], "");
}

TEST(WavInfoTags, CorpusFilesGiveValidText) {
    KESTRUNE_REQUIRE_CORPUS();
    int seen = 0;
    for (const auto& file : test::CorpusFiles()) {
        if (file.extension() != ".wav")
            continue;
        ++seen;
        const Tags tags = Read(file.string());
        EXPECT_TRUE(tags.result == 0 || tags.result == 1) << file;
        for (const auto& s : tags.t)
            EXPECT_EQ(RepairUtf8(s), s) << file;
        EXPECT_EQ(tags.t[7], "") << file;
        // When ffprobe reads a plain ASCII title from the same file, it is the same title.
        const test::ProbeInfo probe = test::FfProbe(file.string());
        const std::string title = probe.Tag("title");
        const bool ascii =
            std::all_of(title.begin(), title.end(), [](char ch) { return ch > 0 && ch < 0x7F; });
        if (!title.empty() && ascii && !tags.t[0].empty()) {
            EXPECT_EQ(tags.t[0], title) << file;
        }
    }
    EXPECT_GT(seen, 0);
}

}  // namespace
}  // namespace kestrune
