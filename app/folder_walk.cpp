#include "app/folder_walk.h"

#include <QCollator>
#include <QFile>
#include <QString>
#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <set>
#include <string_view>

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

// Extensions of files that come with albums and are never sound. Cue sheets are not among them:
// they describe tracks.
constexpr std::array<std::string_view, 38> kNonMediaExtensions = {
    "accurip", "bmp",  "cfg",     "db",  "doc",  "docx", "ffp", "gif",  "htm",    "html",
    "ico",     "ini",  "jpeg",    "jpg", "json", "log",  "lrc", "m3u",  "m3u8",   "md",
    "md5",     "nfo",  "pdf",     "pls", "png",  "rtf",  "sfv", "sha1", "sha256", "svg",
    "tif",     "tiff", "torrent", "txt", "url",  "webp", "xml", "xspf"};

// Compares names a run of digits at a time as numbers and the text between with the collator.
// The collator's own numeric mode is asked for too, but it is not there in every Qt build.
int NaturalCompare(const QCollator& collator, const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = a[i].isDigit(), digitB = b[j].isDigit();
        qsizetype endA = i, endB = j;
        while (endA < a.size() && a[endA].isDigit() == digitA)
            ++endA;
        while (endB < b.size() && b[endB].isDigit() == digitB)
            ++endB;
        const QStringView runA = QStringView(a).mid(i, endA - i);
        const QStringView runB = QStringView(b).mid(j, endB - j);
        int order = 0;
        if (digitA && digitB) {
            // Leading zeros aside, the longer number is the larger.
            QStringView x = runA, y = runB;
            while (x.size() > 1 && x.front() == u'0')
                x = x.mid(1);
            while (y.size() > 1 && y.front() == u'0')
                y = y.mid(1);
            order = x.size() != y.size() ? (x.size() < y.size() ? -1 : 1) : x.compare(y);
        } else {
            order = collator.compare(runA, runB);
        }
        if (order != 0)
            return order;
        i = endA;
        j = endB;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return collator.compare(a, b);
}

// Sorts paths by their names as a person reads them: digits compare as numbers.
void SortNaturally(std::vector<fs::path>& paths) {
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::vector<std::pair<QString, fs::path>> named;
    named.reserve(paths.size());
    for (fs::path& path : paths)
        named.emplace_back(QFile::decodeName(QByteArray::fromStdString(path.filename().string())),
                           std::move(path));
    std::stable_sort(named.begin(), named.end(), [&collator](const auto& a, const auto& b) {
        return NaturalCompare(collator, a.first, b.first) < 0;
    });
    paths.clear();
    for (auto& [name, path] : named)
        paths.push_back(std::move(path));
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

bool IsPlainlyNotMedia(const std::string& path) {
    const std::string ext = ExtensionOfName(fs::path(path));
    return std::find(kNonMediaExtensions.begin(), kNonMediaExtensions.end(), ext) !=
           kNonMediaExtensions.end();
}

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
        SortNaturally(children);
        // Pushed in reverse so that they are walked in the order they were listed.
        pending.insert(pending.end(), children.rbegin(), children.rend());
        if (!goOn())
            return;
    }

    for (const fs::path& current : folders) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code kindError;
            if (!it->is_directory(kindError) && !IsPlainlyNotMedia(it->path().string()))
                files.push_back(it->path());
        }
        SortNaturally(files);
        for (const fs::path& file : files)
            if (auto taken = FilterCandidate(file.string(), filter))
                paths.push_back(std::move(*taken));
        if (!goOn())
            return;
    }
}

}  // namespace kestrune
