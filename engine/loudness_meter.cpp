#include "engine/loudness_meter.h"

#include <ebur128.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kestrune {

namespace {

// Frames interleaved at once: the buffer stays small whatever the block.
constexpr int kPieceFrames = 4096;

std::string Fixed(double value, int decimals) {
    char text[64];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, end.ptr);
}

}  // namespace

struct LoudnessMeter::State {
    explicit State(ebur128_state* s) : st(s) {}
    ~State() { ebur128_destroy(&st); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ebur128_state* st;
};

LoudnessMeter::LoudnessMeter(int channels, int rate, bool truePeak)
    : channels_(std::clamp(channels, 1, 2)), truePeak_(truePeak) {
    int mode = EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK;
    if (truePeak)
        mode |= EBUR128_MODE_TRUE_PEAK;
    ebur128_state* st = rate > 0 ? ebur128_init(static_cast<unsigned>(channels_),
                                                static_cast<unsigned long>(rate), mode)
                                 : nullptr;
    if (st)
        state_ = std::make_unique<State>(st);
}

LoudnessMeter::~LoudnessMeter() = default;

template <typename Sample, typename AddFrames>
void LoudnessMeter::Interleave(const Sample* left, const Sample* right, int frames,
                               std::vector<Sample>& buffer, AddFrames add) {
    if (!state_ || frames <= 0)
        return;
    if (channels_ == 1) {
        add(state_->st, left, static_cast<size_t>(frames));
        return;
    }
    if (!right)
        right = left;
    buffer.resize(size_t{kPieceFrames} * 2);
    for (int at = 0; at < frames; at += kPieceFrames) {
        const int n = std::min(kPieceFrames, frames - at);
        for (int i = 0; i < n; ++i) {
            buffer[2 * static_cast<size_t>(i)] = left[at + i];
            buffer[2 * static_cast<size_t>(i) + 1] = right[at + i];
        }
        add(state_->st, buffer.data(), static_cast<size_t>(n));
    }
}

void LoudnessMeter::Add(const int16_t* left, const int16_t* right, int frames) {
    Interleave(left, right, frames, s16_, [](ebur128_state* st, const int16_t* s, size_t n) {
        ebur128_add_frames_short(st, s, n);
    });
}

void LoudnessMeter::Add(const int32_t* left, const int32_t* right, int frames) {
    Interleave(left, right, frames, s32_, [](ebur128_state* st, const int32_t* s, size_t n) {
        ebur128_add_frames_int(st, s, n);
    });
}

void LoudnessMeter::Add(const float* left, const float* right, int frames) {
    Interleave(left, right, frames, f32_, [](ebur128_state* st, const float* s, size_t n) {
        ebur128_add_frames_float(st, s, n);
    });
}

bool LoudnessMeter::Loudness(double& lufs) const {
    if (!state_)
        return false;
    double value = 0;
    if (ebur128_loudness_global(state_->st, &value) != EBUR128_SUCCESS || !std::isfinite(value))
        return false;
    lufs = value;
    return true;
}

double LoudnessMeter::Peak() const {
    double peak = 0;
    for (unsigned c = 0; state_ && c < static_cast<unsigned>(channels_); ++c) {
        double value = 0;
        const int result = truePeak_ ? ebur128_true_peak(state_->st, c, &value)
                                     : ebur128_sample_peak(state_->st, c, &value);
        if (result == EBUR128_SUCCESS && std::isfinite(value))
            peak = std::max(peak, value);
    }
    return peak;
}

bool LoudnessMeter::AlbumLoudness(std::span<const LoudnessMeter* const> meters, double& lufs) {
    std::vector<ebur128_state*> states;
    for (const LoudnessMeter* m : meters)
        if (m && m->state_)
            states.push_back(m->state_->st);
    if (states.empty())
        return false;
    double value = 0;
    if (ebur128_loudness_global_multiple(states.data(), states.size(), &value) != EBUR128_SUCCESS ||
        !std::isfinite(value))
        return false;
    lufs = value;
    return true;
}

std::string ReplayGainText(double gainDb) {
    // "+0.00 dB" rather than "-0.00 dB" for a gain that rounds to nothing.
    if (std::fabs(gainDb) < 0.005)
        gainDb = 0.0;
    return (gainDb >= 0 ? "+" : "") + Fixed(gainDb, 2) + " dB";
}

std::string ReplayPeakText(double peak) {
    return Fixed(peak, 6);
}

std::string OpusGainText(double gainDb) {
    const double q = std::clamp(std::round(gainDb * 256.0), -32768.0, 32767.0);
    return std::to_string(static_cast<int>(q));
}

std::map<std::string, std::string> LevelFields(bool opus, bool album, double lufs, double peak) {
    if (opus)
        return {{album ? "R128_ALBUM_GAIN" : "R128_TRACK_GAIN",
                 OpusGainText(kOpusGainReference - lufs)}};
    const std::string scope = album ? "REPLAYGAIN_ALBUM_" : "REPLAYGAIN_TRACK_";
    return {{scope + "GAIN", ReplayGainText(kReplayGainReference - lufs)},
            {scope + "PEAK", ReplayPeakText(peak)}};
}

}  // namespace kestrune
