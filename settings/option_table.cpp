#include "settings/option_table.h"

#include <limits>
#include <stdexcept>
#include <type_traits>

#include "settings/settings_persistence.h"

namespace kestrune {

namespace {

constexpr OptionChoice kDestChoices[] = {
    {StoredCode(DestOutputFolder::kSameAsSource), "sameAsSource"},
    {StoredCode(DestOutputFolder::kSpecificFolder), "specificFolder"},
};
constexpr OptionChoice kTargetChoices[] = {
    {StoredCode(TargetExists::kRename), "rename", "rename"},
    {StoredCode(TargetExists::kOverwrite), "overwrite", "overwrite"},
    {StoredCode(TargetExists::kSkip), "skip", "skip"},
};
constexpr OptionChoice kMonoChoices[] = {
    {StoredCode(MonoMix::kAverage), "average", "avg"},
    {StoredCode(MonoMix::kLeft), "left", "left"},
    {StoredCode(MonoMix::kRight), "right", "right"},
};
constexpr OptionChoice kVolumeChoices[] = {
    {StoredCode(VolumeMode::kNormalize), "normalize"},
    {StoredCode(VolumeMode::kManual), "manual"},
    {StoredCode(VolumeMode::kOriginal), "original"},
    {StoredCode(VolumeMode::kLoudness), "loudness"},
};
constexpr OptionChoice kReplayGainChoices[] = {
    {StoredCode(ReplayGainMode::kOff), "off", "off"},
    {StoredCode(ReplayGainMode::kTrack), "track", "track"},
    {StoredCode(ReplayGainMode::kAlbum), "album", "album"},
};
// In the order kestrune-cli names the words.
constexpr OptionChoice kTagChoices[] = {
    {StoredCode(TagSource::kFromSource), "fromSource", "source"},
    {StoredCode(TagSource::kCustom), "custom", "custom"},
    {StoredCode(TagSource::kNone), "none", "none"},
};
constexpr OptionChoice kTrackChoices[] = {
    {StoredCode(TrackNumMode::kNone), "none"},
    {StoredCode(TrackNumMode::kRunPosition), "runPosition"},
    {StoredCode(TrackNumMode::kCustom), "custom"},
};
constexpr OptionChoice kAmrChoices[] = {
    {StoredCode(AmrBand::kNarrow), "narrowBand"},
    {StoredCode(AmrBand::kWide), "wideBand"},
};

constexpr int64_t kLengthMax = std::numeric_limits<int32_t>::max();
constexpr const char* kTagHelp = "the custom tag (with --tags custom)";

using S = ConvertSettings;
using T = TagOptions;
using R = OutputFormatEntry;

const OptionEntry kTable[] = {
    // The options kestrune-cli has flags for, in the order of its --help.
    {.key = "OutputFormat",
     .name = "outputFormat",
     .member = &S::outputFormat,
     .saveMask = kSaveFormatAndPage,
     .flag = {"--format", "-f", "F", "output format: id (1000), extension (mp3) or label",
              FlagAction::kOwn}},
    {.key = "DestSpecifiedFolder",
     .name = "destSpecifiedFolder",
     .member = &S::destSpecifiedFolder,
     .saveMask = kSaveOptions,
     .switchedBy = {&S::destOutputFolderOpt, StoredCode(DestOutputFolder::kSpecificFolder)},
     .flag = {"--output-dir", "-o", "DIR", "write outputs into DIR (\"Specific folder\")",
              FlagAction::kFolder}},
    {.key = "DestOutputFolderOpt",
     .name = "destOutputFolderOpt",
     .member = &S::destOutputFolderOpt,
     .saveMask = kSaveOptions,
     .choices = kDestChoices,
     .flag = {"--same-folder", nullptr, nullptr, "write each output next to its source",
              FlagAction::kSet, StoredCode(DestOutputFolder::kSameAsSource)}},
    {.key = "CreateDirs",
     .name = "createDirs",
     .member = &S::createDirs,
     .saveMask = kSaveOptions,
     .flag = {"--keep-tree", nullptr, nullptr, "recreate each source's folder tree below DIR",
              FlagAction::kSet}},
    {.key = "TargetExistsOpt",
     .name = "targetExistsOpt",
     .member = &S::targetExistsOpt,
     .saveMask = kSaveOptions,
     .choices = kTargetChoices,
     .flag = {"--if-exists", nullptr, "P", "rename | overwrite | skip when the target exists",
              FlagAction::kWord}},
    {.key = "SkipLength",
     .name = "skipLength",
     .member = &S::skipLength,
     .saveMask = kSaveOptions,
     .maximum = kLengthMax,
     .switchedBy = {&S::enableSkipLength, 1, true},
     .flag = {"--skip", nullptr, "MS", "skip the first MS milliseconds of each file",
              FlagAction::kNumber}},
    {.key = "ConvertLength",
     .name = "convertLength",
     .member = &S::convertLength,
     .saveMask = kSaveOptions,
     .maximum = kLengthMax,
     .switchedBy = {&S::enableConvertLength, 1, true},
     .flag = {"--length", nullptr, "MS", "convert at most MS milliseconds of each file",
              FlagAction::kNumber}},
    {.key = "MonoType",
     .name = "monoType",
     .member = &S::monoType,
     .saveMask = kSaveOptions,
     .choices = kMonoChoices,
     .flag = {"--mono", nullptr, "M", "avg | left | right: how stereo folds to one channel",
              FlagAction::kWord}},
    {.key = "VolumeType",
     .name = "volumeType",
     .member = &S::volumeType,
     .saveMask = kSaveOptions,
     .choices = kVolumeChoices,
     .flag = {"--normalize", nullptr, nullptr, "normalise each file to full scale",
              FlagAction::kSet, StoredCode(VolumeMode::kNormalize)}},
    {.key = "Volume",
     .name = "volume",
     .member = &S::volume,
     .saveMask = kSaveOptions,
     .minimum = 10,
     .maximum = 32767,
     .switchedBy = {&S::volumeType, StoredCode(VolumeMode::kManual)},
     .flag = {"--volume", nullptr, "PCT", "change the volume to PCT percent", FlagAction::kNumber}},
    {.key = "LoudnessTarget",
     .name = "loudnessTarget",
     .member = &S::loudnessTarget,
     .saveMask = kSaveOptions,
     .minimum = kMinLoudnessTarget,
     .maximum = kMaxLoudnessTarget,
     .range = OptionRange::kClamped,
     .switchedBy = {&S::volumeType, StoredCode(VolumeMode::kLoudness)},
     .flag = {"--loudness", nullptr, "LUFS",
              "normalise each file's loudness to LUFS (-70 to -5), its peak kept\n"
              "at -1 dBFS at most",
              FlagAction::kOwn}},
    {.key = "ReplayGain",
     .name = "replayGain",
     .member = &S::replayGain,
     .saveMask = kSaveOptions,
     .choices = kReplayGainChoices,
     .flag = {"--replaygain", nullptr, "RG",
              "off | track | album: measure the loudness and write ReplayGain tags\n"
              "(album: over the files of a run that share a folder)",
              FlagAction::kWord}},
    {.key = "TruePeak",
     .name = "truePeak",
     .member = &S::truePeak,
     .saveMask = kSaveOptions,
     .flag = {"--true-peak", nullptr, nullptr,
              "measure true peaks rather than sample peaks (slower)", FlagAction::kSet}},
    {.key = "ID3TagType",
     .name = "id3TagType",
     .member = &S::id3TagType,
     .saveMask = kSaveOptions,
     .choices = kTagChoices,
     .flag = {"--tags", nullptr, "T", "source | custom | none", FlagAction::kWord}},
    {.key = "TitleAsFileName",
     .name = "titleAsFileName",
     .member = &T::titleAsFileName,
     .saveMask = kSaveOptions},
    {.key = "Title",
     .name = "title",
     .member = &T::title,
     .saveMask = kSaveOptions,
     .switchedBy = {&T::titleAsFileName, 0},
     .flag = {"--title", nullptr, "TEXT", kTagHelp, FlagAction::kText}},
    {.key = "Artist",
     .name = "artist",
     .member = &T::artist,
     .saveMask = kSaveOptions,
     .flag = {"--artist", nullptr, "TEXT", kTagHelp, FlagAction::kText}},
    {.key = "Album",
     .name = "album",
     .member = &T::album,
     .saveMask = kSaveOptions,
     .flag = {"--album", nullptr, "TEXT", kTagHelp, FlagAction::kText}},
    {.key = "Year",
     .name = "year",
     .member = &T::year,
     .saveMask = kSaveOptions,
     .flag = {"--year", nullptr, "TEXT", kTagHelp, FlagAction::kText}},
    {.key = "Genre",
     .name = "genre",
     .member = &T::genre,
     .saveMask = kSaveOptions,
     .flag = {"--genre", nullptr, "TEXT", kTagHelp, FlagAction::kText}},
    {.key = "Comment",
     .name = "comment",
     .member = &T::comment,
     .saveMask = kSaveOptions,
     .flag = {"--comment", nullptr, "TEXT", kTagHelp, FlagAction::kText}},
    {.key = "Composer",
     .name = "composer",
     .member = &T::composer,
     .saveMask = kSaveOptions,
     .flag = {"--composer", nullptr, "TEXT", kTagHelp, FlagAction::kText}},
    {.key = "Copyright",
     .name = "copyright",
     .member = &T::copyright,
     .saveMask = kSaveOptions,
     .flag = {"--copyright", nullptr, "TEXT", kTagHelp, FlagAction::kText}},
    {.key = "TrackNumType",
     .name = "trackNumType",
     .member = &T::trackNumType,
     .saveMask = kSaveOptions,
     .choices = kTrackChoices,
     .flag = {"--track", nullptr, "N|auto",
              "custom track number, or the file's position in the run", FlagAction::kOwn}},
    {.key = "CustomTrackNum",
     .name = "customTrackNum",
     .member = &T::customTrackNum,
     .saveMask = kSaveOptions,
     .maximum = 255,
     .range = OptionRange::kRefused},
    {.key = "CopyCoverArt",
     .name = "copyCoverArt",
     .member = &S::copyCoverArt,
     .saveMask = kSaveOptions,
     .flag = {"--no-cover", nullptr, nullptr, "leave the sources' cover art out of the outputs",
              FlagAction::kSet, 0}},
    {.key = "FolderCoverArt",
     .name = "folderCoverArt",
     .member = &S::folderCoverArt,
     .saveMask = kSaveOptions,
     .flag = {"--folder-cover", nullptr, nullptr,
              "a file without cover art gets its folder's cover image", FlagAction::kSet}},
    // Each catalogue row's own values (the rows with pages of their own have none). Given on
    // the command line, they apply to the chosen format.
    {.key = "AutoEncParam",
     .name = "autoParams",
     .member = &R::autoParams,
     .saveMask = kSaveOptions},
    {.key = "CodecID",
     .name = "codecId",
     .member = &R::codecId,
     .saveMask = kSaveOptions,
     .flag = {"--codec", nullptr, "C",
              "codec id (0x15001 or 86017) or label substring of the format's codecs",
              FlagAction::kOwn}},
    {.key = "SampleRate",
     .name = "sampleRate",
     .member = &R::sampleRate,
     .saveMask = kSaveOptions,
     .flag = {"--rate", nullptr, "HZ", "sample rate (0: the source's)", FlagAction::kNumber}},
    {.key = "BitRate",
     .name = "bitRate",
     .member = &R::bitRate,
     .saveMask = kSaveOptions,
     .flag = {"--bitrate", nullptr, "BPS", "bit rate in bit/s (0: automatic)",
              FlagAction::kNumber}},
    {.key = "Channels",
     .name = "channels",
     .member = &R::channels,
     .saveMask = kSaveOptions,
     .maximum = 2,
     .flag = {"--channels", nullptr, "N", "1, 2 (0: the source's)", FlagAction::kNumber}},
    {.key = "EnableDTSForCDA",
     .name = "enableDTSForCDA",
     .member = &S::enableDTSForCDA,
     .saveMask = kSaveOptions,
     .flag = {"--dts-cda", nullptr, nullptr, "decode CD tracks as DTS", FlagAction::kSet}},
    {.key = "BrowseOutputFolder",
     .name = "browseOutputFolder",
     .member = &S::browseOutputFolder,
     .saveMask = kSaveOptions,
     .flag = {"--browse", nullptr, nullptr, "show the first output in the file manager at the end",
              FlagAction::kGiven}},

    // The options of the window alone.
    {.key = "OutputFiles2MyDocuments",
     .name = "outputFiles2MyDocuments",
     .member = &S::outputFiles2MyDocuments,
     .saveMask = kSaveOptions},
    {.key = "DoNotLoadHiddenFiles",
     .name = "doNotLoadHiddenFiles",
     .member = &S::doNotLoadHiddenFiles,
     .saveMask = kSaveOptions},
    {.key = "EnableSkipLength",
     .name = "enableSkipLength",
     .member = &S::enableSkipLength,
     .saveMask = kSaveOptions},
    {.key = "EnableConvertLength",
     .name = "enableConvertLength",
     .member = &S::enableConvertLength,
     .saveMask = kSaveOptions},
    {.key = "EnableExtFilter",
     .name = "enableExtFilter",
     .member = &S::enableExtFilter,
     .saveMask = kSaveOptions},
    {.key = "FilterExts",
     .name = "filterExts",
     .member = &S::filterExts,
     .saveMask = kSaveOptions,
     .switchedBy = {&S::enableExtFilter}},
    {.key = "WMAAutoEncParam",
     .name = "wmaAutoEncParam",
     .member = &S::wmaAutoEncParam,
     .saveMask = kSaveOptions},
    {.key = "WMABitRate", .name = "wmaBitRate", .member = &S::wmaBitRate, .saveMask = kSaveOptions},
    {.key = "WMASampleRate",
     .name = "wmaSampleRate",
     .member = &S::wmaSampleRate,
     .saveMask = kSaveOptions},
    {.key = "WMAChannels",
     .name = "wmaChannels",
     .member = &S::wmaChannels,
     .saveMask = kSaveOptions,
     .minimum = 1,
     .maximum = 2,
     .range = OptionRange::kLoadsAsDefault},
    {.key = "AMRType",
     .name = "amrType",
     .member = &S::amrType,
     .saveMask = kSaveOptions,
     .choices = kAmrChoices},
    // The AMR modes are indexes into the rate lists of the AMR and AWB pages.
    {.key = "AMRMode",
     .name = "amrMode",
     .member = &S::amrMode,
     .saveMask = kSaveOptions,
     .maximum = 7},
    {.key = "AMRWBMode",
     .name = "amrwbMode",
     .member = &S::amrwbMode,
     .saveMask = kSaveOptions,
     .maximum = 8},
    {.key = "AMRDTX", .name = "amrDtx", .member = &S::amrDtx, .saveMask = kSaveOptions},
    {.key = "AWBMode",
     .name = "awbMode",
     .member = &S::awbMode,
     .saveMask = kSaveOptions,
     .maximum = 8},
    {.key = "AWBDTX", .name = "awbDtx", .member = &S::awbDtx, .saveMask = kSaveOptions},
    // kestrune-cli's -j is its own: a script's run does not follow the window's setting.
    {.key = "SimultaneousConversions",
     .name = "simultaneousConversions",
     .member = &S::simultaneousConversions,
     .saveMask = kSaveOptions,
     .minimum = kMinSimultaneousConversions,
     .maximum = kMaxSimultaneousConversions,
     .range = OptionRange::kClamped},
    {.key = "OptStartPageIndex",
     .name = "optStartPageIndex",
     .member = &S::optStartPageIndex,
     .saveMask = kSaveFormatAndPage},
    {.key = "Folder", .name = "folder", .member = &S::folder, .saveMask = kSaveFolder},
    {.key = "WindowWidth",
     .name = "windowWidth",
     .member = &S::windowWidth,
     .saveMask = kSaveWindow,
     .maximum = 100000},
    {.key = "WindowHeight",
     .name = "windowHeight",
     .member = &S::windowHeight,
     .saveMask = kSaveWindow,
     .maximum = 100000},
    {.key = "WindowMaximized",
     .name = "windowMaximized",
     .member = &S::windowMaximized,
     .saveMask = kSaveWindow},
    {.key = "ListColumnWidths",
     .name = "listColumnWidths",
     .member = &S::listColumnWidths,
     .saveMask = kSaveWindow},
    {.key = "ListSortColumn",
     .name = "listSortColumn",
     .member = &S::listSortColumn,
     .saveMask = kSaveWindow,
     .maximum = 7},
    {.key = "ListSortDescending",
     .name = "listSortDescending",
     .member = &S::listSortDescending,
     .saveMask = kSaveWindow},
};

template <class M>
struct MemberOf;
template <class C, class V>
struct MemberOf<V C::*> {
    using Class = C;
    using Value = V;
};

// Calls f with the field in whichever of the records holds it (the records may be const): a
// row's field through row, the others through settings and tags.
template <class Result, class Settings, class Tags, class Row, class F>
Result WithField(const OptionMember& member, Settings* settings, Tags* tags, Row* row, F&& f) {
    return std::visit(
        [&](auto m) -> Result {
            using M = decltype(m);
            if constexpr (std::is_same_v<M, std::monostate>) {
                throw std::logic_error("an option entry without a field");
            } else {
                using Class = typename MemberOf<M>::Class;
                auto* records = [&] {
                    if constexpr (std::is_same_v<Class, ConvertSettings>)
                        return settings;
                    else if constexpr (std::is_same_v<Class, TagOptions>)
                        return tags;
                    else
                        return row;
                }();
                if (!records)
                    throw std::logic_error("an option reached through the wrong records");
                return f(records->*m);
            }
        },
        member);
}

template <class V>
int64_t StoredNumberOf(const V& value) {
    if constexpr (std::is_same_v<V, bool>)
        return value ? 1 : 0;
    else if constexpr (std::is_enum_v<V>)
        return static_cast<int64_t>(static_cast<std::underlying_type_t<V>>(value));
    else if constexpr (std::is_arithmetic_v<V>)
        return static_cast<int64_t>(value);
    else
        throw std::logic_error("a text option read as a number");
}

template <class V>
bool SetStoredNumber(V& field, int64_t stored) {
    if (stored < std::numeric_limits<int32_t>::min() ||
        stored > std::numeric_limits<uint32_t>::max())
        return false;
    const auto bits = static_cast<uint32_t>(stored);
    if constexpr (std::is_same_v<V, bool>)
        field = bits != 0;
    else if constexpr (std::is_enum_v<V>)
        field = static_cast<V>(static_cast<std::underlying_type_t<V>>(bits));
    else if constexpr (std::is_arithmetic_v<V>)
        field = static_cast<V>(bits);
    else
        throw std::logic_error("a text option given a number");
    return true;
}

}  // namespace

OptionGroup OptionEntry::Group() const {
    return std::visit(
        [](auto m) {
            using M = decltype(m);
            if constexpr (std::is_same_v<M, std::monostate>) {
                return OptionGroup::kOptions;
            } else {
                using Class = typename MemberOf<M>::Class;
                if constexpr (std::is_same_v<Class, TagOptions>)
                    return OptionGroup::kTags;
                else if constexpr (std::is_same_v<Class, OutputFormatEntry>)
                    return OptionGroup::kFormat;
                else
                    return OptionGroup::kOptions;
            }
        },
        member);
}

OptionType OptionEntry::Type() const {
    return std::visit(
        [](auto m) {
            using M = decltype(m);
            if constexpr (std::is_same_v<M, std::monostate>) {
                return OptionType::kText;
            } else {
                using V = typename MemberOf<M>::Value;
                if constexpr (std::is_same_v<V, bool>)
                    return OptionType::kBool;
                else if constexpr (std::is_same_v<V, std::string>)
                    return OptionType::kText;
                else if constexpr (std::is_same_v<V, uint32_t>)
                    return OptionType::kUnsigned;
                else if constexpr (std::is_enum_v<V> && !std::is_same_v<V, FormatId>)
                    return OptionType::kChoice;
                else
                    return OptionType::kInt;
            }
        },
        member);
}

const OptionChoice* OptionEntry::Choice(int64_t stored) const {
    for (const OptionChoice& c : choices)
        if (c.stored == stored)
            return &c;
    return nullptr;
}

int64_t OptionEntry::TypeMinimum() const {
    switch (Type()) {
        case OptionType::kBool:
        case OptionType::kUnsigned:
            return 0;
        default:
            return std::numeric_limits<int32_t>::min();
    }
}

int64_t OptionEntry::TypeMaximum() const {
    switch (Type()) {
        case OptionType::kBool:
            return 1;
        case OptionType::kUnsigned:
            return std::numeric_limits<uint32_t>::max();
        default:
            return std::numeric_limits<int32_t>::max();
    }
}

int64_t OptionEntry::Number(const ConvertSettings& settings, const TagOptions& tags) const {
    return WithField<int64_t>(member, &settings, &tags,
                              static_cast<const OutputFormatEntry*>(nullptr),
                              [](const auto& field) { return StoredNumberOf(field); });
}

int64_t OptionEntry::Number(const OutputFormatEntry& row) const {
    return WithField<int64_t>(member, static_cast<const ConvertSettings*>(nullptr),
                              static_cast<const TagOptions*>(nullptr), &row,
                              [](const auto& field) { return StoredNumberOf(field); });
}

bool OptionEntry::SetNumber(ConvertSettings& settings, TagOptions& tags, int64_t stored) const {
    return WithField<bool>(member, &settings, &tags, static_cast<OutputFormatEntry*>(nullptr),
                           [stored](auto& field) { return SetStoredNumber(field, stored); });
}

bool OptionEntry::SetNumber(OutputFormatEntry& row, int64_t stored) const {
    return WithField<bool>(member, static_cast<ConvertSettings*>(nullptr),
                           static_cast<TagOptions*>(nullptr), &row,
                           [stored](auto& field) { return SetStoredNumber(field, stored); });
}

const std::string& OptionEntry::Text(const ConvertSettings& settings,
                                     const TagOptions& tags) const {
    return WithField<const std::string&>(
        member, &settings, &tags, static_cast<const OutputFormatEntry*>(nullptr),
        [](const auto& field) -> const std::string& {
            if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::string>)
                return field;
            else
                throw std::logic_error("a number option read as a text");
        });
}

void OptionEntry::SetText(ConvertSettings& settings, TagOptions& tags, std::string text) const {
    WithField<void>(member, &settings, &tags, static_cast<OutputFormatEntry*>(nullptr),
                    [&text](auto& field) {
                        if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::string>)
                            field = std::move(text);
                        else
                            throw std::logic_error("a number option given a text");
                    });
}

void OptionEntry::Copy(const ConvertSettings& fromSettings, const TagOptions& fromTags,
                       ConvertSettings& toSettings, TagOptions& toTags) const {
    std::visit(
        [&](auto m) {
            using M = decltype(m);
            if constexpr (!std::is_same_v<M, std::monostate>) {
                using Class = typename MemberOf<M>::Class;
                if constexpr (std::is_same_v<Class, ConvertSettings>)
                    toSettings.*m = fromSettings.*m;
                else if constexpr (std::is_same_v<Class, TagOptions>)
                    toTags.*m = fromTags.*m;
            }
        },
        member);
}

void OptionEntry::Copy(const OutputFormatEntry& from, OutputFormatEntry& to) const {
    if (const auto* m = std::get_if<int OutputFormatEntry::*>(&member))
        to.** m = from.**m;
}

std::span<const OptionEntry> OptionTable() {
    return kTable;
}

const OptionEntry& OptionFor(const OptionMember& member) {
    for (const OptionEntry& entry : kTable)
        if (entry.member == member)
            return entry;
    throw std::logic_error("a field without an option entry");
}

}  // namespace kestrune
