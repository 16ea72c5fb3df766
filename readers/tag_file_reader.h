#pragma once

#include <string>

#include "audio/tag_set.h"

namespace kestrune {

// Everything the tags of a file hold, as TagLib reads them, or FFmpeg for the containers that
// TagLib does not know: every named field with all its values in fields (the nine among them,
// under their own names), the track total, the disc with its total, and the pictures. The nine
// texts are left as they are: the file's reader gives those. Fields that describe how the file
// was encoded (the encoder, its delay and padding) are left out, and so is a picture larger
// than kLargestPicture. Damaged tags give what could be read of them; reading never throws.
// True when anything was found.
bool ReadFileTags(const std::string& path, TagSet& tags);

// The cover image in a source's folder: cover, folder or front, .jpg or .png, in any letter
// case (the first of those, in that order, that the folder holds), as the front cover. False
// when there is none, or it is empty or larger than kLargestPicture.
bool ReadFolderCover(const std::string& sourcePath, TagPicture& picture);

}  // namespace kestrune
