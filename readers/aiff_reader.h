#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/audio_reader.h"
#include "audio/tag_set.h"
#include "readers/pcm_unpack.h"

struct gsm_state;

namespace kestrune {

// Reads the tags of an MP3 file (in the reader order of TagSet); non-zero when any was found.
// The AIFF reader hands the ID3 chunk of a file to one of these through a temporary MP3.
using Mp3TagSource = std::function<int(const std::string& mp3Path, TagSet& tags)>;

// The default tag source: TagLib straight on the file.
int ReadMp3TagsWithTagLib(const std::string& mp3Path, TagSet& tags);

// AIFF and AIFF-C: PCM of any width in both byte orders, G.711, floating point, IMA4,
// unsigned 8-bit, GSM 06.10 and DWVW, with tags from an embedded ID3 chunk.
class AiffReader : public AudioReader {
public:
    AiffReader();
    ~AiffReader() override;

    void Close() override;
    int Open(const std::string& path, int preferredRate) override;
    int Read(int16_t* left, int16_t* right) override;
    // Uncompressed samples of more than 16 bits also come whole.
    SampleFormat GetWideFormat() override;
    int ReadS32(int32_t* left, int32_t* right) override;
    int ReadF32(float* left, float* right) override;
    int ReadTags(TagSet& tags) override;

    // Replaces how the ID3 chunk's carrier file is read (the default uses TagLib).
    void SetTagSource(Mp3TagSource source) { tagSource_ = std::move(source); }

private:
    enum class Format { None, Ulaw, Alaw, Float32, Float64, Pcm, Ima4, Raw, Gsm, Dwvw };

    int ParseChunks(int64_t fileSize);
    int ParseComm(uint32_t size, bool aifc);
    void ReadId3Chunk(uint32_t size);
    template <typename Sample, typename Unpacker>
    int ReadBytes(Sample* left, Sample* right, Unpacker unpack);
    int ReadIma4(int16_t* left, int16_t* right);
    int ReadGsm(int16_t* left, int16_t* right);
    int ReadDwvw(int16_t* left, int16_t* right);
    int DwvwBits(int count);
    int DwvwDecode(int32_t* out, int count);

    struct GsmCloser {
        void operator()(gsm_state* g) const;
    };

    FileHandle file_;
    std::unique_ptr<uint8_t[]> buffer_;  // one block of coded data, made in Open
    TagSet tags_;
    Mp3TagSource tagSource_;

    Format format_ = Format::None;
    bool littleEndian_ = false;
    int fileChannels_ = 0;
    uint32_t frameCount_ = 0;
    int sampleSize_ = 0;
    double rate_ = 0;
    int64_t dataStart_ = 0;
    int64_t dataLeft_ = 0;
    UnpackFn unpack_ = nullptr;
    UnpackS32Fn unpackS32_ = nullptr;
    UnpackF32Fn unpackF32_ = nullptr;
    int codedBytes_ = 0;      // bytes of one coded sample for the byte-aligned formats
    int64_t blockBytes_ = 0;  // one Read's worth of them
    std::unique_ptr<gsm_state, GsmCloser> gsm_;

    struct Dwvw {
        int bitWidth = 0, dwmMaxSize = 0;
        int32_t maxDelta = 0, span = 0;
        uint64_t bits = 0;
        int bitCount = 0;
        uint8_t bytes[256] = {};
        int index = 0, end = 0;
        int lastDeltaWidth = 0;
        int32_t lastSample = 0;
    };
    std::unique_ptr<Dwvw> dwvw_;
    std::unique_ptr<int32_t[]> dwvwArea_;
    int dwvwFrames_ = 0;  // frames decoded per Read
    uint32_t dwvwFramesLeft_ = 0;
};

}  // namespace kestrune
