#pragma once

// What the plug-ins of the decoding layer share: finding their stream marker, and handing out
// decoded PCM in the sizes the layer asks for.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>

namespace kestrune::bass {

// True when the file starts with the 4-byte marker, at the very start or right after an
// ID3v2 tag (some tools put one in front of FLAC and WavPack streams).
inline bool StartsWithStreamMarker(const char* path, const char (&marker)[5]) {
    std::ifstream in(path, std::ios::binary);
    char h[10] = {};
    in.read(h, 10);
    if (!in)
        return false;
    if (std::memcmp(h, "ID3", 3) == 0) {
        auto b = [&](int i) { return static_cast<std::streamoff>(h[i] & 0x7f); };
        const std::streamoff at =
            10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9)) + ((h[5] & 0x10) ? 10 : 0);
        in.seekg(at);
        in.read(h, 4);
        if (!in)
            return false;
    }
    return std::memcmp(h, marker, 4) == 0;
}

// Interleaved PCM decoded ahead of what the layer asked for: 16-bit samples, or the 32-bit
// integers or floats of a decoder's wide output.
template <typename Sample>
class PendingSamples {
public:
    // Room for n more samples after the pending ones, for a decoding step to fill. Nothing is
    // cleared first: a long silent stream should cost its decoding, not a second pass.
    Sample* Extend(size_t n) {
        if (n > capacity_ - size_) {
            const size_t capacity = std::max(size_ + n, 2 * capacity_);
            auto grown = std::make_unique_for_overwrite<Sample[]>(capacity);
            std::copy_n(samples_.get(), size_, grown.get());
            samples_ = std::move(grown);
            capacity_ = capacity;
        }
        Sample* room = samples_.get() + size_;
        size_ += n;
        return room;
    }
    size_t Size() const { return size_; }
    void Clear() {
        size_ = 0;
        read_ = 0;
    }

    // Decoder::Decode over the pending samples: fills buffer with up to bytes of whole frames
    // of channels, calling refill whenever everything pending is handed out. refill decodes
    // more through Extend() and returns 1, or 0 at the end of the stream, or -1 on an error.
    template <typename Refill>
    long Decode(void* buffer, size_t bytes, uint32_t channels, Refill&& refill) {
        auto* out = static_cast<Sample*>(buffer);
        const size_t room = bytes / sizeof(Sample);
        const size_t want = room - room % channels;
        size_t done = 0;
        while (done < want) {
            if (read_ < size_) {
                const size_t n = std::min(want - done, size_ - read_);
                std::copy_n(samples_.get() + read_, n, out + done);
                read_ += n;
                done += n;
                continue;
            }
            Clear();
            const int rc = refill();
            if (rc == 0)
                break;
            if (rc < 0)
                return done ? static_cast<long>(done * sizeof(Sample)) : -1;
        }
        return static_cast<long>(done * sizeof(Sample));
    }

private:
    std::unique_ptr<Sample[]> samples_;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t read_ = 0;
};

using PendingPcm = PendingSamples<int16_t>;

}  // namespace kestrune::bass
