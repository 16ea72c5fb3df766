#pragma once

#include <cstdint>
#include <string>

#include "audio/sample_format.h"
#include "audio/tag_set.h"

namespace kestrune {

// Base of the writer-specific records handed to SetEncoderOptions.
struct EncoderOptions {
    virtual ~EncoderOptions() = default;
};

// What a writer takes of a source of more than 16 bits: blocks of format, of which it keeps
// bits (the engine rounds what lies below, with dither). kS16: 16 bits only.
struct WideInput {
    SampleFormat format = SampleFormat::kS16;
    int bits = 16;
};

// Base of every encoder. The engine calls: setters, SetTags, SetPath, Open, Write..., Close.
class AudioWriter {
public:
    AudioWriter() = default;
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;
    virtual ~AudioWriter() = default;

    // The tags of the output; the track is written as its number (TagSet::TrackNumber), and
    // not at all when that is 0. Of the rest of the set a writer takes what it can write while
    // encoding; what it cannot goes into the finished file afterwards.
    virtual void SetTags(const TagSet& tags) { (void)tags; }
    virtual void SetPath(const std::string& path) = 0;
    virtual void SetSampleRate(int rate) { (void)rate; }
    virtual void SetChannels(int count) { (void)count; }
    // bit/s; 0 when the codec has no bit-rate choice.
    virtual void SetBitRate(int rate) { (void)rate; }
    virtual void SetEncoderOptions(const EncoderOptions& options) { (void)options; }
    // Before Open: offers wide blocks of a source whose samples are depth wide (offered is the
    // format that carries them). The answer says what WriteS32 or WriteF32 will be given; a
    // writer that keeps no more than 16 bits answers kS16 and is given Write's blocks.
    virtual WideInput TakeWideInput(SampleFormat offered, SampleDepth depth) {
        (void)offered, (void)depth;
        return {};
    }
    // 1 on success; on failure nothing is left open.
    virtual int Open() = 0;
    // Mono reads left only; for stereo right may be the same buffer as left. frames may be 0.
    // 1 on success, 0 on a write error.
    virtual int Write(const int16_t* left, const int16_t* right, int frames) = 0;
    // Write for the wide blocks TakeWideInput agreed to.
    virtual int WriteS32(const int32_t* left, const int32_t* right, int frames) {
        (void)left, (void)right, (void)frames;
        return 0;
    }
    virtual int WriteF32(const float* left, const float* right, int frames) {
        (void)left, (void)right, (void)frames;
        return 0;
    }
    // Finishes the file and releases it; safe after a failed Open.
    virtual void Close() = 0;
    // After Close: true when the file was finished, everything down to its trailer written
    // without an error. A writer that cannot tell says true.
    virtual bool Completed() const { return true; }
};

}  // namespace kestrune
