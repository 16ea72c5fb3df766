#include "engine/output_files.h"

#include <sys/stat.h>

#include <filesystem>

namespace kestrune {

namespace fs = std::filesystem;

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void RemoveOutput(const std::string& outputPath, const std::string& sourcePath) {
    if (outputPath.empty() || SameFile(outputPath, sourcePath))
        return;
    std::error_code ec;
    if (fs::is_regular_file(fs::symlink_status(outputPath, ec)))
        fs::remove(outputPath, ec);
}

bool IsSpecialFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

std::string ResolvedOutputPath(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    return !ec && fs::is_regular_file(target, ec) ? target.string() : path;
}

}  // namespace kestrune
