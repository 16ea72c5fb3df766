#include "app/run_event_queue.h"

namespace kestrune {

void RunEventQueue::RunStarted(int itemCount) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.emplace_back(Started{itemCount});
}

void RunEventQueue::ItemStarted(int item, Pass pass) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.emplace_back(ItemBegan{item, pass});
}

void RunEventQueue::Progress(int item, Pass pass, double itemFraction, double runFraction) {
    std::lock_guard<std::mutex> lock(mutex_);
    progress_[item] = {pass, itemFraction};
    runFraction_ = runFraction;
}

void RunEventQueue::ItemWaitsForAlbum(int item) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.emplace_back(Waiting{item});
}

void RunEventQueue::ItemEnded(int item, const ItemOutcome& outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.emplace_back(Ended{item, outcome});
}

void RunEventQueue::RunEnded(const RunSummary& summary) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.emplace_back(summary);
}

void RunEventQueue::Drain(RunObserver& to) {
    std::vector<Event> events;
    std::map<int, Report> progress;
    double runFraction;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events.swap(events_);
        progress.swap(progress_);
        runFraction = runFraction_;
    }
    const RunSummary* end = nullptr;
    for (const Event& event : events) {
        if (const auto* e = std::get_if<Started>(&event))
            to.RunStarted(e->itemCount);
        else if (const auto* b = std::get_if<ItemBegan>(&event))
            to.ItemStarted(b->item, b->pass);
        else if (const auto* w = std::get_if<Waiting>(&event))
            to.ItemWaitsForAlbum(w->item);
        else if (const auto* d = std::get_if<Ended>(&event))
            to.ItemEnded(d->item, d->outcome);
        else
            end = &std::get<RunSummary>(event);
    }
    // A report older than its item's start or end is told apart by the receiver (its pass,
    // the item no longer running).
    for (const auto& [item, report] : progress)
        to.Progress(item, report.pass, report.itemFraction, runFraction);
    if (end)
        to.RunEnded(*end);
}

}  // namespace kestrune
