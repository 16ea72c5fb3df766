#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/tag_set.h"
#include "writers/output_catalogue.h"

namespace kestrune {

// The tags that a writer cannot write while it encodes go into the finished file, with TagLib,
// before the file takes its name: the pictures and every field beyond the nine texts, for
// MP3 (ID3v2.3, as its muxer writes it), MP2 (ID3v2.4), AIFF and WAV (an ID3v2.4 chunk at the
// end), FLAC, the MPEG-4 family (M4A, M4B, M4R, MP4, MOV, 3GP, 3G2) and Windows Media. Ogg and
// Matroska get the whole set from the FFmpeg writer itself (rewriting an Ogg file's comment
// would move every page after it); an Ogg file only has the names of its fields' further values
// put right here (see OggCommentEntries). What a format cannot hold is left out.
//
// An output whose tags hold nothing beyond the nine texts stays as its writer wrote it, except
// MP2, whose muxer drops every tag: it gets the nine here. AIFF and WAV outputs, which get no
// tags of their own, get them all once there is more than the nine: their writer is then given
// the tags too (the muxer writes the nine into the file's own text chunks or INFO list, which
// many programs read) before they go into the ID3 chunk as well.
bool TagsGoIntoFinishedFile(const OutputFormatEntry& format, const TagSet& tags);
// True when FFmpeg's muxer of that name writes an Ogg file, whose tags are Vorbis comments
// whatever its codec (Vorbis, FLAC, Opus, Speex).
bool IsOggContainer(std::string_view container);
// True when a finished output of format can take tags here at all.
bool FinishedFileTakesTags(const OutputFormatEntry& format);

// Writes tags into path, the finished output of format. The nine texts that the writer wrote
// already stay as they are, unless tags hold one of them more fully (several values, a more
// exact date). False only when the file could not be written (it may be damaged then); a file
// that TagLib cannot read is left alone.
bool WriteTagsToFile(const std::string& path, const OutputFormatEntry& format, const TagSet& tags);

// True when a finished output of format can take fields written afterwards (WriteFieldsToFile):
// every one that takes tags, and Matroska audio.
bool FinishedFileTakesFields(const OutputFormatEntry& format);

// Sets fields (one value a name) in path, the finished output of format, replacing the fields
// of those names and keeping every other: for what is known of an output only once it is
// written, its measured loudness. Ogg files take them too (their comment is rewritten), Windows
// Media files as attributes of those names, Matroska files among their tags (the file is
// copied). False only when the file could not be written.
bool WriteFieldsToFile(const std::string& path, const OutputFormatEntry& format,
                       const std::map<std::string, std::string>& fields);

// Everything beyond the nine texts (fuller forms of the nine among them) as entries of an Ogg
// file's comment, one a value, for the FFmpeg writer: the fields, the totals and disc, and the
// pictures (METADATA_BLOCK_PICTURE). Its muxer keeps one value a name, so each value after a
// name's first goes in under a stand-in name, the last letter a control character, which
// WriteTagsToFile puts right in the finished file. Past 31 of them, further values are joined
// to their field's last one and further pictures left out.
std::vector<std::pair<std::string, std::string>> OggCommentEntries(const TagSet& tags);

// Bytes to leave free in the tag of an MP3 or FLAC header for what WriteTagsToFile will add,
// so that it goes in place rather than moving the whole file.
size_t TagRoomFor(const TagSet& tags);

}  // namespace kestrune
