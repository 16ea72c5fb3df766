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

int SourceTypeOf(const std::string& path) {
    static const std::map<std::string, int> kTypes = {
        {".mp3", source::kMp3},
        {".wav", source::kWav},
        {".wave", source::kWav},
        {".mod", source::kTracker},
        {".xm", source::kTracker},
        {".it", source::kTracker},
        {".s3m", source::kTracker},
        {".mtm", source::kTracker},
        {".umx", source::kTracker},
        {".mo3", source::kTracker},
        {".midi", source::kMidi},
        {".mid", source::kMidi},
        {".rmi", source::kMidi},
        {".kar", source::kMidi},
        {".cda", source::kCdAudio},
        {".flac", source::kFlac},
        {".fla", source::kFlac},
        {".wv", source::kWavPack},
        {".adx", source::kAdx},
        {".ogg", source::kOgg},
        {".oga", source::kOgg},
        {".ogm", source::kOgg},
        {".ogv", source::kOgg},
        {".ogx", source::kOgg},
        {".au", source::kAu},
        {".snd", source::kAu},
        {".aif", source::kAiff},
        {".aiff", source::kAiff},
        {".aifc", source::kAiff},
        {".afc", source::kAiff},
        {".amr", source::kAmr},
        {".awb", source::kAmr},
        {".aac", source::kAac},
        {".mp4", source::kMp4},
        {".m4v", source::kMp4},
        {".m4a", source::kMp4},
        {".m4b", source::kMp4},
        {".wma", source::kWindowsMedia},
        {".wmv", source::kWindowsMedia},
        {".asf", source::kWindowsMedia},
        {".wm", source::kWindowsMedia},
        {".wmd", source::kWindowsMedia},
        {".xwmv", source::kWindowsMedia},
        {".dts", source::kDts},
    };
    const auto it = kTypes.find(ExtensionOf(path));
    return it == kTypes.end() ? source::kOther : it->second;
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
    t.file = FileNameOf(e.path);
    t.duration = DurationText(e.duration);
    if (e.bitRate != 0)
        t.bitRate = std::to_string(e.bitRate) + " kbps";
    if (e.sampleRate != 0)
        t.sampleRate = std::to_string(e.sampleRate) + " Hz";
    t.channels = ChannelsText(e.sourceChannels);
    return t;
}

}  // namespace kestrune
