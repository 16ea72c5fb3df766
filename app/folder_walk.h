#pragma once
// Which files of a folder tree, or of a drop, are offered to the list.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrune {

// The options that decide whether a found file is taken.
struct CandidateFilter {
    bool skipHidden = false;              // "DoNotLoadHiddenFiles"
    bool filterExtensions = false;        // "EnableExtFilter"
    std::vector<std::string> extensions;  // the parsed filter: lower case, without dots
};

// How many links one candidate may lead through before it is given up.
inline constexpr int kMaxLinkDepth = 16;

// The target of a symbolic link, absolute, when the link (and every link it leads to, at most
// kMaxLinkDepth deep) ends at something that exists; nullopt otherwise.
std::optional<std::string> ResolveShortcut(const std::string& path);

// The path to add for a found file: the file itself, the target of a link that a hidden name or
// the extension filter made it look through, or nullopt when the file is not taken. With both
// options off every file is taken as it is, links included.
std::optional<std::string> FilterCandidate(const std::string& path, const CandidateFilter& filter);

// True for a name that is plainly neither audio nor video: the pictures, texts, logs, playlists
// and checksums that sit beside the tracks of an album. A folder or a drop leaves them out
// quietly rather than report each as a file that failed to load.
bool IsPlainlyNotMedia(const std::string& path);

// Appends the taken files of the tree below folder: the folder first, then its subfolders
// depth-first, each folder's files and subfolders in natural order ("Track 2" before
// "Track 10"), plainly non-media files left out. A folder reached
// twice (through links) is walked once. keepGoing is asked now and then; when it says false the
// walk stops where it is.
void CollectFolderFiles(const std::string& folder, const CandidateFilter& filter,
                        std::vector<std::string>& paths,
                        const std::function<bool()>& keepGoing = {});

}  // namespace kestrune
