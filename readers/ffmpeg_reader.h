#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio_reader.h"
#include "common/ffmpeg_handles.h"

struct AVDictionary;

namespace kestrune {

// Quietens FFmpeg's own log output for the whole process and caps what one allocation of the
// FFmpeg libraries may take (kFFmpegMostPerAllocation), so that a header claiming gigabytes
// is refused instead of believed. Programs call it once at start-up; the readers never change
// these global settings themselves.
void InitFFmpegLogging();
// Far above what any real file needs at once (the index of a 60-hour audiobook), far below
// what a damaged length field can ask for.
constexpr size_t kFFmpegMostPerAllocation = size_t{256} << 20;

// RAII owners of the FFmpeg handles.
using FormatContextPtr = ffmpeg::InputFormatPtr;
using ffmpeg::CodecContextPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;

// Where the six speakers of a six-channel frame sit, as indexes into the frame:
// front left, front right, centre, LFE, surround left, surround right.
using SixChannelMap = std::array<int, 6>;
constexpr SixChannelMap kStandardSixOrder = {0, 1, 2, 3, 4, 5};
constexpr SixChannelMap kAacSixOrder = {1, 2, 0, 5, 3, 4};     // C L R Ls Rs LFE
constexpr SixChannelMap kMp3On4SixOrder = {0, 1, 4, 5, 2, 3};  // L R Ls Rs C LFE

// The speaker positions of a six-channel frame: taken from the frame's channel layout when
// it names them; otherwise the order the codec is known to deliver.
SixChannelMap ChooseSixChannelMap(const AVFrame& frame, int codecId);

// Converts count frames of a decoded frame, starting at frame index first, to 16-bit planar
// samples: one channel to left, two to left/right, six through the six-channel mix, any other
// count above two through DownmixFrame. right may be null (mono output): only left is written.
// Returns the number of frames written (0 for a sample format it cannot read).
int ConvertFrames(const AVFrame& frame, int first, int count, const SixChannelMap& six,
                  int16_t* left, int16_t* right);

// Decodes the first decodable audio stream of any file FFmpeg can open.
class FFmpegReader : public AudioReader {
public:
    FFmpegReader();
    ~FFmpegReader() override;

    void Close() override;
    int Open(const std::string& path, int preferredRate) override;
    int Read(int16_t* left, int16_t* right) override;
    // A lossless stream of more than 16 bits also comes in wide blocks.
    SampleFormat GetWideFormat() override;
    int ReadS32(int32_t* left, int32_t* right) override;
    int ReadF32(float* left, float* right) override;
    int HasAudioStream() override;
    int ReadTags(TagSet& tags) override;
    // Streams of lossless codecs, whose frames carry exact times; the first block then starts
    // at frame exactly. A stream whose times turn out unusable is read from its start.
    bool SeekFrame(int64_t frame) override;

private:
    template <typename Out>
    int ReadBlock(Out* left, Out* right);
    void Release();
    bool NextFrame();
    void UpdatePosition();

    FormatContextPtr formatContext;
    CodecContextPtr codecContext;
    PacketPtr packet;
    FramePtr frame;
    int streamIndex = -1;
    int codecId = 0;
    // A readable file whose audio cannot be decoded still counts as having audio.
    bool audioFound = true;
    bool inputEnded = false;  // the container is exhausted and the decoder was told so
    bool decoderDrained = false;
    bool started = false;  // a block was read or the stream moved
    std::string openPath;  // of the open file, to open it again after a seek gone wrong
    int cursor = 0;        // decoded frames of frame not yet handed out: cursor .. end
    int end = 0;
    SixChannelMap six = kStandardSixOrder;
};

// Opens the container and reports the format of its first audio stream; never decodes.
class FFmpegProbeReader : public AudioReader {
public:
    FFmpegProbeReader() = default;
    ~FFmpegProbeReader() override;

    void Close() override;
    int Open(const std::string& path, int preferredRate) override;
    int Read(int16_t* left, int16_t* right) override;
    int HasAudioStream() override;

private:
    FormatContextPtr formatContext;
    int streamIndex = -1;
    // Only a readable file without any audio stream answers 0.
    bool audioFound = true;
};

}  // namespace kestrune
