#pragma once

// The Windows Media layer (libwmvcore.so): profile manager with codec formats, writer and
// synchronous reader for ASF files, as plain C++ interfaces. The program loads the library on
// demand and reaches it only through the three entry points at the end of this header.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrune::wm {

enum class WmResult : int32_t {
    Ok = 0,
    Fail,
    NotFound,         // no such attribute, stream or output
    NoMoreSamples,    // the end of the selected stream
    InvalidArgument,  // a value the layer cannot work with
    WrongState,       // e.g. writing before BeginWriting
};

enum class WmMajorType : int32_t { Unknown = 0, Audio, Video, Other };

// The wave format tags of the media subtypes the program tells apart.
constexpr uint16_t kFormatTagPcm = 0x0001;
constexpr uint16_t kFormatTagWMAudioV7 = 0x0160;
constexpr uint16_t kFormatTagWMAudioV8 = 0x0161;  // the subtype WMAudioV8
constexpr uint16_t kFormatTagWMAudioV9 = 0x0162;  // the subtype WMAudioV9
constexpr uint16_t kFormatTagWMAudioLossless = 0x0163;

struct WaveFormatEx {
    uint16_t formatTag = 0;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
    std::vector<uint8_t> extra;  // codec-specific bytes after the 18-byte header
};

// A stream's media type. For audio the subtype is the wave format tag.
struct WmMediaType {
    WmMajorType majorType = WmMajorType::Unknown;
    uint16_t subtype = 0;
    bool fixedSizeSamples = false;
    bool temporalCompression = false;
    uint32_t sampleSize = 0;
    WaveFormatEx waveFormat;
};

// One stream of a profile: what the writer creates or what the reader found.
struct WmStreamConfig {
    WmMajorType streamType = WmMajorType::Unknown;
    uint16_t streamNumber = 0;
    std::string streamName;
    std::string connectionName;
    uint32_t bitrate = 0;       // bit/s
    uint32_t bufferWindow = 0;  // ms
    WmMediaType mediaType;
};

constexpr uint32_t kProfileVersion9 = 0x00090000;

struct WmProfile {
    uint32_t version = kProfileVersion9;
    std::vector<WmStreamConfig> streams;

    WmStreamConfig CreateNewStream(WmMajorType type) const {
        WmStreamConfig config;
        config.streamType = type;
        config.mediaType.majorType = type;
        return config;
    }
    WmResult AddStream(const WmStreamConfig& config) {
        if (config.streamNumber == 0 || config.streamNumber > 127)
            return WmResult::InvalidArgument;
        for (const WmStreamConfig& s : streams)
            if (s.streamNumber == config.streamNumber)
                return WmResult::InvalidArgument;
        streams.push_back(config);
        return WmResult::Ok;
    }
};

enum class WmAttrType : int32_t { DWord = 0, String, Binary, Bool, QWord, Word, Guid };

// An attribute value; texts are UTF-8.
struct WmAttribute {
    WmAttrType type = WmAttrType::String;
    std::string text;
    uint64_t number = 0;  // DWord, QWord, Word, Bool
    std::vector<uint8_t> bytes;

    static WmAttribute String(std::string value) {
        WmAttribute a;
        a.type = WmAttrType::String;
        a.text = std::move(value);
        return a;
    }
    static WmAttribute DWord(uint32_t value) {
        WmAttribute a;
        a.type = WmAttrType::DWord;
        a.number = value;
        return a;
    }
};

// A sample: interleaved PCM on the uncompressed side.
struct WmBuffer {
    std::vector<uint8_t> data;
    uint32_t length = 0;  // bytes in use
};

class WmProfileManager {
public:
    virtual ~WmProfileManager() = default;
    virtual WmResult CreateEmptyProfile(uint32_t version, WmProfile& profile) = 0;
    // Codec information: the codecs of a major type and the formats each offers.
    virtual uint32_t GetCodecInfoCount(WmMajorType type) = 0;
    virtual uint32_t GetCodecFormatCount(WmMajorType type, uint32_t codec) = 0;
    virtual WmResult GetCodecFormatDesc(WmMajorType type, uint32_t codec, uint32_t format,
                                        WmStreamConfig& config, std::string& description) = 0;
};

class WmWriter {
public:
    virtual ~WmWriter() = default;
    virtual WmResult SetProfile(const WmProfile& profile) = 0;
    // One input per stream of the profile, in its order.
    virtual uint32_t GetInputCount() = 0;
    virtual WmResult GetInputProps(uint32_t input, WmMediaType& type) = 0;
    // The uncompressed type the caller will give to WriteSample (16-bit PCM).
    virtual WmResult SetInputProps(uint32_t input, const WmMediaType& type) = 0;
    // File-level attributes are those of stream 0; they are written in the order added.
    virtual WmResult AddAttribute(uint16_t stream, const std::string& name,
                                  const WmAttribute& value) = 0;
    virtual WmResult SetOutputFilename(const std::string& path) = 0;
    virtual WmResult BeginWriting() = 0;
    virtual WmResult AllocateSample(uint32_t size, WmBuffer& sample) = 0;
    // time in 100-nanosecond units.
    virtual WmResult WriteSample(uint32_t input, uint64_t time, uint32_t flags,
                                 const WmBuffer& sample) = 0;
    // Flushes everything and finishes the file.
    virtual WmResult EndWriting() = 0;
};

class WmSyncReader {
public:
    virtual ~WmSyncReader() = default;
    virtual WmResult Open(const std::string& path) = 0;
    virtual WmResult Close() = 0;
    virtual WmResult GetProfile(WmProfile& profile) = 0;
    virtual WmResult SetStreamsSelected(uint16_t stream, bool selected) = 0;
    // compressed = false asks for decoded 16-bit PCM.
    virtual WmResult SetReadStreamSamples(uint16_t stream, bool compressed) = 0;
    // The next sample of a selected stream; time and duration in 100-nanosecond units.
    virtual WmResult GetNextSample(uint16_t stream, WmBuffer& sample, uint64_t& time,
                                   uint64_t& duration) = 0;
    // One output per stream of the file, in stream order.
    virtual uint32_t GetOutputCount() = 0;
    virtual WmResult GetOutputProps(uint32_t output, WmMediaType& type) = 0;
    // Stream 0 is the file level.
    virtual WmResult GetAttributeByName(uint16_t stream, const std::string& name,
                                        WmAttribute& value) = 0;
};

}  // namespace kestrune::wm

// The objects handed out belong to the caller, who deletes them; the library must stay loaded
// while any of them lives.
#define KESTRUNE_WM_EXPORT __attribute__((visibility("default")))
extern "C" {
KESTRUNE_WM_EXPORT kestrune::wm::WmResult WMCreateProfileManager(
    kestrune::wm::WmProfileManager** manager);
KESTRUNE_WM_EXPORT kestrune::wm::WmResult WMCreateWriter(kestrune::wm::WmWriter** writer);
KESTRUNE_WM_EXPORT kestrune::wm::WmResult WMCreateSyncReader(kestrune::wm::WmSyncReader** reader);
}

namespace kestrune::wm {
using CreateProfileManagerFn = decltype(&WMCreateProfileManager);
using CreateWriterFn = decltype(&WMCreateWriter);
using CreateSyncReaderFn = decltype(&WMCreateSyncReader);
}  // namespace kestrune::wm
