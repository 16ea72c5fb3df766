#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kestrune::test {

// A private folder that is removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Interleaved 16-bit PCM.
struct Pcm {
    int sampleRate = 44100;
    int channels = 2;
    std::vector<int16_t> samples;
    size_t Frames() const { return channels ? samples.size() / static_cast<size_t>(channels) : 0; }
};

// A deterministic music-like signal: a few partials per channel plus a little noise,
// never silent, peaks near 0.6 of full scale.
Pcm MakeSignal(int sampleRate, int channels, size_t frames, uint32_t seed = 1);

// Writes a canonical 16-bit PCM WAV file.
bool WriteWav(const std::string& path, const Pcm& pcm);

// Runs a shell command; returns its exit status and fills out with its standard output.
int Run(const std::string& command, std::string* out = nullptr);

// Quotes a path for the shell.
std::string Quote(const std::string& s);

// What ffprobe sees in a file's first audio stream and its container.
struct ProbeInfo {
    bool ok = false;
    std::string formatName;
    std::string codecName;
    int sampleRate = 0;
    int channels = 0;
    double duration = 0;  // the stream's, or the container's when the stream has none
    std::string tags;     // every tag line "key=value", lower-case keys, format and stream
    std::string Tag(const std::string& key) const;
};
ProbeInfo FfProbe(const std::string& path);

// Decodes a file with the ffmpeg command line to interleaved 16-bit PCM of its own rate and
// channel count. Returns false when ffmpeg cannot.
bool FfDecode(const std::string& path, Pcm& out);

// The corpus of real files by other authors, read in place.
std::filesystem::path CorpusDir();
std::vector<std::filesystem::path> CorpusFiles();

// What ffprobe read in a corpus file's first audio stream, from the corpus manifest.
struct ManifestFormat {
    int sampleRate = 0;
    int channels = 0;
    double duration = -1;  // the container's; -1 when unknown
};
// By file name; files in which ffprobe found no audio stream are absent.
std::map<std::string, ManifestFormat> ReadCorpusManifest();

}  // namespace kestrune::test
