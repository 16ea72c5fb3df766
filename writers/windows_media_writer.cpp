#include "writers/windows_media_writer.h"

#include <algorithm>

namespace kestrune {

namespace {
constexpr char kStreamName[] = "audio stream";
constexpr char kConnectionName[] = "audio";
constexpr uint32_t kBufferWindowMs = 3000;
}  // namespace

WindowsMediaWriter::WindowsMediaWriter(const WindowsMediaRuntime* rt) : runtime(rt) {}

WindowsMediaWriter::~WindowsMediaWriter() {
    Close();
}

void WindowsMediaWriter::SetTags(const TagSet& t) {
    tags = t;
    track = t.TrackNumber();
}

void WindowsMediaWriter::SetPath(const std::string& p) {
    path = p;
}

void WindowsMediaWriter::SetSampleRate(int rate) {
    sampleRate = rate;
}

void WindowsMediaWriter::SetChannels(int count) {
    channels = count;
}

void WindowsMediaWriter::SetBitRate(int rate) {
    bitRate = rate;
}

void WindowsMediaWriter::SetEncoderOptions(const EncoderOptions& options) {
    // Kept as a copy: the format list may be rebuilt while this writer lives.
    if (const auto* wma = dynamic_cast<const WmaEncoderOptions*>(&options)) {
        mediaType = wma->mediaType;
        haveMediaType = true;
    }
}

int WindowsMediaWriter::Open() {
    if (writer)
        return 0;
    failed = false;
    completed = false;
    if (!Start()) {
        Release();
        return 0;
    }
    return 1;
}

bool WindowsMediaWriter::Start() {
    if (!runtime || path.empty() || sampleRate <= 0 || channels < 1 || channels > 2)
        return false;
    wm::WmWriter* raw = nullptr;
    if (runtime->createWriter(&raw) != wm::WmResult::Ok || !raw)
        return false;
    writer.reset(raw);

    // The profile: one audio stream of the chosen format.
    if (!haveMediaType || bitRate <= 0)
        return false;
    wm::WmProfileManager* rawManager = nullptr;
    if (runtime->createProfileManager(&rawManager) != wm::WmResult::Ok || !rawManager)
        return false;
    const std::unique_ptr<wm::WmProfileManager> manager(rawManager);
    wm::WmProfile profile;
    if (manager->CreateEmptyProfile(wm::kProfileVersion9, profile) != wm::WmResult::Ok)
        return false;
    wm::WmStreamConfig stream = profile.CreateNewStream(wm::WmMajorType::Audio);
    stream.mediaType = mediaType;
    stream.streamName = kStreamName;
    stream.connectionName = kConnectionName;
    stream.streamNumber = 1;
    stream.bitrate = static_cast<uint32_t>(bitRate);
    stream.bufferWindow = kBufferWindowMs;
    if (profile.AddStream(stream) != wm::WmResult::Ok ||
        writer->SetProfile(profile) != wm::WmResult::Ok)
        return false;

    bool found = false;
    const uint32_t inputs = writer->GetInputCount();
    for (uint32_t i = 0; i < inputs && !found; ++i) {
        wm::WmMediaType type;
        if (writer->GetInputProps(i, type) == wm::WmResult::Ok &&
            type.majorType == wm::WmMajorType::Audio) {
            audioInput = i;
            found = true;
        }
    }
    if (!found)
        return false;

    wm::WmMediaType pcm;
    pcm.majorType = wm::WmMajorType::Audio;
    pcm.subtype = wm::kFormatTagPcm;
    pcm.fixedSizeSamples = true;
    pcm.temporalCompression = false;
    pcm.waveFormat.formatTag = wm::kFormatTagPcm;
    pcm.waveFormat.channels = static_cast<uint16_t>(channels);
    pcm.waveFormat.samplesPerSec = static_cast<uint32_t>(sampleRate);
    pcm.waveFormat.avgBytesPerSec = static_cast<uint32_t>(16 * channels * sampleRate / 8);
    pcm.waveFormat.blockAlign = static_cast<uint16_t>(16 * channels / 8);
    pcm.waveFormat.bitsPerSample = 16;
    pcm.sampleSize = pcm.waveFormat.blockAlign;
    if (writer->SetInputProps(audioInput, pcm) != wm::WmResult::Ok)
        return false;

    AddTags();
    if (writer->SetOutputFilename(path) != wm::WmResult::Ok ||
        writer->BeginWriting() != wm::WmResult::Ok)
        return false;
    sampleTime = 0;
    return true;
}

void WindowsMediaWriter::AddTags() {
    // A tag that was never set is not added; the results do not matter to the file.
    auto text = [this](const char* name, const std::string& value) {
        if (!value.empty())
            writer->AddAttribute(0, name, wm::WmAttribute::String(value));
    };
    text("Title", tags.title);
    text("Author", tags.artist);
    text("WM/AlbumArtist", tags.artist);
    text("Description", tags.comment);
    text("WM/AlbumTitle", tags.album);
    text("WM/Genre", tags.genre);
    if (track != 0)
        writer->AddAttribute(0, "WM/TrackNumber",
                             wm::WmAttribute::DWord(static_cast<uint32_t>(track)));
    text("WM/Year", tags.year);
    text("WM/Composer", tags.composer);
    text("Copyright", tags.copyright);
}

int WindowsMediaWriter::Write(const int16_t* left, const int16_t* right, int frames) {
    if (!writer || !left)
        return 0;
    if (frames <= 0)
        return 1;
    const uint32_t size = static_cast<uint32_t>(frames) * static_cast<uint32_t>(channels) * 2;
    if (writer->AllocateSample(size, buffer) != wm::WmResult::Ok || buffer.data.size() < size) {
        failed = true;
        return 0;
    }
    auto* pcm = reinterpret_cast<int16_t*>(buffer.data.data());
    if (channels == 2) {
        const int16_t* r = right ? right : left;
        for (int i = 0; i < frames; ++i) {
            pcm[2 * i] = left[i];
            pcm[2 * i + 1] = r[i];
        }
    } else {
        std::copy_n(left, frames, pcm);
    }
    buffer.length = size;
    const bool ok = writer->WriteSample(audioInput, static_cast<uint64_t>(sampleTime), 0, buffer) ==
                    wm::WmResult::Ok;
    sampleTime += static_cast<int64_t>(static_cast<double>(frames) * 10000000.0 / sampleRate);
    if (!ok)
        failed = true;
    return ok ? 1 : 0;
}

void WindowsMediaWriter::Close() {
    if (writer)
        completed = writer->EndWriting() == wm::WmResult::Ok && !failed;
    Release();
    path.clear();
    sampleRate = 0;
    channels = 0;
    bitRate = 0;
    haveMediaType = false;
    mediaType = wm::WmMediaType{};
    tags = TagSet{};
    track = 0;
}

void WindowsMediaWriter::Release() {
    writer.reset();
    audioInput = 0;
    sampleTime = 0;
}

}  // namespace kestrune
