#include "engine/tag_choice.h"

#include "audio/audio_reader.h"
#include "readers/tag_file_reader.h"
#include "readers/wav_info_tags.h"

namespace kestrune {

namespace {

// What the cover options make of the pictures: none, or the folder's cover for a source
// without any.
void ApplyCoverOptions(const ConvertSettings& settings, const std::string& sourcePath,
                       TagSet& tags) {
    if (!settings.copyCoverArt) {
        tags.pictures.clear();
        return;
    }
    TagPicture cover;
    if (tags.pictures.empty() && settings.folderCoverArt && ReadFolderCover(sourcePath, cover))
        tags.pictures.push_back(std::move(cover));
}

}  // namespace

bool ChooseOutputTags(const ConvertSettings& settings, const TagOptions& options,
                      const SourceFileEntry& source, AudioReader& reader,
                      const std::string& customTitle, int customTrack, bool levelChanged,
                      TagSet& tags) {
    bool nineFromSource = false;
    if (settings.id3TagType == TagSource::kCustom) {
        tags = CustomTagSet(options, customTitle, customTrack);
    } else if (settings.id3TagType == TagSource::kFromSource) {
        tags = TagSet{};
        nineFromSource = reader.ReadTags(tags) != 0;
        if (!nineFromSource && source.sourceType == SourceType::kWav)
            nineFromSource = ReadWavInfoTags(source.path, tags) != 0;
    } else {
        return false;
    }
    TagSet file;
    ReadFileTags(source.path, file);
    if (source.track.number) {
        // The image's own texts and its sheet are the whole disc's, not the track's.
        for (auto it = file.fields.begin(); it != file.fields.end();)
            it = IsNineKey(it->first) || it->first == "CUESHEET" || it->first == "ISRC" ||
                         tags.fields.count(it->first)
                     ? file.fields.erase(it)
                     : std::next(it);
        file.trackTotal = source.track.tags.trackTotal;
        file.disc = source.track.tags.disc ? source.track.tags.disc : file.disc;
    }
    AddSourceTags(tags, file, settings.id3TagType == TagSource::kFromSource);
    ApplyCoverOptions(settings, source.path, tags);
    if (levelChanged)
        DropReplayGain(tags);
    return settings.id3TagType == TagSource::kCustom || nineFromSource || tags.HasMore();
}

bool ChooseMergeTags(const ConvertSettings& settings, const TagOptions& options,
                     const std::string& customTitle, const SourceFileEntry& firstSource,
                     TagSet& tags) {
    if (settings.id3TagType != TagSource::kCustom && settings.id3TagType != TagSource::kFromSource)
        return false;
    const std::string& firstSourcePath = firstSource.path;
    TagSet first;
    ReadFileTags(firstSourcePath, first);
    // Tracks of a disc image: the sheet names the disc, over what the image file says.
    if (firstSource.track.number) {
        const TagSet& sheet = firstSource.track.tags;
        const std::pair<const char*, const std::string*> texts[] = {
            {"ALBUM", &sheet.album}, {"DATE", &sheet.year}, {"GENRE", &sheet.genre}};
        for (const auto& [key, text] : texts)
            if (!text->empty())
                first.fields[key] = {*text};
        if (sheet.disc)
            first.disc = sheet.disc;
    }
    // A ReplayGain of the first part says nothing of the whole: AlbumTags takes none.
    if (settings.id3TagType == TagSource::kCustom) {
        tags = CustomTagSet(options, customTitle, 0);
        AddAlbumTags(tags, first);
    } else {
        tags = AlbumTags(first);
    }
    ApplyCoverOptions(settings, firstSourcePath, tags);
    return settings.id3TagType == TagSource::kCustom || !tags.Empty() || tags.HasMore();
}

}  // namespace kestrune
