#include "readers/windows_media_reader.h"

#include <algorithm>
#include <string>

#include "audio/downmix.h"
#include "audio/tag_set.h"

namespace kestrune {

WindowsMediaReader::WindowsMediaReader(wm::CreateSyncReaderFn create) : createSyncReader(create) {
    // Room for the largest decoded samples of common files, so reading rarely allocates.
    sample.data.reserve(102400);
}

WindowsMediaReader::~WindowsMediaReader() {
    Close();
}

void WindowsMediaReader::Close() {
    if (reader)
        reader->Close();
    reader.reset();
    isOpen = false;
    audioStream = 0;
    readIndex = 0;
    framesLeft = 0;
    sample.length = 0;
    title.clear(), author.clear(), description.clear(), album.clear(), genre.clear();
    year.clear(), copyright.clear(), composer.clear();
    trackNumber = 0;
    Reset();
}

int WindowsMediaReader::Open(const std::string& path, int preferredRate) {
    (void)preferredRate;
    Close();
    audioFound = true;
    if (!createSyncReader)
        return 0;
    wm::WmSyncReader* raw = nullptr;
    if (createSyncReader(&raw) != wm::WmResult::Ok || !raw)
        return 0;
    reader.reset(raw);
    if (reader->Open(path) != wm::WmResult::Ok) {
        Close();
        return 0;
    }
    isOpen = true;

    wm::WmProfile profile;
    if (reader->GetProfile(profile) != wm::WmResult::Ok) {
        Close();
        return 0;
    }
    for (const wm::WmStreamConfig& stream : profile.streams) {
        if (stream.streamType == wm::WmMajorType::Audio) {
            audioStream = stream.streamNumber;
            break;
        }
    }
    if (audioStream == 0) {
        Close();
        audioFound = false;
        return 0;
    }
    for (const wm::WmStreamConfig& stream : profile.streams)
        reader->SetStreamsSelected(stream.streamNumber, stream.streamNumber == audioStream);
    if (reader->SetReadStreamSamples(audioStream, false) != wm::WmResult::Ok || !ReadAttributes()) {
        Close();
        return 0;
    }

    bool haveOutput = false;
    const uint32_t outputs = reader->GetOutputCount();
    for (uint32_t i = 0; i < outputs && !haveOutput; ++i) {
        wm::WmMediaType type;
        if (reader->GetOutputProps(i, type) != wm::WmResult::Ok ||
            type.majorType != wm::WmMajorType::Audio)
            continue;
        haveOutput = true;
        sampleRate = static_cast<int32_t>(type.waveFormat.samplesPerSec);
        sourceChannels = type.waveFormat.channels;
    }
    if (!haveOutput || sourceChannels < 1) {
        Close();
        return 0;
    }
    channels = std::min(sourceChannels, 2);
    bitsPerSample = 16;
    bytesPerSample = 2;
    position = 0;
    sample.length = 0;
    readIndex = 0;
    framesLeft = 0;
    return 1;
}

bool WindowsMediaReader::ReadAttributes() {
    // A missing attribute is an empty value; anything else the runtime reports fails Open.
    auto get = [this](const char* name, wm::WmAttribute& value) {
        value = wm::WmAttribute{};
        const wm::WmResult r = reader->GetAttributeByName(0, name, value);
        if (r == wm::WmResult::NotFound) {
            value.type = wm::WmAttrType::Binary;
            return true;
        }
        return r == wm::WmResult::Ok;
    };
    struct Text {
        const char* name;
        std::string* target;
    };
    const Text texts[] = {
        {"Title", &title},         {"Author", &author},       {"Description", &description},
        {"WM/AlbumTitle", &album}, {"WM/Genre", &genre},      {"WM/Year", &year},
        {"Copyright", &copyright}, {"WM/Composer", &composer}};
    wm::WmAttribute value;
    for (const Text& t : texts) {
        if (!get(t.name, value))
            return false;
        *t.target = value.type == wm::WmAttrType::String ? value.text : std::string();
    }
    if (!get("WM/TrackNumber", value))
        return false;
    if (value.type == wm::WmAttrType::DWord)
        trackNumber = static_cast<int32_t>(value.number);
    else if (value.type == wm::WmAttrType::String)
        trackNumber = TrackTextToInt(value.text);
    else
        trackNumber = 0;
    if (!get("Duration", value))
        return false;
    length = value.type == wm::WmAttrType::QWord ? static_cast<int64_t>(value.number) : 0;
    duration = static_cast<int32_t>(length / 10000000);
    if (!get("Bitrate", value))
        return false;
    bitRate = value.type == wm::WmAttrType::DWord ? static_cast<int32_t>(value.number / 1000) : 0;
    return true;
}

int WindowsMediaReader::Read(int16_t* left, int16_t* right) {
    if (!isOpen || !left)
        return 0;
    const int sc = sourceChannels;
    int delivered = 0;
    for (;;) {
        const int n = std::min(framesLeft, kBlockFrames - delivered);
        const auto* pcm = reinterpret_cast<const int16_t*>(sample.data.data()) + readIndex;
        if (sc == 1) {
            std::copy_n(pcm, n, left + delivered);
        } else if (sc == 2) {
            for (int i = 0; i < n; ++i) {
                left[delivered + i] = pcm[2 * i];
                if (right)
                    right[delivered + i] = pcm[2 * i + 1];
            }
        } else {
            // Sources of more than two channels are folded into stereo here.
            for (int i = 0; i < n; ++i) {
                int16_t l, r;
                DownmixFrame(sc, pcm + static_cast<size_t>(i) * sc, l, r);
                left[delivered + i] = l;
                if (right)
                    right[delivered + i] = r;
            }
        }
        delivered += n;
        framesLeft -= n;
        readIndex += static_cast<size_t>(n) * sc;
        if (delivered >= kBlockFrames)
            break;
        uint64_t time = 0, length100ns = 0;
        if (reader->GetNextSample(audioStream, sample, time, length100ns) != wm::WmResult::Ok)
            break;
        position = static_cast<int64_t>(time);
        readIndex = 0;
        framesLeft = static_cast<int>(sample.length / (2u * static_cast<unsigned>(sc)));
    }
    return delivered;
}

int WindowsMediaReader::ReadTags(TagSet& tags) {
    tags.title = title;
    tags.artist = author;
    tags.album = album;
    tags.year = year;
    tags.genre = genre;
    tags.comment = description;
    tags.track = std::to_string(trackNumber);
    tags.composer = composer;
    tags.copyright = copyright;
    return 1;
}

}  // namespace kestrune
