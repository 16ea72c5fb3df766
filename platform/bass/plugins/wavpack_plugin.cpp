// WavPack files (with their correction file when one lies beside them) through libwavpack.

#include <wavpack/wavpack.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "common/no_coverage.h"
#include "platform/bass/decoder.h"
#include "platform/bass/plugins/plugin_support.h"

namespace {

using kestrune::bass::Decoder;

struct WavpackDeleter {
    void operator()(WavpackContext* c) const { WavpackCloseFile(c); }
};

class WavpackDecoder : public Decoder {
public:
    bool Open(const char* path) {
        char error[128] = {};
        context_.reset(WavpackOpenFileInput(path, error, OPEN_WVC, 0));
        if (!context_)
            return false;
        path_ = path;
        WavpackContext* c = context_.get();
        const int64_t samples = WavpackGetNumSamples64(c);
        const int channels = WavpackGetNumChannels(c);
        const uint32_t rate = WavpackGetSampleRate(c);
        if (samples <= 0 || channels < 1 || rate == 0)
            return false;
        isFloat_ = (WavpackGetMode(c) & MODE_FLOAT) != 0;
        shift_ = WavpackGetBytesPerSample(c) * 8 - 16;
        format.rate = rate;
        format.channels = static_cast<uint32_t>(channels);
        format.bits = 16;
        format.sourceBits = static_cast<uint32_t>(isFloat_ ? 32 : WavpackGetBitsPerSample(c));
        format.sourceFloat = isFloat_;
        format.frames = static_cast<uint64_t>(samples);
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        format.fileBytes = ec ? -1 : static_cast<int64_t>(size);
        return true;
    }

    long Decode(void* buffer, size_t bytes) override {
        const size_t sampleBytes = format.bits / 8;
        const uint32_t frames = static_cast<uint32_t>(bytes / (sampleBytes * format.channels));
        if (frames == 0)
            return 0;
        work_.resize(static_cast<size_t>(frames) * format.channels);
        const uint32_t got = WavpackUnpackSamples(context_.get(), work_.data(), frames);
        const size_t n = static_cast<size_t>(got) * format.channels;
        if (format.bits == 32) {
            Widen(work_.data(), n, static_cast<int32_t*>(buffer));
            return static_cast<long>(n * 4);
        }
        Convert(work_.data(), n, static_cast<int16_t*>(buffer));
        return static_cast<long>(n * 2);
    }

    bool SetWideOutput(bool floating) override {
        if (floating != isFloat_)
            return false;
        format.bits = 32;
        format.floating = floating;
        return true;
    }

    // A failed seek leaves the library's context unusable: the file is opened again, at its
    // start.
    bool Seek(uint64_t frame) override {
        if (WavpackSeekSample64(context_.get(), static_cast<int64_t>(frame)))
            return true;
        char error[128] = {};
        context_.reset(WavpackOpenFileInput(path_.c_str(), error, OPEN_WVC, 0));
        return false;
    }

private:
    // Floats come as their bits; integers move up to the top of 32 bits.
    KESTRUNE_NO_COVERAGE void Widen(const int32_t* in, size_t n, int32_t* out) const {
        const int up = isFloat_ ? 0 : 32 - (shift_ + 16);
        for (size_t i = 0; i < n; ++i)
            out[i] = static_cast<int32_t>(static_cast<uint32_t>(in[i]) << up);
    }

    KESTRUNE_NO_COVERAGE void Convert(const int32_t* in, size_t n, int16_t* out) const {
        if (isFloat_) {
            for (size_t i = 0; i < n; ++i) {
                float f;
                std::memcpy(&f, in + i, sizeof f);
                const long s = std::lround(static_cast<double>(f) * 32768.0);
                out[i] = static_cast<int16_t>(std::clamp<long>(s, -32768, 32767));
            }
        } else if (shift_ >= 0) {
            for (size_t i = 0; i < n; ++i)
                out[i] = static_cast<int16_t>(in[i] >> shift_);
        } else {
            for (size_t i = 0; i < n; ++i)
                out[i] = static_cast<int16_t>(in[i] * (1 << -shift_));
        }
    }

    std::unique_ptr<WavpackContext, WavpackDeleter> context_;
    std::string path_;
    std::vector<int32_t> work_;
    bool isFloat_ = false;
    int shift_ = 0;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) Decoder* KestruneBassPluginOpen(
    const char* path) {
    if (!kestrune::bass::StartsWithStreamMarker(path, "wvpk"))
        return nullptr;
    auto decoder = std::make_unique<WavpackDecoder>();
    return decoder->Open(path) ? decoder.release() : nullptr;
}
