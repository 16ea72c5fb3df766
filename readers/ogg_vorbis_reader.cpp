#include "readers/ogg_vorbis_reader.h"

#include <vorbis/vorbisfile.h>
#include <algorithm>
#include <bit>
#include <cstring>

#include "audio/downmix.h"
#include "audio/utf8_text.h"

namespace kestrune {

namespace {

constexpr size_t kCommentLimit = 1000;
// A damaged stream reports a hole or an error per bad page; after this many in a row without
// any audio the stream is taken as ended.
constexpr int kMaxReadFailures = 64;

inline int16_t Clamp16(int32_t v) {
    return static_cast<int16_t>(std::clamp<int32_t>(v, -32768, 32767));
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char a = static_cast<unsigned char>(text[i]);
        const unsigned char b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b))
            return false;
    }
    return true;
}

}  // namespace

void MixVorbisSixChannels(const int16_t* s, int16_t& left, int16_t& right) {
    const int32_t m = static_cast<int32_t>(static_cast<float>(int32_t{s[1]} + s[5]) * 0.707f);
    left = Clamp16(int32_t{s[0]} + s[3] + m);
    right = Clamp16(int32_t{s[2]} + s[4] + m);
}

OggVorbisReader::OggVorbisReader() : file_(std::make_unique<OggVorbis_File>()) {}

OggVorbisReader::~OggVorbisReader() {
    Close();
}

void OggVorbisReader::Close() {
    if (open_)
        ov_clear(file_.get());
    open_ = false;
    comments_.clear();
    vendor_.clear();
    version_ = -1;
    Reset();
}

int OggVorbisReader::Open(const std::string& path, int /*preferredRate*/) {
    Close();
    if (ov_fopen(path.c_str(), file_.get()) < 0)
        return 0;
    open_ = true;

    if (const vorbis_comment* vc = ov_comment(file_.get(), -1)) {
        for (int i = 0; i < vc->comments; ++i) {
            if (!vc->user_comments[i] || vc->comment_lengths[i] < 0)
                continue;
            const size_t len = static_cast<size_t>(vc->comment_lengths[i]);
            if (len > kCommentLimit)
                continue;
            comments_.push_back(RepairUtf8(std::string(vc->user_comments[i], len)));
        }
        if (vc->vendor)
            vendor_ = RepairUtf8(vc->vendor);
    }
    const vorbis_info* vi = ov_info(file_.get(), -1);
    if (!vi || vi->channels < 1) {
        Close();
        return 0;
    }
    version_ = vi->version;
    sampleRate = static_cast<int32_t>(vi->rate);
    sourceChannels = vi->channels;
    channels = vi->channels <= 2 ? vi->channels : 2;
    bitsPerSample = 16;
    bytesPerSample = 2;
    // Some encoders leave the nominal rate unset (0 or negative).
    bitRate = vi->bitrate_nominal > 0 ? static_cast<int32_t>(vi->bitrate_nominal / 1000) : 0;
    const ogg_int64_t total = ov_pcm_total(file_.get(), -1);
    length = total > 0 ? total : 0;
    const double seconds = ov_time_total(file_.get(), -1);
    duration = seconds > 0 ? static_cast<int32_t>(seconds) : 0;
    return 1;
}

int64_t OggVorbisReader::GetPosition() {
    if (!open_)
        return 0;
    const ogg_int64_t p = ov_pcm_tell(file_.get());
    return p > 0 ? p : 0;
}

int OggVorbisReader::Read(int16_t* left, int16_t* right) {
    if (!open_)
        return 0;
    constexpr int bigEndian = std::endian::native == std::endian::big ? 1 : 0;
    // One channel fills a whole block; more share the 4096-byte buffer.
    const int request = channels == 1 ? kBlockFrames * 2 : static_cast<int>(sizeof buffer_);
    long got = 0;
    int section = 0;
    for (int failures = 0;;) {
        got = ov_read(file_.get(), reinterpret_cast<char*>(buffer_), request, bigEndian, 2, 1,
                      &section);
        if (got >= 0)
            break;
        if (++failures >= kMaxReadFailures)
            return 0;
    }
    if (got == 0)
        return 0;

    // A chained stream may change its channel count from one link to the next.
    const vorbis_info* vi = ov_info(file_.get(), section);
    const int linkChannels = vi && vi->channels > 0 ? vi->channels : sourceChannels;
    const int frames = static_cast<int>(got / 2 / linkChannels);
    const int16_t* s = buffer_;
    for (int i = 0; i < frames; ++i, s += linkChannels) {
        if (channels == 1) {
            left[i] = s[0];
        } else if (linkChannels == 1) {
            left[i] = right[i] = s[0];
        } else if (linkChannels == 2) {
            left[i] = s[0];
            right[i] = s[1];
        } else if (linkChannels == 6) {
            MixVorbisSixChannels(s, left[i], right[i]);
        } else {
            DownmixFrame(linkChannels, s, left[i], right[i]);
        }
    }
    return frames;
}

int OggVorbisReader::ReadTags(TagSet& tags) {
    const std::pair<const char*, std::string*> fields[] = {
        {"TITLE=", &tags.title},        {"ARTIST=", &tags.artist},
        {"ALBUM=", &tags.album},        {"DATE=", &tags.year},
        {"GENRE=", &tags.genre},        {"COMMENT=", &tags.comment},
        {"TRACKNUMBER=", &tags.track},  {"COMPOSER=", &tags.composer},
        {"COPYRIGHT=", &tags.copyright}};
    for (const auto& [prefix, out] : fields) {
        out->clear();
        for (const std::string& c : comments_)
            if (StartsWithNoCase(c, prefix))
                *out = c.substr(std::strlen(prefix));
    }
    return 1;
}

}  // namespace kestrune
