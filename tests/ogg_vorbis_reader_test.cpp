#include <gtest/gtest.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "audio/downmix.h"
#include "readers/ogg_vorbis_reader.h"
#include "support/test_support.h"
#include "tests/support/reader_checks.h"

namespace kestrune {
namespace {

using namespace test;  // the reader checks

// Encodes with libvorbisenc so that the comments are exactly the ones given, in that order.
bool EncodeVorbis(const std::string& path, const Pcm& pcm,
                  const std::vector<std::string>& comments) {
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, pcm.channels, pcm.sampleRate, 0.3f) != 0) {
        vorbis_info_clear(&vi);
        return false;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    for (const std::string& c : comments)
        vorbis_comment_add(&vc, c.c_str());
    vorbis_dsp_state vd;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block vb;
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 4242);
    ogg_packet header, headerComment, headerCode;
    vorbis_analysis_headerout(&vd, &vc, &header, &headerComment, &headerCode);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &headerComment);
    ogg_stream_packetin(&os, &headerCode);

    std::FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr;
    ogg_page og;
    auto writePage = [&] {
        ok = ok && std::fwrite(og.header, 1, static_cast<size_t>(og.header_len), f) ==
                       static_cast<size_t>(og.header_len);
        ok = ok && std::fwrite(og.body, 1, static_cast<size_t>(og.body_len), f) ==
                       static_cast<size_t>(og.body_len);
    };
    while (ok && ogg_stream_flush(&os, &og))
        writePage();
    const size_t frames = pcm.Frames();
    size_t done = 0;
    for (bool last = false; ok && !last;) {
        const size_t n = std::min<size_t>(1024, frames - done);
        if (n == 0) {
            vorbis_analysis_wrote(&vd, 0);
            last = true;
        } else {
            float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(n));
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < pcm.channels; ++c)
                    buffer[c][i] =
                        pcm.samples[(done + i) * static_cast<size_t>(pcm.channels) + c] / 32768.0f;
            vorbis_analysis_wrote(&vd, static_cast<int>(n));
            done += n;
        }
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet op;
            while (vorbis_bitrate_flushpacket(&vd, &op)) {
                ogg_stream_packetin(&os, &op);
                while (ogg_stream_pageout(&os, &og))
                    writePage();
            }
        }
    }
    while (ok && ogg_stream_flush(&os, &og))
        writePage();
    if (f)
        ok = std::fclose(f) == 0 && ok;
    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return ok;
}

bool SoxDecode(const std::string& path, std::vector<int16_t>& out) {
    std::string raw;
    if (test::Run("sox -V1 " + test::Quote(path) + " -t raw -e signed -b 16 -L -", &raw) != 0)
        return false;
    out.resize(raw.size() / 2);
    std::memcpy(out.data(), raw.data(), out.size() * 2);
    return true;
}

// The reference fold of a decoded stream: six channels by the Vorbis mix, others by the
// shared table.
std::vector<int16_t> FoldVorbis(const std::vector<int16_t>& in, int channels) {
    if (channels <= 2)
        return in;
    std::vector<int16_t> out;
    for (size_t i = 0; i + static_cast<size_t>(channels) <= in.size(); i += channels) {
        const int16_t* s = &in[i];
        int16_t l, r;
        if (channels == 6) {
            const int32_t m = static_cast<int32_t>(static_cast<float>(s[1] + s[5]) * 0.707f);
            l = static_cast<int16_t>(std::clamp(s[0] + s[3] + m, -32768, 32767));
            r = static_cast<int16_t>(std::clamp(s[2] + s[4] + m, -32768, 32767));
        } else {
            DownmixFrame(channels, s, l, r);
        }
        out.push_back(l);
        out.push_back(r);
    }
    return out;
}

class OggChannels : public ::testing::TestWithParam<int> {};

TEST_P(OggChannels, DecodesLikeVorbisfileThroughSox) {
    const int channelCount = GetParam();
    TempDir dir;
    const std::string path = dir.File("t.ogg");
    const Pcm pcm = test::MakeSignal(44100, channelCount, 66150, 3);
    ASSERT_TRUE(EncodeVorbis(path, pcm, {"TITLE=Signal"}));
    std::vector<int16_t> expected;
    ASSERT_TRUE(SoxDecode(path, expected));

    OggVorbisReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    EXPECT_EQ(reader.GetSampleRate(), 44100);
    EXPECT_EQ(reader.GetSourceChannels(), channelCount);
    EXPECT_EQ(reader.GetChannels(), channelCount == 1 ? 1 : 2);
    EXPECT_EQ(reader.GetBitsPerSample(), 16);
    EXPECT_EQ(reader.GetLength(), 66150);
    EXPECT_EQ(reader.GetDuration(), 1);
    EXPECT_GT(reader.GetBitRate(), 0);
    EXPECT_EQ(reader.Version(), 0);

    // The most a single Read may deliver: a block for mono, else what 4096 bytes hold.
    const int most = channelCount == 1 ? 1152 : 4096 / (2 * channelCount);
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames), got;
    int largest = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        const int n = reader.Read(left.data(), channelCount == 1 ? nullptr : right.data());
        if (n <= 0)
            break;
        largest = std::max(largest, n);
        for (int i = 0; i < n; ++i) {
            got.push_back(left[static_cast<size_t>(i)]);
            if (channelCount > 1)
                got.push_back(right[static_cast<size_t>(i)]);
        }
    }
    // Vorbis packets of this signal hold 1024 samples, so mono stays below its limit.
    if (channelCount == 1)
        EXPECT_LE(largest, most);
    else
        EXPECT_EQ(largest, most);
    EXPECT_EQ(reader.GetPosition(), 66150);
    const std::vector<int16_t> want = FoldVorbis(expected, channelCount);
    ASSERT_EQ(got.size(), want.size());
    size_t mismatches = 0;
    for (size_t i = 0; i < want.size(); ++i)
        mismatches += got[i] != want[i];
    EXPECT_EQ(mismatches, 0u);
}

INSTANTIATE_TEST_SUITE_P(Counts, OggChannels, ::testing::Values(1, 2, 3, 6, 8),
                         [](const ::testing::TestParamInfo<int>& test) {
                             return std::to_string(test.param) + "ch";
                         });

TEST(OggVorbisReader, SixChannelMixExample) {
    const int16_t frame[6] = {1000, 2000, 3000, 100, 200, 0};
    int16_t l, r;
    MixVorbisSixChannels(frame, l, r);
    EXPECT_EQ(l, 2514);
    EXPECT_EQ(r, 4614);
    const int16_t loud[6] = {30000, 20000, -30000, 10000, -10000, 20000};
    MixVorbisSixChannels(loud, l, r);
    EXPECT_EQ(l, 32767);
    EXPECT_EQ(r, -11720);
}

struct TagCase {
    const char* name;
    std::vector<std::string> comments;
    std::vector<std::string> tags;  // title, artist, album, date, genre, comment, track,
                                    // composer, copyright
};

std::vector<TagCase> TagCases() {
    const std::string key = "COMMENT=";
    const std::string exactly1000 = key + std::string(1000 - key.size(), 'a');
    const std::string over1000 = key + std::string(1001 - key.size(), 'b');
    return {
        {"allNine",
         {"TITLE=Heron", "ARTIST=Ardea", "ALBUM=Shore", "DATE=2011", "GENRE=Ambient",
          "COMMENT=Dawn", "TRACKNUMBER=7/12", "COMPOSER=Cinerea", "COPYRIGHT=CC"},
         {"Heron", "Ardea", "Shore", "2011", "Ambient", "Dawn", "7/12", "Cinerea", "CC"}},
        {"anyKeyCase",
         {"artist=lower", "Album=Mixed", "tItLe=odd"},
         {"odd", "lower", "Mixed", "", "", "", "", "", ""}},
        {"lastWins", {"TITLE=first", "TITLE=second"}, {"second", "", "", "", "", "", "", "", ""}},
        {"exactly1000Kept", {exactly1000}, {"", "", "", "", "", exactly1000.substr(8), "", "", ""}},
        {"over1000Dropped", {"COMMENT=short", over1000}, {"", "", "", "", "", "short", "", "", ""}},
        {"utf8KeptAsIs",
         {"TITLE=Gr\xC3\xA5h\xC3\xA4ger \xE2\x80\x94 \xF0\x9F\x90\xA6"},
         {"Gr\xC3\xA5h\xC3\xA4ger \xE2\x80\x94 \xF0\x9F\x90\xA6", "", "", "", "", "", "", "", ""}},
        {"invalidUtf8Repaired",
         {"TITLE=a\xFF"
          "b\xC3",
          "ARTIST=\xE2\x82"
          "x"},
         {"a\xEF\xBF\xBD"
          "b\xEF\xBF\xBD",
          "\xEF\xBF\xBDx", "", "", "", "", "", "", ""}},
        {"noComments", {}, {"", "", "", "", "", "", "", "", ""}},
    };
}

class OggTags : public ::testing::TestWithParam<TagCase> {};

TEST_P(OggTags, ReadByPrefix) {
    const TagCase& tc = GetParam();
    TempDir dir;
    const std::string path = dir.File("tags.ogg");
    ASSERT_TRUE(EncodeVorbis(path, test::MakeSignal(22050, 1, 4000), tc.comments));
    OggVorbisReader reader;
    ASSERT_EQ(reader.Open(path, 0), 1);
    TagSet t{"stale", "stale", "stale", "stale", "stale", "stale", "stale", "stale", "stale"};
    EXPECT_EQ(reader.ReadTags(t), 1);
    EXPECT_EQ((std::vector<std::string>{t.title, t.artist, t.album, t.year, t.genre, t.comment,
                                        t.track, t.composer, t.copyright}),
              tc.tags);
}

INSTANTIATE_TEST_SUITE_P(Comments, OggTags, ::testing::ValuesIn(TagCases()),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(OggVorbisReader, RefusesWhatIsNotVorbis) {
    TempDir dir;
    const std::string wav = dir.File("a.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(8000, 1, 800)));
    OggVorbisReader reader;
    EXPECT_EQ(reader.Open(wav, 0), 0);
    EXPECT_EQ(reader.Open(dir.File("missing.ogg"), 0), 0);
    EXPECT_EQ(reader.GetSampleRate(), 0);
    std::vector<int16_t> left(kBlockFrames);
    EXPECT_EQ(reader.Read(left.data(), nullptr), 0);
}

TEST(OggVorbisReader, SurvivesDamagedFiles) {
    TempDir dir;
    const std::string good = dir.File("good.ogg");
    ASSERT_TRUE(EncodeVorbis(good, test::MakeSignal(22050, 2, 22050, 9), {"TITLE=x"}));
    const std::vector<uint8_t> original = ReadBytes(good);
    Lcg random(7);
    for (int round = 0; round < 120; ++round) {
        const auto bytes = Damaged(original, round, {.cutEvery = 3, .changes = 8}, random);
        WriteBytes(dir.File("bad.ogg"), bytes);
        OggVorbisReader reader;
        if (reader.Open(dir.File("bad.ogg"), 0) == 1) {
            const Decoded d = Drain(reader);
            EXPECT_LE(d.samples.size(), 2u * 22050 * 2);
        }
    }
}

TEST(OggVorbisReader, CorpusFilesDecodeLikeFfprobeOrAreRefused) {
    KESTRUNE_REQUIRE_CORPUS();
    int decoded = 0;
    for (const auto& file : test::CorpusFiles()) {
        const std::string ext = file.extension().string();
        if (ext != ".ogg" && ext != ".oga" && ext != ".ogv" && ext != ".ogx" && ext != ".ogm")
            continue;
        OggVorbisReader reader;
        if (reader.Open(file.string(), 0) != 1)
            continue;
        const Decoded d = Drain(reader);
        const test::ProbeInfo probe = test::FfProbe(file.string());
        ASSERT_TRUE(probe.ok) << file;
        ++decoded;
        EXPECT_EQ(reader.GetSourceChannels(), probe.channels) << file;
        const double seconds =
            static_cast<double>(d.samples.size()) / reader.GetChannels() / reader.GetSampleRate();
        EXPECT_NEAR(seconds, probe.duration, 0.05) << file;
    }
    EXPECT_GT(decoded, 0);
}

}  // namespace
}  // namespace kestrune
