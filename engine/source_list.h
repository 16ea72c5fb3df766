#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "readers/source_type.h"

namespace kestrune {

class ConversionSession;

// The files of the list with their probed columns. A file is in the list once, whatever the
// spelling of its path.
class SourceList {
public:
    // Probes path and appends its rows (a cue sheet's tracks, or the file): the first new row's
    // index; 0 when they are all listed already (nothing is added); -1 when no reader could
    // open it (the session's LastFailure says why, where there is more to say).
    int AddSourceFile(ConversionSession& session, const std::string& path);
    void Remove(size_t row);
    void Clear();

    size_t size() const { return entries_.size(); }

    // What identifies a file in a list: its canonical path (the path itself when it has none).
    static std::string Key(const std::string& path);
    // What identifies a row: its file's key, with the track's number for a track of an image.
    static std::string KeyOf(const SourceFileEntry& entry);
    SourceFileEntry& operator[](size_t row) { return entries_[row]; }
    const SourceFileEntry& operator[](size_t row) const { return entries_[row]; }

private:
    std::deque<SourceFileEntry> entries_;  // stable addresses for the drivers
    std::map<std::string, size_t> index_;  // canonical path -> row
};

// Leaves out of paths every image that a cue sheet among them names: its tracks stand for it.
void DropSheetImages(std::vector<std::string>& paths);

}  // namespace kestrune
