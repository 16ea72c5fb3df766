#pragma once

#include <cstdint>
#include <string>

#include "audio/sample_format.h"
#include "audio/tag_set.h"

namespace kestrune {

// Audio moves between reader, engine and writer as planar signed 16-bit samples, one buffer
// per channel, at most this many frames per block. Mono uses the left buffer only.
constexpr int kBlockFrames = 1152;

// Base of every decoder. Concrete readers fill the protected fields in Open.
class AudioReader {
public:
    AudioReader() = default;
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;
    virtual ~AudioReader() = default;

    // Releases the file and all decoder state; safe after a failed Open or a second time.
    virtual void Close() = 0;
    // 1 on success, 0 on failure. preferredRate is only used by readers that synthesise audio.
    virtual int Open(const std::string& path, int preferredRate) = 0;
    // Decodes the next block; returns 1..kBlockFrames frames, or 0 or less at the end.
    // right is null for a mono stream and must then not be touched.
    virtual int Read(int16_t* left, int16_t* right) = 0;
    // After a failed Open: 0 when the file was readable but holds no audio stream.
    virtual int HasAudioStream() { return 1; }
    virtual int64_t GetLength() { return length; }
    virtual int64_t GetPosition() { return position; }
    virtual int GetDuration() { return duration; }
    virtual int GetSourceChannels() { return sourceChannels; }
    virtual int GetChannels() { return channels; }
    virtual int GetSampleRate() { return sampleRate; }
    virtual int GetBitsPerSample() { return bitsPerSample; }
    virtual int GetBitRate() { return bitRate; }
    // How wide the source's samples are, where the file says so (shown in the file list).
    virtual SampleDepth GetSourceDepth() { return sourceDepth; }
    // The wide block this reader can deliver for the open file besides Read's 16 bits: kS32 or
    // kF32 for a source of more than 16 bits, kS16 when it has none. ReadS32 or ReadF32 then
    // decode the file in that format: from its start, instead of Read, never after it.
    virtual SampleFormat GetWideFormat() { return SampleFormat::kS16; }
    virtual int ReadS32(int32_t* left, int32_t* right) {
        (void)left, (void)right;
        return 0;
    }
    virtual int ReadF32(float* left, float* right) {
        (void)left, (void)right;
        return 0;
    }
    // Before the first read (whichever form): moves so that the first block starts at frame,
    // exact to the sample, and returns true. False when the reader cannot; it then reads from
    // the start.
    virtual bool SeekFrame(int64_t frame) {
        (void)frame;
        return false;
    }
    // Fills the texts found and returns non-zero when the file has tags; otherwise returns 0
    // and leaves tags untouched.
    virtual int ReadTags(TagSet& tags) {
        (void)tags;
        return 0;
    }

protected:
    void Reset() {
        length = 0;
        position = 0;
        duration = 0;
        sampleRate = 0;
        sourceChannels = 0;
        channels = 0;
        bitsPerSample = 0;
        bytesPerSample = 0;
        bitRate = 0;
        sourceDepth = {};
    }

    int64_t length = 0;      // unit chosen by the reader; 0 when unknown
    int64_t position = 0;    // same unit as length
    int32_t duration = 0;    // whole seconds
    int32_t sampleRate = 0;  // Hz of the delivered PCM
    int32_t sourceChannels = 0;
    int32_t channels = 0;       // 1 or 2
    int32_t bitsPerSample = 0;  // 16
    int32_t bytesPerSample = 0;
    int32_t bitRate = 0;  // kbit/s of the source
    SampleDepth sourceDepth;
};

}  // namespace kestrune
