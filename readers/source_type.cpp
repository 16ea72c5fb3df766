#include "readers/source_type.h"

#include <cctype>
#include <cstdio>
#include <map>

namespace kestrune {

std::string FileNameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(const std::string& path) {
    const std::string name = FileNameOf(path);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos)
        return {};
    std::string ext = name.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

SourceType SourceTypeOf(const std::string& path) {
    static const std::map<std::string, SourceType> kTypes = {
        {".mp3", SourceType::kMp3},
        {".wav", SourceType::kWav},
        {".wave", SourceType::kWav},
        {".mod", SourceType::kTracker},
        {".xm", SourceType::kTracker},
        {".it", SourceType::kTracker},
        {".s3m", SourceType::kTracker},
        {".mtm", SourceType::kTracker},
        {".umx", SourceType::kTracker},
        {".mo3", SourceType::kTracker},
        {".midi", SourceType::kMidi},
        {".mid", SourceType::kMidi},
        {".rmi", SourceType::kMidi},
        {".kar", SourceType::kMidi},
        {".cda", SourceType::kCdAudio},
        {".flac", SourceType::kFlac},
        {".fla", SourceType::kFlac},
        {".wv", SourceType::kWavPack},
        {".adx", SourceType::kAdx},
        {".ogg", SourceType::kOgg},
        {".oga", SourceType::kOgg},
        {".ogm", SourceType::kOgg},
        {".ogv", SourceType::kOgg},
        {".ogx", SourceType::kOgg},
        {".au", SourceType::kAu},
        {".snd", SourceType::kAu},
        {".aif", SourceType::kAiff},
        {".aiff", SourceType::kAiff},
        {".aifc", SourceType::kAiff},
        {".afc", SourceType::kAiff},
        {".amr", SourceType::kAmr},
        {".awb", SourceType::kAmr},
        {".aac", SourceType::kAac},
        {".mp4", SourceType::kMp4},
        {".m4v", SourceType::kMp4},
        {".m4a", SourceType::kMp4},
        {".m4b", SourceType::kMp4},
        {".wma", SourceType::kWindowsMedia},
        {".wmv", SourceType::kWindowsMedia},
        {".asf", SourceType::kWindowsMedia},
        {".wm", SourceType::kWindowsMedia},
        {".wmd", SourceType::kWindowsMedia},
        {".xwmv", SourceType::kWindowsMedia},
        {".dts", SourceType::kDts},
    };
    const auto it = kTypes.find(ExtensionOf(path));
    return it == kTypes.end() ? SourceType::kOther : it->second;
}

std::string NamingPath(const SourceFileEntry& entry) {
    if (!entry.track.number)
        return entry.path;
    const auto slash = entry.path.rfind('/');
    // The extension stands for the image's and goes as any source's does.
    return (slash == std::string::npos ? std::string() : entry.path.substr(0, slash + 1)) +
           entry.track.name + ExtensionOf(entry.path);
}

std::string DurationText(int seconds) {
    if (seconds <= 0)
        return {};
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    else
        std::snprintf(text, sizeof text, "%02d:%02d", seconds / 60, seconds % 60);
    return text;
}

std::string ChannelsText(int channels) {
    switch (channels) {
        case 0:
        case 1:
            return "Mono";
        case 2:
            return "Stereo";
        case 3:
            return "2.1";
        case 4:
            return "4.0";
        case 5:
            return "5.0";
        case 6:
            return "5.1";
        case 7:
            return "6.1";
        case 8:
            return "7.1";
        default:
            return std::to_string(channels);
    }
}

ColumnTexts ColumnTextsOf(const SourceFileEntry& e) {
    ColumnTexts t;
    t.file = e.track.number ? e.track.name : FileNameOf(e.path);
    t.duration = DurationText(e.duration);
    // A value the reader could not tell (zero, or negative from a broken header) is left blank.
    if (e.bitRate > 0)
        t.bitRate = std::to_string(e.bitRate) + " kbps";
    if (e.sampleRate > 0) {
        t.sampleRate = std::to_string(e.sampleRate) + " Hz";
        // 16 bits is what every source was taken to be: only another depth is worth a word.
        if (e.depth.bits > 0 && !(e.depth.bits == 16 && !e.depth.floating))
            t.sampleRate += ", " + SampleDepthText(e.depth);
    }
    if (e.sourceChannels > 0)
        t.channels = ChannelsText(e.sourceChannels);
    return t;
}

}  // namespace kestrune
