#include "engine/output_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <utility>

namespace kestrune {

namespace {

constexpr char kPartialSuffix[] = ".kestrune-part";

bool SameInode(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when the file open as fd is the one at path (not removed or replaced meanwhile).
bool IsAt(int fd, const std::string& path) {
    struct stat open, named;
    return fstat(fd, &open) == 0 && lstat(path.c_str(), &named) == 0 && SameInode(open, named);
}

uint64_t Fnv1a(const std::string& text) {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens path as a partial file and locks it: the descriptor, -1 with kBusy or kFailed.
int OpenLocked(const std::string& path, int extraFlags, OutputClaim::Take& why) {
    // No link is followed and nothing but a regular file is taken: a name planted there
    // never redirects the output.
    const int fd = open(path.c_str(),
                        O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | extraFlags, 0666);
    if (fd < 0) {
        why = OutputClaim::Take::kFailed;
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        why = errno == EWOULDBLOCK ? OutputClaim::Take::kBusy : OutputClaim::Take::kFailed;
        close(fd);
        return -1;
    }
    return fd;
}

bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
    // A file system without that flag: a hard link is refused as well when the name is taken.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP)
        return false;
    // Nor hard links (FAT): a last look just before the rename is as close as it gets.
    struct stat st;
    if (lstat(to.c_str(), &st) == 0)
        return false;
    return rename(from.c_str(), to.c_str()) == 0;
}

void SyncFolder(const std::string& folder) {
    // Best effort: the rename has happened; some file systems cannot sync a folder at all.
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

}  // namespace

std::string PartialPathOf(const std::string& target) {
    const std::string name = NameOf(target);
    std::string partial = "." + name + kPartialSuffix;
    if (partial.size() > NAME_MAX) {
        // A long name is cut and told apart from its siblings by a hash of the whole.
        char hash[24];
        std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(Fnv1a(name)));
        size_t keep =
            NAME_MAX - 1 - (sizeof kPartialSuffix - 1) - std::char_traits<char>::length(hash);
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
            --keep;  // never in the middle of a UTF-8 sequence
        partial = "." + name.substr(0, keep) + hash + kPartialSuffix;
    }
    return FolderOf(target) + partial;
}

OutputClaim::~OutputClaim() {
    Release();
}

OutputClaim::OutputClaim(OutputClaim&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      replacing_(std::exchange(other.replacing_, false)),
      target_(std::move(other.target_)),
      partial_(std::move(other.partial_)) {
    other.target_.clear();
    other.partial_.clear();
}

OutputClaim& OutputClaim::operator=(OutputClaim&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = std::exchange(other.fd_, -1);
        replacing_ = std::exchange(other.replacing_, false);
        target_ = std::move(other.target_);
        partial_ = std::move(other.partial_);
        other.target_.clear();
        other.partial_.clear();
    }
    return *this;
}

OutputClaim::Take OutputClaim::Hold(const std::string& target, const std::string& keep) {
    Release();
    const std::string name = NameOf(target);
    if (name.empty() || name.size() > NAME_MAX)
        return Take::kFailed;
    const std::string partial = PartialPathOf(target);
    // The file may be renamed or removed between the open and the lock by the claim that held
    // it; then the lock is on a file that is no longer there, and the open is tried again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        Take why = Take::kFailed;
        const int fd = OpenLocked(partial, 0, why);
        if (fd < 0)
            return why;
        if (!IsAt(fd, partial)) {
            close(fd);
            continue;
        }
        struct stat st, source;
        const bool opened = fstat(fd, &st) == 0;
        const bool isSource =
            opened && !keep.empty() && stat(keep.c_str(), &source) == 0 && SameInode(st, source);
        // Only a lone regular file is emptied: never a file linked elsewhere, never the source.
        if (!opened || !S_ISREG(st.st_mode) || st.st_nlink != 1 || isSource ||
            ftruncate(fd, 0) != 0) {
            close(fd);
            return Take::kFailed;
        }
        fd_ = fd;
        target_ = target;
        partial_ = partial;
        return Take::kTaken;
    }
    return Take::kFailed;
}

bool OutputClaim::Restart() {
    if (fd_ < 0)
        return false;
    if (!IsAt(fd_, partial_)) {
        // Removed by a writer that failed: made anew, unless another claim got there first.
        Take why = Take::kFailed;
        const int fd = OpenLocked(partial_, O_EXCL, why);
        if (fd < 0) {
            close(fd_);
            fd_ = -1;
            target_.clear();
            partial_.clear();
            return false;
        }
        close(fd_);
        fd_ = fd;
    }
    return ftruncate(fd_, 0) == 0;
}

bool OutputClaim::Commit(bool replace) {
    if (fd_ < 0 || !IsAt(fd_, partial_))
        return false;
    // The writer wrote through a descriptor of its own; this one reaches the same file.
    if (fsync(fd_) != 0)
        return false;
    const bool renamed = replace ? rename(partial_.c_str(), target_.c_str()) == 0
                                 : RenameWithoutReplacing(partial_, target_);
    if (!renamed)
        return false;
    SyncFolder(FolderOf(target_));
    close(fd_);
    fd_ = -1;
    replacing_ = false;
    target_.clear();
    partial_.clear();
    return true;
}

void OutputClaim::RemoveReplaced() {
    struct stat st;
    if (fd_ >= 0 && replacing_ && lstat(target_.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        unlink(target_.c_str());
    replacing_ = false;
}

void OutputClaim::Release() {
    replacing_ = false;
    if (fd_ >= 0) {
        // Only the file this claim made: another run may already hold a new one of that name.
        if (IsAt(fd_, partial_))
            unlink(partial_.c_str());
        close(fd_);
        fd_ = -1;
    }
    target_.clear();
    partial_.clear();
}

}  // namespace kestrune
