#include "readers/tag_file_reader.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "audio/utf8_text.h"
#include "common/ffmpeg_handles.h"
#include "readers/source_type.h"

extern "C" {
#include <libavutil/dict.h>
}

namespace kestrune {

namespace fs = std::filesystem;

namespace {

// What the pictures of one file may add up to; a file that holds more keeps its first ones.
constexpr size_t kMostPictureBytes = size_t{64} << 20;

std::string Text(const TagLib::String& s) {
    return RepairUtf8(s.to8Bit(true));
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Fields that say how the source was encoded (the encoder, its delay and padding, its own
// loudness analysis of the stream): they would be wrong in any output.
bool IsEncodingField(const std::string& key) {
    static const char* const kKeys[] = {"ENCODING", "ENCODER", "ENCODEDBY", "ENCODER_OPTIONS",
                                        "ENCODERSETTINGS"};
    for (const char* k : kKeys)
        if (key == k)
            return true;
    for (const char* part : {"ITUNSMPB", "ITUNNORM", "ITUNPGAP"})
        if (key.find(part) != std::string::npos)
            return true;
    return false;
}

// "29/35" (or "29" with the total elsewhere): the number and, when given, the total.
void TakeNumber(const std::string& text, int& number, int& total) {
    const int n = TrackTextToInt(text);
    if (n > 0)
        number = n;
    const size_t slash = text.find('/');
    if (slash != std::string::npos) {
        const int t = TrackTextToInt(text.substr(slash + 1));
        if (t > 0)
            total = t;
    }
}

// One named field with its values; the numbers go to their own places.
void TakeField(TagSet& tags, const std::string& key, std::vector<std::string> values) {
    std::erase_if(values, [](const std::string& v) { return v.empty(); });
    if (values.empty() || key.empty() || IsEncodingField(key))
        return;
    int ignored = 0;
    if (key == "TRACKNUMBER") {
        TakeNumber(values.front(), ignored, tags.trackTotal);
        tags.fields[key] = {std::to_string(TrackTextToInt(values.front()))};
    } else if (key == "TRACKTOTAL" || key == "TOTALTRACKS" || key == "TOTAL_PARTS") {
        TakeNumber(values.front(), tags.trackTotal, ignored);
    } else if (key == "DISCNUMBER") {
        TakeNumber(values.front(), tags.disc, tags.discTotal);
    } else if (key == "DISCTOTAL" || key == "TOTALDISCS") {
        TakeNumber(values.front(), tags.discTotal, ignored);
    } else {
        auto& kept = tags.fields[key];
        kept.insert(kept.end(), std::make_move_iterator(values.begin()),
                    std::make_move_iterator(values.end()));
    }
}

void TakeProperties(const TagLib::PropertyMap& map, TagSet& tags) {
    for (const auto& [key, values] : map) {
        std::vector<std::string> texts;
        for (const TagLib::String& v : values)
            texts.push_back(Text(v));
        TakeField(tags, Upper(Text(key)), std::move(texts));
    }
}

std::string SniffedMime(const uint8_t* d, size_t n) {
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF)
        return "image/jpeg";
    if (n >= 8 && d[0] == 0x89 && d[1] == 'P' && d[2] == 'N' && d[3] == 'G')
        return "image/png";
    if (n >= 4 && d[0] == 'G' && d[1] == 'I' && d[2] == 'F' && d[3] == '8')
        return "image/gif";
    if (n >= 2 && d[0] == 'B' && d[1] == 'M')
        return "image/bmp";
    if (n >= 12 && std::equal(d, d + 4, "RIFF") && std::equal(d + 8, d + 12, "WEBP"))
        return "image/webp";
    return {};
}

void TakePicture(TagSet& tags, int type, const std::string& mime, const std::string& description,
                 const uint8_t* data, size_t size) {
    size_t held = 0;
    for (const TagPicture& p : tags.pictures)
        held += p.data.size();
    // A picture that is a link rather than an image ("-->") has nothing to carry.
    if (size == 0 || size > kLargestPicture || held + size > kMostPictureBytes || mime == "-->")
        return;
    TagPicture p;
    p.type = type >= 0 && type <= 20 ? type : 0;
    p.mimeType = mime.find('/') != std::string::npos ? mime : SniffedMime(data, size);
    p.description = description;
    p.data.assign(data, data + size);
    tags.pictures.push_back(std::move(p));
}

void TakePicture(TagSet& tags, int type, const TagLib::String& mime,
                 const TagLib::String& description, const TagLib::ByteVector& data) {
    TakePicture(tags, type, Text(mime), Text(description),
                reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

void TakeId3v2Pictures(TagLib::ID3v2::Tag* tag, TagSet& tags) {
    if (!tag)
        return;
    for (TagLib::ID3v2::Frame* frame : tag->frameList("APIC"))
        if (auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame))
            TakePicture(tags, apic->type(), apic->mimeType(), apic->description(), apic->picture());
}

// APE tags keep a picture as a binary item "Cover Art (Front)": its description, a zero, the
// image.
void TakeApePictures(TagLib::APE::Tag* tag, TagSet& tags) {
    if (!tag)
        return;
    for (const auto& [key, item] : tag->itemListMap()) {
        const std::string name = Upper(Text(key));
        if (name.rfind("COVER ART (", 0) != 0 || item.type() != TagLib::APE::Item::Binary)
            continue;
        const TagLib::ByteVector value = item.binaryData();
        const int zero = value.find('\0');
        if (zero < 0)
            continue;
        const int type = name == "COVER ART (FRONT)"  ? kFrontCover
                         : name == "COVER ART (BACK)" ? 4
                                                      : 0;
        const auto* image = reinterpret_cast<const uint8_t*>(value.data()) + zero + 1;
        TakePicture(tags, type, std::string(),
                    RepairUtf8(std::string(value.data(), static_cast<size_t>(zero))), image,
                    value.size() - static_cast<size_t>(zero) - 1);
    }
}

void TakeXiphPictures(TagLib::Ogg::XiphComment* comment, TagSet& tags) {
    if (!comment)
        return;
    for (TagLib::FLAC::Picture* p : comment->pictureList())
        TakePicture(tags, p->type(), p->mimeType(), p->description(), p->data());
}

// The iTunes list names few fields: TagLib's property map leaves the other freeform items out
// (they are among its unsupported data).
void TakeMp4Freeform(TagLib::MP4::Tag* tag, const TagLib::StringList& leftOut, TagSet& tags) {
    if (!tag)
        return;
    const TagLib::String prefix = "----:com.apple.iTunes:";
    for (const TagLib::String& key : leftOut) {
        if (!key.startsWith(prefix) || !tag->contains(key))
            continue;
        std::vector<std::string> values;
        for (const TagLib::String& v : tag->item(key).toStringList())
            values.push_back(Text(v));
        TakeField(tags, Upper(Text(key.substr(prefix.size()))), std::move(values));
    }
}

void TakeMp4Pictures(TagLib::MP4::Tag* tag, TagSet& tags) {
    if (!tag || !tag->contains("covr"))
        return;
    bool first = true;
    for (const TagLib::MP4::CoverArt& art : tag->item("covr").toCoverArtList()) {
        std::string mime;
        switch (art.format()) {
            case TagLib::MP4::CoverArt::JPEG:
                mime = "image/jpeg";
                break;
            case TagLib::MP4::CoverArt::PNG:
                mime = "image/png";
                break;
            case TagLib::MP4::CoverArt::BMP:
                mime = "image/bmp";
                break;
            case TagLib::MP4::CoverArt::GIF:
                mime = "image/gif";
                break;
            default:
                break;
        }
        const TagLib::ByteVector data = art.data();
        // The atom says nothing of what a picture shows: the first is the cover.
        TakePicture(tags, first ? kFrontCover : 0, mime, std::string(),
                    reinterpret_cast<const uint8_t*>(data.data()), data.size());
        first = false;
    }
}

void TakeAsfPictures(TagLib::ASF::Tag* tag, TagSet& tags) {
    if (!tag || !tag->contains("WM/Picture"))
        return;
    for (const TagLib::ASF::Attribute& a : tag->attribute("WM/Picture")) {
        const TagLib::ASF::Picture p = a.toPicture();
        if (p.isValid())
            TakePicture(tags, p.type(), p.mimeType(), p.description(), p.picture());
    }
}

// What the property map leaves out: the pictures, and the freeform fields of MPEG-4 files.
void TakeTheRest(TagLib::File* file, const TagLib::PropertyMap& props, TagSet& tags) {
    using namespace TagLib;
    if (auto* f = dynamic_cast<MPEG::File*>(file)) {
        TakeId3v2Pictures(f->hasID3v2Tag() ? f->ID3v2Tag() : nullptr, tags);
        if (tags.pictures.empty())
            TakeApePictures(f->hasAPETag() ? f->APETag() : nullptr, tags);
    } else if (auto* flac = dynamic_cast<FLAC::File*>(file)) {
        for (FLAC::Picture* p : flac->pictureList())
            TakePicture(tags, p->type(), p->mimeType(), p->description(), p->data());
        TakeXiphPictures(flac->hasXiphComment() ? flac->xiphComment() : nullptr, tags);
    } else if (auto* mp4 = dynamic_cast<MP4::File*>(file)) {
        TakeMp4Freeform(mp4->tag(), props.unsupportedData(), tags);
        TakeMp4Pictures(mp4->tag(), tags);
    } else if (auto* asf = dynamic_cast<ASF::File*>(file)) {
        TakeAsfPictures(asf->tag(), tags);
    } else if (auto* aiff = dynamic_cast<RIFF::AIFF::File*>(file)) {
        TakeId3v2Pictures(aiff->hasID3v2Tag() ? aiff->tag() : nullptr, tags);
    } else if (auto* wav = dynamic_cast<RIFF::WAV::File*>(file)) {
        TakeId3v2Pictures(wav->hasID3v2Tag() ? wav->ID3v2Tag() : nullptr, tags);
    } else if (auto* ape = dynamic_cast<APE::File*>(file)) {
        TakeApePictures(ape->hasAPETag() ? ape->APETag() : nullptr, tags);
    } else if (auto* wv = dynamic_cast<WavPack::File*>(file)) {
        TakeApePictures(wv->hasAPETag() ? wv->APETag() : nullptr, tags);
    } else if (auto* mpc = dynamic_cast<MPC::File*>(file)) {
        TakeApePictures(mpc->hasAPETag() ? mpc->APETag() : nullptr, tags);
    } else if (auto* tta = dynamic_cast<TrueAudio::File*>(file)) {
        TakeId3v2Pictures(tta->hasID3v2Tag() ? tta->ID3v2Tag() : nullptr, tags);
    } else {
        // Ogg Vorbis, Opus, Speex and FLAC: the comment of any Ogg stream.
        TakeXiphPictures(dynamic_cast<Ogg::XiphComment*>(file->tag()), tags);
    }
}

// FFmpeg's names of its common keys, and those TagLib gives the same fields.
constexpr std::pair<const char*, const char*> kFFmpegNames[] = {{"album_artist", "ALBUMARTIST"},
                                                                {"track", "TRACKNUMBER"},
                                                                {"disc", "DISCNUMBER"},
                                                                {"year", "DATE"},
                                                                {"publisher", "LABEL"}};

// FFmpeg's keys that describe the container or the stream rather than the recording.
bool IsContainerKey(const std::string& key) {
    static const char* const kKeys[] = {
        "CREATION_TIME",     "HANDLER_NAME",    "VENDOR_ID", "MAJOR_BRAND",      "MINOR_VERSION",
        "COMPATIBLE_BRANDS", "DURATION",        "FILENAME",  "MIMETYPE",         "SERVICE_NAME",
        "SERVICE_PROVIDER",  "VARIANT_BITRATE", "BPS",       "NUMBER_OF_FRAMES", "NUMBER_OF_BYTES"};
    for (const char* k : kKeys)
        if (key == k)
            return true;
    return key.rfind("_STATISTICS", 0) == 0 || key.rfind("ID3V2_PRIV.", 0) == 0;
}

void TakeFFmpegDictionary(const AVDictionary* dict, TagSet& tags) {
    std::vector<std::pair<std::string, std::string>> entries;
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(dict, "", e, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        std::string key = e->key ? e->key : "";
        for (const auto& [ffmpeg, name] : kFFmpegNames)
            if (key == ffmpeg)
                key = name;
        key = Upper(RepairUtf8(key));
        if (!IsContainerKey(key) && e->value)
            entries.emplace_back(std::move(key), RepairUtf8(e->value));
    }
    for (auto& [key, value] : entries)
        TakeField(tags, key, {std::move(value)});
}

// Matroska names its cover attachments "cover.jpg" and the like; ID3 pictures that FFmpeg
// shows keep their kind in a comment ("Cover (front)").
int FFmpegPictureType(const AVDictionary* metadata) {
    const AVDictionaryEntry* comment = av_dict_get(metadata, "comment", nullptr, 0);
    const AVDictionaryEntry* file = av_dict_get(metadata, "filename", nullptr, 0);
    const std::string kind = Upper(comment && comment->value ? comment->value : "");
    const std::string name = Upper(file && file->value ? file->value : "");
    if (kind == "COVER (FRONT)" || name.rfind("COVER", 0) == 0 || name.rfind("FRONT", 0) == 0)
        return kFrontCover;
    if (kind == "COVER (BACK)" || name.rfind("BACK", 0) == 0)
        return 4;
    return 0;
}

bool ReadWithFFmpeg(const std::string& path, TagSet& tags) {
    AVFormatContext* raw = nullptr;
    // "file:" keeps a name with a colon from being taken for another protocol.
    if (avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, nullptr) < 0)
        return false;
    const ffmpeg::InputFormatPtr context(raw);
    const AVDictionary* metadata = context->metadata;
    for (unsigned i = 0; !av_dict_count(metadata) && i < context->nb_streams; ++i)
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            metadata = context->streams[i]->metadata;
    TakeFFmpegDictionary(metadata, tags);
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* st = context->streams[i];
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0)
            continue;
        const AVDictionaryEntry* mime = av_dict_get(st->metadata, "mimetype", nullptr, 0);
        const AVDictionaryEntry* title = av_dict_get(st->metadata, "title", nullptr, 0);
        TakePicture(tags, FFmpegPictureType(st->metadata),
                    mime && mime->value ? RepairUtf8(mime->value) : std::string(),
                    title && title->value ? RepairUtf8(title->value) : std::string(),
                    st->attached_pic.data, static_cast<size_t>(st->attached_pic.size));
    }
    return true;
}

// --- Windows Media headers that TagLib would take too long over ------------------------------

uint64_t Le(const std::vector<uint8_t>& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | b[at + static_cast<size_t>(i)];
    return v;
}

bool IsGuid(const std::vector<uint8_t>& b, size_t at, const uint8_t (&guid)[16]) {
    return std::memcmp(b.data() + at, guid, 16) == 0;
}

// The objects from begin to end: each inside its parent, and each list of attributes no longer
// than its object has room for. (TagLib reads every attribute a count claims, however little
// the file holds: 65535 of them take it a fifth of a second each time.)
bool PlausibleAsfObjects(const std::vector<uint8_t>& b, size_t begin, size_t end, int depth) {
    static const uint8_t kExtendedContent[16] = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                                 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
    static const uint8_t kMetadata[16] = {0xEA, 0xCB, 0xF8, 0xC5, 0xAF, 0x5B, 0x77, 0x48,
                                          0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA};
    static const uint8_t kMetadataLibrary[16] = {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49,
                                                 0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54};
    static const uint8_t kHeaderExtension[16] = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                                 0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    for (size_t pos = begin; pos + 24 <= end;) {
        const uint64_t size = Le(b, pos + 16, 8);
        if (size < 24 || size > end - pos)
            return false;
        const size_t data = pos + 24, left = static_cast<size_t>(size) - 24;
        // Each attribute takes at least its name's, type's and value's lengths.
        const size_t least = IsGuid(b, pos, kExtendedContent)                                ? 6
                             : IsGuid(b, pos, kMetadata) || IsGuid(b, pos, kMetadataLibrary) ? 12
                                                                                             : 0;
        if (least && (left < 2 || Le(b, data, 2) * least > left - 2))
            return false;
        if (IsGuid(b, pos, kHeaderExtension)) {
            if (left < 22 || depth > 0 || Le(b, data + 18, 4) > left - 22 ||
                !PlausibleAsfObjects(b, data + 22, data + 22 + Le(b, data + 18, 4), depth + 1))
                return false;
        }
        pos += static_cast<size_t>(size);
    }
    return true;
}

bool PlausibleAsf(const std::string& path) {
    static const uint8_t kHeader[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                        0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    const std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    std::vector<uint8_t> b(30);
    if (!f || std::fread(b.data(), 1, b.size(), f.get()) != b.size() || !IsGuid(b, 0, kHeader))
        return true;  // not Windows Media: TagLib finds out
    std::error_code ec;
    const uint64_t size = Le(b, 16, 8), fileSize = fs::file_size(path, ec);
    if (ec || size < 30 || size > fileSize || size > (uint64_t{64} << 20))
        return false;
    b.resize(static_cast<size_t>(size));
    if (std::fread(b.data() + 30, 1, b.size() - 30, f.get()) != b.size() - 30)
        return false;
    return PlausibleAsfObjects(b, 30, b.size(), 0);
}

// A file opened by TagLib, of the kind its extension names.
struct TagLibFile {
    std::unique_ptr<TagLib::File> own;
    std::unique_ptr<TagLib::FileRef> ref;
    TagLib::File* get() const { return own ? own.get() : ref ? ref->file() : nullptr; }
};

// TagLib goes by a file's extension, and knows a few kinds under fewer names than they have.
// For an extension it does not know it looks for the marks of its kinds anywhere near the start
// (and takes a Matroska file holding FLAC for FLAC): FFmpeg knows better there.
TagLibFile OpenWithTagLib(const std::string& path) {
    static const TagLib::StringList known = TagLib::FileRef::defaultFileExtensions();
    const std::string ext = ExtensionOf(path);
    TagLibFile f;
    if (ext == ".mp2" || ext == ".mp1" || ext == ".mpa")
        f.own = std::make_unique<TagLib::MPEG::File>(path.c_str(), false);
    else if (ext == ".mov" || ext == ".3gp")
        f.own = std::make_unique<TagLib::MP4::File>(path.c_str(), false);
    else if (ext == ".wmv" || ext == ".wma" || ext == ".asf")
        f.own =
            PlausibleAsf(path) ? std::make_unique<TagLib::ASF::File>(path.c_str(), false) : nullptr;
    else if (ext.size() > 1 && known.contains(TagLib::String(ext.substr(1))))
        f.ref = std::make_unique<TagLib::FileRef>(path.c_str(), false);
    return f;
}

}  // namespace

bool ReadFileTags(const std::string& path, TagSet& tags) {
    // Whatever happens in the libraries, the conversion goes on with what was read.
    try {
        const TagLibFile opened = OpenWithTagLib(path);
        TagLib::File* file = opened.get();
        if (file && file->isValid()) {
            const TagLib::PropertyMap props = file->properties();
            TakeProperties(props, tags);
            TakeTheRest(file, props, tags);
        } else {
            ReadWithFFmpeg(path, tags);
        }
    } catch (const std::exception&) {
    }
    return tags.HasMore();
}

bool ReadFolderCover(const std::string& sourcePath, TagPicture& picture) {
    static const char* const kNames[] = {"cover.jpg",  "cover.png", "folder.jpg",
                                         "folder.png", "front.jpg", "front.png"};
    const fs::path folder = fs::path(sourcePath).parent_path();
    std::error_code ec;
    fs::path best;
    size_t bestRank = std::size(kNames);
    // Stepped with an error code: a folder that cannot be read gives what was read of it, not
    // an exception that would end the conversion.
    fs::directory_iterator it(folder.empty() ? "." : folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = LowerUtf8(it->path().filename().string());
        std::error_code typeError;
        for (size_t rank = 0; rank < bestRank; ++rank)
            if (name == kNames[rank] && it->is_regular_file(typeError)) {
                best = it->path();
                bestRank = rank;
            }
    }
    if (best.empty())
        return false;
    const auto size = fs::file_size(best, ec);
    if (ec || size == 0 || size > kLargestPicture)
        return false;
    std::vector<uint8_t> data(static_cast<size_t>(size));
    const std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(best.c_str(), "rb"), &std::fclose);
    if (!f || std::fread(data.data(), 1, data.size(), f.get()) != data.size())
        return false;
    picture = TagPicture{};
    picture.type = kFrontCover;
    picture.mimeType = bestRank % 2 == 0 ? "image/jpeg" : "image/png";
    picture.data = std::move(data);
    return true;
}

}  // namespace kestrune
