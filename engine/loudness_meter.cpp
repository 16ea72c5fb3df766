#include "engine/loudness_meter.h"

#include <ebur128.h>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kestrune {

namespace {

// Frames in a piece handed to the measuring thread, and the pieces it may fall behind by: with
// the one being filled and the spares, a stereo meter holds under a megabyte.
constexpr size_t kPieceFrames = 16384;
constexpr size_t kMostQueued = 4;

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

LoudnessMeter::~LoudnessMeter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

template <typename Sample>
void LoudnessMeter::Queue(const Sample* left, const Sample* right, int frames, float scale) {
    if (!state_ || frames <= 0)
        return;
    if (!right)
        right = left;
    if (!thread_.joinable())
        thread_ = std::thread([this] { Measure(); });
    const size_t channels = static_cast<size_t>(channels_);
    const float unit = 1.0f / scale;
    for (size_t at = 0, total = static_cast<size_t>(frames); at < total;) {
        if (filling_.samples.empty()) {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [&] { return queued_.size() < kMostQueued; });
            if (!spare_.empty()) {
                filling_ = std::move(spare_.back());
                spare_.pop_back();
            }
            lock.unlock();
            filling_.samples.resize(kPieceFrames * channels);
            filling_.frames = 0;
        }
        const size_t n = std::min(kPieceFrames - filling_.frames, total - at);
        float* out = filling_.samples.data() + filling_.frames * channels;
        const Sample* l = left + at;
        const Sample* r = right + at;
        if (channels == 1) {
            for (size_t i = 0; i < n; ++i)
                out[i] = static_cast<float>(l[i]) * unit;
        } else {
            for (size_t i = 0; i < n; ++i) {
                out[2 * i] = static_cast<float>(l[i]) * unit;
                out[2 * i + 1] = static_cast<float>(r[i]) * unit;
            }
        }
        filling_.frames += n;
        at += n;
        if (filling_.frames == kPieceFrames) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                queued_.push_back(std::move(filling_));
            }
            filling_ = Piece{};
            changed_.notify_all();
        }
    }
}

void LoudnessMeter::Measure() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return closing_ || !queued_.empty(); });
        if (queued_.empty())
            return;  // closing, and everything is measured
        Piece piece = std::move(queued_.front());
        queued_.pop_front();
        measuring_ = true;
        lock.unlock();
        ebur128_add_frames_float(state_->st, piece.samples.data(), piece.frames);
        lock.lock();
        measuring_ = false;
        spare_.push_back(std::move(piece));
        changed_.notify_all();
    }
}

void LoudnessMeter::Drain() const {
    std::unique_lock<std::mutex> lock(mutex_);
    // The audio has ended when results are asked for: the piece being filled goes too.
    if (filling_.frames > 0) {
        queued_.push_back(std::move(filling_));
        filling_ = Piece{};
        changed_.notify_all();
    }
    changed_.wait(lock, [&] { return queued_.empty() && !measuring_; });
}

// Full scale as the library takes each type: -32768 and -2^31 are -1.0.
void LoudnessMeter::Add(const int16_t* left, const int16_t* right, int frames) {
    Queue(left, right, frames, 32768.0f);
}

void LoudnessMeter::Add(const int32_t* left, const int32_t* right, int frames) {
    Queue(left, right, frames, 2147483648.0f);
}

void LoudnessMeter::Add(const float* left, const float* right, int frames) {
    Queue(left, right, frames, 1.0f);
}

bool LoudnessMeter::Loudness(double& lufs) const {
    if (!state_)
        return false;
    Drain();
    double value = 0;
    if (ebur128_loudness_global(state_->st, &value) != EBUR128_SUCCESS || !std::isfinite(value))
        return false;
    lufs = value;
    return true;
}

double LoudnessMeter::Peak() const {
    Drain();
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

LoudnessFigures LoudnessMeter::Figures() const {
    LoudnessFigures figures;
    figures.measured = true;
    figures.truePeak = truePeak_;
    figures.peak = Peak();
    figures.hasLoudness = Loudness(figures.loudness);
    return figures;
}

bool LoudnessMeter::AlbumLoudness(std::span<const LoudnessMeter* const> meters, double& lufs) {
    std::vector<ebur128_state*> states;
    for (const LoudnessMeter* m : meters)
        if (m && m->state_) {
            m->Drain();
            states.push_back(m->state_->st);
        }
    if (states.empty())
        return false;
    double value = 0;
    if (ebur128_loudness_global_multiple(states.data(), states.size(), &value) != EBUR128_SUCCESS ||
        !std::isfinite(value))
        return false;
    lufs = value;
    return true;
}

double GainToReference(bool opus, double lufs) {
    return (opus ? kOpusGainReference : kReplayGainReference) - lufs;
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
                 OpusGainText(GainToReference(true, lufs))}};
    const std::string scope = album ? "REPLAYGAIN_ALBUM_" : "REPLAYGAIN_TRACK_";
    return {{scope + "GAIN", ReplayGainText(GainToReference(false, lufs))},
            {scope + "PEAK", ReplayPeakText(peak)}};
}

}  // namespace kestrune
