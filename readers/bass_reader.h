#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_reader.h"
#include "audio/program_folder.h"

namespace kestrune {

// How setting up the decoding layer at start-up went.
enum class DecodingLayerStart {
    Ready,
    WrongVersion,  // the program ends at once, without a message
    InitFailed,    // the program shows kDecodingLayerInitFailedText and ends
};

inline constexpr const char* kDecodingLayerInitFailedText =
    "Failed to initialize the software (0x0002020).";

// The plug-in files, in the order they are loaded from the program's folder.
inline constexpr const char* kDecoderPlugins[] = {"libbassflac.so", "libbasscd.so",
                                                  "libbasswv.so",   "libbass_aac.so",
                                                  "libbass_adx.so", "libbass_alac.so"};

// The General MIDI sound font beside the program.
inline constexpr const char* kSoundFontName = "ct4mgm.sf2";

// Once per process, before any reader opens a file: version check, library start and the
// plug-ins found in programFolder (a path ending in "/"; without any "/" no plug-in loads).
DecodingLayerStart InitDecodingLayer(const std::string& programFolder);
// At exit: releases the library, then every plug-in.
void FreeDecodingLayer();

// Installs programFolder + "ct4mgm.sf2" as the default font of all MIDI streams while
// soundFontLoaded is 0; soundFontLoaded takes the result of a successful installation.
// A missing or unreadable font leaves it at 0 and is not reported.
void InstallSoundFont(const std::string& programFolder, int& soundFontLoaded);

// Reads every source the decoding layer opens: MP3, WAV, the plug-ins' formats, tracker
// music and MIDI (rendered at the preferred rate).
class BassReader : public AudioReader {
public:
    BassReader() = default;
    ~BassReader() override;

    int Open(const std::string& path, int preferredRate) override;
    int Read(int16_t* left, int16_t* right) override;
    // A stream of more than 16 bits is opened again on its first wide read, in that form.
    SampleFormat GetWideFormat() override;
    int ReadS32(int32_t* left, int32_t* right) override;
    int ReadF32(float* left, float* right) override;
    void Close() override;
    int64_t GetPosition() override;
    int ReadTags(TagSet& tags) override;
    // Streams of formats whose decoders seek exactly (WAV, FLAC, WavPack); not tracker music or
    // MIDI.
    bool SeekFrame(int64_t frame) override;

    enum : int { kStream = 0, kMusic = 2, kMidi = 3 };
    int GetKind() const { return kind; }
    // Width of the samples the layer delivers for the open file: 8 or 16.
    int GetSampleBits() const { return sampleBits; }

private:
    using Unpack = int (BassReader::*)(uint32_t bytes, int16_t* left, int16_t* right);
    int Unpack8(uint32_t bytes, int16_t* left, int16_t* right);
    int Unpack16(uint32_t bytes, int16_t* left, int16_t* right);
    // Reopens the stream with its wide samples; false when the layer cannot.
    bool Widen();
    template <typename Sample>
    int ReadWide(Sample* left, Sample* right);

    uint32_t handle = 0;
    int kind = 0;
    int sampleBits = 16;
    int sampleBytes = 2;
    Unpack unpack = nullptr;
    std::vector<unsigned char> buffer;
    uint32_t bufferBytes = 0;
    std::string path;
    bool wide = false;
    int64_t startFrame = 0;  // where SeekFrame moved the stream to  // the stream delivers 32-bit
                             // samples (ReadS32 or ReadF32)
};

}  // namespace kestrune
