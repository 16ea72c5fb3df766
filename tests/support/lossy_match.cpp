#include "tests/support/lossy_match.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrune::test {

namespace {

struct LossyCodec {
    const char* name;  // as ffprobe names it
    // Frames ffmpeg's decode hands out before the source's first frame (the encoder's delay),
    // except in the containers that record the delay, whose decode starts on time.
    int delay;
    std::vector<std::string> recordedIn;
    double minSnr;  // dB, every channel
};

// Each threshold sits about 6 dB under the lowest ratio measured on any channel of any case
// the tests write (MakeSignal; AMR also with amr_test's speech), decoded by ffmpeg. The
// damaged decodes the threshold must refuse (a channel lost or copied, a block of 1152 frames
// late or early) measured 6.4 dB at most: AC-3 at 32000 Hz, where MakeSignal nearly repeats
// after 1152 frames. AMR keeps the waveform loosely, so its margins are narrower: narrow-band
// measured 2.2 dB (4.75 kbit/s speech) against 0.6 dB for a damaged decode.
//   codec          lowest dB (case)                 damaged, highest dB   threshold dB
//   mp3            25.3 (avi, 44100 Hz stereo)        0.0                  19
//   aac            27.0 (3g2, 22050 Hz mono)          0.0                  21
//   ac3            34.6 (ac3, 44100 Hz stereo)        6.4 (32000 Hz, late) 28
//   mp2            21.1 (mp2, 22050 Hz stereo 160k)   0.0                  15
//   vorbis         22.5 (ogg, 48000 Hz stereo 8k)     0.0                  16
//   wmav2          34.1 (asf, 44100 Hz stereo)        0.0                  28
//   amr_nb          2.2 (amr, 4.75 kbit/s speech)     0.6 (3gp, early)      1.5
//   amr_wb          7.3 (amr, 8.85 kbit/s speech)    -1.4                   4
//   gsm, gsm_ms    17.2 (8000 Hz mono)               -0.5                  11
//   adpcm_ima_qt   34.5 (aiff, 44100 Hz stereo)       0.0                  28
//   adpcm_ima_wav  41.1 (avi, 22050 Hz mono)          0.0                  35
//   adpcm_ms       40.7 (avi, 22050 Hz mono)          0.0                  34
//   adpcm_swf      38.9 (flv, 44100 Hz stereo)        0.0                  32
//   adpcm_yamaha   26.1 (mmf, 4000 Hz mono)           0.1                  20
//   adpcm_g726     25.0 (wav, 8000 Hz 2 bits)         1.1                  19
// (KESTRUNE_SNR_LOG=1 prints every comparison, to measure again.)
// The delays, as measured: LAME's 576 frames and the MP3 decoder's 529 (recorded by the mp3
// file's info header and the QuickTime edit list), AAC's priming frame (recorded by the MP4
// family's edit lists), AC-3's and MP2's filter banks, AMR's look-ahead; Ogg's granule
// positions put Vorbis on time.
const std::vector<LossyCodec>& Codecs() {
    static const std::vector<LossyCodec> codecs = {
        {"mp3", 1105, {"mp3", "mov"}, 19},
        {"aac", 1024, {"mp4", "ipod", "mov", "3gp", "3g2"}, 21},
        {"ac3", 256, {"mov"}, 28},
        {"mp2", 481, {}, 15},
        {"vorbis", 0, {}, 16},
        {"wmav2", 0, {}, 28},
        {"amr_nb", 40, {}, 1.5},
        {"amr_wb", 95, {}, 4},
        {"gsm", 0, {}, 11},
        {"gsm_ms", 0, {}, 11},
        {"adpcm_ima_qt", 0, {}, 28},
        {"adpcm_ima_wav", 0, {}, 35},
        {"adpcm_ms", 0, {}, 34},
        {"adpcm_swf", 0, {}, 32},
        {"adpcm_yamaha", 0, {}, 20},
        {"adpcm_g726", 0, {}, 19},
    };
    return codecs;
}

const LossyCodec* Find(const std::string& name) {
    for (const LossyCodec& c : Codecs())
        if (name == c.name)
            return &c;
    return nullptr;
}

int Lead(const LossyCodec& codec, const std::string& container, int sampleRate) {
    // ffmpeg's WMA decoder hands out nothing for the first frame, whose length follows the rate.
    if (std::string(codec.name) == "wmav2")
        return sampleRate <= 16000 ? -512 : sampleRate <= 22050 ? -1024 : -2048;
    const auto& in = codec.recordedIn;
    return std::find(in.begin(), in.end(), container) != in.end() ? 0 : codec.delay;
}

// The lowest signal-to-noise ratio of any channel of decoded against source, in dB: the
// source's power over the power of the difference. Source frame f meets decoded frame
// f + lead; source frames before -lead are left out (the decoder never hands them out), and a
// frame the decode lacks at the end counts as silence.
double WorstChannelSnr(const Pcm& source, const Pcm& decoded, int lead) {
    if (decoded.channels != source.channels)
        return -INFINITY;
    const size_t channels = static_cast<size_t>(source.channels);
    double worst = INFINITY;
    for (size_t c = 0; c < channels; ++c) {
        double signal = 0, noise = 0;
        for (size_t f = lead < 0 ? static_cast<size_t>(-lead) : 0; f < source.Frames(); ++f) {
            const size_t at = f + static_cast<size_t>(lead);
            const double x = source.samples[f * channels + c];
            const double y = at < decoded.Frames() ? decoded.samples[at * channels + c] : 0.0;
            signal += x * x;
            noise += (x - y) * (x - y);
        }
        worst = std::min(worst, 10 * std::log10(signal / noise));
    }
    return worst;
}

// The decodes a threshold must refuse: a block of 1152 frames late or early, and in stereo the
// right channel silent or a copy of the left.
std::vector<std::pair<const char*, Pcm>> Damaged(const Pcm& decoded) {
    const auto block = static_cast<std::ptrdiff_t>(1152 * decoded.channels);
    Pcm late = decoded, early = decoded;
    late.samples.insert(late.samples.begin(), static_cast<size_t>(block), 0);
    early.samples.erase(early.samples.begin(),
                        early.samples.begin() + std::min(block, std::ssize(early.samples)));
    std::vector<std::pair<const char*, Pcm>> damaged = {{"a block late", std::move(late)},
                                                        {"a block early", std::move(early)}};
    if (decoded.channels == 2) {
        Pcm silent = decoded, copied = decoded;
        for (size_t i = 0; i + 1 < decoded.samples.size(); i += 2) {
            silent.samples[i + 1] = 0;
            copied.samples[i + 1] = decoded.samples[i];
        }
        damaged.emplace_back("the right channel silent", std::move(silent));
        damaged.emplace_back("the left channel in both", std::move(copied));
    }
    return damaged;
}

}  // namespace

void ExpectFollowsSource(const Pcm& source, const Pcm& decoded, const std::string& codec,
                         const std::string& container) {
    const LossyCodec* facts = Find(codec);
    ASSERT_NE(facts, nullptr) << "no threshold for " << codec;
    const int lead = Lead(*facts, container, source.sampleRate);
    const double snr = WorstChannelSnr(source, decoded, lead);
    const bool log = std::getenv("KESTRUNE_SNR_LOG") != nullptr;
    if (log)
        std::fprintf(stderr, "SNR %s in %s, %d Hz %d ch: %.2f dB", codec.c_str(), container.c_str(),
                     source.sampleRate, source.channels, snr);
    EXPECT_GE(snr, facts->minSnr) << codec << " in " << container << ", decode " << lead
                                  << " frames on";
    for (const auto& [what, pcm] : Damaged(decoded)) {
        const double damaged = WorstChannelSnr(source, pcm, lead);
        if (log)
            std::fprintf(stderr, "; %s %.2f", what, damaged);
        EXPECT_LT(damaged, facts->minSnr) << codec << " in " << container << ", " << what;
    }
    if (log)
        std::fprintf(stderr, "\n");
}

}  // namespace kestrune::test
