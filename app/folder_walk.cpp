#include "app/folder_walk.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>

namespace kestrune {

namespace fs = std::filesystem;

namespace {

bool IsHidden(const fs::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name.front() == '.';
}

bool IsLink(const fs::path& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

// The extension of the name without its dot, lower-cased; empty when the name has none.
std::string ExtensionOfName(const fs::path& path) {
    const std::string name = path.filename().string();
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return {};
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

bool ExtensionAllowed(const fs::path& path, const CandidateFilter& filter) {
    const std::string ext = ExtensionOfName(path);
    return !ext.empty() && std::find(filter.extensions.begin(), filter.extensions.end(), ext) !=
                               filter.extensions.end();
}

// One step through a link: where it points, made absolute, when the chain it starts ends at
// something that exists (a chain that loops ends nowhere).
std::optional<fs::path> FollowLink(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::read_symlink(link, ec);
    if (ec)
        return std::nullopt;
    if (target.is_relative())
        target = link.parent_path() / target;
    target = target.lexically_normal();
    if (!fs::exists(target, ec) || ec)
        return std::nullopt;
    return target;
}

}  // namespace

std::optional<std::string> ResolveShortcut(const std::string& path) {
    fs::path current = path;
    for (int depth = 0; depth < kMaxLinkDepth && IsLink(current); ++depth) {
        auto next = FollowLink(current);
        if (!next)
            return std::nullopt;
        current = std::move(*next);
        if (!IsLink(current))
            return current.string();
    }
    return std::nullopt;
}

std::optional<std::string> FilterCandidate(const std::string& path, const CandidateFilter& filter) {
    fs::path candidate = path;
    // Each pass looks through one link; a chain longer than the limit is given up, so a chain
    // that leads back to itself ends too.
    for (int links = 0; links <= kMaxLinkDepth; ++links) {
        const bool hiddenRefused = filter.skipHidden && IsHidden(candidate);
        const bool extensionRefused =
            filter.filterExtensions && !ExtensionAllowed(candidate, filter);
        if (!hiddenRefused && !extensionRefused)
            return candidate.string();
        if (!IsLink(candidate))
            return std::nullopt;
        auto next = FollowLink(candidate);
        if (!next)
            return std::nullopt;
        candidate = std::move(*next);
    }
    return std::nullopt;
}

void CollectFolderFiles(const std::string& folder, const CandidateFilter& filter,
                        std::vector<std::string>& paths, const std::function<bool()>& keepGoing) {
    const auto goOn = [&] { return !keepGoing || keepGoing(); };

    // The folders first, depth-first in pre-order, each real folder once.
    std::vector<fs::path> folders;
    std::set<fs::path> seen;
    std::vector<fs::path> pending{fs::path(folder)};
    while (!pending.empty()) {
        fs::path current = pending.back();
        pending.pop_back();
        std::error_code ec;
        const fs::path real = fs::canonical(current, ec);
        if (ec || !seen.insert(real).second)
            continue;
        folders.push_back(current);
        std::vector<fs::path> children;
        for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code kindError;
            if (it->is_directory(kindError))
                children.push_back(it->path());
        }
        // Pushed in reverse so that they are walked in the order they were listed.
        pending.insert(pending.end(), children.rbegin(), children.rend());
        if (!goOn())
            return;
    }

    for (const fs::path& current : folders) {
        std::error_code ec;
        for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code kindError;
            if (it->is_directory(kindError))
                continue;
            if (auto taken = FilterCandidate(it->path().string(), filter))
                paths.push_back(std::move(*taken));
        }
        if (!goOn())
            return;
    }
}

}  // namespace kestrune
