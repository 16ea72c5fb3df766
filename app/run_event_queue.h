#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <variant>
#include <vector>

#include "engine/run_observer.h"

namespace kestrune {

// Carries a run's events from the workers' threads to the window's thread. Every event but
// progress is kept, in order; progress is coalesced to the latest report per item, so however
// fast the workers report, the window takes at most one batch per drain. Cancel goes the other
// way, as a flag the workers read.
class RunEventQueue : public RunObserver {
public:
    // The workers' side.
    void RunStarted(int itemCount) override;
    void ItemStarted(int item, Pass pass) override;
    void Progress(int item, Pass pass, double itemFraction, double runFraction) override;
    void ItemWaitsForAlbum(int item) override;
    void ItemEnded(int item, const ItemOutcome& outcome) override;
    void RunEnded(const RunSummary& summary) override;
    bool CancelRequested() override { return cancel_.load(std::memory_order_relaxed); }

    // The window's side: replays what arrived since the last drain into to, the kept events
    // first, then the latest progress of each item.
    void Drain(RunObserver& to);
    void Cancel() { cancel_ = true; }

private:
    struct Started {
        int itemCount;
    };
    struct ItemBegan {
        int item;
        Pass pass;
    };
    struct Waiting {
        int item;
    };
    struct Ended {
        int item;
        ItemOutcome outcome;
    };
    using Event = std::variant<Started, ItemBegan, Waiting, Ended, RunSummary>;
    struct Report {
        Pass pass;
        double itemFraction;
    };

    std::mutex mutex_;
    std::vector<Event> events_;
    std::map<int, Report> progress_;
    double runFraction_ = -1;
    std::atomic<bool> cancel_{false};
};

}  // namespace kestrune
