#pragma once

#include <cstdint>
#include <vector>

#include "audio/audio_reader.h"
#include "engine/conversion_host.h"
#include "engine/progress_meter.h"

namespace kestrune {

// What every pass over a source shares: the buffers one reader's blocks are read into, and the
// reading itself, with the progress, the message pump and the Cancel button served between
// blocks. Allocated once per file, never per block.
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

    // Reads block after block until the reader has no more, body stops or fails, or Cancel is
    // pressed. Before every serveEvery-th block (from the first on) the meter shows the
    // reader's position, the host pumps its messages and Cancel is looked at.
    // body(frames, position) finds the block in Left() and Right() and may trim it in place.
    template <typename Body>
    End Run(ConversionHost& host, ProgressMeter& meter, unsigned serveEvery, Body&& body) {
        int n = reader_.Read(Left(), Right());
        if (n <= 0)
            return End::kNothingRead;
        for (unsigned block = 0; n > 0; ++block) {
            const int64_t position = reader_.GetPosition();
            if (block % serveEvery == 0) {
                meter.Update(position);
                host.PumpMessages();
                if (host.CancelRequested())
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
