#include "readers/au_reader.h"

#include <algorithm>
#include <cstring>

#include "audio/downmix.h"
#include "common/byte_order.h"

namespace kestrune {

namespace {

// One Read's worth of coded bytes never exceeds this, however many channels a frame has.
constexpr uint64_t kMostBlockBytes = 8 * 1024 * 1024;
constexpr size_t kHeaderBytes = 120;

uint32_t Word(const uint8_t* p, bool bigEndian) {
    return bigEndian ? LoadBe32(p) : LoadLe32(p);
}

struct EncodingInfo {
    int codeBits;
    bool adpcm;
    SampleCoding be, le;
};

// The encodings this reader knows; codeBits 0 means refused.
EncodingInfo Lookup(int encoding) {
    switch (encoding) {
        case 1:
            return {8, false, SampleCoding::Ulaw, SampleCoding::Ulaw};
        case 2:
            return {8, false, SampleCoding::S8, SampleCoding::S8};
        case 3:
            return {16, false, SampleCoding::S16Be, SampleCoding::S16Le};
        case 4:
            return {24, false, SampleCoding::S24Be, SampleCoding::S24Le};
        case 5:
            return {32, false, SampleCoding::S32Be, SampleCoding::S32Le};
        case 6:
            return {32, false, SampleCoding::F32Be, SampleCoding::F32Le};
        case 7:
            return {64, false, SampleCoding::F64Be, SampleCoding::F64Le};
        case 23:
            return {4, true, SampleCoding::S8, SampleCoding::S8};
        case 25:
            return {3, true, SampleCoding::S8, SampleCoding::S8};
        case 26:
            return {5, true, SampleCoding::S8, SampleCoding::S8};
        case 27:
            return {8, false, SampleCoding::Alaw, SampleCoding::Alaw};
        default:
            return {0, false, SampleCoding::S8, SampleCoding::S8};
    }
}

}  // namespace

AuReader::AuReader() = default;

AuReader::~AuReader() {
    Close();
}

void AuReader::Close() {
    file_.reset();
    buffer_.reset();
    encoding_ = 0;
    codeBits_ = 0;
    bigEndian_ = true;
    unpack_ = nullptr;
    unpackS32_ = nullptr;
    unpackF32_ = nullptr;
    dataOffset_ = 0;
    blockBytes_ = 0;
    adpcm_.clear();
    bitBuffer_ = 0;
    bitCount_ = 0;
    Reset();
}

int AuReader::Open(const std::string& path, int /*preferredRate*/) {
    Close();
    int64_t fileSize = 0;
    file_ = OpenForReading(path, fileSize);
    if (!file_)
        return 0;

    uint8_t header[kHeaderBytes] = {};
    const size_t got = std::fread(header, 1, kHeaderBytes, file_.get());
    if (got < 24) {
        Close();
        return 0;
    }
    if (std::memcmp(header, ".snd", 4) == 0 || std::memcmp(header, ".sd\0", 4) == 0) {
        bigEndian_ = true;
    } else if (std::memcmp(header, "dns.", 4) == 0 || std::memcmp(header, "\0ds.", 4) == 0) {
        bigEndian_ = false;
    } else {
        Close();
        return 0;
    }
    const uint32_t offset = Word(header + 4, bigEndian_);
    const uint32_t dataSize = Word(header + 8, bigEndian_);
    if (offset < 24) {
        Close();
        return 0;
    }

    // Some writers shift the encoding word; look for the first plausible one nearby.
    size_t at = 12;
    uint32_t encoding = Word(header + at, bigEndian_);
    if (encoding > 27) {
        bool found = false;
        for (at = 13; at <= 32; ++at) {
            encoding = Word(header + at, bigEndian_);
            if (encoding <= 27) {
                found = true;
                break;
            }
        }
        if (!found) {
            Close();
            return 0;
        }
    }
    const EncodingInfo info = Lookup(static_cast<int>(encoding));
    if (info.codeBits == 0) {
        Close();
        return 0;
    }
    uint32_t rate = Word(header + at + 4, bigEndian_);
    uint32_t channelWord = Word(header + at + 8, bigEndian_);
    if (rate < 1000 || rate > 100000)
        rate = 8000;
    if (channelWord == 0)
        channelWord = 1;

    // A block of frames must stay within a sane read; a frame larger than that is not audio.
    const uint64_t frameBits = uint64_t{channelWord} * static_cast<uint64_t>(info.codeBits);
    if (frameBits > kMostBlockBytes * 8 / kBlockFrames) {
        Close();
        return 0;
    }
    const int channelCount = static_cast<int>(channelWord);

    encoding_ = static_cast<int>(encoding);
    codeBits_ = info.codeBits;
    sampleRate = static_cast<int32_t>(rate);
    sourceChannels = channelCount;
    channels = channelCount == 1 ? 1 : 2;
    bitsPerSample = 16;
    bytesPerSample = 2;
    dataOffset_ = offset;
    if (info.adpcm) {
        adpcm_.assign(static_cast<size_t>(std::min(channelCount, 8)), G72xDecoder(codeBits_));
    } else {
        const SampleCoding coding = bigEndian_ ? info.be : info.le;
        unpack_ = SelectUnpacker(coding);
        unpackS32_ = SelectS32Unpacker(coding);
        unpackF32_ = SelectF32Unpacker(coding);
        sourceDepth = DepthOf(coding);
    }
    if (std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) != 0) {
        Close();
        return 0;
    }

    const int64_t inFile = std::max<int64_t>(0, fileSize - static_cast<int64_t>(offset));
    if (dataSize == 0xFFFFFFFFu)
        length = inFile;
    else
        length = dataSize;
    position = 0;

    // A block is kBlockFrames frames, or what the file holds when that is less: a short file
    // gets no buffer for data it does not have. frameBits bytes are eight whole frames, so a
    // block never ends inside a frame, nor inside an ADPCM code.
    const uint64_t held = static_cast<uint64_t>(std::min(length, inFile));
    blockBytes_ = static_cast<int64_t>(
        std::min(frameBits * kBlockFrames / 8, (held + frameBits - 1) / frameBits * frameBits));
    if (blockBytes_ > 0)
        buffer_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(blockBytes_));
    const uint64_t seconds = static_cast<uint64_t>(length) * 8 / frameBits / rate;
    duration = static_cast<int32_t>(std::min<uint64_t>(seconds, INT32_MAX));
    if (duration > 0)
        bitRate = static_cast<int32_t>(length / (125 * static_cast<int64_t>(duration)));
    else
        bitRate = static_cast<int32_t>(frameBits * rate / 1000);
    return 1;
}

int AuReader::Read(int16_t* left, int16_t* right) {
    if (!file_ || position >= length || blockBytes_ == 0)
        return 0;
    if (!adpcm_.empty())
        return ReadAdpcm(left, right);
    return ReadLinear(left, right, unpack_);
}

SampleFormat AuReader::GetWideFormat() {
    const SampleFormat form = WideFormatFor(sourceDepth);
    if ((form == SampleFormat::kS32 && unpackS32_) || (form == SampleFormat::kF32 && unpackF32_))
        return form;
    return SampleFormat::kS16;
}

int AuReader::ReadS32(int32_t* left, int32_t* right) {
    if (!file_ || position >= length || GetWideFormat() != SampleFormat::kS32)
        return 0;
    return ReadLinear(left, right, unpackS32_);
}

int AuReader::ReadF32(float* left, float* right) {
    if (!file_ || position >= length || GetWideFormat() != SampleFormat::kF32)
        return 0;
    return ReadLinear(left, right, unpackF32_);
}

template <typename Sample, typename Unpacker>
int AuReader::ReadLinear(Sample* left, Sample* right, Unpacker unpack) {
    int64_t request = blockBytes_;
    if (position + request > length)
        request = length - position;
    position += request;
    const size_t got = std::fread(buffer_.get(), 1, static_cast<size_t>(request), file_.get());
    const size_t frameBytes = static_cast<size_t>(sourceChannels) * (codeBits_ / 8);
    const size_t frames = got / frameBytes;
    if (frames == 0)
        return 0;
    unpack(buffer_.get(), frames, sourceChannels, left, right);
    return static_cast<int>(frames);
}

int AuReader::ReadAdpcm(int16_t* left, int16_t* right) {
    int64_t request = blockBytes_;
    if (position + request > length)
        request = length - position;
    position += request;
    const size_t got = std::fread(buffer_.get(), 1, static_cast<size_t>(request), file_.get());
    const size_t frames = got * 8 / (static_cast<size_t>(sourceChannels) * codeBits_);
    if (frames == 0)
        return 0;

    const uint32_t mask = (1u << codeBits_) - 1;
    const uint8_t* in = buffer_.get();
    const uint8_t* end = in + got;
    auto nextCode = [&]() -> unsigned {
        if (bitCount_ < codeBits_ && in < end) {
            bitBuffer_ |= uint32_t{*in++} << bitCount_;
            bitCount_ += 8;
        }
        const unsigned code = bitBuffer_ & mask;
        bitBuffer_ >>= codeBits_;
        bitCount_ -= codeBits_;
        return code;
    };

    const int used = static_cast<int>(adpcm_.size());
    int16_t frame[8] = {};
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < sourceChannels; ++c) {
            const unsigned code = nextCode();
            if (c < used)
                frame[c] = adpcm_[static_cast<size_t>(c)].Decode(code);
        }
        if (sourceChannels == 1) {
            left[i] = frame[0];
        } else if (sourceChannels == 2) {
            left[i] = frame[0];
            right[i] = frame[1];
        } else {
            DownmixFrame(sourceChannels, frame, left[i], right[i]);
        }
    }
    return static_cast<int>(frames);
}

}  // namespace kestrune
