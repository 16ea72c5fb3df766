#include "engine/output_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "audio/utf8_text.h"
#include "engine/output_claim.h"

namespace kestrune {

namespace {

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Same file by identity (device and inode), whatever the spelling or the links on the way.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::string Quoted(const char* what, const std::string& path) {
    // Shown to the user: a name that is not UTF-8 is shown repaired, never passed on.
    return std::string("Failed to create ") + what + " \"" + RepairUtf8(path) + "\"";
}

// The source's folder as a relative path ending in "/" ("home/ann/Music/pop/"), to be
// recreated below the output folder. Made absolute and tidied first, so "..", "." and
// doubled slashes can never lead outside the output folder.
std::string TreeBelowRoot(const std::string& sourcePath) {
    std::error_code ec;
    std::filesystem::path abs = std::filesystem::absolute(sourcePath, ec);
    if (ec)
        abs = sourcePath;
    std::string folder = abs.lexically_normal().parent_path().string();
    const size_t first = folder.find_first_not_of('/');
    if (first == std::string::npos)
        return {};
    folder.erase(0, first);
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

size_t NameStart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// Where the source's name loses its extension. A leading dot marks a hidden file, not an
// extension: ".profile" keeps its whole name.
size_t StemEnd(const std::string& path) {
    const size_t dot = path.rfind('.');
    return dot != std::string::npos && dot > NameStart(path) ? dot : path.size();
}

// How a free-looking candidate name stands once a claim was tried on it.
enum class NameState { kHeld, kTaken, kFailed };

// Holds target in held unless a file or another claim (a run or job writing it now) has it.
NameState TryHold(const std::string& target, const std::string& sourcePath, OutputClaim& held) {
    if (!IsValidUtf8(target))
        return NameState::kFailed;
    if (FileExists(target))
        return NameState::kTaken;
    switch (held.Hold(target, sourcePath)) {
        case OutputClaim::Take::kBusy:
            return NameState::kTaken;
        case OutputClaim::Take::kFailed:
            return NameState::kFailed;
        case OutputClaim::Take::kTaken:
            break;
    }
    // Another run may have finished this very name between the look and the hold.
    if (FileExists(target)) {
        held.Release();
        return NameState::kTaken;
    }
    return NameState::kHeld;
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && lstat(path.c_str(), &st) == 0;
}

bool EnsureFolder(const std::string& path) {
    if (path.empty())
        return false;
    if (IsFolder(path))
        return true;
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && prefix.back() != '/')
            mkdir(prefix.c_str(), 0777);
    }
    mkdir(path.c_str(), 0777);
    return IsFolder(path);
}

std::string FirstOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                            const ConvertSettings& settings) {
    const std::string dotExtension = std::string(".") + format.extension;
    if (settings.destOutputFolderOpt != kDestSpecificFolder)
        return sourcePath.substr(0, StemEnd(sourcePath)) + dotExtension;
    std::string base = settings.destSpecifiedFolder;
    if (base.empty())
        return {};
    if (base.back() != '/')
        base += '/';
    if (settings.createDirs != 0)
        base += TreeBelowRoot(sourcePath);
    const size_t nameStart = NameStart(sourcePath);
    return base + sourcePath.substr(nameStart, StemEnd(sourcePath) - nameStart) + dotExtension;
}

bool PrepareOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                       const ConvertSettings& settings, ConversionHost& host,
                       std::string& outputPath, std::string& message, OutputClaim* claim) {
    const size_t stemEnd = StemEnd(sourcePath);
    const std::string stem =
        sourcePath.substr(NameStart(sourcePath), stemEnd - NameStart(sourcePath));
    const std::string dotExtension = std::string(".") + format.extension;

    int mode = settings.destOutputFolderOpt;
    std::string folder = settings.destSpecifiedFolder;
    bool keepTree = settings.createDirs != 0;
    bool fallbackUsed = false;

    for (;;) {
        std::string base;
        bool folderReady = true;
        if (mode == kDestSpecificFolder) {
            if (folder.empty() || !IsValidUtf8(folder) || !EnsureFolder(folder)) {
                message = Quoted("folder", folder);
                folderReady = false;
            } else {
                base = folder;
                if (base.back() != '/')
                    base += '/';
                if (keepTree) {
                    base += TreeBelowRoot(sourcePath);
                    if (!EnsureFolder(base)) {
                        message = Quoted("folder", base);
                        folderReady = false;
                    }
                }
                base += stem;
            }
        } else {
            base = sourcePath.substr(0, stemEnd);
        }

        if (folderReady) {
            std::string target = base + dotExtension;
            OutputClaim held;
            NameState state = TryHold(target, sourcePath, held);
            if (state == NameState::kTaken) {
                if (settings.targetExistsOpt == kTargetSkip) {
                    message = "Target exists and skipped";
                    return false;
                }
                if (settings.targetExistsOpt == kTargetOverwrite) {
                    if (SameFile(target, sourcePath)) {
                        message =
                            "Target file name is same as original file that can't be "
                            "overwritten. Please output files to a custom folder.";
                        return false;
                    }
                    // The old file goes once the name is held, so a later failure leaves
                    // nothing of that name. A folder is never removed: the name cannot be had.
                    state = NameState::kFailed;
                    if (!IsFolder(target) &&
                        held.Hold(target, sourcePath) == OutputClaim::Take::kTaken) {
                        unlink(target.c_str());
                        state = NameState::kHeld;
                    }
                } else {
                    for (int n = 1; state == NameState::kTaken; ++n) {
                        target = base + "_" + std::to_string(n) + dotExtension;
                        state = TryHold(target, sourcePath, held);
                    }
                }
            }
            if (state == NameState::kHeld) {
                outputPath = target;
                if (claim)
                    *claim = std::move(held);
                return true;
            }
            message = Quoted("file", target);
        }

        if (settings.outputFiles2MyDocuments == 0 || fallbackUsed)
            return false;
        fallbackUsed = true;
        const std::string documents = host.DocumentsFolder();
        if (documents.empty())
            return false;
        folder = documents;
        keepTree = settings.destOutputFolderOpt == kDestSpecificFolder && settings.createDirs != 0;
        mode = kDestSpecificFolder;
    }
}

}  // namespace kestrune
