#pragma once

#include <string>
#include <vector>

#include "engine/run_observer.h"
#include "messages/run_view.h"

namespace kestrune {

// Turns the engine's events of one run into what a RunView shows. Not thread-safe: the front
// end calls it one event at a time (on its own thread).
class RunPresenter : public RunObserver {
public:
    // An item of the run: its row in the file list and its file name.
    struct Item {
        int row = 0;
        std::string name;
    };
    // target is what the overall label converts to: the format's label, or the merged file's
    // name.
    RunPresenter(RunView& view, std::vector<Item> items, std::string target);

    void RunStarted(int itemCount) override;
    void ItemStarted(int item, Pass pass) override;
    void Progress(int item, Pass pass, double itemFraction, double runFraction) override;
    void ItemWaitsForAlbum(int item) override;
    void ItemEnded(int item, const ItemOutcome& outcome) override;
    void RunEnded(const RunSummary& summary) override;

private:
    struct State {
        bool begun = false;
        bool running = false;
        bool converted = false;
        Pass pass = Pass::kConverting;
        double fraction = 0;
        int labelPercent = -1;
        int rowPercent = -1;
    };
    // The first sight of an item: its volume emptied, the labels naming it.
    void Begin(int item);
    // The item the per-file label and bar show.
    void Focus(int item);
    // The item no longer runs: the labels go on with the first item that still does.
    void FocusElsewhere(int item);
    void ShowFile(int item);
    void ShowOverall(double fraction);
    bool Known(int item) const { return item >= 0 && item < static_cast<int>(items_.size()); }

    RunView& view_;
    std::vector<Item> items_;
    std::string target_;
    std::vector<State> states_;
    int focus_ = -1;
    int ended_ = 0;
    double overall_ = 0;
};

}  // namespace kestrune
