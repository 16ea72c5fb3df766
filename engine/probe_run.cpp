#include "engine/probe_run.h"

#include <algorithm>

#include "engine/source_list.h"

namespace kestrune {

ProbeRun::ProbeRun(SessionConfig& config, std::vector<std::string> paths, int workers,
                   std::function<void()> done)
    : config_(config), paths_(std::move(paths)), done_(std::move(done)), results_(paths_.size()) {
    const size_t count = std::min(static_cast<size_t>(std::max(workers, 1)), paths_.size());
    for (size_t i = 0; i < count; ++i)
        workers_.emplace_back([this] { Work(); });
}

ProbeRun::~ProbeRun() {
    cancelled_ = true;
    for (std::thread& t : workers_)
        t.join();
}

void ProbeRun::Work() {
    RunObserver quiet;
    ConversionSession session(config_, quiet);
    for (size_t i = next_++; i < paths_.size() && !cancelled_; i = next_++) {
        ProbedFile probed;
        probed.path = paths_[i];
        probed.key = SourceList::Key(probed.path);
        probed.result = session.ProbeRows(probed.path, probed.rows);
        for (const SourceFileEntry& row : probed.rows)
            probed.rowKeys.push_back(SourceList::KeyOf(row));
        bool all = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            results_[i] = std::move(probed);
            all = ++stored_ == results_.size();
        }
        if (all && done_)
            done_();
    }
}

std::vector<ProbedFile> ProbeRun::TakeReady() {
    std::vector<ProbedFile> ready;
    std::lock_guard<std::mutex> lock(mutex_);
    for (; taken_ < results_.size() && results_[taken_]; ++taken_) {
        ready.push_back(std::move(*results_[taken_]));
        results_[taken_].reset();
    }
    return ready;
}

bool ProbeRun::Finished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return taken_ == results_.size();
}

}  // namespace kestrune
