#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/conversion_session.h"

namespace kestrune {

// One file as the list's probing found it.
struct ProbedFile {
    std::string path;
    // What identifies the file in a list (SourceList::Key).
    std::string key;
    // Its rows with their columns, when result.opened: the file's one row, or a cue sheet's
    // tracks; rowKeys[i] identifies rows[i] in a list.
    std::vector<SourceFileEntry> rows;
    std::vector<std::string> rowKeys;
    ProbeResult result;
};

// Probes files for the list on worker threads of its own, each with a session over config,
// while the caller takes the results in the order the paths were given. Cancel (or the end of
// the object) stops the workers after the file each is probing.
class ProbeRun {
public:
    // done, when given, is called on a worker's thread once every result is there.
    ProbeRun(SessionConfig& config, std::vector<std::string> paths, int workers,
             std::function<void()> done = {});
    ~ProbeRun();
    ProbeRun(const ProbeRun&) = delete;
    ProbeRun& operator=(const ProbeRun&) = delete;

    // The results that follow the ones taken before, as far as they are ready; never waits.
    std::vector<ProbedFile> TakeReady();
    // True once every result has been taken.
    bool Finished() const;
    void Cancel() { cancelled_ = true; }

private:
    void Work();

    SessionConfig& config_;
    const std::vector<std::string> paths_;
    const std::function<void()> done_;
    std::atomic<size_t> next_{0};
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    std::vector<std::optional<ProbedFile>> results_;
    size_t stored_ = 0;
    size_t taken_ = 0;
    std::vector<std::thread> workers_;
};

}  // namespace kestrune
