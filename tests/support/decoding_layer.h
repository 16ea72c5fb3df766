#pragma once
// The decoding layer, started once for the whole test program as the program starts it: from
// the build's bin folder (the test's own), with every plug-in found there. A test program that
// needs it includes this header; the environment registers itself once.

#include <gtest/gtest.h>

#include "readers/bass_reader.h"

namespace kestrune::test {

class DecodingLayer : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_EQ(InitDecodingLayer(RunningProgramFolder()), DecodingLayerStart::Ready);
    }
    void TearDown() override { FreeDecodingLayer(); }

    // Starts the layer again the usual way, after a test started it from another folder.
    static void Restart() {
        FreeDecodingLayer();
        EXPECT_EQ(InitDecodingLayer(RunningProgramFolder()), DecodingLayerStart::Ready);
    }
};

inline ::testing::Environment* const kDecodingLayer =
    ::testing::AddGlobalTestEnvironment(new DecodingLayer);

}  // namespace kestrune::test
