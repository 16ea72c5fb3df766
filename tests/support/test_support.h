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

// Where the tests' random numbers come from: a 32-bit linear congruential generator, so that
// every run sees the same "random" data.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : state_(seed) {}
    uint32_t Next() { return state_ = state_ * 1664525u + 1013904223u; }

private:
    uint32_t state_;
};

// A deterministic music-like signal: a few partials per channel plus a little noise,
// never silent, peaks near 0.6 of full scale.
Pcm MakeSignal(int sampleRate, int channels, size_t frames, uint32_t seed = 1);

// The root mean square of samples (0 for none).
double Rms(const std::vector<int16_t>& samples);

// The bytes of a WAV file of any sample coding (tag 1 integer PCM, tag 3 IEEE float) around
// data already coded; extraChunks (whole chunks) go between "fmt " and "data".
std::string WavBytes(int tag, int bits, int channels, int rate, const std::string& data,
                     const std::string& extraChunks = {});

// Writes a canonical 16-bit PCM WAV file.
bool WriteWav(const std::string& path, const Pcm& pcm);

// Runs a shell command; returns its exit status and fills out with its standard output.
int Run(const std::string& command, std::string* out = nullptr);

// Quotes a path for the shell.
std::string Quote(const std::string& s);

// Converts in to out with the ffmpeg command line and args (codec, bit rate, tags...); true
// when ffmpeg succeeded.
bool Ffmpeg(const std::string& in, const std::string& args, const std::string& out);

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

// The names in folder, sorted (none when it cannot be read).
std::vector<std::string> FolderEntries(const std::filesystem::path& folder);

// The corpus of real files by other authors, read in place (the KESTRUNE_CORPUS_DIR folder of
// the build). HaveCorpus: the folder is there with its manifest.
std::filesystem::path CorpusDir();
bool HaveCorpus();
// Every file of the corpus, sorted; empty without a corpus.
std::vector<std::filesystem::path> CorpusFiles();
// For suites made from the corpus: the files, or one empty path (a case that skips) when the
// corpus is absent, so that the suite still has a case to report.
std::vector<std::filesystem::path> CorpusFilesOrPlaceholder(
    const std::vector<std::filesystem::path>& files);

// What ffprobe read in a corpus file's first audio stream, from the corpus manifest.
struct ManifestFormat {
    int sampleRate = 0;
    int channels = 0;
    double duration = -1;  // the container's; -1 when unknown
};
// By file name; files in which ffprobe found no audio stream are absent.
std::map<std::string, ManifestFormat> ReadCorpusManifest();

}  // namespace kestrune::test

// Skips the current test, saying why, when the corpus is absent.
#define KESTRUNE_REQUIRE_CORPUS()                                                           \
    do {                                                                                    \
        if (!::kestrune::test::HaveCorpus())                                                \
            GTEST_SKIP() << "the shared corpus is not at " << ::kestrune::test::CorpusDir() \
                         << " (configure with -DKESTRUNE_CORPUS_DIR=...)";                  \
    } while (0)
