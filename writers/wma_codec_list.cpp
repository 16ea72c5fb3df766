#include "writers/wma_codec_list.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>

#include "writers/windows_media_runtime.h"

namespace kestrune {

bool InsertWmaFormat(WmaCodecList& list, const WmaCodecFormat& format) {
    const int rate = format.SampleRate();
    auto at = list.begin();
    while (at != list.end() &&
           (at->SampleRate() < rate || (at->SampleRate() == rate && at->bitRate < format.bitRate)))
        ++at;
    // Entries of the same rate and bit rate sit together; a duplicate may be any of them, not
    // only the first, so all are looked at before the new one goes in front of them.
    for (auto same = at;
         same != list.end() && same->SampleRate() == rate && same->bitRate == format.bitRate;
         ++same)
        if (same->Channels() == format.Channels())
            return false;
    list.insert(at, format);
    return true;
}

int BuildWmaCodecList(const WindowsMediaRuntime* runtime, WmaCodecList& list) {
    list.clear();
    if (!runtime)
        return 0;
    wm::WmProfileManager* raw = nullptr;
    if (runtime->createProfileManager(&raw) != wm::WmResult::Ok || !raw)
        return 0;
    const std::unique_ptr<wm::WmProfileManager> manager(raw);
    bool ok = true;
    const uint32_t codecs = manager->GetCodecInfoCount(wm::WmMajorType::Audio);
    for (uint32_t codec = 0; codec < codecs; ++codec) {
        const uint32_t formats = manager->GetCodecFormatCount(wm::WmMajorType::Audio, codec);
        for (uint32_t index = 0; index < formats; ++index) {
            wm::WmStreamConfig config;
            std::string description;
            if (manager->GetCodecFormatDesc(wm::WmMajorType::Audio, codec, index, config,
                                            description) != wm::WmResult::Ok) {
                ok = false;
                continue;
            }
            std::transform(description.begin(), description.end(), description.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            // Formats meant for streams beside video.
            if (description.find("(A/V)") != std::string::npos)
                continue;
            const wm::WmMediaType& type = config.mediaType;
            if (type.subtype != wm::kFormatTagWMAudioV8 && type.subtype != wm::kFormatTagWMAudioV9)
                continue;
            if (type.waveFormat.channels < 1 || type.waveFormat.channels > 2)
                continue;
            InsertWmaFormat(list, WmaCodecFormat{type, static_cast<int>(config.bitrate)});
        }
    }
    return ok ? 1 : 0;
}

WmaParameters WmaAutoParameters(int r, int sourceChannels) {
    if (sourceChannels == 1) {
        if (r <= 12000)
            return {22050, 20000};
        if (r <= 16000)
            return {44100, 32000};
        return {44100, 48000};
    }
    if (r <= 12000)
        return {22050, 32000};
    if (r <= 16000)
        return {44100, 48000};
    if (r <= 24000)
        return {44100, 64000};
    if (r <= 32000)
        return {44100, 96000};
    if (r <= 44100)
        return {44100, 128000};
    return {48000, 192000};
}

WmaChoice ChooseWmaFormat(const WmaCodecList& list, int rate, int bitRate, int channels) {
    const WmaCodecFormat* candidate = nullptr;
    auto choose = [](const WmaCodecFormat* f) { return WmaChoice{true, f, f->bitRate}; };
    for (const WmaCodecFormat& entry : list) {
        if (entry.Channels() != channels)
            continue;
        const int r = entry.SampleRate();
        if (r < rate) {
            candidate = &entry;
        } else if (r > rate) {
            return choose(candidate && candidate->SampleRate() == rate ? candidate : &entry);
        } else if (entry.bitRate == bitRate) {
            return choose(&entry);
        } else if (entry.bitRate > bitRate) {
            // An equal distance goes to the higher bit rate.
            const bool lower = candidate && candidate->SampleRate() == rate &&
                               (bitRate - candidate->bitRate) < (entry.bitRate - bitRate);
            return choose(lower ? candidate : &entry);
        } else {
            candidate = &entry;
        }
    }
    if (candidate)
        return choose(candidate);
    return {};
}

}  // namespace kestrune
