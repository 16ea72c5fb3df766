#pragma once

#include <deque>
#include <map>
#include <string>

#include "readers/source_type.h"

namespace kestrune {

class ConversionSession;

// The files of the list with their probed columns. A file is in the list once, whatever the
// spelling of its path.
class SourceList {
public:
    // Probes path and appends it: the new row's index; 0 when the path is already listed
    // (nothing is added); -1 when no reader could open it (the session's LastFailure says
    // why, where there is more to say).
    int AddSourceFile(ConversionSession& session, const std::string& path);
    void Remove(size_t row);
    void Clear();

    size_t size() const { return entries_.size(); }

    // What identifies a file in a list: its canonical path (the path itself when it has none).
    static std::string Key(const std::string& path);
    SourceFileEntry& operator[](size_t row) { return entries_[row]; }
    const SourceFileEntry& operator[](size_t row) const { return entries_[row]; }

private:
    std::deque<SourceFileEntry> entries_;  // stable addresses for the drivers
    std::map<std::string, size_t> index_;  // canonical path -> row
};

}  // namespace kestrune
