#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <vector>

#include "common/byte_order.h"
#include "platform/bass/layer_decoders.h"

namespace kestrune::bass {

namespace {

// Notes still sounding at the last event are given this long to fade out.
constexpr double kReleaseTailSeconds = 1.0;

struct SettingsDeleter {
    void operator()(fluid_settings_t* s) const { delete_fluid_settings(s); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* s) const { delete_fluid_synth(s); }
};
struct PlayerDeleter {
    void operator()(fluid_player_t* p) const { delete_fluid_player(p); }
};

class MidiDecoder : public Decoder {
public:
    long Decode(void* buffer, size_t bytes) override {
        const int frames = static_cast<int>(std::min<size_t>(bytes / 4, 1 << 16));
        if (frames == 0)
            return 0;
        if (!player && !Start())
            return -1;
        // Rendered as float and rounded here: the synthesiser's own 16-bit output is
        // dithered, and silence must stay silent.
        work_.resize(static_cast<size_t>(frames) * 2);
        if (fluid_synth_write_float(synth.get(), frames, work_.data(), 0, 2, work_.data(), 1, 2) !=
            FLUID_OK)
            return -1;
        auto* out = static_cast<int16_t*>(buffer);
        for (size_t i = 0; i < work_.size(); ++i) {
            const long v = std::lrint(work_[i] * 32768.0f);
            out[i] = static_cast<int16_t>(std::clamp<long>(v, -32768, 32767));
        }
        return frames * 4L;
    }

    // The synthesiser and its fonts are set up when the first samples are asked for:
    // opening a file only to look at it stays cheap.
    bool Start() {
        synth.reset(new_fluid_synth(settings.get()));
        if (!synth)
            return false;
        // Without a font the song still has its length; it renders as silence.
        for (const std::string& font : fonts)
            fluid_synth_sfload(synth.get(), font.c_str(), 1);
        player.reset(new_fluid_player(synth.get()));
        return player && fluid_player_add_mem(player.get(), song.data(), song.size()) == FLUID_OK &&
               fluid_player_play(player.get()) == FLUID_OK;
    }

    std::vector<std::string> fonts;
    std::string song;  // the SMF bytes, which the player reads from memory
    // Destroyed in reverse: the player before the synth before the settings.
    std::unique_ptr<fluid_settings_t, SettingsDeleter> settings;
    std::unique_ptr<fluid_synth_t, SynthDeleter> synth;
    std::unique_ptr<fluid_player_t, PlayerDeleter> player;

private:
    std::vector<float> work_;
};

uint32_t Be(const std::string& d, size_t at, int n) {
    return static_cast<uint32_t>(LoadBe(AsBytes(d.data() + at), n));
}

uint32_t Le32(const std::string& d, size_t at) {
    return LoadLe32(AsBytes(d.data() + at));
}

// The standard MIDI file inside a RIFF RMID wrapper, or the file itself.
std::string SmfBytes(const std::string& file) {
    if (file.size() < 12 || file.compare(0, 4, "RIFF") != 0 || file.compare(8, 4, "RMID") != 0)
        return file;
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const uint32_t size = Le32(file, at + 4);
        if (file.compare(at, 4, "data") == 0)
            return file.substr(at + 8, std::min<size_t>(size, file.size() - at - 8));
        // In 64 bits: a size near 4 GiB plus the header would wrap to a step of nothing.
        at += 8 + size_t{size} + (size & 1);
    }
    return {};
}

struct TempoChange {
    uint64_t tick;
    int track;
    uint32_t microsPerQuarter;
};

bool ReadVarLen(const std::string& d, size_t& at, size_t end, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (at >= end)
            return false;
        const auto b = static_cast<unsigned char>(d[at++]);
        value = (value << 7) | (b & 0x7f);
        if (!(b & 0x80))
            return true;
    }
    return false;
}

// Time of the file's last event from its tempo map, in seconds; negative when the file is
// not a readable standard MIDI file.
double SongSeconds(const std::string& d) {
    if (d.size() < 14 || d.compare(0, 4, "MThd") != 0)
        return -1;
    const uint32_t headerLength = Be(d, 4, 4);
    if (headerLength < 6 || d.size() < 8 + size_t{headerLength})
        return -1;
    const uint32_t trackCount = Be(d, 10, 2);
    const uint32_t division = Be(d, 12, 2);
    if (division == 0)
        return -1;
    std::vector<TempoChange> tempos;
    uint64_t endTick = 0;
    size_t at = 8 + size_t{headerLength};
    uint32_t tracksFound = 0;
    for (uint32_t t = 0; t < trackCount && at + 8 <= d.size(); ++t) {
        const uint32_t length = Be(d, at + 4, 4);
        const bool isTrack = d.compare(at, 4, "MTrk") == 0;
        const size_t begin = at + 8;
        const size_t end = std::min<size_t>(begin + length, d.size());
        at = begin + length;
        if (!isTrack) {
            --t;  // unknown chunks do not count as tracks
            continue;
        }
        ++tracksFound;
        size_t p = begin;
        uint64_t tick = 0;
        unsigned char status = 0;
        while (p < end) {
            uint32_t delta = 0;
            if (!ReadVarLen(d, p, end, delta) || p >= end)
                break;
            tick += delta;
            auto b = static_cast<unsigned char>(d[p]);
            if (b >= 0x80) {
                status = b;
                ++p;
            }
            if (status == 0xFF) {
                if (p >= end)
                    break;
                const auto type = static_cast<unsigned char>(d[p++]);
                uint32_t len = 0;
                if (!ReadVarLen(d, p, end, len) || p + len > end)
                    break;
                if (type == 0x51 && len == 3)
                    tempos.push_back({tick, static_cast<int>(t), Be(d, p, 3)});
                p += len;
                endTick = std::max(endTick, tick);
                status = 0;  // meta and system events cancel running status
                if (type == 0x2F)
                    break;
                continue;
            }
            if (status == 0xF0 || status == 0xF7) {
                uint32_t len = 0;
                if (!ReadVarLen(d, p, end, len) || p + len > end)
                    break;
                p += len;
                status = 0;
            } else if (status >= 0x80) {
                const int hi = status & 0xF0;
                p += (hi == 0xC0 || hi == 0xD0) ? 1 : 2;
                if (p > end)
                    break;
            } else {
                break;  // data without a status: the track is damaged from here on
            }
            endTick = std::max(endTick, tick);
        }
    }
    if (tracksFound == 0)
        return -1;
    if (division & 0x8000) {
        // Time code division: frames per second times ticks per frame, no tempo.
        int fps = 256 - static_cast<int>(division >> 8);
        const double rate = fps == 29 ? 29.97 : fps;
        return static_cast<double>(endTick) / (rate * (division & 0xFF));
    }
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    double seconds = 0;
    uint64_t tick = 0;
    uint32_t tempo = 500000;
    for (const TempoChange& c : tempos) {
        if (c.tick >= endTick)
            break;
        seconds += static_cast<double>(c.tick - tick) * tempo / (1e6 * division);
        tick = c.tick;
        tempo = c.microsPerQuarter;
    }
    seconds += static_cast<double>(endTick - tick) * tempo / (1e6 * division);
    return seconds;
}

void SilenceSynthLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level = 0; level < LAST_LOG_LEVEL; ++level)
            fluid_set_log_function(level, nullptr, nullptr);
    });
}

}  // namespace

bool IsSoundFont(const std::string& path) {
    SilenceSynthLog();
    return fluid_is_soundfont(path.c_str()) != 0;
}

std::unique_ptr<Decoder> OpenMidiDecoder(const std::string& path, uint32_t rate,
                                         const std::vector<std::string>& fonts) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return nullptr;
    const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto decoder = std::make_unique<MidiDecoder>();
    decoder->song = SmfBytes(file);
    const double seconds = SongSeconds(decoder->song);
    if (seconds < 0)
        return nullptr;

    SilenceSynthLog();
    decoder->settings.reset(new_fluid_settings());
    if (!decoder->settings)
        return nullptr;
    fluid_settings_t* s = decoder->settings.get();
    if (fluid_settings_setnum(s, "synth.sample-rate", rate) != FLUID_OK)
        return nullptr;
    // The player follows the rendered samples, not the wall clock.
    fluid_settings_setstr(s, "player.timing-source", "sample");
    fluid_settings_setint(s, "synth.lock-memory", 0);
    // This synthesiser's reverb mixes in memory it never set (garbage, at times NaN): the
    // songs are rendered dry, so they come out the same every time and silence stays silent.
    fluid_settings_setint(s, "synth.reverb.active", 0);
    decoder->fonts = fonts;
    decoder->format.rate = rate;
    decoder->format.channels = 2;
    decoder->format.bits = 16;
    decoder->format.frames =
        static_cast<uint64_t>(std::llround((seconds + kReleaseTailSeconds) * rate));
    decoder->format.fileBytes = static_cast<int64_t>(file.size());
    return decoder;
}

}  // namespace kestrune::bass
