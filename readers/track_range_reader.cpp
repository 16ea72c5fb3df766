#include "readers/track_range_reader.h"

#include <algorithm>

namespace kestrune {

TrackRangeReader::TrackRangeReader(std::unique_ptr<AudioReader> image, int64_t start, int64_t end,
                                   const TagSet& tags)
    : image_(std::move(image)), start_(std::max<int64_t>(start, 0)), end_(end), tags_(tags) {
    sampleRate = image_->GetSampleRate();
    sourceChannels = image_->GetSourceChannels();
    channels = image_->GetChannels();
    bitsPerSample = image_->GetBitsPerSample();
    bytesPerSample = bitsPerSample / 8;
    bitRate = image_->GetBitRate();
    // The last track runs to the image's end, which is known only to the second.
    const int64_t imageFrames = static_cast<int64_t>(image_->GetDuration()) * sampleRate;
    length = std::max<int64_t>(1, (end_ >= 0 ? end_ : imageFrames) - start_);
    duration = sampleRate > 0 ? static_cast<int32_t>(length / sampleRate) : 0;
}

void TrackRangeReader::Close() {
    if (image_)
        image_->Close();
}

int TrackRangeReader::Open(const std::string&, int) {
    return 0;
}

int TrackRangeReader::ReadTags(TagSet& tags) {
    tags = tags_;
    return 1;
}

int TrackRangeReader::Read(int16_t* left, int16_t* right) {
    return Cut(left, right, [this](int16_t* l, int16_t* r) { return image_->Read(l, r); });
}

int TrackRangeReader::ReadS32(int32_t* left, int32_t* right) {
    return Cut(left, right, [this](int32_t* l, int32_t* r) { return image_->ReadS32(l, r); });
}

int TrackRangeReader::ReadF32(float* left, float* right) {
    return Cut(left, right, [this](float* l, float* r) { return image_->ReadF32(l, r); });
}

template <typename Sample, typename ReadFn>
int TrackRangeReader::Cut(Sample* left, Sample* right, ReadFn read) {
    // A track far into the image starts there at once where the image's reader can move.
    if (!started_) {
        started_ = true;
        if (start_ > 0 && image_->SeekFrame(start_))
            imageAt_ = start_;
    }
    while (!done_) {
        const int n = read(left, right);
        if (n <= 0) {
            done_ = true;
            endedShort_ = imageAt_ <= start_ || (end_ >= 0 && imageAt_ < end_);
            return 0;
        }
        const int64_t from = imageAt_;
        imageAt_ += n;
        if (end_ >= 0 && imageAt_ >= end_)
            done_ = true;
        const int64_t first = std::max(from, start_);
        const int64_t last = end_ >= 0 ? std::min(imageAt_, end_) : imageAt_;
        if (last <= first)
            continue;
        const int skip = static_cast<int>(first - from);
        const int keep = static_cast<int>(last - first);
        if (skip > 0) {
            std::copy(left + skip, left + skip + keep, left);
            if (right)
                std::copy(right + skip, right + skip + keep, right);
        }
        position += keep;
        return keep;
    }
    return 0;
}

}  // namespace kestrune
