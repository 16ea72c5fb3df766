#include "cli/run_report.h"

#include <charconv>
#include <cstdio>

#include "audio/utf8_text.h"

namespace kestrune::cli {

namespace {

const char* const kStatusNames[] = {"converted", "failed", "skipped", "cancelled", "planned"};

// Numbers are written the same whatever the locale: JSON knows only the decimal point.
std::string Number(double value, int decimals) {
    char text[64];
    const auto end =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, end.ptr);
}

// The applied volume in percent from the "Volume" text ("100.00%", with a decimal comma in
// some locales); "null" when there is none.
std::string VolumeNumber(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != '%')
            digits += c == ',' ? '.' : c;
    double value = 0;
    const auto end = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || end.ec != std::errc() || end.ptr != digits.data() + digits.size())
        return "null";
    return Number(value, 2);
}

// The measured figures of an output, where it was measured: its loudness in LUFS and its peak
// (null for silence), and the gains written into its tags in dB (null where none was).
std::string LoudnessMembers(const LoudnessFigures& f) {
    if (!f.measured)
        return {};
    auto orNull = [](bool has, double value, int decimals) {
        return has ? Number(value, decimals) : std::string("null");
    };
    return ",\"loudness\":" + orNull(f.hasLoudness, f.loudness, 2) +
           ",\"peak\":" + Number(f.peak, 6) + ",\"truePeak\":" + (f.truePeak ? "true" : "false") +
           ",\"trackGain\":" + orNull(f.hasTrackGain, f.trackGain, 2) +
           ",\"albumGain\":" + orNull(f.hasAlbumGain, f.albumGain, 2) +
           ",\"albumPeak\":" + orNull(f.hasAlbumGain, f.albumPeak, 6);
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char ch : RepairUtf8(text)) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (c < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out += escape;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

FileStatus StatusOf(ItemEnd end) {
    switch (end) {
        case ItemEnd::kConverted:
            return FileStatus::kConverted;
        case ItemEnd::kSkipped:
            return FileStatus::kSkipped;
        case ItemEnd::kCancelled:
            return FileStatus::kCancelled;
        case ItemEnd::kNoAudio:
        case ItemEnd::kFailed:
            break;
    }
    return FileStatus::kFailed;
}

size_t RunReport::Add(const std::string& source) {
    files_.push_back({});
    files_.back().source = source;
    done_.push_back(false);
    return files_.size() - 1;
}

void RunReport::Done(size_t i) {
    done_[i] = true;
    for (; next_ < files_.size() && done_[next_]; ++next_)
        Print(files_[next_]);
}

void RunReport::Finish(FileStatus unfinished, double wallSeconds) {
    for (size_t i = next_; i < files_.size(); ++i) {
        if (!done_[i]) {
            files_[i].status = unfinished;
            files_[i].output.clear();
            files_[i].text.clear();
            files_[i].volume.clear();
        }
        Done(i);
    }
    if (json_) {
        std::printf(
            "{\"type\":\"summary\",\"files\":%zu,\"converted\":%d,\"failed\":%d,\"skipped\":%d,"
            "\"cancelled\":%d,\"planned\":%d,\"seconds\":%s}\n",
            files_.size(), Count(FileStatus::kConverted), Count(FileStatus::kFailed),
            Count(FileStatus::kSkipped), Count(FileStatus::kCancelled), Count(FileStatus::kPlanned),
            Number(wallSeconds, 3).c_str());
        std::fflush(stdout);
    }
}

void RunReport::Print(const FileResult& r) {
    ++counts_[static_cast<size_t>(r.status)];
    if (json_) {
        const std::string line =
            "{\"type\":\"file\",\"source\":" + JsonString(r.source) +
            ",\"output\":" + (r.output.empty() ? "null" : JsonString(r.output)) + ",\"status\":\"" +
            kStatusNames[static_cast<size_t>(r.status)] + "\",\"text\":" + JsonString(r.text) +
            ",\"volume\":" + VolumeNumber(r.volume) +
            ",\"duration\":" + (r.duration < 0 ? "null" : std::to_string(r.duration)) +
            ",\"seconds\":" + Number(r.seconds, 3) + LoudnessMembers(r.loudness) + "}\n";
        std::fputs(line.c_str(), stdout);
    } else {
        // A file the list shows nothing for (never reached) has no line. Where the window
        // shows an output's file name, a terminal shows its whole path: the output may have
        // gone to the documents folder instead of the one asked for.
        const bool showPath = !r.output.empty() && (r.status == FileStatus::kConverted ||
                                                    (dryRun_ && r.status == FileStatus::kPlanned));
        const std::string& first = showPath ? r.output : r.text;
        if (first.empty())
            return;
        if (r.volume.empty())
            std::printf("%s\n", first.c_str());
        else
            std::printf("%s\tvolume %s\n", first.c_str(), r.volume.c_str());
    }
    std::fflush(stdout);
}

}  // namespace kestrune::cli
