#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/tag_set.h"
#include "writers/output_catalogue.h"

namespace kestrune {

// Where output files go ("DestOutputFolderOpt").
constexpr int kDestSameAsSource = 199;
constexpr int kDestSpecificFolder = 399;
// What happens when the target exists ("TargetExistsOpt").
constexpr int kTargetRename = 11;
constexpr int kTargetOverwrite = 22;
constexpr int kTargetSkip = 33;
// "MonoType".
constexpr int kMonoAverage = 0;
constexpr int kMonoLeft = 1;
constexpr int kMonoRight = 2;
// "VolumeType".
constexpr int kVolumeNormalize = 0;
constexpr int kVolumeManual = 1;
constexpr int kVolumeOriginal = 2;
// "ID3TagType".
constexpr int kTagsNone = 0;
constexpr int kTagsCustom = 1;
constexpr int kTagsFromSource = 2;
// "TrackNumType".
constexpr int kTrackNone = 0;
constexpr int kTrackRunPosition = 1;
constexpr int kTrackCustom = 2;

// "SimultaneousConversions": how many files the window converts at once.
constexpr int kMinSimultaneousConversions = 1;
constexpr int kMaxSimultaneousConversions = 64;

// The processors this process may run on (a scheduler may grant fewer than the machine has).
int UsableCores();

// Every option of the program. Fields are named after their stored value names; the
// defaults here are the ones a fresh profile gets, except the two that depend on the
// documents folder (see the settings store's ApplyDocumentsFolderDefaults).
struct ConvertSettings {
    std::string folder;                           // "Folder"
    int destOutputFolderOpt = kDestSameAsSource;  // "DestOutputFolderOpt"
    std::string destSpecifiedFolder;              // "DestSpecifiedFolder"
    int createDirs = 0;                           // "CreateDirs"
    int browseOutputFolder = 1;                   // "BrowseOutputFolder"
    int outputFiles2MyDocuments = 1;              // "OutputFiles2MyDocuments"
    int targetExistsOpt = kTargetRename;          // "TargetExistsOpt"
    int monoType = kMonoAverage;                  // "MonoType"
    int doNotLoadHiddenFiles = 0;                 // "DoNotLoadHiddenFiles"
    int enableDTSForCDA = 0;                      // "EnableDTSForCDA"
    int enableConvertLength = 0;                  // "EnableConvertLength"
    int enableSkipLength = 0;                     // "EnableSkipLength"
    uint32_t convertLength = 0;                   // "ConvertLength", milliseconds
    uint32_t skipLength = 0;                      // "SkipLength", milliseconds
    int enableExtFilter = 0;                      // "EnableExtFilter"
    std::string filterExts;                       // "FilterExts", as typed
    int volume = 100;                             // "Volume", percent
    int volumeType = kVolumeOriginal;             // "VolumeType"
    int id3TagType = kTagsFromSource;             // "ID3TagType"
    FormatId outputFormat = FormatId::kMp3;       // "OutputFormat"
    int wmaAutoEncParam = 1;                      // "WMAAutoEncParam"
    int wmaBitRate = 128000;                      // "WMABitRate"
    int wmaSampleRate = 44100;                    // "WMASampleRate"
    int wmaChannels = 2;                          // "WMAChannels"
    int amrType = 0;                              // "AMRType": 0 narrow band, 1 wide band
    int amrMode = 6;                              // "AMRMode"
    int amrwbMode = 6;                            // "AMRWBMode"
    int amrDtx = 0;                               // "AMRDTX"
    int awbMode = 6;                              // "AWBMode"
    int awbDtx = 0;                               // "AWBDTX"
    int optStartPageIndex = 0;                    // "OptStartPageIndex"
    // "SimultaneousConversions", 1 to 64: by default the cores this process may use.
    int simultaneousConversions = std::min(UsableCores(), kMaxSimultaneousConversions);

    // Derived from filterExts by ParseFilterExts; never stored.
    std::vector<std::string> filterExtList;
    // Working values of the normalising pass; never stored.
    double normalizeWork1 = -1.0;
    double normalizeWork2 = -1.0;

    bool operator==(const ConvertSettings&) const = default;
};

// The custom tag ("ID3" group).
struct TagOptions {
    int titleAsFileName = 1;        // "TitleAsFileName"
    std::string title;              // "Title"
    std::string artist;             // "Artist"
    std::string album;              // "Album"
    std::string year;               // "Year"
    std::string genre;              // "Genre"
    std::string comment;            // "Comment"
    std::string composer;           // "Composer"
    std::string copyright;          // "Copyright"
    int trackNumType = kTrackNone;  // "TrackNumType"
    int customTrackNum = 0;         // "CustomTrackNum"

    bool operator==(const TagOptions&) const = default;
};

// The custom tag as a writer takes it, with the title and track number of one output (track 0:
// none).
TagSet CustomTagSet(const TagOptions& tags, const std::string& title, int track);

// Rebuilds filterExtList from enableExtFilter and filterExts: spaces removed, ";" taken as ",",
// lower-cased, split at "," with empty pieces dropped. Empty while the filter is off.
void ParseFilterExts(ConvertSettings& settings);

}  // namespace kestrune
