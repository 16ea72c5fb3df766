#pragma once

#include <string>

#include "engine/item_outcome.h"

namespace kestrune {

// How a run as a whole ended.
struct RunSummary {
    bool cancelled = false;
    // The merged file of a join, and what became of it.
    enum class Merge { kNone, kWritten, kCreateFailed, kWriteFailed };
    Merge merge = Merge::kNone;
    std::string mergePath;
    // What measuring the merged file's audio found, with the gains written into its tags.
    LoudnessFigures mergeLoudness;
    // The first output to show in the file manager ("BrowseOutputFolder"), or empty.
    std::string outputToShow;
};

// Whoever runs conversions hears of them here. Items are numbered by their place in the run,
// from 0. In a run of several workers the calls come from the workers' threads, one at a
// time; CancelRequested may be asked from any of them at once, and must stay cheap: it is
// asked once per block.
class RunObserver {
public:
    virtual ~RunObserver() = default;
    virtual void RunStarted(int itemCount) { (void)itemCount; }
    // An item begins a pass.
    virtual void ItemStarted(int item, Pass pass) { (void)item, (void)pass; }
    // How far the item's pass and the whole run are, each from 0 to 1.
    virtual void Progress(int item, Pass pass, double itemFraction, double runFraction) {
        (void)item, (void)pass, (void)itemFraction, (void)runFraction;
    }
    // The item's output is whole but stays under its partial name until the rest of its album
    // is converted and measured (album ReplayGain); ItemEnded follows when the album is done.
    virtual void ItemWaitsForAlbum(int item) { (void)item; }
    virtual void ItemEnded(int item, const ItemOutcome& outcome) { (void)item, (void)outcome; }
    virtual void RunEnded(const RunSummary& summary) { (void)summary; }
    virtual bool CancelRequested() { return false; }
};

}  // namespace kestrune
