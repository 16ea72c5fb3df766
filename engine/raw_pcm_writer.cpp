#include "engine/raw_pcm_writer.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>

namespace kestrune {

RawPcmWriter::~RawPcmWriter() {
    Close();
}

int RawPcmWriter::Open() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (path_.empty())
        return 0;
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    return fd_ >= 0 ? 1 : 0;
}

bool RawPcmWriter::WriteAll(const void* data, size_t bytes) {
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd_, p, bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

int RawPcmWriter::Write(const int16_t* left, const int16_t* right, int frames) {
    if (fd_ < 0 || frames < 0)
        return 0;
    if (channels_ != 2 || !right)
        return WriteAll(left, static_cast<size_t>(frames) * 2) ? 1 : 0;
    int done = 0;
    while (done < frames) {
        const int chunk = std::min(frames - done, kBlockFrames);
        for (int i = 0; i < chunk; ++i) {
            staging_[2 * i] = left[done + i];
            staging_[2 * i + 1] = right[done + i];
        }
        if (!WriteAll(staging_.data(), static_cast<size_t>(chunk) * 4))
            return 0;
        done += chunk;
    }
    return 1;
}

void RawPcmWriter::Close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    path_.clear();
}

std::string MakeTempFileName(const std::string& folder, const std::string& prefix,
                             const std::string& suffix) {
    std::string dir = folder.empty() ? std::filesystem::temp_directory_path().string() : folder;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count();
    std::random_device rd;
    const unsigned random = rd() % 32768u;
    for (unsigned counter = 1;; ++counter) {
        const std::string name = dir + prefix + std::to_string(getpid()) +
                                 std::to_string(static_cast<long>(syscall(SYS_gettid))) +
                                 std::to_string(ms) + std::to_string(random) +
                                 std::to_string(counter) + suffix;
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(name, ec)))
            return name;
    }
}

}  // namespace kestrune
