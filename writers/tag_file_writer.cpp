#include "writers/tag_file_writer.h"

#include <taglib/aifffile.h>
#include <taglib/apeitem.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4coverart.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/speexfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

extern "C" {
#include <libavutil/base64.h>
}

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <set>
#include <string_view>

#include "writers/matroska_fields.h"

namespace kestrune {

namespace {

using TagLib::String;
using TagLib::StringList;

// Where a finished file keeps its tags.
enum class Form { kNone, kId3v23, kId3v24, kAiff, kWav, kFlac, kMp4, kAsf, kOgg, kApe };

// What the writer did with the nine texts while encoding.
enum class Nine {
    kWritten,   // in the tag that TagLib reads: they stay, a fuller field aside
    kWithMore,  // elsewhere or (AIFF, WAV) only with more to add: they go in with the rest
    kDropped,   // nowhere, although the format takes tags: they go in here
};

struct FileForm {
    Form form = Form::kNone;
    Nine nine = Nine::kWritten;
};

FileForm FormOf(const OutputFormatEntry& format) {
    if (format.containerShortName && IsOggContainer(format.containerShortName))
        return {Form::kOgg, Nine::kWritten};
    switch (format.formatId) {
        case FormatId::kMp3:
            return {Form::kId3v23, Nine::kWritten};
        // Its muxer writes no tag at all, so no version to keep to.
        case FormatId::kMp2:
            return {Form::kId3v24, Nine::kDropped};
        case FormatId::kAiff:
            return {Form::kAiff, Nine::kWithMore};
        case FormatId::kWav:
            return {Form::kWav, Nine::kWithMore};
        case FormatId::kFlac:
            return {Form::kFlac, Nine::kWritten};
        case FormatId::kWavPack:
            return {Form::kApe, Nine::kWritten};
        case FormatId::kM4a:
        case FormatId::kM4b:
        case FormatId::kM4r:
        case FormatId::kMp4:
        case FormatId::kAacDevice:
        case FormatId::kAlac:
            return {Form::kMp4, Nine::kWritten};
        // Their muxers keep the nine in QuickTime's and 3GPP's own places, which the iTunes
        // list of the rest does not replace.
        case FormatId::kMov:
        case FormatId::k3gp:
        case FormatId::k3g2:
            return {Form::kMp4, Nine::kWithMore};
        case FormatId::kWma:
        case FormatId::kWmv:
        case FormatId::kAsf:
            return {Form::kAsf, Nine::kWritten};
        default:
            return {};
    }
}

String Utf8(const std::string& s) {
    return String(s, String::UTF8);
}

StringList Values(const std::vector<std::string>& values) {
    StringList list;
    for (const std::string& v : values)
        list.append(Utf8(v));
    return list;
}

// Several values as one text, where a form of tag holds one a field: the way the program has
// always shown them, and identifiers as tag editors join them there.
std::string Joined(const std::string& key, const std::vector<std::string>& values) {
    const char* between = key.rfind("MUSICBRAINZ_", 0) == 0 ? "/" : " / ";
    std::string out;
    for (const std::string& v : values)
        out += (out.empty() ? "" : between) + v;
    return out;
}

// The fields as TagLib's property map names them, for one form of file: the nine (when they go
// in here), the numbers, and every other field.
TagLib::PropertyMap WantedProperties(const TagSet& tags, Form form, bool withNine) {
    TagLib::PropertyMap map;
    if (withNine) {
        for (size_t i = 0; i < std::size(kNineKeys); ++i) {
            const std::string& text = NineText(tags, i);
            // The track goes in below, as a number.
            if (!text.empty() && std::string_view(kNineKeys[i]) != "TRACKNUMBER")
                map.replace(kNineKeys[i], StringList(Utf8(text)));
        }
    }
    const bool xiph = form == Form::kFlac;
    const int track = tags.TrackNumber();
    // Windows Media keeps no track total; its track number is the writer's.
    if (track > 0 && (withNine || (tags.trackTotal > 0 && form != Form::kAsf))) {
        if (xiph || tags.trackTotal <= 0) {
            map.replace("TRACKNUMBER", StringList(String::number(track)));
            if (xiph && tags.trackTotal > 0)
                map.replace("TRACKTOTAL", StringList(String::number(tags.trackTotal)));
        } else {
            map.replace("TRACKNUMBER",
                        StringList(String::number(track) + "/" + String::number(tags.trackTotal)));
        }
    }
    if (tags.disc > 0) {
        if (xiph || tags.discTotal <= 0) {
            map.replace("DISCNUMBER", StringList(String::number(tags.disc)));
            if (xiph && tags.discTotal > 0)
                map.replace("DISCTOTAL", StringList(String::number(tags.discTotal)));
        } else {
            map.replace("DISCNUMBER", StringList(String::number(tags.disc) + "/" +
                                                 String::number(tags.discTotal)));
        }
    } else if (xiph && tags.discTotal > 0) {
        map.replace("DISCTOTAL", StringList(String::number(tags.discTotal)));
    }
    // ID3v2.3 has no way to keep several values apart; TagLib's Windows Media tags join some
    // with blanks and turn the others round.
    const bool oneValue = form == Form::kId3v23 || form == Form::kAsf;
    for (const auto& [key, values] : tags.fields) {
        if (values.empty() || key == "TRACKNUMBER")
            continue;
        if (oneValue && values.size() > 1)
            map.replace(Utf8(key), StringList(Utf8(Joined(key, values))));
        else
            map.replace(Utf8(key), Values(values));
    }
    return map;
}

// The wanted properties over those the file has; what its tag cannot hold comes back.
template <class Tag>
TagLib::PropertyMap Merge(Tag* tag, const TagLib::PropertyMap& wanted) {
    TagLib::PropertyMap props = tag->properties();
    for (const auto& [key, values] : wanted)
        props.replace(key, values);
    return tag->setProperties(props);
}

TagLib::ByteVector Bytes(const std::vector<uint8_t>& data) {
    return TagLib::ByteVector(reinterpret_cast<const char*>(data.data()),
                              static_cast<unsigned>(data.size()));
}

// Fields whose frames ID3v2.3 lacks (TagLib leaves them out when it writes 2.3): the mood,
// the release and tagging dates, the produced notice, and the people of TIPL and TMCL.
bool OnlyInId3v24(const String& key) {
    static const char* const kKeys[] = {"MOOD",           "RELEASEDATE", "TAGGINGDATE",
                                        "PRODUCEDNOTICE", "ARRANGER",    "ENGINEER",
                                        "PRODUCER",       "DJMIXER",     "MIXER"};
    for (const char* k : kKeys)
        if (key == k)
            return true;
    return key.startsWith("PERFORMER:");
}

void PutId3v2(TagLib::ID3v2::Tag* tag, const TagSet& tags, const TagLib::PropertyMap& wanted,
              bool v23) {
    if (!v23) {
        Merge(tag, wanted);
    } else {
        // What 2.3 has no frame for goes in as a text of the user's, named as the field, which
        // reads back as the same field. (After the others: setting properties would make
        // people's texts into a TIPL frame again.)
        TagLib::PropertyMap framed, userTexts;
        for (const auto& [key, values] : wanted)
            (OnlyInId3v24(key) ? userTexts : framed).replace(key, values);
        Merge(tag, framed);
        for (const auto& [key, values] : userTexts) {
            using TagLib::ID3v2::UserTextIdentificationFrame;
            if (auto* old = UserTextIdentificationFrame::find(tag, key))
                tag->removeFrame(old);
            auto frame = std::make_unique<UserTextIdentificationFrame>(key, values);
            tag->addFrame(frame.release());  // the tag owns it from here
        }
    }
    if (tags.pictures.empty())
        return;
    tag->removeFrames("APIC");
    for (const TagPicture& p : tags.pictures) {
        auto frame = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
        frame->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(p.type));
        frame->setMimeType(Utf8(p.mimeType));
        frame->setDescription(Utf8(p.description));
        frame->setPicture(Bytes(p.data));
        tag->addFrame(frame.release());  // the tag owns it from here
    }
}

void PutFlacPictures(TagLib::FLAC::File& file, const TagSet& tags) {
    if (tags.pictures.empty())
        return;
    file.removePictures();
    for (const TagPicture& p : tags.pictures) {
        auto picture = std::make_unique<TagLib::FLAC::Picture>();
        picture->setType(static_cast<TagLib::FLAC::Picture::Type>(p.type));
        picture->setMimeType(Utf8(p.mimeType));
        picture->setDescription(Utf8(p.description));
        picture->setData(Bytes(p.data));
        file.addPicture(picture.release());  // the file owns it from here
    }
}

// APE tags keep a picture as a binary item named by its kind ("Cover Art (Front)"): a file
// name, a zero, the image. Readers tell the image's kind by the name's extension, so a
// description without one is given a name that has it. One item a name: the first picture of
// each kind.
void PutApePictures(TagLib::APE::Tag* tag, const TagSet& tags) {
    if (tags.pictures.empty())
        return;
    std::set<std::string> named;
    for (const TagPicture& p : tags.pictures) {
        const char* name = p.type == kFrontCover ? "Cover Art (Front)"
                           : p.type == 4         ? "Cover Art (Back)"
                                                 : "Cover Art (Other)";
        if (!named.insert(name).second)
            continue;
        std::string file = p.description;
        const std::string dot = file.substr(std::min(file.rfind('.'), file.size()));
        if (dot != ".jpg" && dot != ".jpeg" && dot != ".png" && dot != ".gif" && dot != ".bmp")
            file = p.mimeType == "image/png"   ? "cover.png"
                   : p.mimeType == "image/gif" ? "cover.gif"
                   : p.mimeType == "image/bmp" ? "cover.bmp"
                                               : "cover.jpg";
        TagLib::ByteVector value(file.data(), static_cast<unsigned>(file.size()));
        value.append('\0');
        value.append(Bytes(p.data));
        tag->setItem(name, TagLib::APE::Item(name, value, true));
    }
}

// The iTunes list names few fields: the others go into freeform items, as tag editors write
// them.
void PutMp4(TagLib::MP4::Tag* tag, const TagSet& tags, const TagLib::PropertyMap& wanted) {
    const TagLib::PropertyMap left = Merge(tag, wanted);
    for (const auto& [key, values] : left)
        if (!key.isEmpty() && !values.isEmpty())
            tag->setItem("----:com.apple.iTunes:" + key, values);
    TagLib::MP4::CoverArtList covers;
    for (const TagPicture& p : tags.pictures) {
        TagLib::MP4::CoverArt::Format format;
        if (p.mimeType == "image/jpeg" || p.mimeType == "image/jpg")
            format = TagLib::MP4::CoverArt::JPEG;
        else if (p.mimeType == "image/png")
            format = TagLib::MP4::CoverArt::PNG;
        else if (p.mimeType == "image/bmp")
            format = TagLib::MP4::CoverArt::BMP;
        else if (p.mimeType == "image/gif")
            format = TagLib::MP4::CoverArt::GIF;
        else
            continue;  // the atom holds no other kind of image
        const TagLib::MP4::CoverArt art(format, Bytes(p.data));
        // The atom says nothing of what a picture shows, and players show the first.
        if (p.type == kFrontCover)
            covers.prepend(art);
        else
            covers.append(art);
    }
    if (!covers.isEmpty())
        tag->setItem("covr", covers);
}

void PutAsf(TagLib::ASF::Tag* tag, const TagSet& tags, const TagLib::PropertyMap& wanted) {
    Merge(tag, wanted);
    if (tags.pictures.empty())
        return;
    tag->removeItem("WM/Picture");
    for (const TagPicture& p : tags.pictures) {
        TagLib::ASF::Picture picture;
        picture.setType(static_cast<TagLib::ASF::Picture::Type>(p.type));
        picture.setMimeType(Utf8(p.mimeType));
        picture.setDescription(Utf8(p.description));
        picture.setPicture(Bytes(p.data));
        tag->addAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
    }
}

// --- Ogg: the stand-in names of further values ---------------------------------------------

constexpr int kStandIns = 31;  // control characters 1 to 31

// The names under which the values beyond the nine go into an Ogg comment: each field's values
// in turn, then the pictures. A value past the stand-ins is joined to its field's last one (a
// picture past them is left out: name empty).
struct OggNames {
    std::vector<std::pair<std::string, std::string>> fields;  // name and value
    std::vector<std::string> pictures;
    std::string standInFor[kStandIns + 1];
    bool any = false;  // some name is a stand-in
};

OggNames PlanOggNames(const TagSet& tags) {
    OggNames names;
    int next = 1;
    auto name = [&](const std::string& key, bool first) -> std::string {
        if (first)
            return key;
        if (next > kStandIns)
            return {};
        names.standInFor[next] = key;
        names.any = true;
        return key.substr(0, key.size() - 1) + static_cast<char>(next++);
    };
    // A comment's name is printable ASCII without "=".
    auto nameable = [](const std::string& key) {
        return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
            return c >= 0x20 && c <= 0x7D && c != '=';
        });
    };
    for (const auto& [key, values] : tags.fields) {
        if (!nameable(key) || key == "TRACKNUMBER" || values.empty())
            continue;
        for (size_t i = 0; i < values.size(); ++i) {
            const std::string n = name(key, i == 0);
            if (!n.empty())
                names.fields.emplace_back(n, values[i]);
            else
                names.fields.back().second += " / " + values[i];
        }
    }
    for (size_t i = 0; i < tags.pictures.size(); ++i)
        names.pictures.push_back(name("METADATA_BLOCK_PICTURE", i == 0));
    return names;
}

void PutBe32(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(v >> shift);
}

// A picture as Vorbis comments carry it: a FLAC picture block in base64 (empty when it cannot
// be made).
std::string PictureBlockBase64(const TagPicture& p) {
    std::string block;
    PutBe32(block, static_cast<uint32_t>(p.type));
    PutBe32(block, static_cast<uint32_t>(p.mimeType.size()));
    block += p.mimeType;
    PutBe32(block, static_cast<uint32_t>(p.description.size()));
    block += p.description;
    for (int i = 0; i < 4; ++i)
        PutBe32(block, 0);  // width, height, depth and colours: unknown
    PutBe32(block, static_cast<uint32_t>(p.data.size()));
    block.append(reinterpret_cast<const char*>(p.data.data()), p.data.size());
    if (block.size() > (static_cast<size_t>(INT_MAX) / 4) * 3 - 4)
        return {};
    std::string text(AV_BASE64_SIZE(block.size()), '\0');
    if (!av_base64_encode(text.data(), static_cast<int>(text.size()),
                          reinterpret_cast<const uint8_t*>(block.data()),
                          static_cast<int>(block.size())))
        return {};
    text.pop_back();  // its terminating zero
    return text;
}

uint32_t OggCrc(const uint8_t* data, size_t size) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int b = 0; b < 8; ++b)
                r = r & 0x80000000u ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    uint32_t crc = 0;
    for (size_t i = 0; i < size; ++i)
        crc = (crc << 8) ^ table[((crc >> 24) ^ data[i]) & 0xFF];
    return crc;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// Puts the names of the stand-in entries right in the comment packet (the stream's second) of
// the Ogg file at path: the same number of bytes, so every page stays where it is and only the
// pages that hold the names get their checksum anew. False when the file could not be written.
bool RestoreOggNames(const std::string& path, const TagSet& tags) {
    const OggNames names = PlanOggNames(tags);
    const std::string* standInFor = names.standInFor;
    const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r+b"), &std::fclose);
    if (!file)
        return false;
    // The pages up to the end of the second packet, each with where its body lies in the file
    // and in the packet.
    struct Page {
        long offset;
        std::vector<uint8_t> bytes;      // the whole page
        size_t bodyAt;                   // where its body starts in bytes
        size_t packetAt;                 // where the comment packet's bytes in it start, in bytes
        size_t packetFrom, packetCount;  // which bytes of the packet it holds
    };
    std::vector<Page> pages;
    std::vector<uint8_t> packet;
    int packetIndex = 0;
    bool done = false;
    long offset = 0;
    while (!done && pages.size() < 4096) {
        uint8_t header[27];
        if (std::fseek(file.get(), offset, SEEK_SET) != 0 ||
            std::fread(header, 1, sizeof header, file.get()) != sizeof header ||
            std::memcmp(header, "OggS", 4) != 0)
            return true;  // not what the muxer wrote: leave it
        uint8_t lacing[255];
        const size_t segments = header[26];
        if (std::fread(lacing, 1, segments, file.get()) != segments)
            return true;
        size_t body = 0;
        for (size_t i = 0; i < segments; ++i)
            body += lacing[i];
        Page page{offset, std::vector<uint8_t>(27 + segments + body), 27 + segments, 0, 0, 0};
        std::memcpy(page.bytes.data(), header, 27);
        std::memcpy(page.bytes.data() + 27, lacing, segments);
        if (std::fread(page.bytes.data() + page.bodyAt, 1, body, file.get()) != body)
            return true;
        size_t at = page.bodyAt;
        for (size_t i = 0; i < segments && !done; ++i) {
            if (packetIndex == 1) {
                if (page.packetCount == 0) {
                    page.packetAt = at;
                    page.packetFrom = packet.size();
                }
                packet.insert(packet.end(), page.bytes.begin() + static_cast<long>(at),
                              page.bytes.begin() + static_cast<long>(at + lacing[i]));
                page.packetCount += lacing[i];
            }
            at += lacing[i];
            if (lacing[i] < 255) {
                done = packetIndex == 1;
                ++packetIndex;
            }
        }
        offset += static_cast<long>(page.bytes.size());
        pages.push_back(std::move(page));
    }
    if (!done)
        return true;

    // The comment: after "\x03vorbis", "OpusTags" or a FLAC block header.
    size_t pos = 0;
    if (packet.size() >= 7 && packet[0] == 3 && std::memcmp(packet.data() + 1, "vorbis", 6) == 0)
        pos = 7;
    else if (packet.size() >= 8 && std::memcmp(packet.data(), "OpusTags", 8) == 0)
        pos = 8;
    else if (!packet.empty() && (packet[0] & 0x7F) == 4)
        pos = 4;
    else
        return true;
    if (pos + 4 > packet.size())
        return true;
    pos += 4 + size_t{Le32(packet, pos)};
    if (pos + 4 > packet.size())
        return true;
    uint32_t count = Le32(packet, pos);
    pos += 4;
    std::vector<size_t> changed;
    for (; count > 0 && pos + 4 <= packet.size(); --count) {
        const size_t length = Le32(packet, pos);
        pos += 4;
        if (length > packet.size() - pos)
            break;
        const auto* entry = packet.data() + pos;
        const auto* eq = static_cast<const uint8_t*>(std::memchr(entry, '=', length));
        if (eq && eq > entry) {
            const size_t keyLength = static_cast<size_t>(eq - entry);
            const uint8_t last = entry[keyLength - 1];
            if (last >= 1 && last <= kStandIns) {
                const std::string& name = standInFor[last];
                if (name.size() == keyLength &&
                    std::memcmp(name.data(), entry, keyLength - 1) == 0) {
                    packet[pos + keyLength - 1] = static_cast<uint8_t>(name.back());
                    changed.push_back(pos + keyLength - 1);
                }
            }
        }
        pos += length;
    }

    for (Page& page : pages) {
        bool touched = false;
        for (size_t c : changed)
            if (c >= page.packetFrom && c < page.packetFrom + page.packetCount) {
                page.bytes[page.packetAt + (c - page.packetFrom)] = packet[c];
                touched = true;
            }
        if (!touched)
            continue;
        std::memset(page.bytes.data() + 22, 0, 4);
        const uint32_t crc = OggCrc(page.bytes.data(), page.bytes.size());
        for (int i = 0; i < 4; ++i)
            page.bytes[22 + static_cast<size_t>(i)] = static_cast<uint8_t>(crc >> (8 * i));
        if (std::fseek(file.get(), page.offset, SEEK_SET) != 0 ||
            std::fwrite(page.bytes.data(), 1, page.bytes.size(), file.get()) != page.bytes.size())
            return false;
    }
    return std::fflush(file.get()) == 0;
}

// Fields set in an Ogg file's comment, whichever codec it carries.
template <class File>
bool PutXiphFields(File& file, const std::map<std::string, std::string>& fields) {
    for (const auto& [key, value] : fields)
        file.tag()->addField(Utf8(key), Utf8(value), true);
    return file.save();
}

bool PutOggFields(const std::string& path, const std::map<std::string, std::string>& fields) {
    if (TagLib::Ogg::Vorbis::File file(path.c_str(), false); file.isValid())
        return PutXiphFields(file, fields);
    if (TagLib::Ogg::Opus::File file(path.c_str(), false); file.isValid())
        return PutXiphFields(file, fields);
    if (TagLib::Ogg::FLAC::File file(path.c_str(), false); file.isValid())
        return PutXiphFields(file, fields);
    if (TagLib::Ogg::Speex::File file(path.c_str(), false); file.isValid())
        return PutXiphFields(file, fields);
    return true;
}

bool Write(const std::string& path, Form form, const TagSet& tags, bool withNine) {
    if (form == Form::kOgg)
        return RestoreOggNames(path, tags);
    const TagLib::PropertyMap wanted = WantedProperties(tags, form, withNine);
    switch (form) {
        case Form::kId3v23:
        case Form::kId3v24: {
            TagLib::MPEG::File file(path.c_str(), false);
            if (!file.isValid())
                return true;
            PutId3v2(file.ID3v2Tag(true), tags, wanted, form == Form::kId3v23);
            return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone,
                             form == Form::kId3v23 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4,
                             TagLib::File::DoNotDuplicate);
        }
        case Form::kAiff: {
            TagLib::RIFF::AIFF::File file(path.c_str(), false);
            if (!file.isValid())
                return true;
            PutId3v2(file.tag(), tags, wanted, false);
            return file.save(TagLib::ID3v2::v4);
        }
        case Form::kWav: {
            TagLib::RIFF::WAV::File file(path.c_str(), false);
            if (!file.isValid())
                return true;
            // The INFO list (its writer's, before the sound) stays as it is: changing its size
            // would move the whole file.
            PutId3v2(file.ID3v2Tag(), tags, wanted, false);
            return file.save(TagLib::RIFF::WAV::File::ID3v2, TagLib::File::StripNone,
                             TagLib::ID3v2::v4);
        }
        case Form::kFlac: {
            TagLib::FLAC::File file(path.c_str(), false);
            if (!file.isValid())
                return true;
            Merge(file.xiphComment(true), wanted);
            PutFlacPictures(file, tags);
            return file.save();
        }
        case Form::kMp4: {
            TagLib::MP4::File file(path.c_str(), false);
            if (!file.isValid())
                return true;
            PutMp4(file.tag(), tags, wanted);
            return file.save();
        }
        case Form::kAsf: {
            TagLib::ASF::File file(path.c_str(), false);
            if (!file.isValid())
                return true;
            PutAsf(file.tag(), tags, wanted);
            return file.save();
        }
        case Form::kApe: {
            TagLib::WavPack::File file(path.c_str(), false);
            if (!file.isValid())
                return true;
            Merge(file.APETag(true), wanted);
            PutApePictures(file.APETag(true), tags);
            return file.save();
        }
        case Form::kOgg:
        case Form::kNone:
            break;
    }
    return true;
}

}  // namespace

bool IsOggContainer(std::string_view container) {
    return container == "ogg" || container == "oga" || container == "opus" || container == "spx";
}

bool TagsGoIntoFinishedFile(const OutputFormatEntry& format, const TagSet& tags) {
    const FileForm f = FormOf(format);
    if (f.form == Form::kNone)
        return false;
    if (f.form == Form::kOgg)
        return PlanOggNames(tags).any;
    return tags.HasMore() || (f.nine == Nine::kDropped && !tags.Empty());
}

bool FinishedFileTakesTags(const OutputFormatEntry& format) {
    return FormOf(format).form != Form::kNone;
}

bool WriteTagsToFile(const std::string& path, const OutputFormatEntry& format, const TagSet& tags) {
    const FileForm f = FormOf(format);
    try {
        return Write(path, f.form, tags, f.nine != Nine::kWritten);
    } catch (const std::exception&) {
        return false;  // nothing tells how far the file was written
    }
}

bool FinishedFileTakesFields(const OutputFormatEntry& format) {
    return FinishedFileTakesTags(format) || format.formatId == FormatId::kMka;
}

bool WriteFieldsToFile(const std::string& path, const OutputFormatEntry& format,
                       const std::map<std::string, std::string>& fields) {
    try {
        switch (FormOf(format).form) {
            case Form::kNone:
                return format.formatId == FormatId::kMka ? SetMatroskaFields(path, fields) : true;
            case Form::kOgg:
                return PutOggFields(path, fields);
            case Form::kAsf: {
                // TagLib's property names know no ReplayGain here: attributes of the same names.
                TagLib::ASF::File file(path.c_str(), false);
                if (!file.isValid())
                    return true;
                for (const auto& [key, value] : fields)
                    file.tag()->setAttribute(Utf8(key), TagLib::ASF::Attribute(Utf8(value)));
                return file.save();
            }
            default: {
                TagSet tags;
                for (const auto& [key, value] : fields)
                    tags.fields[key] = {value};
                return Write(path, FormOf(format).form, tags, false);
            }
        }
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<std::pair<std::string, std::string>> OggCommentEntries(const TagSet& tags) {
    OggNames names = PlanOggNames(tags);
    std::vector<std::pair<std::string, std::string>> entries = std::move(names.fields);
    if (tags.TrackNumber() > 0 && tags.trackTotal > 0)
        entries.emplace_back("TRACKTOTAL", std::to_string(tags.trackTotal));
    if (tags.disc > 0)
        entries.emplace_back("DISCNUMBER", std::to_string(tags.disc));
    if (tags.discTotal > 0)
        entries.emplace_back("DISCTOTAL", std::to_string(tags.discTotal));
    for (size_t i = 0; i < tags.pictures.size(); ++i) {
        std::string block = PictureBlockBase64(tags.pictures[i]);
        if (!names.pictures[i].empty() && !block.empty())
            entries.emplace_back(names.pictures[i], std::move(block));
    }
    return entries;
}

size_t TagRoomFor(const TagSet& tags) {
    // An upper bound: a frame or block header each, and text as UTF-16 at worst.
    size_t room = 1024 + 64;
    for (const TagPicture& p : tags.pictures)
        room += 64 + p.mimeType.size() + 2 * p.description.size() + p.data.size();
    for (const auto& [key, values] : tags.fields) {
        room += 32 + 2 * key.size();
        for (const std::string& v : values)
            room += 8 + 2 * v.size();
    }
    return room;
}

}  // namespace kestrune
