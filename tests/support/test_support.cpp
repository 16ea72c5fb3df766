#include "tests/support/test_support.h"

#include <sys/wait.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/byte_order.h"

namespace kestrune::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "kestrune-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        std::abort();
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

Pcm MakeSignal(int sampleRate, int channels, size_t frames, uint32_t seed) {
    Pcm pcm;
    pcm.sampleRate = sampleRate;
    pcm.channels = channels;
    pcm.samples.resize(frames * static_cast<size_t>(channels));
    Lcg random(seed * 2654435761u + 12345u);
    const double base[] = {220.0, 277.18, 329.63, 440.0, 554.37, 659.26};
    for (size_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / sampleRate;
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            for (int k = 0; k < 3; ++k) {
                const double freq = base[(c + k + seed) % 6] * (1.0 + 0.01 * c);
                v += std::sin(2 * M_PI * freq * t + k + c) * (0.25 / (k + 1));
            }
            // slow amplitude movement so codecs see changing material
            v *= 0.8 + 0.2 * std::sin(2 * M_PI * 0.7 * t + c);
            v += (static_cast<double>(random.Next() >> 16) / 65536.0 - 0.5) * 0.01;
            pcm.samples[f * channels + c] = static_cast<int16_t>(std::lround(v * 32767.0));
        }
    }
    return pcm;
}

double Rms(const std::vector<int16_t>& samples) {
    double sum = 0;
    for (int16_t s : samples)
        sum += static_cast<double>(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

std::string WavBytes(int tag, int bits, int channels, int rate, const std::string& data,
                     const std::string& extraChunks) {
    std::string w = "RIFF";
    AppendLe(w, 4 + 24 + extraChunks.size() + 8 + data.size(), 4);
    w += "WAVEfmt ";
    AppendLe(w, 16, 4);
    AppendLe(w, tag, 2);
    AppendLe(w, channels, 2);
    AppendLe(w, rate, 4);
    AppendLe(w, static_cast<uint64_t>(rate) * channels * bits / 8, 4);
    AppendLe(w, channels * bits / 8, 2);
    AppendLe(w, bits, 2);
    w += extraChunks;
    w += "data";
    AppendLe(w, data.size(), 4);
    return w + data;
}

bool WriteWav(const std::string& path, const Pcm& pcm) {
    std::string data;
    for (int16_t s : pcm.samples)
        AppendLe(data, static_cast<uint16_t>(s), 2);
    std::ofstream o(path, std::ios::binary);
    o << WavBytes(1, 16, pcm.channels, pcm.sampleRate, data);
    return static_cast<bool>(o);
}

int Run(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (!p)
        return -1;
    std::string text;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    const int status = pclose(p);
    if (out)
        *out = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

bool Ffmpeg(const std::string& in, const std::string& args, const std::string& out) {
    return Run("ffmpeg -v error -nostdin -y -i " + Quote(in) + " " + args + " " + Quote(out) +
               " 2>/dev/null") == 0;
}

std::string ProbeInfo::Tag(const std::string& key) const {
    std::istringstream in(tags);
    std::string line;
    std::string lower = key;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos && line.substr(0, eq) == lower)
            return line.substr(eq + 1);
    }
    return {};
}

ProbeInfo FfProbe(const std::string& path) {
    ProbeInfo info;
    std::string out;
    const std::string cmd =
        "ffprobe -v error -select_streams a:0 -show_entries "
        "stream=codec_name,sample_rate,channels,duration:stream_tags:format=format_name,"
        "duration:format_tags -of default=nw=0 " +
        Quote(path) + " 2>/dev/null";
    if (Run(cmd, &out) != 0)
        return info;
    std::istringstream in(out);
    std::string line, section;
    double streamDuration = -1, formatDuration = -1;
    while (std::getline(in, line)) {
        if (line.size() > 2 && line.front() == '[') {
            section = line;
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key.rfind("TAG:", 0) == 0) {
            key = key.substr(4);
            std::transform(key.begin(), key.end(), key.begin(), ::tolower);
            info.tags += key + "=" + value + "\n";
            continue;
        }
        if (section == "[STREAM]") {
            info.ok = true;
            if (key == "codec_name")
                info.codecName = value;
            if (key == "sample_rate")
                info.sampleRate = std::atoi(value.c_str());
            if (key == "channels")
                info.channels = std::atoi(value.c_str());
            if (key == "duration" && value != "N/A")
                streamDuration = std::atof(value.c_str());
        } else if (section == "[FORMAT]") {
            if (key == "format_name")
                info.formatName = value;
            if (key == "duration" && value != "N/A")
                formatDuration = std::atof(value.c_str());
        }
    }
    info.duration = streamDuration >= 0 ? streamDuration : std::max(formatDuration, 0.0);
    return info;
}

bool FfDecode(const std::string& path, Pcm& out) {
    const ProbeInfo info = FfProbe(path);
    if (!info.ok || info.channels < 1)
        return false;
    std::string raw;
    const std::string cmd = "ffmpeg -v error -nostdin -i " + Quote(path) +
                            " -map 0:a:0 -f s16le -acodec pcm_s16le - 2>/dev/null";
    if (Run(cmd, &raw) != 0)
        return false;
    out.sampleRate = info.sampleRate;
    out.channels = info.channels;
    out.samples.resize(raw.size() / 2);
    std::copy_n(raw.data(), out.samples.size() * 2, reinterpret_cast<char*>(out.samples.data()));
    return true;
}

fs::path CorpusDir() {
    return fs::path(KESTRUNE_CORPUS_DIR);
}

bool HaveCorpus() {
    std::error_code ec;
    return fs::is_regular_file(CorpusDir() / "MANIFEST.tsv", ec);
}

std::vector<fs::path> CorpusFilesOrPlaceholder(const std::vector<fs::path>& files) {
    if (files.empty() && !HaveCorpus())
        return {fs::path()};
    return files;
}

std::vector<fs::path> CorpusFiles() {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(CorpusDir(), ec)) {
        const auto name = e.path().filename().string();
        if (e.is_regular_file() && name != "MANIFEST.tsv" && name != "README.md")
            files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::map<std::string, ManifestFormat> ReadCorpusManifest() {
    // Column six reads "stream|codec_name=..|sample_rate=..|channels=.. ; format|..|duration=..".
    std::map<std::string, ManifestFormat> formats;
    std::ifstream in(CorpusDir() / "MANIFEST.tsv");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> cols;
        std::istringstream row(line);
        for (std::string col; std::getline(row, col, '\t');)
            cols.push_back(col);
        if (cols.size() < 6)
            continue;
        ManifestFormat f;
        bool audio = false;
        std::istringstream entries(cols[5]);
        for (std::string e; std::getline(entries, e, ';');) {
            const auto rate = e.find("sample_rate="), ch = e.find("channels=");
            if (!audio && e.find("stream|") != std::string::npos && rate != std::string::npos &&
                ch != std::string::npos) {
                f.sampleRate = std::atoi(e.c_str() + rate + 12);
                f.channels = std::atoi(e.c_str() + ch + 9);
                audio = true;
            }
            const auto dur = e.find("duration=");
            if (e.find("format|") != std::string::npos && dur != std::string::npos &&
                e.compare(dur + 9, 3, "N/A") != 0)
                f.duration = std::atof(e.c_str() + dur + 9);
        }
        if (audio)
            formats[cols[0]] = f;
    }
    return formats;
}

std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace kestrune::test
