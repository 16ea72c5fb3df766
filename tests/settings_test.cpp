#include <gtest/gtest.h>

#include <QSettings>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "settings/ini_settings_store.h"
#include "settings/settings_persistence.h"
#include "tests/support/test_support.h"

namespace kestrune {
namespace {

using test::TempDir;

const char* const kFormatSuffixes[] = {"AutoEncParam", "CodecID", "SampleRate", "BitRate",
                                       "Channels"};

// Every key of an INI file as another reader sees it ("Options/ID3/Title", ...).
std::set<std::string> KeysIn(const std::string& iniPath) {
    QSettings ini(QString::fromStdString(iniPath), QSettings::IniFormat);
    std::set<std::string> keys;
    for (const QString& k : ini.allKeys())
        keys.insert(k.toStdString());
    return keys;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string IniValue(const std::string& iniPath, const std::string& key) {
    QSettings ini(QString::fromStdString(iniPath), QSettings::IniFormat);
    return ini.value(QString::fromStdString(key)).toString().toStdString();
}

std::set<std::string> OptionKeys(std::initializer_list<const char*> names) {
    std::set<std::string> keys;
    for (const char* n : names)
        keys.insert(std::string("Options/") + n);
    return keys;
}

std::set<std::string> OptionsMaskKeys() {
    std::set<std::string> keys = OptionKeys({"DestOutputFolderOpt",
                                             "DestSpecifiedFolder",
                                             "CreateDirs",
                                             "BrowseOutputFolder",
                                             "OutputFiles2MyDocuments",
                                             "TargetExistsOpt",
                                             "MonoType",
                                             "DoNotLoadHiddenFiles",
                                             "EnableDTSForCDA",
                                             "EnableConvertLength",
                                             "EnableSkipLength",
                                             "ConvertLength",
                                             "SkipLength",
                                             "EnableExtFilter",
                                             "FilterExts",
                                             "Volume",
                                             "VolumeType",
                                             "LoudnessTarget",
                                             "ReplayGain",
                                             "TruePeak",
                                             "ID3TagType",
                                             "CopyCoverArt",
                                             "FolderCoverArt",
                                             "WMAAutoEncParam",
                                             "WMABitRate",
                                             "WMASampleRate",
                                             "WMAChannels",
                                             "AMRType",
                                             "AMRMode",
                                             "AMRWBMode",
                                             "AMRDTX",
                                             "AWBMode",
                                             "AWBDTX",
                                             "SimultaneousConversions"});
    OutputCatalogue catalogue;
    BuildOutputCatalogue(catalogue);
    for (const OutputFormatEntry& row : catalogue)
        if (row.HasStoredParameters())
            for (const char* suffix : kFormatSuffixes)
                keys.insert("Options/" + row.SettingsName() + suffix);
    for (const char* n : {"TitleAsFileName", "Title", "Artist", "Album", "Year", "Genre", "Comment",
                          "Composer", "Copyright", "TrackNumType", "CustomTrackNum"})
        keys.insert(std::string("Options/ID3/") + n);
    return keys;
}

// The records as the main window holds them before anything is loaded.
struct Records {
    ConvertSettings settings;
    TagOptions tags;
    OutputCatalogue catalogue;
    explicit Records(const std::string& documents = "") {
        ApplyDocumentsFolderDefaults(settings, documents);
        BuildOutputCatalogue(catalogue);
    }
    bool Load(SettingsStore& store) { return LoadSettings(store, settings, tags, catalogue); }
    bool Save(SettingsStore& store, int mask) {
        return SaveSettings(store, mask, settings, tags, catalogue);
    }
};

void ExpectSameFormatValues(const OutputCatalogue& a, const OutputCatalogue& b) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE(a[i].SettingsName());
        EXPECT_EQ(a[i].autoParams, b[i].autoParams);
        EXPECT_EQ(a[i].codecId, b[i].codecId);
        EXPECT_EQ(a[i].sampleRate, b[i].sampleRate);
        EXPECT_EQ(a[i].bitRate, b[i].bitRate);
        EXPECT_EQ(a[i].channels, b[i].channels);
    }
}

TEST(SettingsDefaults, FreshStoreKeepsEveryDefault) {
    TempDir dir;
    const std::string docs = dir.File("Documents");
    IniSettingsStore store(dir.File("k.ini"));
    Records loaded(docs);
    EXPECT_TRUE(loaded.Load(store));

    EXPECT_EQ(loaded.settings.destOutputFolderOpt, DestOutputFolder::kSpecificFolder);
    EXPECT_EQ(loaded.settings.destSpecifiedFolder, docs);
    EXPECT_EQ(loaded.settings.folder, "");
    EXPECT_FALSE(loaded.settings.createDirs);
    EXPECT_TRUE(loaded.settings.browseOutputFolder);
    EXPECT_TRUE(loaded.settings.outputFiles2MyDocuments);
    EXPECT_EQ(loaded.settings.targetExistsOpt, TargetExists::kRename);
    EXPECT_EQ(loaded.settings.monoType, MonoMix::kAverage);
    EXPECT_EQ(loaded.settings.volume, 100);
    EXPECT_EQ(loaded.settings.volumeType, VolumeMode::kOriginal);
    EXPECT_EQ(loaded.settings.id3TagType, TagSource::kFromSource);
    EXPECT_EQ(loaded.settings.outputFormat, FormatId::kMp3);
    EXPECT_TRUE(loaded.settings.wmaAutoEncParam);
    EXPECT_EQ(loaded.settings.wmaBitRate, 128000);
    EXPECT_EQ(loaded.settings.wmaSampleRate, 44100);
    EXPECT_EQ(loaded.settings.wmaChannels, 2);
    EXPECT_EQ(loaded.settings.amrMode, 6);
    EXPECT_EQ(loaded.settings.amrwbMode, 6);
    EXPECT_EQ(loaded.settings.awbMode, 6);
    EXPECT_TRUE(loaded.settings.filterExtList.empty());
    EXPECT_EQ(loaded.settings.normalizeWork1, -1.0);
    EXPECT_EQ(loaded.settings.normalizeWork2, -1.0);
    EXPECT_TRUE(loaded.tags.titleAsFileName);
    EXPECT_EQ(loaded.tags.trackNumType, TrackNumMode::kNone);
    EXPECT_EQ(loaded.tags, TagOptions{});
    ExpectSameFormatValues(loaded.catalogue, Records().catalogue);
    // Loading reads only: the file is not created.
    EXPECT_FALSE(std::filesystem::exists(dir.File("k.ini")));
}

TEST(SettingsDefaults, UnknownDocumentsFolderMeansSameAsSource) {
    ConvertSettings settings;
    ApplyDocumentsFolderDefaults(settings, "/somewhere/Documents");
    ApplyDocumentsFolderDefaults(settings, "");
    EXPECT_EQ(settings.destOutputFolderOpt, DestOutputFolder::kSameAsSource);
    EXPECT_EQ(settings.destSpecifiedFolder, "");
}

TEST(SettingsDefaults, DocumentsFolderIsFoundAndCreated) {
    TempDir dir;
    // A private home, so the user's own folders are never looked at.
    setenv("HOME", dir.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    const std::string found = FindDocumentsFolder();
    EXPECT_EQ(found, dir.File("Documents"));
    EXPECT_TRUE(std::filesystem::is_directory(found));
}

TEST(SettingsStoreFile, DefaultStoreIsTheUsersIniFile) {
    TempDir dir;
    setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
    IniSettingsStore store;
    const std::string name = store.FileName();
    EXPECT_TRUE(name.ends_with("/Kestrune/Kestrune 4.ini")) << name;
}

// A file the program wrote before its options were described in one table (commit 3536462),
// and before the catalogue grew, with every key of both groups set to a value other than its
// default: it loads as written, the rows added since keep their defaults, and saving what was
// loaded writes the same file again with the options and the rows' keys added since, the
// options at their defaults.
TEST(SettingsFile, AnEarlierVersionsFileReadsAndIsWrittenBackTheSame) {
    TempDir dir;
    const std::string written = dir.File("written.ini");
    std::filesystem::copy_file(
        std::string(KESTRUNE_SOURCE_DIR) + "/tests/data/settings/every_option.ini", written);
    Records loaded(dir.File("Documents"));
    {
        IniSettingsStore store(written);
        ASSERT_TRUE(loaded.Load(store));
    }

    Records expected(dir.File("Documents"));
    ConvertSettings& s = expected.settings;
    s.folder = "/home/ann/Music/in, with comma";
    s.destOutputFolderOpt = DestOutputFolder::kSameAsSource;
    s.destSpecifiedFolder = "/srv/out put/Ünï";
    s.createDirs = true;
    s.browseOutputFolder = false;
    s.outputFiles2MyDocuments = false;
    s.targetExistsOpt = TargetExists::kSkip;
    s.monoType = MonoMix::kRight;
    s.doNotLoadHiddenFiles = true;
    s.enableDTSForCDA = true;
    s.enableConvertLength = true;
    s.enableSkipLength = true;
    s.convertLength = 4000000000u;  // above the signed range: stored values are unsigned
    s.skipLength = 1500;
    s.enableExtFilter = true;
    s.filterExts = "MP3; wav,, OGG ";
    s.volume = 250;
    s.volumeType = VolumeMode::kManual;
    s.id3TagType = TagSource::kCustom;
    s.outputFormat = FormatId::kFlac;
    s.wmaAutoEncParam = false;
    s.wmaBitRate = 64000;
    s.wmaSampleRate = 32000;
    s.wmaChannels = 1;
    s.amrType = AmrBand::kWide;
    s.amrMode = 3;
    s.amrwbMode = 8;
    s.amrDtx = true;
    s.awbMode = 2;
    s.awbDtx = true;
    s.optStartPageIndex = 4;
    ParseFilterExts(s);
    expected.tags = {false,  "Title \"quoted\"", "Ärtist", "Album=1", "1999",
                     "Jazz", "line [x] #1; two", "Comp",   "(c) me",  TrackNumMode::kCustom,
                     7};
    const std::string file = ReadAll(written);
    const auto inFile = [&](const OutputFormatEntry& row) {
        return file.find("\n" + row.SettingsName() + "CodecID=") != std::string::npos;
    };
    int n = 1;
    std::set<std::string> added;  // the keys of the rows the file does not know
    for (OutputFormatEntry& row : expected.catalogue) {
        if (row.HasStoredParameters() && !inFile(row)) {
            for (const char* suffix : kFormatSuffixes)
                added.insert(row.SettingsName() + suffix);
        }
        if (!row.HasStoredParameters() || !inFile(row))
            continue;  // keeps its defaults
        row.autoParams = 1 - row.autoParams;
        row.codecId = 0x20000 + n;
        row.sampleRate = 1000 * n;
        row.bitRate = 100 + n;
        row.channels = n % 3;
        ++n;
    }
    EXPECT_EQ(loaded.settings, expected.settings);
    EXPECT_EQ(loaded.tags, expected.tags);
    ExpectSameFormatValues(loaded.catalogue, expected.catalogue);

    {
        IniSettingsStore store(dir.File("again.ini"));
        ASSERT_TRUE(loaded.Save(store, kSaveFolder | kSaveOptions | kSaveFormatAndPage));
        EXPECT_TRUE(CheckFirstRun(store));  // the one key that is no option
    }
    // The options added since then are written too, at their defaults.
    std::string again = ReadAll(dir.File("again.ini"));
    const std::string simultaneous =
        "SimultaneousConversions=" + std::to_string(ConvertSettings{}.simultaneousConversions) +
        "\n";
    for (const std::string& option :
         {std::string("CopyCoverArt=1\n"), std::string("FolderCoverArt=0\n"), simultaneous,
          std::string("LoudnessTarget=-18\n"), std::string("ReplayGain=0\n"),
          std::string("TruePeak=0\n")}) {
        const size_t at = again.find(option);
        ASSERT_NE(at, std::string::npos) << option;
        again.erase(at, option.size());
    }
    EXPECT_FALSE(added.empty());
    std::istringstream lines(again);
    std::string kept, line;
    while (std::getline(lines, line))
        if (!added.count(line.substr(0, line.find('='))))
            kept += line + "\n";
    EXPECT_EQ(kept, file);
}

TEST(SimultaneousConversions, StoredValuesAreKeptFromOneTo64) {
    for (const auto& [stored, loaded] : {std::pair{0, 1}, std::pair{-3, 1}, std::pair{1, 1},
                                         std::pair{64, 64}, std::pair{65, 64}}) {
        TempDir dir;
        IniSettingsStore store(dir.File("k.ini"));
        store.WriteInt(kOptionsGroup, "SimultaneousConversions", stored);
        Records records;
        records.Load(store);
        EXPECT_EQ(records.settings.simultaneousConversions, loaded) << stored;
    }
}

class WmaChannelsTest : public testing::TestWithParam<std::pair<int, int>> {};

TEST_P(WmaChannelsTest, OnlyOneOrTwoSurvive) {
    TempDir dir;
    IniSettingsStore store(dir.File("k.ini"));
    store.WriteInt(kOptionsGroup, "WMAChannels", GetParam().first);
    Records loaded;
    loaded.settings.wmaChannels = 1;  // a loaded value replaces whatever was there
    loaded.Load(store);
    EXPECT_EQ(loaded.settings.wmaChannels, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Stored, WmaChannelsTest,
                         testing::Values(std::pair{6, 2}, std::pair{1, 1}, std::pair{2, 2},
                                         std::pair{0, 2}, std::pair{-1, 2}),
                         [](const testing::TestParamInfo<std::pair<int, int>>& test) {
                             const int v = test.param.first;
                             return "Stored" +
                                    (v < 0 ? "Minus" + std::to_string(-v) : std::to_string(v));
                         });

struct FilterCase {
    bool enable;
    std::string text;
    std::vector<std::string> list;
};

class FilterExtsTest : public testing::TestWithParam<FilterCase> {};

TEST_P(FilterExtsTest, ParsedListFromStoredText) {
    TempDir dir;
    {
        IniSettingsStore store(dir.File("k.ini"));
        store.WriteInt(kOptionsGroup, "EnableExtFilter", GetParam().enable);
        store.WriteText(kOptionsGroup, "FilterExts", GetParam().text);
    }
    IniSettingsStore store(dir.File("k.ini"));
    Records loaded;
    loaded.Load(store);
    EXPECT_EQ(loaded.settings.filterExts, GetParam().text);
    EXPECT_EQ(loaded.settings.filterExtList, GetParam().list);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FilterExtsTest,
    testing::Values(FilterCase{1, "MP3; wav,, OGG ", {"mp3", "wav", "ogg"}},
                    FilterCase{0, "MP3; wav,, OGG ", {}}, FilterCase{1, " , ;", {}},
                    FilterCase{1, ".Mp3,a\tb", {".mp3", "a\tb"}},
                    FilterCase{1, "FLÄC;ÆÖ,ΣΩ,ДЖ", {"fläc", "æö", "σω", "дж"}}),
    [](const testing::TestParamInfo<FilterCase>& test) {
        return std::string(test.param.enable ? "FilterOn" : "FilterOff") + "_case" +
               std::to_string(test.index);
    });

TEST(FilterExts, InvalidUtf8PassesThroughUnchanged) {
    ConvertSettings s;
    s.enableExtFilter = true;
    s.filterExts = std::string("A\xFF\xC3(B", 5);
    ParseFilterExts(s);
    ASSERT_EQ(s.filterExtList.size(), 1u);
    EXPECT_EQ(s.filterExtList[0], std::string("a\xFF\xC3(b", 5));
}

struct MaskCase {
    int mask;
    bool ok;
    std::set<std::string> keys;
};

class SaveMaskTest : public testing::TestWithParam<MaskCase> {};

TEST_P(SaveMaskTest, WritesExactlyItsGroup) {
    TempDir dir;
    {
        IniSettingsStore store(dir.File("k.ini"));
        Records records(dir.File("Documents"));
        EXPECT_EQ(records.Save(store, GetParam().mask), GetParam().ok);
    }
    EXPECT_EQ(KeysIn(dir.File("k.ini")), GetParam().keys);
}

std::set<std::string> Union(std::set<std::string> a, const std::set<std::string>& b) {
    a.insert(b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Masks, SaveMaskTest,
    testing::Values(MaskCase{0, false, {}}, MaskCase{4, true, OptionKeys({"Folder"})},
                    MaskCase{16, true, OptionKeys({"OutputFormat", "OptStartPageIndex"})},
                    MaskCase{8, true, OptionsMaskKeys()},
                    MaskCase{4 | 16, true,
                             OptionKeys({"Folder", "OutputFormat", "OptStartPageIndex"})},
                    MaskCase{4 | 8 | 16, true,
                             Union(OptionsMaskKeys(),
                                   OptionKeys({"Folder", "OutputFormat", "OptStartPageIndex"}))}),
    [](const testing::TestParamInfo<MaskCase>& test) {
        return "Mask" + std::to_string(test.param.mask);
    });

TEST(SaveMask, ValuesWrittenAreTheRecordsOwn) {
    TempDir dir;
    Records records;
    records.settings.folder = "/music/in";
    records.settings.outputFormat = FormatId{2100};  // no row: kept as it is
    records.settings.optStartPageIndex = 3;
    FindOutputFormat(records.catalogue, FormatId::kMp3)->bitRate = 192000;
    {
        IniSettingsStore store(dir.File("k.ini"));
        records.Save(store, kSaveFolder | kSaveOptions | kSaveFormatAndPage);
    }
    EXPECT_EQ(IniValue(dir.File("k.ini"), "Options/Folder"), "/music/in");
    EXPECT_EQ(IniValue(dir.File("k.ini"), "Options/OutputFormat"), "2100");
    EXPECT_EQ(IniValue(dir.File("k.ini"), "Options/OptStartPageIndex"), "3");
    EXPECT_EQ(IniValue(dir.File("k.ini"), "Options/MP3BitRate"), "192000");
}

TEST(PerFormatValues, RowsWithTheirOwnPagesAreNeverStoredNorLoaded) {
    TempDir dir;
    Records records;
    records.settings.wmaBitRate = 48000;
    records.settings.wmaChannels = 1;
    for (FormatId id :
         {FormatId::kAmr, FormatId::kAwb, FormatId::kWma, FormatId::kWmv, FormatId::kAsf}) {
        OutputFormatEntry* row = FindOutputFormat(records.catalogue, id);
        ASSERT_NE(row, nullptr);
        EXPECT_FALSE(row->HasStoredParameters());
        row->bitRate = 777;
        row->channels = 2;
    }
    {
        IniSettingsStore store(dir.File("k.ini"));
        records.Save(store, kSaveOptions);
    }
    const std::set<std::string> keys = KeysIn(dir.File("k.ini"));
    for (const char* prefix : {"AMR", "AWB", "WMV", "ASF"})
        for (const char* suffix : kFormatSuffixes)
            EXPECT_EQ(keys.count(std::string("Options/") + prefix + suffix), 0u)
                << prefix << suffix;
    EXPECT_EQ(keys.count("Options/WMACodecID"), 0u);
    // The Windows Media names hold the Windows Media options, not the row.
    EXPECT_EQ(IniValue(dir.File("k.ini"), "Options/WMABitRate"), "48000");
    EXPECT_EQ(IniValue(dir.File("k.ini"), "Options/WMAChannels"), "1");

    IniSettingsStore store(dir.File("k.ini"));
    store.WriteInt(kOptionsGroup, "AMRBitRate", 999);
    store.WriteInt(kOptionsGroup, "ASFChannels", 1);
    Records loaded;
    loaded.Load(store);
    EXPECT_EQ(FindOutputFormat(loaded.catalogue, FormatId::kAmr)->bitRate,
              FindOutputFormat(Records().catalogue, FormatId::kAmr)->bitRate);
    EXPECT_EQ(FindOutputFormat(loaded.catalogue, FormatId::kAsf)->channels,
              FindOutputFormat(Records().catalogue, FormatId::kAsf)->channels);
}

TEST(FirstRun, ReportedOnceThenStoredAsZero) {
    TempDir dir;
    {
        IniSettingsStore store(dir.File("k.ini"));
        EXPECT_TRUE(CheckFirstRun(store));
    }
    EXPECT_EQ(IniValue(dir.File("k.ini"), "Options/FirstRun"), "0");
    IniSettingsStore store(dir.File("k.ini"));
    EXPECT_FALSE(CheckFirstRun(store));
    EXPECT_EQ(KeysIn(dir.File("k.ini")), OptionKeys({"FirstRun"}));
}

TEST(FirstRun, NoMaskWritesIt) {
    TempDir dir;
    IniSettingsStore store(dir.File("k.ini"));
    Records records;
    records.Save(store, kSaveFolder | kSaveOptions | kSaveFormatAndPage);
    EXPECT_EQ(KeysIn(dir.File("k.ini")).count("Options/FirstRun"), 0u);
    EXPECT_TRUE(CheckFirstRun(store));
}

TEST(FirstRun, UnwritableStoreIsAlwaysAFirstRun) {
    TempDir dir;
    std::ofstream(dir.File("plain")) << "x";
    // A store below a regular file can never be created.
    IniSettingsStore store(dir.File("plain/k.ini"));
    EXPECT_TRUE(CheckFirstRun(store));
    EXPECT_TRUE(CheckFirstRun(store));
    EXPECT_FALSE(SaveTagOptions(store, TagOptions{}));
}

TEST(TagOptionsStore, EmptyAndAbsentTextsLoadEmpty) {
    TempDir dir;
    {
        IniSettingsStore store(dir.File("k.ini"));
        store.WriteText(kTagOptionsGroup, "Title", "");
        store.WriteText(kTagOptionsGroup, "Album", "Kept");
        store.WriteInt(kTagOptionsGroup, "CustomTrackNum", 12);
    }
    IniSettingsStore store(dir.File("k.ini"));
    TagOptions tags;
    tags.title = "old title";
    tags.artist = "old artist";
    tags.titleAsFileName = false;
    ASSERT_TRUE(LoadTagOptions(store, tags));
    EXPECT_EQ(tags.title, "");
    EXPECT_EQ(tags.artist, "");
    EXPECT_EQ(tags.album, "Kept");
    EXPECT_EQ(tags.customTrackNum, 12);
    EXPECT_FALSE(tags.titleAsFileName);  // absent numbers keep their value
}

TEST(TagOptionsStore, MissingGroupFailsAndLeavesTheRecord) {
    TempDir dir;
    IniSettingsStore store(dir.File("k.ini"));
    store.WriteInt(kOptionsGroup, "Volume", 50);
    TagOptions tags;
    tags.title = "mine";
    EXPECT_FALSE(LoadTagOptions(store, tags));
    EXPECT_EQ(tags.title, "mine");
    EXPECT_TRUE(SaveTagOptions(store, tags));
    TagOptions again;
    EXPECT_TRUE(LoadTagOptions(store, again));
    EXPECT_EQ(again.title, "mine");
}

TEST(SettingsStoreFile, UnreadableNumbersLeaveDefaults) {
    TempDir dir;
    std::ofstream(dir.File("k.ini")) << "[Options]\nVolume=loud\nMonoType=1\nSkipLength=-1\n"
                                        "CreateDirs=99999999999\nFilterExts=mp3, wav\n"
                                        "EnableExtFilter=1\n";
    IniSettingsStore store(dir.File("k.ini"));
    Records loaded;
    loaded.Load(store);
    EXPECT_EQ(loaded.settings.volume, 100);
    EXPECT_EQ(loaded.settings.monoType, MonoMix::kLeft);
    EXPECT_EQ(loaded.settings.skipLength, 0xFFFFFFFFu);
    EXPECT_FALSE(loaded.settings.createDirs);
    EXPECT_EQ(loaded.settings.filterExtList, (std::vector<std::string>{"mp3", "wav"}));
}

}  // namespace
}  // namespace kestrune
