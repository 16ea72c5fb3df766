#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/item_outcome.h"

namespace kestrune {

// The reference loudness of ReplayGain 2.0 tags, and the one of Opus's R128 gains.
inline constexpr double kReplayGainReference = -18.0;
inline constexpr double kOpusGainReference = -23.0;

// Measures the integrated loudness (EBU R128) and the peak of audio as it is handed on, block
// by block. Its measurement stays whole after the audio ends, so that several meters can be
// taken together as one album.
//
// The library's filters cost about a sixth of an MP3 encoder's time (four times that with true
// peaks), so the blocks are measured on a thread of the meter's own, beside the encoder: Add
// hands a copy over and returns; the results wait for what was handed over. One thread feeds a
// meter (Add is not for several threads at once); the results may be read from any.
class LoudnessMeter {
public:
    // A meter of channels (1 or 2) at rate; truePeak measures the true peak (4x oversampled),
    // which costs more than the sample peak.
    LoudnessMeter(int channels, int rate, bool truePeak);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    // False when the library could not set up a meter for that rate and channel count.
    bool Valid() const { return state_ != nullptr; }
    bool TruePeak() const { return truePeak_; }

    // Adds one block: right is null for one channel. Waits only when the meter has fallen
    // several blocks behind.
    void Add(const int16_t* left, const int16_t* right, int frames);
    void Add(const int32_t* left, const int32_t* right, int frames);
    void Add(const float* left, const float* right, int frames);

    // The integrated loudness in LUFS; false for silence and for audio too short to measure.
    bool Loudness(double& lufs) const;
    // The highest peak of any channel, as a fraction of full scale (true or sample peak).
    double Peak() const;

    // What the meter found, for an outcome: loudness, peak and its kind; no gains yet.
    LoudnessFigures Figures() const;

    // The loudness of every meter's audio taken together, gated over the whole; false when it
    // has none.
    static bool AlbumLoudness(std::span<const LoudnessMeter* const> meters, double& lufs);

private:
    // Interleaves a block into pieces of floats at full scale 1.0 (scale is the sample type's
    // full scale) and queues every full piece for the measuring thread.
    template <typename Sample>
    void Queue(const Sample* left, const Sample* right, int frames, float scale);
    void Measure();
    // Waits until everything handed over is measured.
    void Drain() const;

    // The library's meter (its type cannot be declared ahead).
    struct State;
    std::unique_ptr<State> state_;
    int channels_;
    bool truePeak_;

    struct Piece {
        std::vector<float> samples;  // interleaved
        size_t frames = 0;
    };
    // The piece Add fills (the feeding thread's own until the results are asked for), the ones
    // waiting for the thread, and measured ones kept for reuse.
    mutable Piece filling_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable std::deque<Piece> queued_;
    std::vector<Piece> spare_;
    bool measuring_ = false;  // the thread holds a piece
    bool closing_ = false;
    std::thread thread_;  // started by the first block
};

// The gain a tag gives audio of lufs: towards -18 LUFS, or for an Opus file towards -23.
double GainToReference(bool opus, double lufs);

// The texts of the tags: a gain as "-6.52 dB", a peak as "0.988831", an Opus gain as its Q7.8
// integer. Independent of the locale.
std::string ReplayGainText(double gainDb);
std::string ReplayPeakText(double peak);
std::string OpusGainText(double gainDb);

// The tags of a measured track (or with album, of its album): REPLAYGAIN_..._GAIN and _PEAK, or
// for an Opus file R128_..._GAIN, which refers to -23 LUFS and has no peak.
std::map<std::string, std::string> LevelFields(bool opus, bool album, double lufs, double peak);

}  // namespace kestrune
