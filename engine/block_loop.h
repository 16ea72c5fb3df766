#pragma once

#include <cstdint>
#include <vector>

#include "audio/audio_reader.h"
#include "engine/progress_meter.h"
#include "engine/run_observer.h"

namespace kestrune {

// Reads the next block in the sample form of the buffers: the contract's 16 bits, or the
// reader's wide blocks.
inline int ReadInto(AudioReader& reader, int16_t* left, int16_t* right) {
    return reader.Read(left, right);
}
inline int ReadInto(AudioReader& reader, int32_t* left, int32_t* right) {
    return reader.ReadS32(left, right);
}
inline int ReadInto(AudioReader& reader, float* left, float* right) {
    return reader.ReadF32(left, right);
}

struct BlockLoopSteps {
    enum class Next { kContinue, kStop, kFail };
    enum class End { kNothingRead, kEnded, kStopped, kFailed, kCancelled };
};

// What every pass over a source shares: the buffers one reader's blocks are read into, and the
// reading itself, with the progress and the question whether to cancel served between blocks.
// Allocated once per file, never per block. Sample is int16_t for the contract's blocks,
// int32_t or float for a reader's wide ones.
template <typename Sample>
class BasicBlockLoop : public BlockLoopSteps {
public:
    explicit BasicBlockLoop(AudioReader& reader)
        : reader_(reader),
          left_(kBlockFrames),
          right_(reader.GetChannels() == 2 ? kBlockFrames : 0) {}

    Sample* Left() { return left_.data(); }
    // Null for a mono reader.
    Sample* Right() { return right_.empty() ? nullptr : right_.data(); }

    // Reads block after block until the reader has no more, body stops or fails, or the
    // observer asks to cancel. Before every serveEvery-th block (from the first on) the meter
    // takes the reader's position and the observer is asked.
    // body(frames, position) finds the block in Left() and Right() and may trim it in place.
    template <typename Body>
    End Run(RunObserver& observer, ProgressMeter& meter, unsigned serveEvery, Body&& body) {
        int n = ReadInto(reader_, Left(), Right());
        if (n <= 0)
            return End::kNothingRead;
        for (unsigned block = 0; n > 0; ++block) {
            const int64_t position = reader_.GetPosition();
            if (block % serveEvery == 0) {
                meter.Update(position);
                if (observer.CancelRequested())
                    return End::kCancelled;
            }
            switch (body(n, position)) {
                case Next::kContinue:
                    break;
                case Next::kStop:
                    return End::kStopped;
                case Next::kFail:
                    return End::kFailed;
            }
            n = ReadInto(reader_, Left(), Right());
        }
        return End::kEnded;
    }

private:
    AudioReader& reader_;
    std::vector<Sample> left_, right_;
};

using BlockLoop = BasicBlockLoop<int16_t>;

}  // namespace kestrune
