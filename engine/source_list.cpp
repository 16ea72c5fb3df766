#include "engine/source_list.h"

#include <filesystem>
#include <set>

#include "engine/conversion_session.h"
#include "engine/sheet_images.h"

namespace kestrune {

// Names differing in letter case are different files here; one file reached by different
// spellings (".", "..", links) is listed once.
std::string SourceList::Key(const std::string& path) {
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : canonical.string();
}

std::string SourceList::KeyOf(const SourceFileEntry& entry) {
    if (!entry.track.number)
        return Key(entry.path);
    return Key(entry.track.sheetPath) + "#" + std::to_string(entry.track.number);
}

int SourceList::AddSourceFile(ConversionSession& session, const std::string& path) {
    if (index_.count(Key(path)))
        return 0;
    std::vector<SourceFileEntry> rows;
    if (!session.ProbeRows(path, rows).opened)
        return -1;
    int first = 0;
    for (SourceFileEntry& entry : rows) {
        const std::string key = KeyOf(entry);
        if (index_.count(key))
            continue;
        entries_.push_back(std::move(entry));
        const size_t row = entries_.size() - 1;
        index_[key] = row;
        if (!first)
            first = static_cast<int>(row);
    }
    return first;
}

void DropSheetImages(std::vector<std::string>& paths) {
    std::set<std::string> images;
    for (const std::string& path : paths) {
        if (ExtensionOf(path) != ".cue")
            continue;
        for (const std::string& image : SheetImages(path))
            images.insert(SourceList::Key(image));
    }
    if (images.empty())
        return;
    std::erase_if(paths,
                  [&](const std::string& path) { return images.count(SourceList::Key(path)); });
}

void SourceList::Remove(size_t row) {
    if (row >= entries_.size())
        return;
    entries_.erase(entries_.begin() + static_cast<long>(row));
    index_.clear();
    for (size_t i = 0; i < entries_.size(); ++i)
        index_[KeyOf(entries_[i])] = i;
}

void SourceList::Clear() {
    entries_.clear();
    index_.clear();
}

}  // namespace kestrune
