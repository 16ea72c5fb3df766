#include "engine/source_list.h"

#include <filesystem>

#include "engine/conversion_session.h"

namespace kestrune {

// Names differing in letter case are different files here; one file reached by different
// spellings (".", "..", links) is listed once.
std::string SourceList::Key(const std::string& path) {
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
}

int SourceList::AddSourceFile(ConversionSession& session, const std::string& path) {
    const std::string key = Key(path);
    if (index_.count(key))
        return 0;
    SourceFileEntry entry;
    if (!session.ProbeSource(path, entry).opened)
        return -1;
    entries_.push_back(std::move(entry));
    const size_t row = entries_.size() - 1;
    index_[key] = row;
    return static_cast<int>(row);
}

void SourceList::Remove(size_t row) {
    if (row >= entries_.size())
        return;
    entries_.erase(entries_.begin() + static_cast<long>(row));
    index_.clear();
    for (size_t i = 0; i < entries_.size(); ++i)
        index_[Key(entries_[i].path)] = i;
}

void SourceList::Clear() {
    entries_.clear();
    index_.clear();
}

}  // namespace kestrune
