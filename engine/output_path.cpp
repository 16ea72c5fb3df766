#include "engine/output_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>

#include "audio/utf8_text.h"
#include "engine/output_claim.h"
#include "engine/output_files.h"

namespace kestrune {

namespace {

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

// What naming does to the file system. A real run makes folders, holds the name it chooses
// and removes the file it overwrites; a plan only looks, so that a dry run writes nothing.
class NameOps {
public:
    virtual ~NameOps() = default;
    virtual bool MakeFolder(const std::string& path) = 0;
    // Takes target unless a file, another run's claim or an earlier planned name has it.
    virtual NameState Take(const std::string& target) = 0;
    // Overwrite: takes target in place of the file there now, which goes. A folder is never
    // removed: the name cannot be had then.
    virtual bool Replace(const std::string& target) = 0;
};

class RealNameOps : public NameOps {
public:
    explicit RealNameOps(const std::string& sourcePath) : sourcePath_(sourcePath) {}
    bool MakeFolder(const std::string& path) override { return EnsureFolder(path); }
    // Holds target unless a file or another claim (a run or job writing it now) has it.
    NameState Take(const std::string& target) override {
        if (!IsValidUtf8(target))
            return NameState::kFailed;
        if (FileExists(target))
            return NameState::kTaken;
        switch (held_.Hold(target, sourcePath_)) {
            case OutputClaim::Take::kBusy:
                return NameState::kTaken;
            case OutputClaim::Take::kFailed:
                return NameState::kFailed;
            case OutputClaim::Take::kTaken:
                break;
        }
        // Another run may have finished this very name between the look and the hold.
        if (FileExists(target)) {
            held_.Release();
            return NameState::kTaken;
        }
        return NameState::kHeld;
    }
    // The old file goes once the name is held and its output under way (RemoveReplaced), so
    // a later failure leaves nothing of that name.
    bool Replace(const std::string& target) override {
        if (IsFolder(target) || held_.Hold(target, sourcePath_) != OutputClaim::Take::kTaken)
            return false;
        held_.MarkReplacing();
        return true;
    }
    OutputClaim& held() { return held_; }

private:
    const std::string& sourcePath_;
    OutputClaim held_;
};

// The nearest folder along path that exists, when it can be written into: where the missing
// rest of path would be made. Empty when there is none.
std::string WritableAncestor(const std::string& path) {
    std::filesystem::path p = path;
    struct stat st;
    while (!p.empty() && lstat(p.c_str(), &st) != 0) {
        if (p == p.parent_path())
            return {};
        p = p.parent_path();
    }
    if (p.empty() || !IsFolder(p.string()) || access(p.c_str(), W_OK | X_OK) != 0)
        return {};
    return p.string();
}

class PlanNameOps : public NameOps {
public:
    explicit PlanNameOps(PlannedNames& planned) : planned_(planned) {}
    bool MakeFolder(const std::string& path) override {
        return IsFolder(path) || !WritableAncestor(path).empty();
    }
    NameState Take(const std::string& target) override {
        if (!IsValidUtf8(target))
            return NameState::kFailed;
        if (FileExists(target) || planned_.count(target) != 0)
            return NameState::kTaken;
        return Plan(target) ? NameState::kHeld : NameState::kFailed;
    }
    bool Replace(const std::string& target) override { return Plan(target); }

private:
    // What makes the real claim fail: a name that is no UTF-8, too long, a folder in the
    // way (an old file would have been removed), or a folder that cannot be written.
    bool Plan(const std::string& target) {
        const std::filesystem::path p = target;
        if (!IsValidUtf8(target) || IsFolder(target) ||
            target.size() >= static_cast<size_t>(PATH_MAX) ||
            p.filename().string().size() > static_cast<size_t>(NAME_MAX) ||
            WritableAncestor(p.parent_path().string()).empty())
            return false;
        planned_.insert(target);
        return true;
    }

    PlannedNames& planned_;
};

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
    if (settings.destOutputFolderOpt != DestOutputFolder::kSpecificFolder)
        return sourcePath.substr(0, StemEnd(sourcePath)) + dotExtension;
    std::string base = settings.destSpecifiedFolder;
    if (base.empty())
        return {};
    if (base.back() != '/')
        base += '/';
    if (settings.createDirs)
        base += TreeBelowRoot(sourcePath);
    const size_t nameStart = NameStart(sourcePath);
    return base + sourcePath.substr(nameStart, StemEnd(sourcePath) - nameStart) + dotExtension;
}

namespace {

Naming ChooseOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                        const ConvertSettings& settings, const std::string& documents, NameOps& ops,
                        std::string& outputPath, Failure& failure) {
    const size_t stemEnd = StemEnd(sourcePath);
    const std::string stem =
        sourcePath.substr(NameStart(sourcePath), stemEnd - NameStart(sourcePath));
    const std::string dotExtension = std::string(".") + format.extension;

    DestOutputFolder mode = settings.destOutputFolderOpt;
    std::string folder = settings.destSpecifiedFolder;
    bool keepTree = settings.createDirs;
    bool fallbackUsed = false;

    for (;;) {
        std::string base;
        bool folderReady = true;
        if (mode == DestOutputFolder::kSpecificFolder) {
            if (folder.empty() || !IsValidUtf8(folder) || !ops.MakeFolder(folder)) {
                failure = {FailureReason::kNameFolder, folder};
                folderReady = false;
            } else {
                base = folder;
                if (base.back() != '/')
                    base += '/';
                if (keepTree) {
                    base += TreeBelowRoot(sourcePath);
                    if (!ops.MakeFolder(base)) {
                        failure = {FailureReason::kNameFolder, base};
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
            NameState state = ops.Take(target);
            if (state == NameState::kTaken) {
                if (settings.targetExistsOpt == TargetExists::kSkip)
                    return Naming::kSkipped;
                if (settings.targetExistsOpt == TargetExists::kOverwrite) {
                    if (SameFile(target, sourcePath)) {
                        failure = {FailureReason::kNameIsSource, {}};
                        return Naming::kFailed;
                    }
                    state = ops.Replace(target) ? NameState::kHeld : NameState::kFailed;
                } else {
                    for (int n = 1; state == NameState::kTaken; ++n) {
                        target = base + "_" + std::to_string(n) + dotExtension;
                        state = ops.Take(target);
                    }
                }
            }
            if (state == NameState::kHeld) {
                outputPath = target;
                return Naming::kNamed;
            }
            failure = {FailureReason::kNameFile, target};
        }

        if (!settings.outputFiles2MyDocuments || fallbackUsed || documents.empty())
            return Naming::kFailed;
        fallbackUsed = true;
        folder = documents;
        keepTree = settings.destOutputFolderOpt == DestOutputFolder::kSpecificFolder &&
                   settings.createDirs;
        mode = DestOutputFolder::kSpecificFolder;
    }
}

}  // namespace

Naming PrepareOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                         const ConvertSettings& settings, const std::string& documentsFolder,
                         std::string& outputPath, Failure& failure, OutputClaim* claim) {
    RealNameOps ops(sourcePath);
    const Naming named =
        ChooseOutputPath(sourcePath, format, settings, documentsFolder, ops, outputPath, failure);
    if (named != Naming::kNamed)
        return named;
    if (claim)
        *claim = std::move(ops.held());
    else
        ops.held().RemoveReplaced();
    return named;
}

Naming PlanOutputPath(const std::string& sourcePath, const OutputFormatEntry& format,
                      const ConvertSettings& settings, const std::string& documentsFolder,
                      PlannedNames& planned, std::string& outputPath, Failure& failure) {
    PlanNameOps ops(planned);
    return ChooseOutputPath(sourcePath, format, settings, documentsFolder, ops, outputPath,
                            failure);
}

}  // namespace kestrune
