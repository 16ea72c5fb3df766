// Tags as a user gets them: from sources of every kind into every output format that holds
// tags, the cover arrives byte for byte and so do the album artist, the disc and track numbers
// with their totals, the full date, a MusicBrainz id and several artists; the custom tag, no
// tag, the cover options and the merge choose what goes where.
#include <gtest/gtest.h>

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "common/ffmpeg_handles.h"
#include "readers/tag_file_reader.h"
#include "tests/support/child_process.h"
#include "tests/support/session_fixture.h"
#include "tests/support/test_support.h"
#include "writers/tag_file_writer.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::Quote;

constexpr char kAlbumId[] = "f8d6a1c2-9b1e-4c3a-8d7e-2b5f4a6c9e01";

// 20 kB that FFmpeg and TagLib take for a JPEG image.
const std::vector<uint8_t>& Cover() {
    static const std::vector<uint8_t> cover = [] {
        std::vector<uint8_t> bytes = {0xFF, 0xD8, 0xFF, 0xE0};
        uint32_t x = 12345;
        while (bytes.size() < 20000) {
            x = x * 1103515245u + 12345u;
            bytes.push_back(static_cast<uint8_t>(x >> 16));
        }
        bytes.insert(bytes.end(), {0xFF, 0xD9});
        return bytes;
    }();
    return cover;
}

TagLib::ByteVector Bytes(const std::vector<uint8_t>& v) {
    return TagLib::ByteVector(reinterpret_cast<const char*>(v.data()),
                              static_cast<unsigned>(v.size()));
}

struct SourceKind {
    const char* name;
    const char* extension;
    const char* codecArgs;  // for the ffmpeg command line
    bool severalArtists;    // whether its tags keep two artists apart
};

// Tags a file made by ffmpeg the way tag editors do, with TagLib: the fields and a front cover.
void TagWithTagLib(const std::string& path, bool severalArtists) {
    using namespace TagLib;
    FileRef ref(path.c_str(), false);
    ASSERT_FALSE(ref.isNull()) << path;
    PropertyMap map;
    map.replace("TITLE", StringList(String("Song Ü", String::UTF8)));
    StringList artists("Ann");
    if (severalArtists)
        artists.append("Bob");
    map.replace("ARTIST", artists);
    map.replace("ALBUM", StringList("Album"));
    map.replace("ALBUMARTIST", StringList("The Band"));
    map.replace("DATE", StringList("2005-03-14"));
    map.replace("GENRE", StringList("Rock"));
    map.replace("TRACKNUMBER", StringList("29/35"));
    map.replace("DISCNUMBER", StringList("1/2"));
    map.replace("MUSICBRAINZ_ALBUMID", StringList(kAlbumId));
    // Two that ID3v2.3 has no frame for.
    map.replace("MOOD", StringList("Calm"));
    map.replace("PRODUCER", StringList("Pat"));
    File* file = ref.file();
    file->setProperties(map);
    // Handed to TagLib, which owns them from there.
    auto apic = [] {
        auto frame = std::make_unique<ID3v2::AttachedPictureFrame>();
        frame->setType(ID3v2::AttachedPictureFrame::FrontCover);
        frame->setMimeType("image/jpeg");
        frame->setPicture(Bytes(Cover()));
        return frame.release();
    };
    auto flacPicture = [] {
        auto p = std::make_unique<FLAC::Picture>();
        p->setType(FLAC::Picture::FrontCover);
        p->setMimeType("image/jpeg");
        p->setData(Bytes(Cover()));
        return p.release();
    };
    if (auto* mp3 = dynamic_cast<MPEG::File*>(file)) {
        mp3->ID3v2Tag(true)->addFrame(apic());
        ASSERT_TRUE(mp3->save(MPEG::File::ID3v2, File::StripOthers, ID3v2::v4));
        return;
    }
    if (auto* flac = dynamic_cast<FLAC::File*>(file)) {
        flac->addPicture(flacPicture());
    } else if (auto* mp4 = dynamic_cast<MP4::File*>(file)) {
        mp4->tag()->setItem(
            "covr", MP4::CoverArtList().append(MP4::CoverArt(MP4::CoverArt::JPEG, Bytes(Cover()))));
    } else if (auto* asf = dynamic_cast<ASF::File*>(file)) {
        ASF::Picture p;
        p.setType(ASF::Picture::FrontCover);
        p.setMimeType("image/jpeg");
        p.setPicture(Bytes(Cover()));
        asf->tag()->addAttribute("WM/Picture", ASF::Attribute(p));
    } else if (auto* aiff = dynamic_cast<RIFF::AIFF::File*>(file)) {
        aiff->tag()->addFrame(apic());
    } else if (auto* wav = dynamic_cast<RIFF::WAV::File*>(file)) {
        wav->ID3v2Tag()->addFrame(apic());
    } else if (auto* wv = dynamic_cast<WavPack::File*>(file)) {
        TagLib::ByteVector value("cover.jpg", 10);  // the name and its terminating zero
        value.append(Bytes(Cover()));
        wv->APETag(true)->setItem("Cover Art (Front)", APE::Item("Cover Art (Front)", value, true));
    } else if (auto* xiph = dynamic_cast<Ogg::XiphComment*>(file->tag())) {
        xiph->addPicture(flacPicture());
    } else {
        FAIL() << "no way to add a cover to " << path;
    }
    ASSERT_TRUE(file->save()) << path;
}

// The sources, made once for the whole program.
class Sources {
public:
    static const std::string& Of(const SourceKind& kind) {
        static Sources sources;
        std::string& path = sources.made_[kind.name];
        if (path.empty())
            path = sources.Make(kind);
        return path;
    }

private:
    std::string Make(const SourceKind& kind) {
        const std::string wav = dir_.File("signal.wav");
        if (!fs::exists(wav)) {
            EXPECT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 22050)));
        }
        const std::string path = dir_.File(std::string("source.") + kind.extension);
        if (std::string(kind.extension) == "mka") {
            // TagLib does not write Matroska: ffmpeg attaches the cover as players expect it.
            const std::string cover = dir_.File("cover.jpg");
            std::ofstream(cover, std::ios::binary)
                .write(reinterpret_cast<const char*>(Cover().data()),
                       static_cast<std::streamsize>(Cover().size()));
            EXPECT_EQ(test::Run("ffmpeg -v error -nostdin -y -i " + Quote(wav) + " -attach " +
                                Quote(cover) +
                                " -metadata:s:t mimetype=image/jpeg -metadata:s:t "
                                "filename=cover.jpg -metadata TITLE=Song -metadata ARTIST=Ann "
                                "-metadata ALBUMARTIST='The Band' -metadata DATE=2005-03-14 "
                                "-metadata PART_NUMBER=29 -metadata TOTAL_PARTS=35 -metadata "
                                "DISCNUMBER=1/2 -metadata MOOD=Calm -metadata PRODUCER=Pat "
                                "-metadata MUSICBRAINZ_ALBUMID=" +
                                kAlbumId + " " + kind.codecArgs + " " + Quote(path)),
                      0);
            return path;
        }
        EXPECT_EQ(test::Run("ffmpeg -v error -nostdin -y -i " + Quote(wav) + " -map_metadata -1 " +
                            kind.codecArgs + " " + Quote(path)),
                  0);
        TagWithTagLib(path, kind.severalArtists);
        return path;
    }

    test::TempDir dir_;
    std::map<std::string, std::string> made_;
};

const SourceKind kSources[] = {
    {"Mp3", "mp3", "-c:a libmp3lame -b:a 96k", true},
    {"Flac", "flac", "-c:a flac", true},
    {"OggVorbis", "ogg", "-c:a libvorbis", true},
    {"Opus", "opus", "-c:a libopus", true},
    {"M4a", "m4a", "-c:a aac", true},
    {"Wma", "wma", "-c:a wmav2", false},
    {"Aiff", "aiff", "-c:a pcm_s16be", true},
    {"Wav", "wav", "-c:a pcm_s16le", true},
    {"WavPack", "wv", "-c:a wavpack", true},
    {"Matroska", "mka", "-c:a flac", false},
};

// The picture FFmpeg shows of a file, as an attached picture's bytes.
std::vector<uint8_t> CoverAsFFmpegReadsIt(const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return {};
    const ffmpeg::InputFormatPtr context(raw);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* st = context->streams[i];
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC)
            return {st->attached_pic.data, st->attached_pic.data + st->attached_pic.size};
    }
    return {};
}

std::vector<std::string> Field(const TagSet& tags, const std::string& key) {
    const auto it = tags.fields.find(key);
    return it == tags.fields.end() ? std::vector<std::string>{} : it->second;
}

class TagsTest : public test::SessionTest {
protected:
    TagsTest() {
        config.settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
        config.settings.destSpecifiedFolder = dir.File("out");
        config.settings.browseOutputFolder = false;
        config.settings.id3TagType = TagSource::kFromSource;
    }

    // Converts path to the format with the options set; the output's path.
    std::string Convert(const std::string& path, FormatId formatId) {
        SourceFileEntry entry;
        EXPECT_TRUE(session.ProbeSource(path, entry).opened) << path;
        entry.path = path;
        entry.sourceType = SourceTypeOf(path);
        RunDriver({&entry}, {0}, formatId, false, {});
        EXPECT_FALSE(entry.outputPath.empty()) << host.output[0];
        return entry.outputPath;
    }
};

// ------------------------------------------------------------------- every source, every output

struct RoundTrip {
    SourceKind source;
    FormatId output;
    std::string outputName;
};

// Every row of the catalogue whose files hold more than the nine texts.
std::vector<RoundTrip> RoundTrips() {
    OutputCatalogue catalogue;
    BuildOutputCatalogue(catalogue);
    std::vector<RoundTrip> trips;
    for (const SourceKind& source : kSources)
        for (const OutputFormatEntry& row : catalogue) {
            const std::string container = row.containerShortName ? row.containerShortName : "";
            if (FinishedFileTakesTags(row) || container == "ogg" || container == "matroska")
                trips.push_back({source, row.formatId, row.SettingsName()});
        }
    return trips;
}

class TagRoundTripTest : public TagsTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(TagRoundTripTest, TheCoverAndTheWholeSetArrive) {
    const RoundTrip& trip = GetParam();
    const std::string out = Convert(Sources::Of(trip.source), trip.output);
    ASSERT_TRUE(fs::exists(out)) << host.output[0];

    EXPECT_EQ(CoverAsFFmpegReadsIt(out), Cover());
    TagSet back;
    ASSERT_TRUE(ReadFileTags(out, back));
    ASSERT_EQ(back.pictures.size(), 1u);
    EXPECT_EQ(back.pictures[0].type, kFrontCover);
    EXPECT_EQ(back.pictures[0].data, Cover());
    EXPECT_EQ(Field(back, "ALBUMARTIST"), std::vector<std::string>{"The Band"});
    EXPECT_EQ(Field(back, "MUSICBRAINZ_ALBUMID"), std::vector<std::string>{kAlbumId});
    EXPECT_EQ(Field(back, "DATE"), std::vector<std::string>{"2005-03-14"});
    EXPECT_EQ(Field(back, "MOOD"), std::vector<std::string>{"Calm"});
    EXPECT_EQ(Field(back, "PRODUCER"), std::vector<std::string>{"Pat"});
    EXPECT_EQ(Field(back, "TRACKNUMBER"), std::vector<std::string>{"29"});
    EXPECT_EQ(back.disc, 1);
    EXPECT_EQ(back.discTotal, 2);
    const bool windowsMedia = IsWindowsMediaFormat(trip.output);
    // Windows Media files have no place for the number of tracks.
    EXPECT_EQ(back.trackTotal, windowsMedia ? 0 : 35);
    // ID3v2.3 (MP3), Windows Media and (as FFmpeg writes it) Matroska keep one value a field:
    // the two artists are one text.
    std::vector<std::string> artists = {"Ann"};
    if (trip.source.severalArtists) {
        const bool oneValue =
            windowsMedia || trip.output == FormatId::kMp3 || trip.output == FormatId::kMka;
        artists = oneValue ? std::vector<std::string>{"Ann / Bob"}
                           : std::vector<std::string>{"Ann", "Bob"};
    }
    EXPECT_EQ(Field(back, "ARTIST"), artists);
}

INSTANTIATE_TEST_SUITE_P(SourcesAndOutputs, TagRoundTripTest, ::testing::ValuesIn(RoundTrips()),
                         [](const ::testing::TestParamInfo<RoundTrip>& test) {
                             std::string name =
                                 std::string(test.param.source.name) + "To" + test.param.outputName;
                             std::erase_if(name, [](char c) {
                                 return !std::isalnum(static_cast<unsigned char>(c));
                             });
                             return name;
                         });

// ------------------------------------------------------------------- the options

// The custom tag's texts replace the source's nine, and only those: the cover and the other
// fields still come from the source.
TEST_F(TagsTest, TheCustomTagReplacesOnlyTheNineTexts) {
    config.settings.id3TagType = TagSource::kCustom;
    config.tagOptions.titleAsFileName = true;
    config.tagOptions.artist = "Custom Artist";
    config.tagOptions.trackNumType = TrackNumMode::kCustom;
    config.tagOptions.customTrackNum = 5;
    const std::string out = Convert(Sources::Of(kSources[1]), FormatId::kMp3);
    TagSet back;
    ASSERT_TRUE(ReadFileTags(out, back));
    EXPECT_EQ(Field(back, "TITLE"), std::vector<std::string>{"source"});
    EXPECT_EQ(Field(back, "ARTIST"), std::vector<std::string>{"Custom Artist"});
    EXPECT_EQ(Field(back, "TRACKNUMBER"), std::vector<std::string>{"5"});
    EXPECT_EQ(back.trackTotal, 0) << "the source's total belongs to its own track number";
    for (const char* sourceOnly : {"ALBUM", "DATE", "GENRE"})
        EXPECT_TRUE(Field(back, sourceOnly).empty()) << sourceOnly;
    EXPECT_EQ(Field(back, "ALBUMARTIST"), std::vector<std::string>{"The Band"});
    EXPECT_EQ(Field(back, "MUSICBRAINZ_ALBUMID"), std::vector<std::string>{kAlbumId});
    EXPECT_EQ(back.disc, 1);
    EXPECT_EQ(CoverAsFFmpegReadsIt(out), Cover());
}

// FFmpeg's MP2 muxer writes no tags at all: an MP2 output used to lose even the nine texts.
TEST_F(TagsTest, AnMp2OutputGetsTheNineTextsItsMuxerDrops) {
    config.settings.id3TagType = TagSource::kCustom;
    config.tagOptions.artist = "Custom Artist";
    config.tagOptions.trackNumType = TrackNumMode::kCustom;
    config.tagOptions.customTrackNum = 5;
    const std::string source = dir.File("plain.wav");
    ASSERT_TRUE(test::WriteWav(source, test::MakeSignal(44100, 2, 4410)));
    const test::ProbeInfo info = test::FfProbe(Convert(source, FormatId::kMp2));
    EXPECT_EQ(info.Tag("title"), "plain");
    EXPECT_EQ(info.Tag("artist"), "Custom Artist");
    EXPECT_EQ(info.Tag("track"), "5");
}

TEST_F(TagsTest, NoTagsMeansNothingOfTheSource) {
    config.settings.id3TagType = TagSource::kNone;
    const std::string out = Convert(Sources::Of(kSources[1]), FormatId::kFlac);
    TagSet back;
    EXPECT_FALSE(ReadFileTags(out, back));
    EXPECT_TRUE(back.fields.empty());
    EXPECT_TRUE(CoverAsFFmpegReadsIt(out).empty());
}

// The cover options, as kestrune-cli takes them.
struct CoverCase {
    const char* name;
    std::vector<std::string> flags;
    bool sourceHasCover;
    enum { kNone, kSources, kFolders } expected;
};

class CoverOptionTest : public ::testing::TestWithParam<CoverCase> {
protected:
    test::TempDir dir;
};

TEST_P(CoverOptionTest, ChoosesTheOutputsCover) {
    const CoverCase& c = GetParam();
    fs::create_directory(dir.path() / "in");
    std::string source;
    if (c.sourceHasCover) {
        source = dir.File("in/song.flac");
        fs::copy_file(Sources::Of(kSources[1]), source);
    } else {
        source = dir.File("in/song.wav");
        ASSERT_TRUE(test::WriteWav(source, test::MakeSignal(44100, 2, 4410)));
    }
    // A folder image of its own, in the letter case a file manager may give it, and one that
    // comes later in the order of names.
    const std::vector<uint8_t> folderCover = {0xFF, 0xD8, 0xFF, 0xE0, 'f',
                                              'o',  'l',  'd',  0xFF, 0xD9};
    std::ofstream(dir.File("in/Cover.JPG"), std::ios::binary)
        .write(reinterpret_cast<const char*>(folderCover.data()),
               static_cast<std::streamsize>(folderCover.size()));
    std::ofstream(dir.File("in/folder.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n";

    std::vector<std::string> args = {
        test::CliPath(), "convert", "--settings", dir.File("settings.ini"), "-f", "mp3", "-o",
        dir.File("out"), "--tags",  "source"};
    args.insert(args.end(), c.flags.begin(), c.flags.end());
    args.push_back(source);
    test::ChildProcess convert(args);
    ASSERT_EQ(convert.Run(dir.path().string(), 120), 0) << convert.Out() << convert.Err();
    const std::vector<uint8_t> cover = CoverAsFFmpegReadsIt(dir.File("out/song.mp3"));
    switch (c.expected) {
        case CoverCase::kNone:
            EXPECT_TRUE(cover.empty());
            break;
        case CoverCase::kSources:
            EXPECT_EQ(cover, Cover());
            break;
        case CoverCase::kFolders:
            EXPECT_EQ(cover, folderCover);
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, CoverOptionTest,
    ::testing::Values(
        CoverCase{"SourcesCoverByDefault", {}, true, CoverCase::kSources},
        CoverCase{"NoCover", {"--no-cover"}, true, CoverCase::kNone},
        CoverCase{"NoFolderCoverUnlessAsked", {}, false, CoverCase::kNone},
        CoverCase{"FolderCoverForASourceWithout", {"--folder-cover"}, false, CoverCase::kFolders},
        CoverCase{"TheSourcesOwnCoverComesFirst", {"--folder-cover"}, true, CoverCase::kSources},
        CoverCase{"NoCoverAtAll", {"--no-cover", "--folder-cover"}, false, CoverCase::kNone}),
    [](const ::testing::TestParamInfo<CoverCase>& test) { return test.param.name; });

// ------------------------------------------------------------------- Convert to One

// A file made of several sources takes the album of its first, with its cover; the titles,
// artists and track numbers of the parts belong to none of them alone.
TEST_F(TagsTest, AJoinedFileTakesItsFirstPartsAlbumAndCover) {
    const std::string first = dir.File("first.flac");
    const std::string second = dir.File("second.mp3");
    fs::copy_file(Sources::Of(kSources[1]), first);
    fs::copy_file(Sources::Of(kSources[0]), second);
    {
        TagLib::MPEG::File other(second.c_str(), false);
        TagLib::PropertyMap map = other.properties();
        map.replace("ALBUM", TagLib::StringList("Second Album"));
        map.replace("ALBUMARTIST", TagLib::StringList("Someone Else"));
        other.setProperties(map);
        other.ID3v2Tag()->removeFrames("APIC");
        ASSERT_TRUE(
            other.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4));
    }
    std::vector<SourceFileEntry> entries(2);
    for (size_t i = 0; i < 2; ++i) {
        const std::string& path = i == 0 ? first : second;
        ASSERT_TRUE(session.ProbeSource(path, entries[i]).opened);
        entries[i].path = path;
        entries[i].sourceType = SourceTypeOf(path);
    }
    const std::string joined = dir.File("joined.mp3");
    RunDriver({&entries[0], &entries[1]}, {0, 1}, FormatId::kMp3, true, joined);
    ASSERT_TRUE(fs::exists(joined)) << host.output[0];

    TagSet back;
    ASSERT_TRUE(ReadFileTags(joined, back));
    EXPECT_EQ(Field(back, "ALBUM"), std::vector<std::string>{"Album"});
    EXPECT_EQ(Field(back, "ALBUMARTIST"), std::vector<std::string>{"The Band"});
    EXPECT_EQ(Field(back, "DATE"), std::vector<std::string>{"2005-03-14"});
    EXPECT_EQ(Field(back, "GENRE"), std::vector<std::string>{"Rock"});
    EXPECT_EQ(Field(back, "MUSICBRAINZ_ALBUMID"), std::vector<std::string>{kAlbumId});
    EXPECT_EQ(back.disc, 1);
    EXPECT_EQ(back.discTotal, 2);
    for (const char* ofAPart : {"TITLE", "ARTIST", "TRACKNUMBER"})
        EXPECT_TRUE(Field(back, ofAPart).empty()) << ofAPart;
    EXPECT_EQ(CoverAsFFmpegReadsIt(joined), Cover());
}

// ------------------------------------------------------------------- real files, read in place

// Every picture FFmpeg shows of a file, in order.
std::vector<std::vector<uint8_t>> PicturesAsFFmpegReadsThem(const std::string& path) {
    std::vector<std::vector<uint8_t>> pictures;
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        return pictures;
    const ffmpeg::InputFormatPtr context(raw);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* st = context->streams[i];
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC)
            pictures.emplace_back(st->attached_pic.data,
                                  st->attached_pic.data + st->attached_pic.size);
    }
    return pictures;
}

struct CorpusTrip {
    std::string file;
    FormatId output;
};

std::vector<CorpusTrip> CorpusTrips() {
    static const char* const kFiles[] = {
        "mutagen__tests_data_covr-with-name.m4a",
        "tinytag__tinytag_tests_samples_aiff_with_image.aiff",
        "tinytag__tinytag_tests_samples_image-text-encoding.mp3",
        "tinytag__tinytag_tests_samples_mpeg4_with_image.m4a",
        "tinytag__tinytag_tests_samples_multiple_values_images.flac",
        "tinytag__tinytag_tests_samples_multiple_values_images.wma",
        "tinytag__tinytag_tests_samples_ogg_with_image.ogg",
        "tinytag__tinytag_tests_samples_wav_with_image.wav"};
    std::vector<CorpusTrip> trips;
    for (const char* file : kFiles)
        for (FormatId output : {FormatId::kMp3, FormatId::kFlac, FormatId::kM4a, FormatId::kOgg})
            trips.push_back({file, output});
    return trips;
}

class CorpusTagsTest : public TagsTest, public ::testing::WithParamInterface<CorpusTrip> {};

// Real files tagged by other programs: every picture (as TagLib reads them; FFmpeg shows
// fewer of some kinds) and every field beyond the nine arrives, several values as one text
// where the output keeps one a field. What FFmpeg shows of the output's pictures is the
// source's, byte for byte.
TEST_P(CorpusTagsTest, EveryPictureAndFieldArrives) {
    KESTRUNE_REQUIRE_CORPUS();
    const CorpusTrip& trip = GetParam();
    const std::string source = (test::CorpusDir() / trip.file).string();
    const std::string out = Convert(source, trip.output);
    ASSERT_TRUE(fs::exists(out)) << host.output[0];

    TagSet read, back;
    ReadFileTags(source, read);
    ReadFileTags(out, back);
    ASSERT_FALSE(read.pictures.empty());
    std::vector<std::vector<uint8_t>> before, after;
    for (const TagPicture& p : read.pictures)
        before.push_back(p.data);
    for (const TagPicture& p : back.pictures)
        after.push_back(p.data);
    if (trip.output == FormatId::kM4a) {
        // The MPEG-4 cover list keeps no order of its own: the front cover goes first.
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
    }
    EXPECT_TRUE(after == before) << after.size() << " pictures of " << before.size();
    const std::vector<std::vector<uint8_t>> shown = PicturesAsFFmpegReadsThem(out);
    EXPECT_FALSE(shown.empty());
    for (const std::vector<uint8_t>& picture : shown)
        EXPECT_NE(std::find(before.begin(), before.end(), picture), before.end());

    const bool oneValue = trip.output == FormatId::kMp3;
    for (const auto& [key, values] : read.fields) {
        if (IsNineKey(key))
            continue;
        std::vector<std::string> expected = values;
        if (oneValue && values.size() > 1) {
            std::string joined;
            for (const std::string& v : values)
                joined += (joined.empty() ? "" : " / ") + v;
            expected = {joined};
        }
        EXPECT_EQ(Field(back, key), expected) << key;
    }
    EXPECT_EQ(back.disc, read.disc);
    EXPECT_EQ(back.discTotal, read.discTotal);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTagsTest, ::testing::ValuesIn(CorpusTrips()),
                         [](const ::testing::TestParamInfo<CorpusTrip>& test) {
                             std::string name = test.param.file.substr(test.param.file.rfind("_"));
                             name = std::to_string(test.index) + name;
                             std::erase_if(name, [](char c) {
                                 return !std::isalnum(static_cast<unsigned char>(c));
                             });
                             return name;
                         });

}  // namespace
}  // namespace kestrune
