#include "tests/support/reader_checks.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "audio/downmix.h"

namespace kestrune::test {

Decoded Drain(AudioReader& reader) {
    Decoded d;
    d.channels = reader.GetChannels();
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
    // Bounded: a reader that never ends fails the test instead of hanging it.
    for (int guard = 0; guard < 1000000; ++guard) {
        const int n = reader.Read(left.data(), d.channels == 2 ? right.data() : nullptr);
        if (n <= 0)
            break;
        EXPECT_LE(n, kBlockFrames);
        d.blocks.push_back(n);
        for (int i = 0; i < n; ++i) {
            d.samples.push_back(left[static_cast<size_t>(i)]);
            if (d.channels == 2)
                d.samples.push_back(right[static_cast<size_t>(i)]);
        }
    }
    return d;
}

// What libsndfile decodes, folded to at most two channels the way every reader folds them.
std::vector<int16_t> Fold(const std::vector<int16_t>& interleaved, int channels) {
    if (channels <= 2)
        return interleaved;
    std::vector<int16_t> out;
    for (size_t i = 0; i + static_cast<size_t>(channels) <= interleaved.size(); i += channels) {
        int16_t l, r;
        DownmixFrame(channels, &interleaved[i], l, r);
        out.push_back(l);
        out.push_back(r);
    }
    return out;
}

bool SndWrite(const std::string& path, int format, const Pcm& pcm) {
    SF_INFO info{};
    info.samplerate = pcm.sampleRate;
    info.channels = pcm.channels;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t frames = static_cast<sf_count_t>(pcm.Frames());
    const int sub = format & SF_FORMAT_SUBMASK;
    bool ok;
    if (sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE) {
        // Floating point files hold full scale as 1.0.
        std::vector<double> v(pcm.samples.begin(), pcm.samples.end());
        for (double& x : v)
            x /= 32768.0;
        ok = sf_writef_double(f, v.data(), frames) == frames;
    } else {
        ok = sf_writef_short(f, pcm.samples.data(), frames) == frames;
    }
    sf_close(f);
    return ok;
}

// libsndfile's own 16-bit decode, or (for floating point) the exact values it stored
// turned into 16 bits by the truncating rule.
bool SndReadShort(const std::string& path, std::vector<int16_t>& out, int& channels,
                  bool floating) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return false;
    channels = info.channels;
    out.assign(static_cast<size_t>(info.frames * info.channels), 0);
    if (floating) {
        std::vector<double> v(out.size());
        sf_command(f, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
        sf_readf_double(f, v.data(), info.frames);
        for (size_t i = 0; i < v.size(); ++i)
            out[i] = static_cast<int16_t>(static_cast<int32_t>(v[i] * 2147483647.0) >> 16);
    } else {
        sf_readf_short(f, out.data(), info.frames);
    }
    sf_close(f);
    return true;
}

bool SoxReadShort(const std::string& path, std::vector<int16_t>& out) {
    std::string raw;
    if (test::Run("sox -V1 " + test::Quote(path) + " -D -t raw -e signed -b 16 -L -", &raw) != 0)
        return false;
    out.resize(raw.size() / 2);
    std::memcpy(out.data(), raw.data(), out.size() * 2);
    return true;
}

bool WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    return WriteBytes(path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> Damaged(const std::vector<uint8_t>& good, int round, const Damage& how,
                             Lcg& random) {
    std::vector<uint8_t> bytes = good;
    if (round % how.cutEvery == 0) {
        bytes.resize(random.Next() % bytes.size());
        return bytes;
    }
    const size_t span =
        how.span ? std::min(how.span, bytes.size() - how.from) : bytes.size() - how.from;
    for (int k = 0; k < how.changes; ++k) {
        const uint32_t r = random.Next();
        bytes[how.from + (r >> 8) % span] = static_cast<uint8_t>(r >> 24);
    }
    return bytes;
}

}  // namespace kestrune::test
