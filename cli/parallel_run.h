#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "engine/conversion_session.h"

namespace kestrune::cli {

// One output per item with several files converted at once, each by a session of its own.
// The outputs are the ones a one-at-a-time run writes: names are claimed in list order before
// any conversion starts, and items whose name an earlier item claimed wait for it.
// report(row, outputText, volumeText, seconds) is called in list order, on the calling thread.
void ConvertListInParallel(
    ConversionSession& main, std::vector<SourceFileEntry*>& items, const OutputFormatEntry& format,
    int jobs, std::atomic<bool>& cancel,
    const std::function<void(int, const std::string&, const std::string&, double)>& report);

}  // namespace kestrune::cli
