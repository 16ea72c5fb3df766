#pragma once

// What the engine's driver tests share: the decoding layer, a session that reports to a
// recording front end, and a run of a list as the window starts one.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/conversion_session.h"
#include "engine/run_scheduler.h"
#include "messages/run_questions.h"
#include "tests/support/decoding_layer.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_support.h"

namespace kestrune::test {

class SessionTest : public ::testing::Test {
protected:
    explicit SessionTest(const std::string& programFolder = RunningProgramFolder())
        : config(programFolder), run(host), session(config, run) {}

    // Converts items (in their rows) as the window does: what the run needs is asked first,
    // then the items convert one output each, or joined into mergePath, on workers; each item
    // reached keeps its output path only when it converted.
    void RunDriver(const std::vector<SourceFileEntry*>& items, const std::vector<int>& rows,
                   FormatId formatId, bool toOne, const std::string& mergePath, int workers = 1) {
        const OutputFormatEntry& format = *FindOutputFormat(config.catalogue, formatId);
        RunRequest request;
        std::vector<RunPresenter::Item> shown;
        for (size_t i = 0; i < items.size(); ++i) {
            request.items.push_back(*items[i]);
            shown.push_back({rows[i], FileNameOf(items[i]->path)});
        }
        request.format = format;
        request.mergePath = toOne ? mergePath : std::string();
        request.workers = workers;
        run.Present(std::move(shown), toOne ? FileNameOf(mergePath) : format.DisplayLabel());
        run.outcomes.clear();
        if (!AnswerRunNeeds(CheckRunNeeds(config, request.items, format), config.programFolder,
                            host))
            return;
        const RunSummary summary = RunConversion(config, request, run);
        for (const auto& [i, outcome] : run.outcomes)
            items[static_cast<size_t>(i)]->outputPath =
                outcome.end == ItemEnd::kConverted &&
                        summary.merge != RunSummary::Merge::kWriteFailed
                    ? outcome.outputPath
                    : std::string();
    }

    TempDir dir;
    RecordingHost host;
    SessionConfig config;
    RecordingRun run;
    ConversionSession session;
};

}  // namespace kestrune::test
