#pragma once

#include <vector>

#include "platform/wmvcore/wmvcore.h"

namespace kestrune {

struct WindowsMediaRuntime;

// One Windows Media audio format the runtime offers.
struct WmaCodecFormat {
    wm::WmMediaType mediaType;
    int bitRate = 0;  // bit/s

    int SampleRate() const { return static_cast<int>(mediaType.waveFormat.samplesPerSec); }
    int Channels() const { return mediaType.waveFormat.channels; }
};

// Ordered by sample rate, then bit rate; no two entries share rate, bit rate and channels.
using WmaCodecList = std::vector<WmaCodecFormat>;

// Empties and refills list from runtime; 1 when every runtime call succeeded, 0 without a
// runtime (null).
int BuildWmaCodecList(const WindowsMediaRuntime* runtime, WmaCodecList& list);

// Puts format where the list's order wants it; false (and nothing inserted) for a duplicate.
bool InsertWmaFormat(WmaCodecList& list, const WmaCodecFormat& format);

struct WmaParameters {
    int sampleRate;
    int bitRate;
};

// The rate and bit rate asked for when the program chooses them from the source.
WmaParameters WmaAutoParameters(int sourceRate, int sourceChannels);

struct WmaChoice {
    bool found = false;
    const WmaCodecFormat* format = nullptr;  // points into the list
    int bitRate = 0;
};

// The list entry nearest to the wanted rate and bit rate among those with the wanted channels.
WmaChoice ChooseWmaFormat(const WmaCodecList& list, int rate, int bitRate, int channels);

}  // namespace kestrune
