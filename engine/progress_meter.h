#pragma once

#include <cstdint>

#include "engine/item_outcome.h"

namespace kestrune {

class RunObserver;

// How far a pass over a source is: reported to the observer whenever it has grown by a
// thousandth of the source's length, so that a pass costs the observer at most a thousand
// calls however long the source.
class ProgressMeter {
public:
    ProgressMeter(RunObserver& observer, int item, Pass pass, int64_t length);
    void Update(int64_t position);
    // The whole length, unless it was already reported.
    void Finish();

private:
    void Report(int thousandths);

    RunObserver& observer_;
    int item_;
    Pass pass_;
    uint64_t length_;
    int last_ = -1;
};

}  // namespace kestrune
