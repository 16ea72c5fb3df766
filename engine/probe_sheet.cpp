#include <algorithm>
#include <cstdio>
#include <map>

#include "engine/conversion_session.h"
#include "engine/sheet_images.h"
#include "readers/cue_sheet.h"
#include "readers/embedded_cue_sheet.h"

namespace kestrune {

namespace {

FailureReason ReasonOf(CueError error) {
    switch (error) {
        case CueError::kTooLarge:
            return FailureReason::kSheetTooLarge;
        case CueError::kTooManyTracks:
            return FailureReason::kSheetTooManyTracks;
        case CueError::kNoTracks:
            return FailureReason::kSheetNoTracks;
        case CueError::kBadLine:
            return FailureReason::kSheetBadLine;
        case CueError::kUnreadable:
            return FailureReason::kSheetUnreadable;
        case CueError::kNone:
            break;
    }
    return FailureReason::kNone;
}

// "NN - Title", or "NN - Track NN"; a character that cannot stand in a file name becomes "_".
std::string TrackName(int number, const std::string& title) {
    char nn[8];
    std::snprintf(nn, sizeof nn, "%02d", number);
    std::string name =
        std::string(nn) + " - " + (title.empty() ? "Track " + std::string(nn) : title);
    for (char& c : name) {
        if (c == '/' || (static_cast<unsigned char>(c) < 0x20))
            c = '_';
    }
    return name;
}

TagSet TrackTags(const CueSheet& sheet, const CueTrack& t) {
    TagSet tags;
    tags.title = t.title;
    tags.artist = t.performer.empty() ? sheet.performer : t.performer;
    tags.album = sheet.title;
    tags.year = sheet.date;
    tags.genre = sheet.genre;
    tags.comment = sheet.comment;
    tags.track = std::to_string(t.number);
    tags.composer = t.songwriter.empty() ? sheet.songwriter : t.songwriter;
    tags.trackTotal = static_cast<int>(sheet.tracks.size());
    tags.disc = sheet.disc;
    if (!sheet.performer.empty())
        tags.fields["ALBUMARTIST"] = {sheet.performer};
    if (!t.isrc.empty())
        tags.fields["ISRC"] = {t.isrc};
    return tags;
}

}  // namespace

ProbeResult ConversionSession::ProbeRows(const std::string& path,
                                         std::vector<SourceFileEntry>& rows) {
    if (ExtensionOf(path) == ".cue")
        return ProbeSheet(path, rows);
    SourceFileEntry entry;
    ProbeResult result = ProbeSource(path, entry);
    if (!result.opened)
        return result;
    // A FLAC or WavPack image with its sheet inside lists its tracks; a sheet that does not
    // fit it leaves the image one row, as it was.
    if (entry.sourceType == SourceType::kFlac || entry.sourceType == SourceType::kWavPack) {
        const CueParse parsed = ReadEmbeddedCueSheet(path);
        std::vector<SourceFileEntry> tracks;
        if (parsed.error == CueError::kNone &&
            RowsOfSheet(parsed.sheet, path, {{std::string(), entry}}, tracks).reason ==
                FailureReason::kNone) {
            failure_ = {};
            rows.insert(rows.end(), std::make_move_iterator(tracks.begin()),
                        std::make_move_iterator(tracks.end()));
            return result;
        }
        failure_ = {};
    }
    rows.push_back(std::move(entry));
    return result;
}

ProbeResult ConversionSession::ProbeSheet(const std::string& path,
                                          std::vector<SourceFileEntry>& rows) {
    ProbeResult result;
    failure_ = {};
    const CueParse parsed = ReadCueSheet(path);
    if (parsed.error != CueError::kNone) {
        Fail(ReasonOf(parsed.error), parsed.detail);
        result.failure = failure_;
        return result;
    }
    // Every file the sheet names, probed once.
    std::map<std::string, SourceFileEntry> images;
    for (const CueTrack& t : parsed.sheet.tracks) {
        if (images.count(t.file))
            continue;
        const std::string image = SheetImagePath(path, t.file);
        if (image.empty()) {
            Fail(FailureReason::kSheetFileMissing, t.file);
            result.failure = failure_;
            return result;
        }
        SourceFileEntry entry;
        const ProbeResult probed = ProbeSource(image, entry);
        if (!probed.opened)
            return probed;
        result.windowsMediaMissing |= probed.windowsMediaMissing;
        images.emplace(t.file, std::move(entry));
    }
    std::vector<SourceFileEntry> found;
    result.failure = RowsOfSheet(parsed.sheet, path, images, found);
    if (result.failure.reason != FailureReason::kNone) {
        failure_ = result.failure;
        return result;
    }
    rows.insert(rows.end(), std::make_move_iterator(found.begin()),
                std::make_move_iterator(found.end()));
    result.opened = true;
    return result;
}

Failure ConversionSession::RowsOfSheet(const CueSheet& sheet, const std::string& sheetPath,
                                       const std::map<std::string, SourceFileEntry>& images,
                                       std::vector<SourceFileEntry>& rows) const {
    for (size_t i = 0; i < sheet.tracks.size(); ++i) {
        const CueTrack& t = sheet.tracks[i];
        const SourceFileEntry& image = images.at(t.file);
        SourceFileEntry row = image;
        ImageTrack& track = row.track;
        track.number = t.number;
        track.sheetPath = sheetPath;
        track.name = TrackName(t.number, t.title);
        track.inSamples = sheet.inSamples;
        // A pregap (INDEX 00) stays at the end of the track before in the same file. The first
        // track of a file starts at the file's start: a pregap that begins a file of its own (or
        // a hidden first track of a disc) goes with it rather than being lost.
        const bool firstInFile = i == 0 || sheet.tracks[i - 1].file != t.file;
        track.startFrames = firstInFile ? 0 : t.index01;
        const bool nextInFile = i + 1 < sheet.tracks.size() && sheet.tracks[i + 1].file == t.file;
        track.endFrames = nextInFile ? sheet.tracks[i + 1].index01 : -1;
        track.tags = TrackTags(sheet, t);
        // The image's duration is known to the second: a start past it is certain; one within
        // its last second is found when the track converts.
        const int64_t perSecond = sheet.inSamples ? image.sampleRate : kCueFramesPerSecond;
        if (perSecond <= 0)
            return {FailureReason::kTrackPastEnd, std::to_string(t.number)};
        const int64_t startSecond = track.startFrames / perSecond;
        const int64_t endSecond =
            track.endFrames < 0 ? image.duration : track.endFrames / perSecond;
        if (t.index01 / perSecond > image.duration)
            return {FailureReason::kTrackPastEnd, std::to_string(t.number)};
        if (endSecond > image.duration)  // the next track starts past the end
            return {FailureReason::kTrackPastEnd, std::to_string(sheet.tracks[i + 1].number)};
        row.duration = static_cast<int>(track.endFrames < 0
                                            ? image.duration - startSecond
                                            : (track.endFrames - track.startFrames) / perSecond);
        rows.push_back(std::move(row));
    }
    return {};
}

}  // namespace kestrune
