#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

// Base of the writer-specific records handed to SetEncoderOptions.
struct EncoderOptions {
    virtual ~EncoderOptions() = default;
};

// Base of every encoder. The engine calls: setters, SetTags, SetPath, Open, Write..., Close.
class AudioWriter {
public:
    AudioWriter() = default;
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;
    virtual ~AudioWriter() = default;

    // Tags in writer order; track 0 means no track number.
    virtual void SetTags(const std::string& title, const std::string& artist,
                         const std::string& album, const std::string& genre,
                         const std::string& year, const std::string& comment,
                         const std::string& composer, const std::string& copyright, int track) {
        (void)title, (void)artist, (void)album, (void)genre, (void)year, (void)comment;
        (void)composer, (void)copyright, (void)track;
    }
    virtual void SetPath(const std::string& path) = 0;
    virtual void SetSampleRate(int rate) { (void)rate; }
    virtual void SetChannels(int count) { (void)count; }
    // bit/s; 0 when the codec has no bit-rate choice.
    virtual void SetBitRate(int rate) { (void)rate; }
    virtual void SetEncoderOptions(const EncoderOptions& options) { (void)options; }
    // 1 on success; on failure nothing is left open.
    virtual int Open() = 0;
    // Mono reads left only; for stereo right may be the same buffer as left. frames may be 0.
    // 1 on success, 0 on a write error.
    virtual int Write(const int16_t* left, const int16_t* right, int frames) = 0;
    // Finishes the file and releases it; safe after a failed Open.
    virtual void Close() = 0;
};

}  // namespace kestrune
