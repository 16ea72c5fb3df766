#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/tag_set.h"
#include "writers/output_catalogue.h"

namespace kestrune {

// The stored codes of the options that choose one of several ways. A stored number that names
// none of them is kept as it is (the store writes it back unchanged); each user says how it
// treats one.

// Where output files go ("DestOutputFolderOpt").
enum class DestOutputFolder : int32_t { kSameAsSource = 199, kSpecificFolder = 399 };
// What happens when the target exists ("TargetExistsOpt").
enum class TargetExists : int32_t { kRename = 11, kOverwrite = 22, kSkip = 33 };
// What folding two channels to one gives ("MonoType").
enum class MonoMix : int32_t { kAverage = 0, kLeft = 1, kRight = 2 };
// How the volume changes ("VolumeType").
// kLoudness brings each file's integrated loudness to loudnessTarget.
enum class VolumeMode : int32_t { kNormalize = 0, kManual = 1, kOriginal = 2, kLoudness = 3 };
// Which ReplayGain tags outputs get ("ReplayGain"): none, the track's, or the track's and the
// album's (the files of a run that share a source folder).
enum class ReplayGainMode : int32_t { kOff = 0, kTrack = 1, kAlbum = 2 };
// Which tags outputs get ("ID3TagType").
enum class TagSource : int32_t { kNone = 0, kCustom = 1, kFromSource = 2 };
// The custom tag's track number ("TrackNumType").
enum class TrackNumMode : int32_t { kNone = 0, kRunPosition = 1, kCustom = 2 };
// The variant of the "amr" format ("AMRType").
enum class AmrBand : int32_t { kNarrow = 0, kWide = 1 };

// The range of "LoudnessTarget", and the highest peak the loudness mode lets a gain reach.
constexpr int kMinLoudnessTarget = -70;
constexpr int kMaxLoudnessTarget = -5;
constexpr double kLoudnessPeakLimitDb = -1.0;

// "SimultaneousConversions": how many files the window converts at once.
constexpr int kMinSimultaneousConversions = 1;
constexpr int kMaxSimultaneousConversions = 64;

// The processors this process may run on (a scheduler may grant fewer than the machine has).
int UsableCores();

// Every option of the program. Fields are named after their stored value names; the
// defaults here are the ones a fresh profile gets, except the two that depend on the
// documents folder (see the settings store's ApplyDocumentsFolderDefaults). The settings
// layer's option table says how each is stored, edited and given on the command line.
struct ConvertSettings {
    std::string folder;
    DestOutputFolder destOutputFolderOpt = DestOutputFolder::kSameAsSource;
    std::string destSpecifiedFolder;
    bool createDirs = false;
    bool browseOutputFolder = true;
    bool outputFiles2MyDocuments = true;
    TargetExists targetExistsOpt = TargetExists::kRename;
    MonoMix monoType = MonoMix::kAverage;
    bool doNotLoadHiddenFiles = false;
    bool enableDTSForCDA = false;
    bool enableConvertLength = false;
    bool enableSkipLength = false;
    uint32_t convertLength = 0;  // milliseconds
    uint32_t skipLength = 0;     // milliseconds
    bool enableExtFilter = false;
    std::string filterExts;  // as typed
    int volume = 100;        // percent
    VolumeMode volumeType = VolumeMode::kOriginal;
    // The loudness in LUFS that VolumeMode::kLoudness brings files to ("LoudnessTarget").
    int loudnessTarget = -18;
    ReplayGainMode replayGain = ReplayGainMode::kOff;
    // Peaks are measured oversampled, as a reconstructing converter sees them ("TruePeak"):
    // for the ReplayGain peaks and the loudness mode's limit. It costs more.
    bool truePeak = false;
    TagSource id3TagType = TagSource::kFromSource;
    // Pictures go into the outputs' tags along with the rest ("CopyCoverArt"); a source without
    // any then gets its folder's cover image when that is asked for ("FolderCoverArt").
    bool copyCoverArt = true;
    bool folderCoverArt = false;
    FormatId outputFormat = FormatId::kMp3;
    bool wmaAutoEncParam = true;
    int wmaBitRate = 128000;
    int wmaSampleRate = 44100;
    int wmaChannels = 2;
    AmrBand amrType = AmrBand::kNarrow;
    int amrMode = 6;
    int amrwbMode = 6;
    bool amrDtx = false;
    int awbMode = 6;
    bool awbDtx = false;
    int optStartPageIndex = 0;
    // The window as it was left: its normal size, whether it was maximised, the list's column
    // widths ("206,70,..."; empty for the first start's) and the column it was sorted by
    // (0 for none, else the column's number from 1), descending or not.
    int windowWidth = 950;
    int windowHeight = 650;
    bool windowMaximized = false;
    std::string listColumnWidths;
    int listSortColumn = 0;
    bool listSortDescending = false;
    // 1 to 64: by default the cores this process may use.
    int simultaneousConversions = std::min(UsableCores(), kMaxSimultaneousConversions);

    // Derived from filterExts by ParseFilterExts; never stored.
    std::vector<std::string> filterExtList;
    // Working values of the normalising pass; never stored.
    double normalizeWork1 = -1.0;
    double normalizeWork2 = -1.0;

    bool operator==(const ConvertSettings&) const = default;
};

// The custom tag (stored in a group of its own).
struct TagOptions {
    bool titleAsFileName = true;
    std::string title;
    std::string artist;
    std::string album;
    std::string year;
    std::string genre;
    std::string comment;
    std::string composer;
    std::string copyright;
    TrackNumMode trackNumType = TrackNumMode::kNone;
    int customTrackNum = 0;

    bool operator==(const TagOptions&) const = default;
};

// The custom tag as a writer takes it, with the title and track number of one output (track 0:
// none).
TagSet CustomTagSet(const TagOptions& tags, const std::string& title, int track);

// Rebuilds filterExtList from enableExtFilter and filterExts: spaces removed, ";" taken as ",",
// lower-cased, split at "," with empty pieces dropped. Empty while the filter is off.
void ParseFilterExts(ConvertSettings& settings);

}  // namespace kestrune
