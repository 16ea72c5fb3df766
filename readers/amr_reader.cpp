#include "readers/amr_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/amr/amrnb.h"
#include "platform/amr/amrwb.h"

namespace kestrune {

namespace {

constexpr char kNarrowMagic[] = "#!AMR\n";
constexpr char kWideMagic[] = "#!AMR-WB\n";
constexpr size_t kHeadBytes = 9;

bool ReadHead(const std::string& path, char (&head)[kHeadBytes]) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    const size_t n = std::fread(head, 1, kHeadBytes, f);
    std::fclose(f);
    return n == kHeadBytes;
}

}  // namespace

AmrReader::~AmrReader() {
    Close();
}

void AmrReader::Close() {
    if (decoder) {
        if (narrowBand)
            amrnbdec_quit(decoder);
        else
            amrwbdec_quit(decoder);
        decoder = nullptr;
    }
    narrowBand = true;
    pendingCount = 0;
    pendingStart = 0;
    Reset();
}

int AmrReader::Open(const std::string& path, int preferredRate) {
    (void)preferredRate;
    Close();
    char head[kHeadBytes];
    if (!ReadHead(path, head))
        return 0;
    // The narrow-band test covers the line feed, so a wide-band file never passes it.
    if (std::memcmp(head, kNarrowMagic, 6) == 0) {
        narrowBand = true;
        decoder = amrnbdec_init(path.c_str());
        if (!decoder)
            return 0;
        position = 6;
        sampleRate = 8000;
    } else if (std::memcmp(head, kWideMagic, 9) == 0) {
        narrowBand = false;
        decoder = amrwbdec_init(path.c_str());
        if (!decoder)
            return 0;
        position = 9;
        sampleRate = 16000;
    } else {
        return 0;
    }
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    length = ec ? 0 : static_cast<int64_t>(size);
    duration = 0;
    bitRate = 0;
    sourceChannels = 1;
    channels = 1;
    bitsPerSample = 16;
    bytesPerSample = 2;
    return 1;
}

int AmrReader::Read(int16_t* left, int16_t* right) {
    (void)right;
    if (!decoder || !left)
        return 0;
    int delivered = std::min(pendingCount, kBlockFrames);
    std::copy_n(pending + pendingStart, delivered, left);
    pendingStart += delivered;
    pendingCount -= delivered;
    while (delivered < kBlockFrames) {
        short* samples = nullptr;
        long at = 0;
        const int count = narrowBand ? amrnbdec_decode(decoder, &samples, &at)
                                     : amrwbdec_decode(decoder, &samples, &at);
        if (count <= 0 || !samples)
            break;
        position = at;
        const int take = std::min(count, kBlockFrames - delivered);
        std::copy_n(samples, take, left + delivered);
        delivered += take;
        // What does not fit waits for the next call: at most one frame.
        const int rest = std::min(count - take, kMaxFrameSamples);
        std::copy_n(samples + take, rest, pending);
        pendingStart = 0;
        pendingCount = rest;
    }
    return delivered;
}

}  // namespace kestrune
