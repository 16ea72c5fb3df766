#pragma once

#include <cstdint>
#include <vector>

#include "audio/audio_reader.h"
#include "engine/progress_meter.h"
#include "engine/run_observer.h"

namespace kestrune {

// What every pass over a source shares: the buffers one reader's blocks are read into, and the
// reading itself, with the progress and the question whether to cancel served between blocks.
// Allocated once per file, never per block.
class BlockLoop {
public:
    explicit BlockLoop(AudioReader& reader)
        : reader_(reader),
          left_(kBlockFrames),
          right_(reader.GetChannels() == 2 ? kBlockFrames : 0) {}

    int16_t* Left() { return left_.data(); }
    // Null for a mono reader.
    int16_t* Right() { return right_.empty() ? nullptr : right_.data(); }

    enum class Next { kContinue, kStop, kFail };
    enum class End { kNothingRead, kEnded, kStopped, kFailed, kCancelled };

    // Reads block after block until the reader has no more, body stops or fails, or the
    // observer asks to cancel. Before every serveEvery-th block (from the first on) the meter
    // takes the reader's position and the observer is asked.
    // body(frames, position) finds the block in Left() and Right() and may trim it in place.
    template <typename Body>
    End Run(RunObserver& observer, ProgressMeter& meter, unsigned serveEvery, Body&& body) {
        int n = reader_.Read(Left(), Right());
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
            n = reader_.Read(Left(), Right());
        }
        return End::kEnded;
    }

private:
    AudioReader& reader_;
    std::vector<int16_t> left_, right_;
};

}  // namespace kestrune
