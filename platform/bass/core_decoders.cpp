#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/bass/layer_decoders.h"

namespace kestrune::bass {

int64_t FileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

namespace {

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

class WavDecoder : public Decoder {
public:
    enum class Mode { Unsigned8, Int16, Float };

    WavDecoder(SndfilePtr file, const SF_INFO& info, Mode mode)
        : file_(std::move(file)), mode_(mode) {
        format.rate = static_cast<uint32_t>(info.samplerate);
        format.channels = static_cast<uint32_t>(info.channels);
        format.bits = mode == Mode::Unsigned8 ? 8 : 16;
        format.frames = static_cast<uint64_t>(std::max<sf_count_t>(info.frames, 0));
    }

    long Decode(void* buffer, size_t bytes) override {
        const size_t frameBytes = format.channels * (format.bits / 8);
        const sf_count_t frames = static_cast<sf_count_t>(bytes / frameBytes);
        if (frames == 0)
            return 0;
        sf_count_t got = 0;
        if (format.bits == 32) {
            // libsndfile's integers have their full scale at 2^31, its floats at 1.0.
            got = format.floating ? sf_readf_float(file_.get(), static_cast<float*>(buffer), frames)
                                  : sf_readf_int(file_.get(), static_cast<int*>(buffer), frames);
            return got < 0 ? -1 : static_cast<long>(got * static_cast<sf_count_t>(frameBytes));
        }
        switch (mode_) {
            case Mode::Unsigned8:
                // 8-bit WAV data is unsigned already: the bytes pass through as they are.
                got = sf_read_raw(file_.get(), buffer, frames * format.channels);
                return got < 0 ? -1 : static_cast<long>(got - got % format.channels);
            case Mode::Int16:
                got = sf_readf_short(file_.get(), static_cast<short*>(buffer), frames);
                break;
            case Mode::Float: {
                // Full scale is 1.0; louder samples clip rather than wrap.
                work_.resize(static_cast<size_t>(frames) * format.channels);
                got = sf_readf_float(file_.get(), work_.data(), frames);
                auto* out = static_cast<int16_t*>(buffer);
                for (size_t i = 0;
                     i < static_cast<size_t>(std::max<sf_count_t>(got, 0)) * format.channels; ++i)
                    out[i] = static_cast<int16_t>(
                        std::clamp<long>(std::lrint(work_[i] * 32768.0f), -32768, 32767));
                break;
            }
        }
        if (got < 0)
            return -1;
        return static_cast<long>(got * static_cast<sf_count_t>(frameBytes));
    }

    bool SetWideOutput(bool floating) override {
        if (floating != format.sourceFloat || format.sourceBits <= 16)
            return false;
        format.bits = 32;
        format.floating = floating;
        return true;
    }

    bool Seek(uint64_t frame) override {
        return sf_seek(file_.get(), static_cast<sf_count_t>(frame), SEEK_SET) ==
               static_cast<sf_count_t>(frame);
    }

private:
    SndfilePtr file_;
    Mode mode_;
    std::vector<float> work_;
};

struct MpgDeleter {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};
using MpgPtr = std::unique_ptr<mpg123_handle, MpgDeleter>;

class MpegDecoder : public Decoder {
public:
    explicit MpegDecoder(MpgPtr handle) : handle_(std::move(handle)) {}

    long Decode(void* buffer, size_t bytes) override {
        const size_t frameBytes = format.channels * 2;
        bytes -= bytes % frameBytes;
        size_t total = 0;
        while (total < bytes) {
            size_t done = 0;
            const int rc = mpg123_read(handle_.get(), static_cast<unsigned char*>(buffer) + total,
                                       bytes - total, &done);
            total += done;
            if (rc == MPG123_DONE)
                break;
            if (rc == MPG123_NEW_FORMAT) {
                // A change of format mid-stream cannot be delivered on this channel.
                long rate = 0;
                int channels = 0, encoding = 0;
                mpg123_getformat(handle_.get(), &rate, &channels, &encoding);
                if (static_cast<uint32_t>(rate) != format.rate ||
                    static_cast<uint32_t>(channels) != format.channels)
                    break;
                continue;
            }
            if (rc != MPG123_OK)
                return total ? static_cast<long>(total) : -1;
            if (done == 0)
                break;
        }
        return static_cast<long>(total);
    }

private:
    MpgPtr handle_;
};

// Length in bytes of the MPEG audio frame whose header starts at h, 0 when h holds no
// valid header. version/layer/rate identify the stream for the next frames.
size_t MpegFrameBytes(const unsigned char* h, int& version, int& layer, int& rate) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0)
        return 0;
    version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    layer = 4 - ((h[1] >> 1) & 3);
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    static const int kBitrates[5][14] = {
        {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
        {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
        {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    static const int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const int table = mpeg1 ? layer - 1 : (layer == 1 ? 3 : 4);
    const long bitrate = kBitrates[table][bitrateIndex - 1] * 1000L;
    rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const int padding = (h[2] >> 1) & 1;
    if (layer == 1)
        return static_cast<size_t>((12 * bitrate / rate + padding) * 4);
    if (layer == 3 && !mpeg1)
        return static_cast<size_t>(72 * bitrate / rate + padding);
    return static_cast<size_t>(144 * bitrate / rate + padding);
}

// MPEG frame sync turns up inside any binary data, so a file is taken for MPEG audio only
// when, near its start, a few frames follow one another with the same stream parameters
// (or a shorter chain runs exactly to the end of the file or to a trailing tag).
bool LooksLikeMpegAudio(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::vector<unsigned char> head(10);
    in.read(reinterpret_cast<char*>(head.data()), 10);
    size_t skip = 0;
    if (in.gcount() == 10 && std::memcmp(head.data(), "ID3", 3) == 0)
        skip = 10 +
               ((head[6] & 0x7f) << 21 | (head[7] & 0x7f) << 14 | (head[8] & 0x7f) << 7 |
                (head[9] & 0x7f)) +
               ((head[5] & 0x10) ? 10 : 0);
    constexpr size_t kSearch = 64 * 1024;
    constexpr int kChain = 4;
    constexpr size_t kWindow = kSearch + kChain * 2900 + 4;
    const int64_t size = FileSize(path);
    const size_t after = size > 0 && static_cast<uint64_t>(size) > skip
                             ? static_cast<size_t>(static_cast<uint64_t>(size) - skip)
                             : 0;
    in.clear();
    in.seekg(static_cast<std::streamoff>(skip));
    // The window, or what the file holds of it.
    std::vector<unsigned char> d(std::min(kWindow, after));
    in.read(reinterpret_cast<char*>(d.data()), static_cast<std::streamsize>(d.size()));
    const auto got = static_cast<size_t>(in.gcount());
    const bool wholeFile = got < kWindow;
    for (size_t start = 0; start < std::min(kSearch, got) && start + 4 <= got; ++start) {
        int version = 0, layer = 0, rate = 0;
        size_t len = MpegFrameBytes(&d[start], version, layer, rate);
        if (!len)
            continue;
        size_t at = start;
        int frames = 0;
        for (;;) {
            ++frames;
            at += len;
            if (frames >= kChain)
                return true;
            if (at + 4 > got) {
                // The chain ran into the end of the file: fine when it ended exactly there.
                if (wholeFile && at == got && frames >= 2)
                    return true;
                break;
            }
            if (wholeFile && frames >= 2 &&
                (std::memcmp(&d[at], "TAG", 3) == 0 ||
                 (at + 8 <= got && std::memcmp(&d[at], "APETAGEX", 8) == 0)))
                return true;
            int v2 = 0, l2 = 0, r2 = 0;
            len = MpegFrameBytes(&d[at], v2, l2, r2);
            if (!len || v2 != version || l2 != layer || r2 != rate)
                break;
        }
    }
    return false;
}

}  // namespace

std::unique_ptr<Decoder> OpenWavDecoder(const std::string& path) {
    {
        // libsndfile probes every format it knows; only RIFF files are asked.
        char magic[4] = {};
        std::ifstream in(path, std::ios::binary);
        in.read(magic, 4);
        if (std::memcmp(magic, "RIFF", 4) != 0 && std::memcmp(magic, "RF64", 4) != 0)
            return nullptr;
    }
    SF_INFO info{};
    SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
    if (!file)
        return nullptr;
    const int major = info.format & SF_FORMAT_TYPEMASK;
    if (major != SF_FORMAT_WAV && major != SF_FORMAT_WAVEX && major != SF_FORMAT_RF64)
        return nullptr;
    if (info.channels < 1 || info.samplerate < 1)
        return nullptr;
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    const auto mode = subtype == SF_FORMAT_PCM_U8 ? WavDecoder::Mode::Unsigned8
                      : (subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE)
                          ? WavDecoder::Mode::Float
                          : WavDecoder::Mode::Int16;
    auto decoder = std::make_unique<WavDecoder>(std::move(file), info, mode);
    decoder->format.fileBytes = FileSize(path);
    switch (subtype) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            decoder->format.sourceBits = 8;
            break;
        case SF_FORMAT_PCM_16:
            decoder->format.sourceBits = 16;
            break;
        case SF_FORMAT_PCM_24:
            decoder->format.sourceBits = 24;
            break;
        case SF_FORMAT_PCM_32:
            decoder->format.sourceBits = 32;
            break;
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
            decoder->format.sourceBits = subtype == SF_FORMAT_FLOAT ? 32 : 64;
            decoder->format.sourceFloat = true;
            break;
        default:
            break;  // companded and compressed samples have no width of their own
    }
    return decoder;
}

std::unique_ptr<Decoder> OpenMpegDecoder(const std::string& path) {
    if (!LooksLikeMpegAudio(path))
        return nullptr;
    int err = MPG123_OK;
    MpgPtr h(mpg123_new(nullptr, &err));
    if (!h)
        return nullptr;
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    // Keep every stream at its own rate and channel count, as signed 16-bit.
    mpg123_format_none(h.get());
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h.get(), path.c_str()) != MPG123_OK)
        return nullptr;
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK)
        return nullptr;
    // The exact decoded length needs one pass over the frame headers. It is made on a
    // handle of its own: decoding after a scan and a seek back does not always give the
    // same samples as decoding straight from the start.
    off_t frames = 0;
    {
        MpgPtr scan(mpg123_new(nullptr, &err));
        if (!scan)
            return nullptr;
        mpg123_param(scan.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
        if (mpg123_open(scan.get(), path.c_str()) != MPG123_OK ||
            mpg123_scan(scan.get()) != MPG123_OK)
            return nullptr;
        frames = mpg123_length(scan.get());
    }
    if (frames <= 0 || rate <= 0 || channels < 1)
        return nullptr;
    auto decoder = std::make_unique<MpegDecoder>(std::move(h));
    decoder->format.rate = static_cast<uint32_t>(rate);
    decoder->format.channels = static_cast<uint32_t>(channels);
    decoder->format.bits = 16;
    decoder->format.frames = static_cast<uint64_t>(frames);
    decoder->format.fileBytes = FileSize(path);
    return decoder;
}

}  // namespace kestrune::bass
