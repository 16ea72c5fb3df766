#include "engine/progress_meter.h"

#include <algorithm>

#include "engine/run_observer.h"

namespace kestrune {

ProgressMeter::ProgressMeter(RunObserver& observer, int item, Pass pass, int64_t length)
    : observer_(observer),
      item_(item),
      pass_(pass),
      length_(static_cast<uint64_t>(std::max<int64_t>(length, 1))) {
    Report(0);
}

void ProgressMeter::Report(int thousandths) {
    last_ = thousandths;
    // The run's share is the scheduler's to add.
    observer_.Progress(item_, pass_, thousandths / 1000.0, 0.0);
}

void ProgressMeter::Update(int64_t position) {
    const uint64_t pos = static_cast<uint64_t>(std::max<int64_t>(position, 0));
    const int thousandths = static_cast<int>(std::min<uint64_t>(pos * 1000 / length_, 1000));
    if (thousandths > last_)
        Report(thousandths);
}

void ProgressMeter::Finish() {
    if (last_ != 1000)
        Report(1000);
}

}  // namespace kestrune
