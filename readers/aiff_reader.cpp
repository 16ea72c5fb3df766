#include "readers/aiff_reader.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <random>

#include <gsm/gsm.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include "audio/downmix.h"
#include "common/byte_order.h"

namespace kestrune {

namespace {

// One Read's worth of coded bytes never exceeds this, however many channels a frame has.
constexpr int64_t kMostBlockBytes = 8 * 1024 * 1024;
// No COMM chunk comes near this; one that does is not an AIFF.
constexpr uint32_t kCommLimit = 8 * 1024 * 1024;
// The ID3 chunk is copied to its carrier in pieces of this size.
constexpr size_t kId3Piece = 64 * 1024;
constexpr uint32_t kId3Limit = 10 * 1024 * 1024;
constexpr int kImaPacket = 34;   // bytes of one channel's IMA4 packet
constexpr int kImaSamples = 64;  // samples it holds
constexpr int kGsmFrame = 33;
constexpr int kGsmSamples = 160;
constexpr int kDwvwValues = 294912;  // decode area bound, in values, whatever the channel count

// The 80-bit IEEE extended sample rate of COMM.
double Extended(const uint8_t* p) {
    const bool negative = (p[0] & 0x80) != 0;
    const int exponent = ((p[0] & 0x7F) << 8) | p[1];
    const uint32_t hi = LoadBe32(p + 2), lo = LoadBe32(p + 6);
    if (exponent == 0 && hi == 0 && lo == 0)
        return 0;
    if (exponent == 0x7FFF)
        return HUGE_VAL;
    double v = std::ldexp(static_cast<double>(hi), exponent - 16414) +
               std::ldexp(static_cast<double>(lo), exponent - 16446);
    return negative ? -v : v;
}

constexpr int kImaSteps[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kImaIndex[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// One channel's 34-byte Apple IMA4 packet into 64 samples.
void DecodeIma4(const uint8_t* packet, int16_t* out) {
    int predictor = static_cast<int16_t>((packet[0] << 8) | (packet[1] & 0x80));
    int index = std::min(packet[1] & 0x7F, 88);
    for (int i = 0; i < kImaSamples; ++i) {
        const uint8_t byte = packet[2 + i / 2];
        const int code = (i & 1) ? (byte >> 4) : (byte & 0x0F);
        const int step = kImaSteps[index];
        int diff = step >> 3;
        if (code & 1)
            diff += step >> 2;
        if (code & 2)
            diff += step >> 1;
        if (code & 4)
            diff += step;
        if (code & 8)
            diff = -diff;
        predictor = std::clamp(predictor + diff, -32768, 32767);
        out[i] = static_cast<int16_t>(predictor);
        index = std::clamp(index + kImaIndex[code & 7], 0, 88);
    }
}

// Two MPEG-1 Layer III frames of silence (128 kbit/s, 44100 Hz, joint stereo) that turn an
// ID3v2 tag into a file an MP3 tag reader accepts.
void AppendSilentFrames(std::vector<uint8_t>& out) {
    const uint8_t first[4] = {0xFF, 0xFB, 0x90, 0x64};
    const uint8_t second[4] = {0xFF, 0xFB, 0x92, 0x64};
    out.insert(out.end(), first, first + 4);
    out.resize(out.size() + 417 - 4, 0);
    out.insert(out.end(), second, second + 4);
    out.resize(out.size() + 418 - 4, 0);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The carrier file lives only while its tags are read.
class TempCarrier {
public:
    TempCarrier() {
        std::error_code ec;
        const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
        if (ec)
            return;
        std::random_device random;
        for (int attempt = 0; attempt < 8 && fd_ < 0; ++attempt) {
            const std::string name = std::to_string(::getpid()) + std::to_string(::gettid()) +
                                     std::to_string(random() % 100000) + ".mp3";
            path_ = (dir / name).string();
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd_ < 0 && errno != EEXIST)
                break;
        }
        if (fd_ < 0)
            path_.clear();
    }
    ~TempCarrier() {
        CloseFd();
        if (!path_.empty())
            ::unlink(path_.c_str());
    }
    TempCarrier(const TempCarrier&) = delete;
    TempCarrier& operator=(const TempCarrier&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool CloseFd() {
        if (fd_ < 0)
            return true;
        const bool ok = ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    std::string path_;
    int fd_ = -1;
};

std::string FirstValue(const TagLib::PropertyMap& map, const char* key) {
    const auto it = map.find(key);
    if (it == map.end() || it->second.isEmpty())
        return {};
    return it->second.front().to8Bit(true);
}

}  // namespace

int ReadMp3TagsWithTagLib(const std::string& mp3Path, TagSet& tags) {
    TagLib::MPEG::File file(mp3Path.c_str(), false);
    if (!file.isValid())
        return 0;
    const TagLib::PropertyMap map = file.properties();
    tags.title = FirstValue(map, "TITLE");
    tags.artist = FirstValue(map, "ARTIST");
    tags.album = FirstValue(map, "ALBUM");
    tags.year = FirstValue(map, "DATE");
    tags.genre = FirstValue(map, "GENRE");
    tags.comment = FirstValue(map, "COMMENT");
    tags.track = FirstValue(map, "TRACKNUMBER");
    tags.composer = FirstValue(map, "COMPOSER");
    tags.copyright = FirstValue(map, "COPYRIGHT");
    return tags.Empty() ? 0 : 1;
}

void AiffReader::GsmCloser::operator()(gsm_state* g) const {
    if (g)
        gsm_destroy(g);
}

AiffReader::AiffReader() : tagSource_(&ReadMp3TagsWithTagLib) {}

AiffReader::~AiffReader() {
    Close();
}

void AiffReader::Close() {
    file_.reset();
    buffer_.reset();
    gsm_.reset();
    dwvw_.reset();
    dwvwArea_.reset();
    dwvwFrames_ = 0;
    dwvwFramesLeft_ = 0;
    tags_ = TagSet{};
    format_ = Format::None;
    littleEndian_ = false;
    fileChannels_ = 0;
    frameCount_ = 0;
    sampleSize_ = 0;
    rate_ = 0;
    dataStart_ = 0;
    dataLeft_ = 0;
    unpack_ = nullptr;
    unpackS32_ = nullptr;
    unpackF32_ = nullptr;
    codedBytes_ = 0;
    blockBytes_ = 0;
    Reset();
}

int AiffReader::Open(const std::string& path, int /*preferredRate*/) {
    Close();
    int64_t fileSize = 0;
    file_ = OpenForReading(path, fileSize);
    if (!file_)
        return 0;
    length = fileSize;
    if (!ParseChunks(fileSize)) {
        Close();
        return 0;
    }

    SampleCoding coding = SampleCoding::S8;
    switch (format_) {
        case Format::Pcm:
            if (sampleSize_ >= 1 && sampleSize_ <= 8)
                coding = SampleCoding::S8;
            else if (sampleSize_ >= 9 && sampleSize_ <= 16)
                coding = littleEndian_ ? SampleCoding::S16Le : SampleCoding::S16Be;
            else if (sampleSize_ >= 17 && sampleSize_ <= 24)
                coding = littleEndian_ ? SampleCoding::S24Le : SampleCoding::S24Be;
            else if (sampleSize_ >= 25 && sampleSize_ <= 32)
                coding = littleEndian_ ? SampleCoding::S32Le : SampleCoding::S32Be;
            else {
                Close();
                return 0;
            }
            break;
        case Format::Ulaw:
            coding = SampleCoding::Ulaw;
            break;
        case Format::Alaw:
            coding = SampleCoding::Alaw;
            break;
        case Format::Float32:
            coding = SampleCoding::F32Be;
            break;
        case Format::Float64:
            coding = SampleCoding::F64Be;
            break;
        case Format::Raw:
            coding = SampleCoding::U8;
            break;
        default:
            break;
    }
    const bool byteAligned =
        format_ != Format::Ima4 && format_ != Format::Gsm && format_ != Format::Dwvw;
    int64_t bufferBytes = 0;  // DWVW reads through its own bit reservoir
    if (format_ == Format::Ima4)
        bufferBytes = int64_t{kImaPacket} * fileChannels_;
    else if (format_ == Format::Gsm)
        bufferBytes = kGsmFrame;
    if (byteAligned) {
        unpack_ = SelectUnpacker(coding);
        unpackS32_ = SelectS32Unpacker(coding);
        unpackF32_ = SelectF32Unpacker(coding);
        codedBytes_ = SampleBytes(coding);
        const int64_t frameBytes = int64_t{fileChannels_} * codedBytes_;
        // A short file gets a block of what it holds, not of what a long one would need.
        const int64_t dataFrames = (dataLeft_ + frameBytes - 1) / frameBytes;
        const int64_t frames =
            std::min({int64_t{kBlockFrames}, kMostBlockBytes / frameBytes, dataFrames});
        blockBytes_ = frames * frameBytes;
        bufferBytes = blockBytes_;
    } else if (format_ == Format::Dwvw) {
        dwvw_ = std::make_unique<Dwvw>();
        dwvw_->bitWidth = sampleSize_;
        dwvw_->dwmMaxSize = sampleSize_ / 2;
        dwvw_->maxDelta = int32_t{1} << (sampleSize_ - 1);
        dwvw_->span = int32_t{1} << sampleSize_;
        dwvwFrames_ = std::min(kBlockFrames, kDwvwValues / fileChannels_);
        dwvwFramesLeft_ = frameCount_;
        dwvwArea_ = std::make_unique<int32_t[]>(static_cast<size_t>(dwvwFrames_) * fileChannels_);
    }
    if (bufferBytes > 0)
        buffer_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(bufferBytes));

    if (format_ == Format::Ima4)
        frameCount_ = static_cast<uint32_t>(static_cast<double>(dataLeft_) /
                                            (kImaPacket * fileChannels_) * kImaSamples);
    else if (format_ == Format::Gsm)
        frameCount_ =
            static_cast<uint32_t>(static_cast<double>(dataLeft_) * (1.0 / kGsmFrame) * kGsmSamples);

    sampleRate = (std::isfinite(rate_) && rate_ >= 0 && rate_ < 2147483647.0)
                     ? static_cast<int32_t>(rate_)
                     : 0;
    sourceChannels = fileChannels_;
    channels = fileChannels_ == 1 ? 1 : 2;
    bitsPerSample = 16;
    bytesPerSample = 2;
    if (byteAligned)
        sourceDepth = format_ == Format::Pcm ? SampleDepth{sampleSize_, false} : DepthOf(coding);
    duration =
        sampleRate > 0 ? static_cast<int32_t>(frameCount_ / static_cast<uint32_t>(sampleRate)) : 0;
    if (duration > 0)
        bitRate = static_cast<int32_t>(length / (125 * int64_t{duration}));
    else
        bitRate = static_cast<int32_t>(int64_t{sampleSize_} * fileChannels_ * sampleRate / 1000);

    if (fseeko(file_.get(), dataStart_, SEEK_SET) != 0) {
        Close();
        return 0;
    }
    position = dataStart_;
    return 1;
}

int AiffReader::ParseChunks(int64_t fileSize) {
    uint8_t head[12];
    if (std::fread(head, 1, 8, file_.get()) != 8 || std::memcmp(head, "FORM", 4) != 0)
        return 0;
    if (std::fread(head + 8, 1, 4, file_.get()) != 4)
        return 0;
    bool aifc;
    if (std::memcmp(head + 8, "AIFF", 4) == 0)
        aifc = false;
    else if (std::memcmp(head + 8, "AIFC", 4) == 0)
        aifc = true;
    else
        return 0;

    bool sawComm = false, sawSsnd = false;
    int64_t at = 12;  // offset of the next chunk header
    // Every chunk moves at least 8 bytes on, so the walk ends with the file.
    while (at + 8 <= fileSize) {
        uint8_t chunk[8];
        if (fseeko(file_.get(), at, SEEK_SET) != 0 || std::fread(chunk, 1, 8, file_.get()) != 8)
            break;
        const uint32_t size = LoadBe32(chunk + 4);
        const int64_t rounded = int64_t{size} + (size & 1);
        const int64_t body = at + 8;
        if (std::memcmp(chunk, "COMM", 4) == 0) {
            // The whole chunk, pad byte included, must be in the file.
            if (rounded > fileSize - body ||
                !ParseComm(static_cast<uint32_t>(std::min<int64_t>(rounded, 0xFFFFFFFF)), aifc))
                return 0;
            sawComm = true;
        } else if (std::memcmp(chunk, "SSND", 4) == 0) {
            uint8_t ssnd[8];
            if (size < 8 || std::fread(ssnd, 1, 8, file_.get()) != 8)
                break;
            const int64_t offset = LoadBe32(ssnd);
            dataStart_ = body + 8 + offset;
            // The pad byte of an odd chunk is not a sample; neither is anything past the end.
            dataLeft_ = std::max<int64_t>(0, int64_t{size} - 8 - offset);
            dataLeft_ = std::min(dataLeft_, std::max<int64_t>(0, fileSize - dataStart_));
            sawSsnd = true;
        } else if (std::memcmp(chunk, "ID3 ", 4) == 0) {
            // A tag larger than the limit is passed over whole rather than read in part.
            if (size <= kId3Limit)
                ReadId3Chunk(size);
        }
        at = body + rounded;
    }
    return sawComm && sawSsnd;
}

int AiffReader::ParseComm(uint32_t size, bool aifc) {
    if (aifc ? size < 22 : size != 18)
        return 0;
    if (size > kCommLimit)
        return 0;
    // The fields read here; an AIFF-C compression name after them is not needed.
    uint8_t c[22];
    const size_t want = aifc ? 22 : 18;
    if (std::fread(c, 1, want, file_.get()) != want)
        return 0;

    fileChannels_ = LoadBe16(c);
    if (fileChannels_ == 0)
        fileChannels_ = 1;
    frameCount_ = LoadBe32(c + 2);
    if (frameCount_ == 0 || frameCount_ == 0xFFFFFFFFu)
        frameCount_ = 1;
    sampleSize_ = LoadBe16(c + 6);
    rate_ = Extended(c + 8);
    format_ = Format::Pcm;
    littleEndian_ = false;
    gsm_.reset();
    if (!aifc)
        return 1;

    char type[5] = {};
    for (int i = 0; i < 4; ++i)
        type[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(c[18 + i])));
    const std::string t(type, 4);
    if (t == "NONE" || t == "TWOS" || t == "IN24" || t == "IN32") {
        format_ = Format::Pcm;
    } else if (t == "SOWT" || t == "23NI") {
        format_ = Format::Pcm;
        littleEndian_ = true;
    } else if (t == "ULAW") {
        format_ = Format::Ulaw;
        sampleSize_ = 8;
    } else if (t == "ALAW") {
        format_ = Format::Alaw;
        sampleSize_ = 8;
    } else if (t == "FL32") {
        format_ = Format::Float32;
        sampleSize_ = 32;
    } else if (t == "FL64") {
        format_ = Format::Float64;
        sampleSize_ = 64;
    } else if (t == "IMA4") {
        if (fileChannels_ != 2)
            return 0;
        format_ = Format::Ima4;
        sampleSize_ = 4;
    } else if (t == "RAW ") {
        format_ = Format::Raw;
        sampleSize_ = 8;
    } else if (t == "GSM ") {
        format_ = Format::Gsm;
        gsm_.reset(gsm_create());
        if (!gsm_)
            return 0;
    } else if (t == "DWVW") {
        if (sampleSize_ < 8 || sampleSize_ > 24)
            return 0;
        format_ = Format::Dwvw;
    } else {
        return 0;
    }
    return 1;
}

void AiffReader::ReadId3Chunk(uint32_t size) {
    TempCarrier carrier;
    if (carrier.fd() < 0)
        return;
    bool ok = true;
    uint32_t left = size;
    std::vector<uint8_t> bytes(std::min<size_t>(size, kId3Piece));
    while (ok && left > 0) {
        const size_t piece = std::min<size_t>(left, bytes.size());
        const size_t got = std::fread(bytes.data(), 1, piece, file_.get());
        ok = WriteAll(carrier.fd(), bytes.data(), got);
        if (got < piece)
            break;
        left -= static_cast<uint32_t>(got);
    }
    std::vector<uint8_t> frames;
    AppendSilentFrames(frames);
    ok = ok && WriteAll(carrier.fd(), frames.data(), frames.size());
    ok = carrier.CloseFd() && ok;
    if (!ok || !tagSource_)
        return;
    TagSet found;
    if (tagSource_(carrier.path(), found))
        tags_ = found;
}

int AiffReader::ReadTags(TagSet& tags) {
    if (tags_.Empty())
        return 0;
    tags = tags_;
    return 1;
}

int AiffReader::Read(int16_t* left, int16_t* right) {
    if (!file_)
        return 0;
    switch (format_) {
        case Format::Ima4:
            return ReadIma4(left, right);
        case Format::Gsm:
            return ReadGsm(left, right);
        case Format::Dwvw:
            return ReadDwvw(left, right);
        case Format::None:
            return 0;
        default:
            return ReadBytes(left, right, unpack_);
    }
}

SampleFormat AiffReader::GetWideFormat() {
    const SampleFormat form = WideFormatFor(sourceDepth);
    if ((form == SampleFormat::kS32 && unpackS32_) || (form == SampleFormat::kF32 && unpackF32_))
        return form;
    return SampleFormat::kS16;
}

int AiffReader::ReadS32(int32_t* left, int32_t* right) {
    return file_ && GetWideFormat() == SampleFormat::kS32 ? ReadBytes(left, right, unpackS32_) : 0;
}

int AiffReader::ReadF32(float* left, float* right) {
    return file_ && GetWideFormat() == SampleFormat::kF32 ? ReadBytes(left, right, unpackF32_) : 0;
}

template <typename Sample, typename Unpacker>
int AiffReader::ReadBytes(Sample* left, Sample* right, Unpacker unpack) {
    if (dataLeft_ <= 0)
        return 0;
    const int64_t request = std::min(blockBytes_, dataLeft_);
    dataLeft_ -= request;
    const size_t got = std::fread(buffer_.get(), 1, static_cast<size_t>(request), file_.get());
    position += static_cast<int64_t>(got);
    const size_t frames = got / (static_cast<size_t>(fileChannels_) * codedBytes_);
    if (frames == 0)
        return 0;
    unpack(buffer_.get(), frames, fileChannels_, left, right);
    return static_cast<int>(frames);
}

int AiffReader::ReadIma4(int16_t* left, int16_t* right) {
    const int packet = kImaPacket * fileChannels_;
    if (dataLeft_ < packet)
        return 0;
    dataLeft_ -= packet;
    if (std::fread(buffer_.get(), 1, static_cast<size_t>(packet), file_.get()) !=
        static_cast<size_t>(packet))
        return 0;
    position += packet;
    DecodeIma4(buffer_.get(), left);
    DecodeIma4(buffer_.get() + kImaPacket, right);
    return kImaSamples;
}

int AiffReader::ReadGsm(int16_t* left, int16_t* right) {
    if (dataLeft_ <= kGsmFrame - 1)
        return 0;
    dataLeft_ -= kGsmFrame;
    if (std::fread(buffer_.get(), 1, kGsmFrame, file_.get()) != kGsmFrame)
        return 0;
    position += kGsmFrame;
    gsm_signal samples[kGsmSamples];
    if (gsm_decode(gsm_.get(), buffer_.get(), samples) < 0)
        return 0;
    if (fileChannels_ == 1) {
        std::copy_n(samples, kGsmSamples, left);
        return kGsmSamples;
    }
    for (int i = 0; i < kGsmSamples / 2; ++i) {
        left[i] = samples[2 * i];
        right[i] = samples[2 * i + 1];
    }
    return kGsmSamples / 2;
}

// Takes count bits from the reservoir (count -1: counts leading zeros up to dwmMaxSize, the
// width modifier), refilling 256 bytes at a time. -1 when the data has run out.
int AiffReader::DwvwBits(int count) {
    Dwvw& d = *dwvw_;
    const bool counting = count < 0;
    const int want = counting ? d.dwmMaxSize : count;
    while (d.bitCount < want) {
        if (d.index >= d.end) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(dataLeft_, sizeof d.bytes));
            const size_t got = std::fread(d.bytes, 1, n, file_.get());
            dataLeft_ -= static_cast<int64_t>(n);
            position += static_cast<int64_t>(got);
            d.index = 0;
            d.end = static_cast<int>(got);
        }
        // Bits that are not in the file are not made up: the stream ends here.
        if (d.index >= d.end)
            return -1;
        d.bits = (d.bits << 8) | d.bytes[d.index++];
        d.bitCount += 8;
    }
    if (counting) {
        int zeros = 0;
        while (zeros < d.dwmMaxSize) {
            --d.bitCount;
            if ((d.bits >> d.bitCount) & 1)
                break;
            ++zeros;
        }
        return zeros;
    }
    if (count == 0)
        return 0;
    d.bitCount -= count;
    return static_cast<int>((d.bits >> d.bitCount) & ((uint64_t{1} << count) - 1));
}

int AiffReader::DwvwDecode(int32_t* out, int count) {
    Dwvw& d = *dwvw_;
    int done = 0;
    while (done < count) {
        int modifier = DwvwBits(-1);
        if (modifier < 0)
            break;
        if (modifier != 0) {
            const int sign = DwvwBits(1);
            if (sign < 0)
                break;
            if (sign)
                modifier = -modifier;
        }
        const int deltaWidth = (d.lastDeltaWidth + modifier + d.bitWidth) % d.bitWidth;
        int32_t delta = 0;
        if (deltaWidth > 0) {
            const int low = DwvwBits(deltaWidth - 1);
            const int negative = DwvwBits(1);
            if (low < 0 || negative < 0)
                break;
            delta = low | (int32_t{1} << (deltaWidth - 1));
            if (delta == d.maxDelta - 1) {
                const int extra = DwvwBits(1);
                if (extra < 0)
                    break;
                delta += extra;
            }
            if (negative)
                delta = -delta;
        }
        int32_t sample = d.lastSample + delta;
        if (sample >= d.maxDelta)
            sample -= d.span;
        if (sample < -d.maxDelta)
            sample += d.span;
        d.lastDeltaWidth = deltaWidth;
        d.lastSample = sample;
        out[done] = static_cast<int32_t>(static_cast<uint32_t>(sample) << (32 - d.bitWidth));
        ++done;
        if (d.end == 0 && d.bitCount == 0)
            break;
    }
    return done;
}

int AiffReader::ReadDwvw(int16_t* left, int16_t* right) {
    // COMM says how many frames there are; the last byte's padding bits are not samples.
    const int frames = static_cast<int>(std::min<uint32_t>(dwvwFramesLeft_, dwvwFrames_));
    if (frames <= 0)
        return 0;
    const int values = DwvwDecode(dwvwArea_.get(), frames * fileChannels_);
    if (values <= 0)
        return 0;
    dwvwFramesLeft_ -= static_cast<uint32_t>(values / fileChannels_);
    const int32_t* v = dwvwArea_.get();
    if (fileChannels_ == 1) {
        for (int i = 0; i < values; ++i)
            left[i] = static_cast<int16_t>(v[i] >> 16);
        return values;
    }
    const int whole = values / fileChannels_;
    if (fileChannels_ == 2) {
        for (int i = 0; i < whole; ++i) {
            left[i] = static_cast<int16_t>(v[2 * i] >> 16);
            right[i] = static_cast<int16_t>(v[2 * i + 1] >> 16);
        }
        return whole;
    }
    // More channels: fold each frame like every other multichannel source.
    const int used = std::min(fileChannels_, 8);
    int16_t frame[8];
    for (int i = 0; i < whole; ++i) {
        const int32_t* f = v + static_cast<size_t>(i) * fileChannels_;
        for (int c = 0; c < used; ++c)
            frame[c] = static_cast<int16_t>(f[c] >> 16);
        DownmixFrame(fileChannels_, frame, left[i], right[i]);
    }
    return whole;
}

}  // namespace kestrune
