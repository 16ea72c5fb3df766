#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio_writer.h"
#include "platform/wmvcore/wmvcore.h"
#include "writers/windows_media_runtime.h"
#include "writers/wma_codec_list.h"

namespace kestrune {

// The encoding choice of the Windows Media family: the chosen format's media type.
struct WmaEncoderOptions : EncoderOptions {
    WmaEncoderOptions() = default;
    explicit WmaEncoderOptions(const WmaCodecFormat& format) : mediaType(format.mediaType) {}
    wm::WmMediaType mediaType;
};

// Writes one audio stream into an ASF file (the "wma", "wmv" and "asf" rows alike) from
// 16-bit PCM at the rate and channel count given; the runtime converts to the chosen format.
class WindowsMediaWriter : public AudioWriter {
public:
    // runtime must stay loaded while the writer lives; null makes every Open fail.
    explicit WindowsMediaWriter(const WindowsMediaRuntime* runtime);
    ~WindowsMediaWriter() override;

    void SetTags(const TagSet& tags) override;
    void SetPath(const std::string& path) override;
    void SetSampleRate(int rate) override;
    void SetChannels(int count) override;
    void SetBitRate(int rate) override;
    void SetEncoderOptions(const EncoderOptions& options) override;
    int Open() override;
    int Write(const int16_t* left, const int16_t* right, int frames) override;
    void Close() override;
    bool Completed() const override { return completed; }

    // The time the next sample is written at, in 100-nanosecond units.
    int64_t SampleTime() const { return sampleTime; }

private:
    bool Start();
    void AddTags();
    void Release();

    const WindowsMediaRuntime* runtime;
    std::string path;
    int sampleRate = 0;
    int channels = 0;
    int bitRate = 0;
    bool haveMediaType = false;
    wm::WmMediaType mediaType;

    TagSet tags;
    int32_t track = 0;

    std::unique_ptr<wm::WmWriter> writer;
    uint32_t audioInput = 0;
    int64_t sampleTime = 0;
    bool failed = false;  // a sample was refused: the file is not whole
    bool completed = false;
    wm::WmBuffer buffer;
};

}  // namespace kestrune
