#include "settings/settings_persistence.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>
#include <cstdint>
#include <limits>

namespace kestrune {

namespace {

// Values are 32-bit numbers; a stored value is accepted as signed or unsigned and kept as its
// 32 bits. Absent or unreadable values leave the field alone.
template <typename Field>
void ReadDword(SettingsStore& store, const std::string& group, const std::string& name,
               Field& field) {
    const std::optional<int64_t> value = store.ReadInt(group, name);
    if (!value || *value < std::numeric_limits<int32_t>::min() ||
        *value > std::numeric_limits<uint32_t>::max()) {
        return;
    }
    field = static_cast<Field>(static_cast<uint32_t>(*value));
}

void ReadText(SettingsStore& store, const std::string& group, const std::string& name,
              std::string& field) {
    if (std::optional<std::string> value = store.ReadText(group, name))
        field = std::move(*value);
}

// The five stored values of a catalogue row, by suffix.
struct FormatValue {
    const char* suffix;
    int OutputFormatEntry::*field;
};
constexpr FormatValue kFormatValues[] = {
    {"AutoEncParam", &OutputFormatEntry::autoParams}, {"CodecID", &OutputFormatEntry::codecId},
    {"SampleRate", &OutputFormatEntry::sampleRate},   {"BitRate", &OutputFormatEntry::bitRate},
    {"Channels", &OutputFormatEntry::channels},
};

}  // namespace

void ApplyDocumentsFolderDefaults(ConvertSettings& settings, const std::string& documentsFolder) {
    settings.destOutputFolderOpt =
        documentsFolder.empty() ? kDestSameAsSource : kDestSpecificFolder;
    settings.destSpecifiedFolder = documentsFolder;
}

std::string FindDocumentsFolder() {
    const QString path = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (path.isEmpty() || !QDir().mkpath(path))
        return {};
    return path.toStdString();
}

bool LoadSettings(SettingsStore& store, ConvertSettings& s, TagOptions& tags,
                  OutputCatalogue& catalogue) {
    const std::string g = kOptionsGroup;
    if (!store.HasGroup(g))
        return true;

    // Paths are read whole: a longer path than some fixed room is still the user's path.
    ReadText(store, g, "Folder", s.folder);
    ReadDword(store, g, "DestOutputFolderOpt", s.destOutputFolderOpt);
    ReadText(store, g, "DestSpecifiedFolder", s.destSpecifiedFolder);
    ReadDword(store, g, "CreateDirs", s.createDirs);
    ReadDword(store, g, "BrowseOutputFolder", s.browseOutputFolder);
    ReadDword(store, g, "OutputFiles2MyDocuments", s.outputFiles2MyDocuments);
    ReadDword(store, g, "TargetExistsOpt", s.targetExistsOpt);
    ReadDword(store, g, "MonoType", s.monoType);
    ReadDword(store, g, "DoNotLoadHiddenFiles", s.doNotLoadHiddenFiles);
    ReadDword(store, g, "EnableDTSForCDA", s.enableDTSForCDA);
    ReadDword(store, g, "EnableConvertLength", s.enableConvertLength);
    ReadDword(store, g, "EnableSkipLength", s.enableSkipLength);
    ReadDword(store, g, "ConvertLength", s.convertLength);
    ReadDword(store, g, "SkipLength", s.skipLength);
    ReadDword(store, g, "EnableExtFilter", s.enableExtFilter);
    ReadText(store, g, "FilterExts", s.filterExts);
    ParseFilterExts(s);
    ReadDword(store, g, "Volume", s.volume);
    ReadDword(store, g, "VolumeType", s.volumeType);
    ReadDword(store, g, "ID3TagType", s.id3TagType);
    ReadDword(store, g, "OutputFormat", s.outputFormat);

    for (OutputFormatEntry& row : catalogue) {
        if (!row.HasStoredParameters())
            continue;
        const std::string prefix = row.SettingsName();
        for (const FormatValue& v : kFormatValues)
            ReadDword(store, g, prefix + v.suffix, row.*v.field);
    }

    ReadDword(store, g, "WMAAutoEncParam", s.wmaAutoEncParam);
    ReadDword(store, g, "WMABitRate", s.wmaBitRate);
    ReadDword(store, g, "WMASampleRate", s.wmaSampleRate);
    ReadDword(store, g, "WMAChannels", s.wmaChannels);
    if (s.wmaChannels != 1 && s.wmaChannels != 2)
        s.wmaChannels = 2;

    ReadDword(store, g, "AMRType", s.amrType);
    ReadDword(store, g, "AMRMode", s.amrMode);
    ReadDword(store, g, "AMRWBMode", s.amrwbMode);
    ReadDword(store, g, "AMRDTX", s.amrDtx);
    ReadDword(store, g, "AWBMode", s.awbMode);
    ReadDword(store, g, "AWBDTX", s.awbDtx);
    ReadDword(store, g, "OptStartPageIndex", s.optStartPageIndex);
    ReadDword(store, g, "SimultaneousConversions", s.simultaneousConversions);
    s.simultaneousConversions = std::clamp(s.simultaneousConversions, kMinSimultaneousConversions,
                                           kMaxSimultaneousConversions);

    LoadTagOptions(store, tags);
    return true;
}

bool SaveSettings(SettingsStore& store, int mask, const ConvertSettings& s, const TagOptions& tags,
                  const OutputCatalogue& catalogue) {
    if (mask == 0)
        return false;
    const std::string g = kOptionsGroup;

    if (mask & kSaveFormatAndPage) {
        store.WriteInt(g, "OutputFormat", StoredValue(s.outputFormat));
        store.WriteInt(g, "OptStartPageIndex", s.optStartPageIndex);
    }
    if (mask & kSaveFolder)
        store.WriteText(g, "Folder", s.folder);
    if (mask & kSaveOptions) {
        store.WriteInt(g, "DestOutputFolderOpt", s.destOutputFolderOpt);
        store.WriteText(g, "DestSpecifiedFolder", s.destSpecifiedFolder);
        store.WriteInt(g, "CreateDirs", s.createDirs);
        store.WriteInt(g, "BrowseOutputFolder", s.browseOutputFolder);
        store.WriteInt(g, "OutputFiles2MyDocuments", s.outputFiles2MyDocuments);
        store.WriteInt(g, "TargetExistsOpt", s.targetExistsOpt);
        store.WriteInt(g, "MonoType", s.monoType);
        store.WriteInt(g, "DoNotLoadHiddenFiles", s.doNotLoadHiddenFiles);
        store.WriteInt(g, "EnableDTSForCDA", s.enableDTSForCDA);
        store.WriteInt(g, "EnableConvertLength", s.enableConvertLength);
        store.WriteInt(g, "EnableSkipLength", s.enableSkipLength);
        store.WriteInt(g, "ConvertLength", s.convertLength);
        store.WriteInt(g, "SkipLength", s.skipLength);
        store.WriteInt(g, "EnableExtFilter", s.enableExtFilter);
        store.WriteText(g, "FilterExts", s.filterExts);
        store.WriteInt(g, "Volume", s.volume);
        store.WriteInt(g, "VolumeType", s.volumeType);
        store.WriteInt(g, "ID3TagType", s.id3TagType);

        for (const OutputFormatEntry& row : catalogue) {
            if (!row.HasStoredParameters())
                continue;
            const std::string prefix = row.SettingsName();
            for (const FormatValue& v : kFormatValues)
                store.WriteInt(g, prefix + v.suffix, row.*v.field);
        }

        store.WriteInt(g, "WMAAutoEncParam", s.wmaAutoEncParam);
        store.WriteInt(g, "WMABitRate", s.wmaBitRate);
        store.WriteInt(g, "WMASampleRate", s.wmaSampleRate);
        store.WriteInt(g, "WMAChannels", s.wmaChannels);
        store.WriteInt(g, "AMRType", s.amrType);
        store.WriteInt(g, "AMRMode", s.amrMode);
        store.WriteInt(g, "AMRWBMode", s.amrwbMode);
        store.WriteInt(g, "AMRDTX", s.amrDtx);
        store.WriteInt(g, "AWBMode", s.awbMode);
        store.WriteInt(g, "AWBDTX", s.awbDtx);
        store.WriteInt(g, "SimultaneousConversions", s.simultaneousConversions);
        SaveTagOptions(store, tags);
    }
    store.Sync();
    return true;
}

bool LoadTagOptions(SettingsStore& store, TagOptions& t) {
    const std::string g = kTagOptionsGroup;
    if (!store.HasGroup(g))
        return false;

    ReadDword(store, g, "TitleAsFileName", t.titleAsFileName);
    const std::pair<const char*, std::string TagOptions::*> texts[] = {
        {"Title", &TagOptions::title},       {"Artist", &TagOptions::artist},
        {"Album", &TagOptions::album},       {"Year", &TagOptions::year},
        {"Genre", &TagOptions::genre},       {"Comment", &TagOptions::comment},
        {"Composer", &TagOptions::composer}, {"Copyright", &TagOptions::copyright},
    };
    // A text that is absent clears the field rather than keeping an old value.
    for (const auto& [name, field] : texts)
        t.*field = store.ReadText(g, name).value_or("");
    ReadDword(store, g, "TrackNumType", t.trackNumType);
    ReadDword(store, g, "CustomTrackNum", t.customTrackNum);
    return true;
}

bool SaveTagOptions(SettingsStore& store, const TagOptions& t) {
    if (!store.IsWritable())
        return false;
    const std::string g = kTagOptionsGroup;
    store.WriteInt(g, "TitleAsFileName", t.titleAsFileName);
    store.WriteText(g, "Title", t.title);
    store.WriteText(g, "Artist", t.artist);
    store.WriteText(g, "Album", t.album);
    store.WriteText(g, "Year", t.year);
    store.WriteText(g, "Genre", t.genre);
    store.WriteText(g, "Comment", t.comment);
    store.WriteText(g, "Composer", t.composer);
    store.WriteText(g, "Copyright", t.copyright);
    store.WriteInt(g, "TrackNumType", t.trackNumType);
    store.WriteInt(g, "CustomTrackNum", t.customTrackNum);
    return store.Sync();
}

bool CheckFirstRun(SettingsStore& store) {
    if (!store.IsWritable())
        return true;
    int firstRun = 1;
    ReadDword(store, kOptionsGroup, "FirstRun", firstRun);
    if (firstRun != 0) {
        store.WriteInt(kOptionsGroup, "FirstRun", 0);
        store.Sync();
    }
    return firstRun != 0;
}

}  // namespace kestrune
