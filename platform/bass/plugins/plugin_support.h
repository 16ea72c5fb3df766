#pragma once

// What the plug-ins of the decoding layer share: finding their stream marker, and handing out
// decoded PCM in the sizes the layer asks for.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

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
    // Where a decoding step puts what it decoded.
    std::vector<Sample>& Samples() { return samples_; }
    void Clear() {
        samples_.clear();
        read_ = 0;
    }

    // Decoder::Decode over the pending samples: fills buffer with up to bytes of whole frames
    // of channels, calling refill whenever everything pending is handed out. refill decodes
    // more into Samples() and returns 1, or 0 at the end of the stream, or -1 on an error.
    template <typename Refill>
    long Decode(void* buffer, size_t bytes, uint32_t channels, Refill&& refill) {
        auto* out = static_cast<Sample*>(buffer);
        const size_t room = bytes / sizeof(Sample);
        const size_t want = room - room % channels;
        size_t done = 0;
        while (done < want) {
            if (read_ < samples_.size()) {
                const size_t n = std::min(want - done, samples_.size() - read_);
                std::copy_n(samples_.begin() + static_cast<long>(read_), n, out + done);
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
    std::vector<Sample> samples_;
    size_t read_ = 0;
};

using PendingPcm = PendingSamples<int16_t>;

}  // namespace kestrune::bass
