#pragma once

// What the engine's driver tests share: the decoding layer, a session over a recording host,
// and a run of the batch or the merge driver.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/conversion_session.h"
#include "tests/support/decoding_layer.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_support.h"

namespace kestrune::test {

class SessionTest : public ::testing::Test {
protected:
    explicit SessionTest(const std::string& programFolder = RunningProgramFolder())
        : config(programFolder), session(config, host) {}

    // ConvertList, or ConvertListToOne into mergePath, over items in their rows.
    void RunDriver(const std::vector<SourceFileEntry*>& items, const std::vector<int>& rows,
                   FormatId formatId, bool toOne, const std::string& mergePath) {
        const OutputFormatEntry& format = *FindOutputFormat(config.catalogue, formatId);
        if (toOne)
            session.ConvertListToOne(items, rows, format, mergePath);
        else
            session.ConvertList(items, rows, format);
    }

    TempDir dir;
    RecordingHost host;
    SessionConfig config;
    ConversionSession session;
};

}  // namespace kestrune::test
