#include "settings/settings_persistence.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>
#include <cstdint>
#include <limits>

#include "settings/option_table.h"

namespace kestrune {

namespace {

// Not an option: whether the program has started before.
constexpr const char* kFirstRunKey = "FirstRun";

// Reads every option of group from the store into the records. Numbers are 32-bit values,
// accepted signed or unsigned; absent or unreadable values leave the field alone. A text that
// is absent leaves it too, unless absentTextClears.
void LoadGroup(SettingsStore& store, OptionGroup group, ConvertSettings& settings, TagOptions& tags,
               bool absentTextClears) {
    const std::string g = group == OptionGroup::kTags ? kTagOptionsGroup : kOptionsGroup;
    for (const OptionEntry& e : OptionTable()) {
        if (e.Group() != group)
            continue;
        if (!e.IsNumber()) {
            // Paths are read whole: a longer path than some fixed room is still the user's path.
            if (std::optional<std::string> text = store.ReadText(g, e.key))
                e.SetText(settings, tags, std::move(*text));
            else if (absentTextClears)
                e.SetText(settings, tags, {});
            continue;
        }
        const std::optional<int64_t> value = store.ReadInt(g, e.key);
        if (!value || !e.SetNumber(settings, tags, *value))
            continue;
        const int64_t loaded = e.Number(settings, tags);
        if (loaded >= e.minimum && loaded <= e.maximum)
            continue;
        if (e.range == OptionRange::kLoadsAsDefault)
            e.Copy(ConvertSettings{}, TagOptions{}, settings, tags);
        else if (e.range == OptionRange::kClamped)
            e.SetNumber(settings, tags, std::clamp(loaded, e.minimum, e.maximum));
    }
}

void SaveGroup(SettingsStore& store, OptionGroup group, int mask, const ConvertSettings& settings,
               const TagOptions& tags) {
    const std::string g = group == OptionGroup::kTags ? kTagOptionsGroup : kOptionsGroup;
    for (const OptionEntry& e : OptionTable()) {
        if (e.Group() != group || !(e.saveMask & mask))
            continue;
        if (e.IsNumber())
            store.WriteInt(g, e.key, e.Number(settings, tags));
        else
            store.WriteText(g, e.key, e.Text(settings, tags));
    }
}

}  // namespace

void ApplyDocumentsFolderDefaults(ConvertSettings& settings, const std::string& documentsFolder) {
    settings.destOutputFolderOpt = documentsFolder.empty() ? DestOutputFolder::kSameAsSource
                                                           : DestOutputFolder::kSpecificFolder;
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
    if (!store.HasGroup(kOptionsGroup))
        return true;
    LoadGroup(store, OptionGroup::kOptions, s, tags, false);
    for (OutputFormatEntry& row : catalogue) {
        if (!row.HasStoredParameters())
            continue;
        const std::string prefix = row.SettingsName();
        for (const OptionEntry& e : OptionTable()) {
            if (e.Group() != OptionGroup::kFormat)
                continue;
            if (const std::optional<int64_t> value = store.ReadInt(kOptionsGroup, prefix + e.key))
                e.SetNumber(row, *value);
        }
    }
    ParseFilterExts(s);
    LoadTagOptions(store, tags);
    return true;
}

bool SaveSettings(SettingsStore& store, int mask, const ConvertSettings& s, const TagOptions& tags,
                  const OutputCatalogue& catalogue) {
    if (mask == 0)
        return false;
    SaveGroup(store, OptionGroup::kOptions, mask, s, tags);
    if (mask & kSaveOptions) {
        for (const OutputFormatEntry& row : catalogue) {
            if (!row.HasStoredParameters())
                continue;
            const std::string prefix = row.SettingsName();
            for (const OptionEntry& e : OptionTable())
                if (e.Group() == OptionGroup::kFormat)
                    store.WriteInt(kOptionsGroup, prefix + e.key, e.Number(row));
        }
        SaveTagOptions(store, tags);
    }
    store.Sync();
    return true;
}

bool LoadTagOptions(SettingsStore& store, TagOptions& t) {
    if (!store.HasGroup(kTagOptionsGroup))
        return false;
    // Only the tag's own fields are reached; the settings record is a stand-in.
    ConvertSettings unused;
    LoadGroup(store, OptionGroup::kTags, unused, t, true);
    return true;
}

bool SaveTagOptions(SettingsStore& store, const TagOptions& t) {
    if (!store.IsWritable())
        return false;
    SaveGroup(store, OptionGroup::kTags, kSaveOptions, ConvertSettings{}, t);
    return store.Sync();
}

bool CheckFirstRun(SettingsStore& store) {
    if (!store.IsWritable())
        return true;
    // A value that is absent or does not fit 32 bits counts as 1.
    const std::optional<int64_t> stored = store.ReadInt(kOptionsGroup, kFirstRunKey);
    const bool firstRun = !stored || *stored < std::numeric_limits<int32_t>::min() ||
                          *stored > std::numeric_limits<uint32_t>::max() ||
                          static_cast<uint32_t>(*stored) != 0;
    if (firstRun) {
        store.WriteInt(kOptionsGroup, kFirstRunKey, 0);
        store.Sync();
    }
    return firstRun;
}

}  // namespace kestrune
