#include "readers/bass_reader.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "audio/downmix.h"
#include "platform/bass/bass.h"

namespace kestrune {

DecodingLayerStart InitDecodingLayer(const std::string& programFolder) {
    if ((BASS_GetVersion() >> 16) != 0x0204)
        return DecodingLayerStart::WrongVersion;
    BASS_SetConfig(BASS_CONFIG_UPDATEPERIOD, 0);
    if (!BASS_Init(0, 44100, 0, nullptr, nullptr))
        return DecodingLayerStart::InitFailed;
    const size_t slash = programFolder.rfind('/');
    if (slash != std::string::npos) {
        const std::string folder = programFolder.substr(0, slash + 1);
        for (const char* plugin : kDecoderPlugins)
            BASS_PluginLoad((folder + plugin).c_str(), 0);
    }
    return DecodingLayerStart::Ready;
}

void FreeDecodingLayer() {
    BASS_Free();
    BASS_PluginFree(0);
}

void InstallSoundFont(const std::string& programFolder, int& soundFontLoaded) {
    if (soundFontLoaded)
        return;
    const size_t slash = programFolder.rfind('/');
    if (slash == std::string::npos)
        return;
    const std::string path = programFolder.substr(0, slash + 1) + kSoundFontName;
    const HSOUNDFONT font = BASS_MIDI_FontInit(path.c_str(), 0);
    if (!font)
        return;
    const BASS_MIDI_FONT entry{font, -1, 0};
    soundFontLoaded = BASS_MIDI_StreamSetFonts(0, &entry, 1);
}

BassReader::~BassReader() {
    Close();
}

void BassReader::Close() {
    if (handle) {
        if (kind == kMusic)
            BASS_MusicFree(handle);
        else
            BASS_StreamFree(handle);
    }
    handle = 0;
    kind = 0;
    buffer = {};
    bufferBytes = 0;
    wide = false;
}

namespace {

bool IsMidiName(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".midi" || ext == ".mid" || ext == ".rmi" || ext == ".kar";
}

// A count from the layer's doubles; a damaged file's can be anything, NaN included.
int32_t ToInt32(double v) {
    if (!(v > 0))
        return 0;
    return v >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(v);
}

}  // namespace

int BassReader::Open(const std::string& file, int preferredRate) {
    if (handle)
        Close();
    Reset();
    const DWORD rate = preferredRate > 0 ? static_cast<DWORD>(preferredRate) : 0;
    if (IsMidiName(file)) {
        kind = kMidi;
        handle = BASS_MIDI_StreamCreateFile(FALSE, file.c_str(), 0, 0, BASS_STREAM_DECODE, rate);
        if (!handle) {
            kind = 0;
            return 0;
        }
    } else {
        kind = kStream;
        handle = BASS_StreamCreateFile(FALSE, file.c_str(), 0, 0, BASS_STREAM_DECODE);
        if (!handle) {
            handle = BASS_MusicLoad(FALSE, file.c_str(), 0, 0,
                                    BASS_MUSIC_DECODE | BASS_MUSIC_PRESCAN | BASS_MUSIC_RAMP, rate);
            if (!handle) {
                kind = 0;
                return 0;
            }
            kind = kMusic;
        }
    }

    const QWORD bytes = BASS_ChannelGetLength(handle, BASS_POS_BYTE);
    BASS_CHANNELINFO info{};
    if (bytes == 0 || bytes == ~QWORD{0} || !BASS_ChannelGetInfo(handle, &info) ||
        info.chans == 0 || info.freq == 0) {
        Close();
        return 0;
    }
    length = static_cast<int64_t>(bytes);
    const double seconds = BASS_ChannelBytes2Seconds(handle, bytes);
    duration = ToInt32(seconds);
    sampleRate = static_cast<int32_t>(info.freq);
    sourceChannels = static_cast<int32_t>(info.chans);
    channels = info.chans < 2 ? 1 : 2;
    if (info.flags & BASS_SAMPLE_8BITS) {
        sampleBits = 8;
        sampleBytes = 1;
        unpack = &BassReader::Unpack8;
    } else {
        sampleBits = 16;
        sampleBytes = 2;
        unpack = &BassReader::Unpack16;
    }
    bitsPerSample = 16;
    bytesPerSample = 2;
    if (info.origres != 0)
        sourceDepth = {static_cast<int>(info.origres & 0xffff),
                       (info.origres & BASS_ORIGRES_FLOAT) != 0};

    const QWORD fileBytes = BASS_StreamGetFilePosition(handle, BASS_FILEPOS_END);
    if (seconds > 0 && fileBytes != ~QWORD{0})
        bitRate = ToInt32(static_cast<double>(fileBytes) / (seconds * 125) + 0.5);
    else
        bitRate = ToInt32(static_cast<double>(sampleBits) * sampleRate * sourceChannels / 1000);

    bufferBytes = static_cast<uint32_t>(channels * sampleBytes * kBlockFrames);
    buffer.assign(bufferBytes, 0);
    path = file;
    return 1;
}

int BassReader::Read(int16_t* left, int16_t* right) {
    if (!handle)
        return 0;
    return (this->*unpack)(bufferBytes, left, right);
}

int BassReader::Unpack16(uint32_t bytes, int16_t* left, int16_t* right) {
    if (sourceChannels == 1) {
        const DWORD got = BASS_ChannelGetData(handle, left, bytes);
        return got == 0xFFFFFFFFu ? 0 : static_cast<int>(got / 2);
    }
    const DWORD got = BASS_ChannelGetData(handle, buffer.data(), bytes);
    if (got == 0xFFFFFFFFu)
        return 0;
    const size_t samples = got / 2;
    const auto* s = reinterpret_cast<const int16_t*>(buffer.data());
    if (sourceChannels == 2) {
        const size_t frames = (samples + 1) / 2;
        for (size_t i = 0; i < samples / 2; ++i) {
            left[i] = s[2 * i];
            right[i] = s[2 * i + 1];
        }
        if (samples % 2) {
            left[frames - 1] = s[samples - 1];
            right[frames - 1] = 0;
        }
        return static_cast<int>(frames);
    }
    const size_t ch = static_cast<size_t>(sourceChannels);
    const size_t frames = samples / ch;
    for (size_t i = 0; i < frames; ++i)
        DownmixFrame(sourceChannels, s + i * ch, left[i], right[i]);
    return static_cast<int>(frames);
}

int BassReader::Unpack8(uint32_t bytes, int16_t* left, int16_t* right) {
    const DWORD got = BASS_ChannelGetData(handle, buffer.data(), bytes);
    if (got == 0xFFFFFFFFu)
        return 0;
    const unsigned char* b = buffer.data();
    auto widen = [](unsigned char v) { return static_cast<int16_t>((v - 128) * 256); };
    if (sourceChannels == 1) {
        for (DWORD i = 0; i < got; ++i)
            left[i] = widen(b[i]);
        return static_cast<int>(got);
    }
    if (sourceChannels == 2) {
        const DWORD frames = got / 2;
        for (DWORD i = 0; i < frames; ++i) {
            left[i] = widen(b[2 * i]);
            right[i] = widen(b[2 * i + 1]);
        }
        return static_cast<int>(frames);
    }
    const size_t ch = static_cast<size_t>(sourceChannels);
    const size_t used = std::min<size_t>(ch, 8);
    const size_t frames = got / ch;
    int16_t frame[8];
    for (size_t i = 0; i < frames; ++i) {
        for (size_t c = 0; c < used; ++c)
            frame[c] = widen(b[i * ch + c]);
        DownmixFrame(sourceChannels, frame, left[i], right[i]);
    }
    return static_cast<int>(frames);
}

int64_t BassReader::GetPosition() {
    if (!handle)
        return 0;
    const QWORD pos = BASS_ChannelGetPosition(handle, BASS_POS_BYTE);
    if (pos == ~QWORD{0})
        return 0;
    // The length is in bytes of the 16-bit stream; a wide one has twice as many.
    return static_cast<int64_t>(wide ? pos / 2 : pos);
}

bool BassReader::SeekFrame(int64_t frame) {
    if (!handle || kind != kStream || frame <= 0 || startFrame != 0)
        return false;
    const QWORD frameBytes = static_cast<QWORD>(sourceChannels) * (wide ? 4 : sampleBytes);
    if (!BASS_ChannelSetPosition(handle, static_cast<QWORD>(frame) * frameBytes, BASS_POS_BYTE))
        return false;
    startFrame = frame;
    return true;
}

SampleFormat BassReader::GetWideFormat() {
    return handle && kind == kStream ? WideFormatFor(sourceDepth) : SampleFormat::kS16;
}

bool BassReader::Widen() {
    const SampleFormat form = GetWideFormat();
    if (form == SampleFormat::kS16)
        return false;
    const DWORD flag = form == SampleFormat::kF32 ? BASS_SAMPLE_FLOAT : BASS_SAMPLE_INT32;
    const HSTREAM again =
        BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE | flag);
    BASS_CHANNELINFO info{};
    // The wide stream starts where the first one was moved to.
    const QWORD start = static_cast<QWORD>(startFrame) * static_cast<QWORD>(sourceChannels) * 4;
    if (!again || !BASS_ChannelGetInfo(again, &info) || !(info.flags & flag) ||
        static_cast<int32_t>(info.chans) != sourceChannels ||
        (start && !BASS_ChannelSetPosition(again, start, BASS_POS_BYTE))) {
        if (again)
            BASS_StreamFree(again);
        return false;
    }
    BASS_StreamFree(handle);
    handle = again;
    wide = true;
    bufferBytes = static_cast<uint32_t>(channels * 4 * kBlockFrames);
    buffer.assign(bufferBytes, 0);
    return true;
}

template <typename Sample>
int BassReader::ReadWide(Sample* left, Sample* right) {
    if (!handle || (!wide && !Widen()) || !left)
        return 0;
    const DWORD got = BASS_ChannelGetData(handle, buffer.data(), bufferBytes);
    if (got == 0xFFFFFFFFu)
        return 0;
    const size_t ch = static_cast<size_t>(sourceChannels);
    const size_t frames = got / (4 * ch);
    const auto* s = reinterpret_cast<const Sample*>(buffer.data());
    if (ch == 1) {
        std::copy_n(s, frames, left);
    } else if (ch == 2) {
        for (size_t i = 0; i < frames; ++i) {
            left[i] = s[2 * i];
            if (right)
                right[i] = s[2 * i + 1];
        }
    } else {
        Sample unused;
        for (size_t i = 0; i < frames; ++i)
            DownmixFrame(sourceChannels, s + i * ch, left[i], right ? right[i] : unused);
    }
    return static_cast<int>(frames);
}

int BassReader::ReadS32(int32_t* left, int32_t* right) {
    return GetWideFormat() == SampleFormat::kS32 ? ReadWide(left, right) : 0;
}

int BassReader::ReadF32(float* left, float* right) {
    return GetWideFormat() == SampleFormat::kF32 ? ReadWide(left, right) : 0;
}

int BassReader::ReadTags(TagSet& tags) {
    if (!handle)
        return 0;
    const char* text =
        TAGS_Read(handle, "%TRCK\n%TITL\n%ARTI\n%ALBM\n%GNRE\n%YEAR\n%CMNT\n%COMP\n%COPY");
    if (!text || !*text)
        return 0;
    const std::string copy(text);
    std::string* const pieces[] = {&tags.track,   &tags.title,    &tags.artist,
                                   &tags.album,   &tags.genre,    &tags.year,
                                   &tags.comment, &tags.composer, &tags.copyright};
    // A piece counts only when the line break that closes it is there; the last piece
    // needs the eighth break before it.
    size_t start = 0;
    for (size_t i = 0; i < 8; ++i) {
        const size_t brk = copy.find('\n', start);
        if (brk == std::string::npos)
            return 1;
        *pieces[i] = copy.substr(start, brk - start);
        start = brk + 1;
    }
    const size_t brk = copy.find('\n', start);
    tags.copyright = copy.substr(start, brk == std::string::npos ? std::string::npos : brk - start);
    return 1;
}

}  // namespace kestrune
