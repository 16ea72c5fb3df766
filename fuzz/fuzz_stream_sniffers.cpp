// The decoding layer's streams: every plug-in's test of whether a file is its own (FLAC,
// WavPack, ADX, AAC and ALAC in MP4 or ADTS), the WAV and MPEG decoders, then the stream read
// to its end (up to kMostFrames) and its tags, as BassReader does it.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/bass/bass.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrune::fuzz::InitLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = kestrune::fuzz::InputFile(data, size, ".bin");
    const HSTREAM stream = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    if (!stream)
        return 0;
    BASS_CHANNELINFO info{};
    BASS_ChannelGetInfo(stream, &info);
    (void)BASS_ChannelBytes2Seconds(stream, BASS_ChannelGetLength(stream, BASS_POS_BYTE));
    // Requests of BassReader's size: a block of 16-bit stereo.
    std::vector<unsigned char> buffer(4 * 1152);
    const uint64_t frameBytes =
        std::max<uint64_t>(info.chans, 1) * (info.flags & BASS_SAMPLE_8BITS ? 1 : 2);
    for (uint64_t read = 0; read < kestrune::fuzz::kMostFrames * frameBytes;) {
        const DWORD got =
            BASS_ChannelGetData(stream, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == 0 || got == 0xFFFFFFFFu)
            break;
        read += got;
    }
    TAGS_Read(stream, "%TRCK\n%TITL\n%ARTI\n%ALBM\n%GNRE\n%YEAR\n%CMNT\n%COMP\n%COPY");
    BASS_StreamFree(stream);
    return 0;
}
