#pragma once

#include <cstdint>
#include <string>

#include "audio/audio_reader.h"

namespace kestrune {

// Reads AMR storage files, narrow band (8000 Hz) or wide band (16000 Hz), mono. Length is the
// file size in bytes and the position the byte offset the decoder has reached.
class AmrReader : public AudioReader {
public:
    AmrReader() = default;
    ~AmrReader() override;

    void Close() override;
    int Open(const std::string& path, int preferredRate) override;
    // Fills left only; right is never written.
    int Read(int16_t* left, int16_t* right) override;

private:
    // A wide-band frame is the largest one.
    static constexpr int kMaxFrameSamples = 320;

    void* decoder = nullptr;
    bool narrowBand = true;
    int16_t pending[kMaxFrameSamples] = {};
    int pendingCount = 0;
    int pendingStart = 0;
};

}  // namespace kestrune
