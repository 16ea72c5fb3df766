#pragma once

#include <memory>

#include "audio/audio_reader.h"

namespace kestrune {

// One track of a disc image: the frames [start, end) of an open reader of the image, as a
// reader of their own. The image is decoded from its start and the frames before the track
// are dropped, so the cut falls on the exact sample whatever the codec's seeking can do.
// Length and position are in frames of the track.
class TrackRangeReader : public AudioReader {
public:
    // end -1: to the end of the image. tags are what ReadTags gives.
    TrackRangeReader(std::unique_ptr<AudioReader> image, int64_t start, int64_t end,
                     const TagSet& tags);
    ~TrackRangeReader() override { Close(); }

    void Close() override;
    // The image is opened by whoever made this reader.
    int Open(const std::string& path, int preferredRate) override;
    int Read(int16_t* left, int16_t* right) override;
    // The image's wide samples, cut the same way, so a 24-bit image keeps its bits.
    SampleFormat GetWideFormat() override { return image_->GetWideFormat(); }
    SampleDepth GetSourceDepth() override { return image_->GetSourceDepth(); }
    int ReadS32(int32_t* left, int32_t* right) override;
    int ReadF32(float* left, float* right) override;
    int ReadTags(TagSet& tags) override;

    // True once the image ended before the track's start or (when given) its end.
    bool EndedShort() const { return endedShort_; }

private:
    // Reads blocks with read until one holds frames of the track, and moves them to the front.
    template <typename Sample, typename ReadFn>
    int Cut(Sample* left, Sample* right, ReadFn read);

    std::unique_ptr<AudioReader> image_;
    const int64_t start_;
    const int64_t end_;
    const TagSet tags_;
    int64_t imageAt_ = 0;  // frames of the image read so far
    bool started_ = false;
    bool done_ = false;
    bool endedShort_ = false;
};

}  // namespace kestrune
