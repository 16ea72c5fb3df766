#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "engine/convert_settings.h"
#include "engine/output_claim.h"
#include "readers/source_type.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"
#include "writers/output_catalogue.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::Quote;

std::string Cli() {
    return std::string(KESTRUNE_BIN_DIR) + "/kestrune-cli";
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Split(const std::string& line, char sep = '\t') {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, sep))
        parts.push_back(part);
    if (!line.empty() && line.back() == sep)
        parts.push_back("");
    return parts;
}

// The objects of a --json run, one a line; a line that is no JSON object fails the test.
std::vector<QJsonObject> JsonLines(const std::string& text) {
    std::vector<QJsonObject> objects;
    for (const std::string& line : Lines(text)) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_TRUE(doc.isObject()) << line << ": " << error.errorString().toStdString();
        objects.push_back(doc.object());
    }
    return objects;
}

std::string Str(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toString().toStdString();
}

// Every entry below a folder with its size and time, to see that a run changed nothing.
std::string Snapshot(const fs::path& folder) {
    std::set<std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        struct stat st {};
        lstat(e.path().c_str(), &st);
        entries.insert(e.path().string() + " " + std::to_string(st.st_size) + " " +
                       std::to_string(st.st_ino) + " " + std::to_string(st.st_mtim.tv_nsec) +
                       std::to_string(st.st_mtim.tv_sec));
    }
    std::string all;
    for (const std::string& e : entries)
        all += e + "\n";
    return all;
}

// kestrune-cli running in the background with its standard output in a pipe, read a line at
// a time, so that a test can act at a given point of the run.
class CliProcess {
public:
    explicit CliProcess(std::vector<std::string> args) {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], STDOUT_FILENO);
            close(fds[0]);
            close(fds[1]);
            std::vector<char*> argv = {const_cast<char*>("kestrune-cli")};
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(Cli().c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        fd_ = fds[0];
    }
    ~CliProcess() {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (fd_ >= 0)
            close(fd_);
    }
    bool Started() const { return pid_ > 0 && fd_ >= 0; }
    // The next line it prints, without its end; false at the end of its output.
    bool ReadLine(std::string& line) {
        for (;;) {
            const size_t end = buffer_.find('\n', read_);
            if (end != std::string::npos) {
                line = buffer_.substr(read_, end - read_);
                read_ = end + 1;
                return true;
            }
            char chunk[4096];
            const ssize_t n = read(fd_, chunk, sizeof chunk);
            if (n <= 0)
                return false;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    // Everything it printed, once it has ended.
    std::string ReadAll() {
        for (std::string line; ReadLine(line);) {
        }
        return buffer_;
    }
    void Signal(int signal) { kill(pid_, signal); }
    // Its exit status, or -1 when a signal ended it.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    bool waited_ = false;
    std::string buffer_;
    size_t read_ = 0;
};

class CliTest : public ::testing::Test {
protected:
    // Runs kestrune-cli with a private settings file; returns its exit status.
    int Run(const std::string& args, std::string* out = nullptr) {
        return test::Run("timeout 300 " + Quote(Cli()) + " " + args + " 2>/dev/null", out);
    }
    std::string Settings() const { return "--settings " + Quote(dir.File("settings.ini")); }
    // Runs kestrune-cli with args and every corpus file after them; the lines it printed. A
    // run in which some files fail exits with 1, which is fine here.
    std::vector<std::string> RunOverTheCorpus(const std::string& args) {
        std::string all = args;
        for (const fs::path& file : test::CorpusFiles())
            all += " " + Quote(file.string());
        std::string out;
        const int status = Run(all, &out);
        EXPECT_TRUE(status == 0 || status == 1) << "exited " << status;
        return Lines(out);
    }

    test::TempDir dir;
};

TEST_F(CliTest, FormatsListsTheCatalogueInOrder) {
    std::string out;
    ASSERT_EQ(Run("formats", &out), 0);
    const auto lines = Lines(out);
    OutputCatalogue catalogue;
    BuildOutputCatalogue(catalogue);
    ASSERT_EQ(lines.size(), catalogue.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto cols = Split(lines[i]);
        ASSERT_EQ(cols.size(), 4u) << lines[i];
        EXPECT_EQ(cols[0], std::to_string(StoredValue(catalogue[i].formatId)));
        EXPECT_EQ(cols[1], catalogue[i].extension);
        EXPECT_EQ(cols[2], catalogue[i].DisplayLabel());
        if (catalogue[i].formatId == FormatId::kMp3) {
            EXPECT_NE(lines[i].find("0x15001 LAME MP3"), std::string::npos) << lines[i];
        }
    }
}

// A mistake on the command line is said in one line that ends by pointing at --help, with
// nothing on standard output and exit status 2.
TEST_F(CliTest, UsageErrorsSayTheMistakeInOneLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "no command given"},
        {"frobnicate", "unknown command \"frobnicate\""},
        {"formats extra", "formats takes no arguments"},
        {"probe", "probe needs at least one file"},
        {"convert", "convert needs at least one file"},
        {"convert --frob x.wav", "unknown option --frob"},
        {"convert --if-exists maybe x.wav", "--if-exists takes rename, overwrite or skip"},
        {"convert --format nosuch x.wav", "unknown format \"nosuch\" (see kestrune-cli formats)"},
        {"convert --jobs 0 x.wav", "option --jobs needs a valid value"},
        // A number its setting cannot hold is refused, not wrapped round to another.
        {"convert --skip 4294967296 x.wav", "option --skip needs a valid value"},
        {"convert --volume 2147483648 x.wav", "option --volume needs a valid value"},
        {"convert --files-from", "option --files-from needs a valid value"},
        {"convert --null x.wav", "--null needs --files-from"},
    };
    for (const auto& [args, why] : cases) {
        std::string err, out;
        // convert gets a private settings file first, the rest of the line after it.
        const std::string line = args;
        const std::string cli =
            Quote(Cli()) + " " +
            (line.starts_with("convert") ? "convert " + Settings() + line.substr(7) : line);
        EXPECT_EQ(test::Run(cli + " 2>&1 >/dev/null", &err), 2) << args;
        EXPECT_EQ(err, "kestrune-cli: " + std::string(why) + ". Try 'kestrune-cli --help'.\n")
            << args;
        EXPECT_EQ(test::Run(cli + " 2>/dev/null", &out), 2) << args;
        EXPECT_EQ(out, "") << args;
    }
    std::string text;
    EXPECT_EQ(Run("--help", &text), 0);
    EXPECT_NE(text.find("--to-one OUT"), std::string::npos);
    EXPECT_EQ(Run("--version", &text), 0);
    EXPECT_EQ(text, "kestrune-cli 4.0\n");
}

// Every corpus file is probed without a crash or a hang; where ffprobe reads a file, the
// rate, channel and duration texts agree with it.
TEST_F(CliTest, ProbeSurvivesTheCorpus) {
    KESTRUNE_REQUIRE_CORPUS();
    const auto manifest = test::ReadCorpusManifest();
    const auto lines = RunOverTheCorpus("probe");
    ASSERT_GT(lines.size(), 100u);
    EXPECT_EQ(lines[0], "File\tDuration\tBit Rate\tSample Rate\tChannels");
    for (size_t i = 1; i < lines.size(); ++i) {
        const auto cols = Split(lines[i]);
        ASSERT_EQ(cols.size(), 5u) << lines[i];
        const auto it = manifest.find(cols[0]);
        // The decoding layer renders tracker music and MIDI at its own rate.
        const SourceType type = SourceTypeOf(cols[0]);
        if (it == manifest.end() || type == SourceType::kTracker || type == SourceType::kMidi)
            continue;
        const test::ManifestFormat& f = it->second;
        // The rate, then the bits where the file says and they are not 16 ("96000 Hz, 24-bit").
        const std::string rate = cols[3].substr(0, cols[3].find(", "));
        EXPECT_EQ(rate, f.sampleRate > 0 ? std::to_string(f.sampleRate) + " Hz" : "") << cols[0];
        if (rate != cols[3]) {
            EXPECT_TRUE(cols[3].ends_with("-bit") || cols[3].ends_with("-bit float")) << cols[3];
        }
        EXPECT_EQ(cols[4], f.channels > 0 ? ChannelsText(f.channels) : "") << cols[0];
        // ffprobe takes an MP3's length from its VBR header, the decoding layer from the frames
        // really there; the corpus's truncated MP3s tell the two apart.
        if (f.duration >= 1.0 && type != SourceType::kMp3) {
            EXPECT_EQ(cols[1], DurationText(static_cast<int>(f.duration))) << cols[0];
        }
    }
}

// One generated WAV into every row FFmpeg writes: automatic parameters, then manual ones.
TEST_F(CliTest, ConvertsToEveryFFmpegRow) {
    const std::string wav = dir.File("tone.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(22050, 2, 22050)));
    OutputCatalogue catalogue;
    BuildOutputCatalogue(catalogue);
    for (const OutputFormatEntry& row : catalogue) {
        if (!row.UsesFFmpegWriter())
            continue;
        for (bool manual : {false, true}) {
            const fs::path outDir =
                dir.path() / (std::to_string(StoredValue(row.formatId)) + (manual ? "m" : "a"));
            std::string args = "convert " + Settings() + " -f " +
                               std::to_string(StoredValue(row.formatId)) + " -o " +
                               Quote(outDir.string()) +
                               " --tags custom --title 'Tone' --artist 'Ünïcode' --track 4";
            OutputFormatEntry expect = row;
            if (manual) {
                // The last codec of the list, mono at 16000 Hz where the codec allows.
                expect.autoParams = 0;
                expect.codecId = row.allowedCodecs.back()->codecId;
                expect.sampleRate = 16000;
                expect.channels = 1;
                expect.bitRate = 0;
                char codec[16];
                std::snprintf(codec, sizeof codec, "0x%X", expect.codecId);
                args += std::string(" --codec ") + codec + " --rate 16000 --channels 1";
            }
            std::string out;
            ASSERT_EQ(Run(args + " " + Quote(wav), &out), 0) << row.extension << " " << args;
            const std::string file = (outDir / (std::string("tone.") + row.extension)).string();
            ASSERT_EQ(out, file + "\tvolume 100.00%\n");
            ResolvedEncoding enc;
            ASSERT_TRUE(ResolveEncoding(expect, 22050, 2, enc));
            const test::ProbeInfo info = test::FfProbe(file);
            ASSERT_TRUE(info.ok) << file;
            // VOC stores its rate as a one-byte time constant.
            if (row.formatId == FormatId::kVoc)
                EXPECT_NEAR(info.sampleRate, enc.sampleRate, enc.sampleRate / 50) << file;
            else
                EXPECT_EQ(info.sampleRate, enc.sampleRate) << file;
            EXPECT_EQ(info.channels, enc.channels) << file;
            // The containers that get tags and keep them where ffprobe reads them.
            static const std::set<FormatId> kTagged = {
                FormatId::kMp3,       FormatId::kMka,  FormatId::kFlac, FormatId::kOgg,
                FormatId::kAacDevice, FormatId::kAlac, FormatId::kM4a,  FormatId::kMp4,
                FormatId::kM4b,       FormatId::kM4r,  FormatId::kAvi,  FormatId::kMov};
            if (kTagged.count(row.formatId)) {
                EXPECT_EQ(info.Tag("artist"), "Ünïcode") << file;
            }
        }
    }
}

TEST_F(CliTest, ConvertsTheCorpusToMp3) {
    KESTRUNE_REQUIRE_CORPUS();
    // Twenty seconds of each keep the run short; the readers decode whole files elsewhere.
    const auto lines =
        RunOverTheCorpus("convert " + Settings() + " -f mp3 --tags source --length 20000 -o " +
                         Quote(dir.File("mp3")));
    // One FLAC file of the corpus carries a CUESHEET block with two audio tracks: it converts
    // as two outputs, a line each.
    ASSERT_EQ(lines.size(), test::CorpusFiles().size() + 1);
    size_t converted = 0;
    const std::string volume = "\tvolume 100.00%";
    for (const std::string& line : lines) {
        if (line.size() > volume.size() + 4 && line.ends_with(volume)) {
            ++converted;
            const std::string path = line.substr(0, line.size() - volume.size());
            EXPECT_EQ(fs::path(path).parent_path(), dir.path() / "mp3") << line;
            EXPECT_EQ(path.substr(path.size() - 4), ".mp3") << line;
            if (converted % 20 == 1) {  // ffprobe is slow; a sample shows what the files are
                EXPECT_EQ(test::FfProbe(path).codecName, "mp3") << line;
            }
        } else {
            EXPECT_TRUE(line.rfind("Conversion Failure", 0) == 0 || line == "No audio in the file")
                << line;
        }
    }
    EXPECT_GT(converted, 100u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.File("mp3")), fs::directory_iterator()),
              static_cast<long>(converted));
}

// Normalising the corpus: every readable file converts with the gain it was given.
TEST_F(CliTest, NormalizesTheCorpus) {
    KESTRUNE_REQUIRE_CORPUS();
    size_t converted = 0, gained = 0;
    for (const std::string& line :
         RunOverTheCorpus("convert " + Settings() + " -f wav --normalize --length 10000 -o " +
                          Quote(dir.File("norm")))) {
        const auto cols = Split(line);
        if (cols.size() != 2)
            continue;
        ++converted;
        ASSERT_TRUE(cols[1].starts_with("volume ") && cols[1].ends_with("%")) << line;
        if (cols[1] != "volume 100.00%")
            ++gained;
    }
    EXPECT_GT(converted, 100u);
    EXPECT_GT(gained, 10u);
}

TEST_F(CliTest, JoinsAHandfulIntoOne) {
    KESTRUNE_REQUIRE_CORPUS();
    std::string files;
    for (int i = 0; i < 3; ++i) {
        const std::string path = dir.File("p" + std::to_string(i) + ".wav");
        ASSERT_TRUE(test::WriteWav(path, test::MakeSignal(i == 1 ? 22050 : 44100, 1 + i % 2,
                                                          (i == 1 ? 22050 : 44100) / 2, i + 1)));
        files += " " + Quote(path);
    }
    files += " " + Quote((test::CorpusDir() / "libxmp__test-dev_data_m_GAMEMUSIC.mod").string());
    std::string out;
    const std::string merged = dir.File("all.ogg");
    ASSERT_EQ(Run("convert " + Settings() + " --to-one " + Quote(merged) +
                      " -f ogg --length 2000 --tags custom --title Joined" + files,
                  &out),
              0);
    const std::string line = merged + "\tvolume 100.00%\n";
    EXPECT_EQ(out, line + line + line + line);
    const test::ProbeInfo info = test::FfProbe(merged);
    EXPECT_EQ(info.codecName, "vorbis");
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_NEAR(info.duration, 0.5 * 3 + 2.0, 0.1);
    EXPECT_EQ(info.Tag("title"), "Joined");
}

TEST_F(CliTest, ProbeAndConvertTakeACueSheetTrackByTrack) {
    ASSERT_TRUE(test::WriteWav(dir.File("disc.wav"), test::MakeSignal(44100, 2, 44100 * 3)));
    std::ofstream(dir.File("disc.cue"))
        << "FILE \"disc.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"A\"\nINDEX 01 00:00:00\n"
           "TRACK 02 AUDIO\nTITLE \"B\"\nINDEX 01 00:01:00\n";
    std::string out;
    ASSERT_EQ(Run("probe " + Quote(dir.File("disc.cue")), &out), 0);
    EXPECT_EQ(out,
              "File\tDuration\tBit Rate\tSample Rate\tChannels\n"
              "01 - A\t00:01\t1411 kbps\t44100 Hz\tStereo\n"
              "02 - B\t00:02\t1411 kbps\t44100 Hz\tStereo\n");
    // The image given beside its sheet is converted as the sheet's tracks only.
    ASSERT_EQ(Run("convert " + Settings() + " -f wav -o " + Quote(dir.File("out")) + " " +
                      Quote(dir.File("disc.wav")) + " " + Quote(dir.File("disc.cue")),
                  &out),
              0);
    EXPECT_EQ(test::FolderEntries(dir.File("out")),
              (std::vector<std::string>{"01 - A.wav", "02 - B.wav"}));
    EXPECT_NEAR(test::FfProbe(dir.File("out/02 - B.wav")).duration, 2.0, 1e-6);
}

// Ctrl+C, and a SIGTERM as timeout or a service manager sends it, cancel the run: the output
// being written is removed, the program says so with its exit status.
class CliInterruptTest : public CliTest, public ::testing::WithParamInterface<int> {};

TEST_P(CliInterruptTest, RemovesThePartialOutput) {
    const int signal = GetParam();
    const std::string wav = dir.File("long.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 2, 44100 * 60)));
    // MP3 encoding is slow enough for the signal to land mid-file.
    test::ChildProcess run({Cli(), "convert", "--settings", dir.File("settings.ini"), "-f", "mp3",
                            "-o", dir.File("out"), wav});
    ASSERT_TRUE(run.Start(dir.path().string()));
    // Wait until the output is being written, then send the signal.
    const fs::path target = dir.path() / "out" / "long.mp3";
    const fs::path partial = PartialPathOf(target.string());
    std::error_code ec;
    for (int i = 0; i < 4000 && !(fs::file_size(partial, ec) > 0 && !ec); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(fs::exists(partial));
    run.Signal(signal);
    run.Wait();
    EXPECT_EQ(run.status(), 128 + signal);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(partial));
    EXPECT_TRUE(fs::exists(wav));
}

INSTANTIATE_TEST_SUITE_P(Signals, CliInterruptTest, ::testing::Values(SIGINT, SIGTERM),
                         [](const ::testing::TestParamInfo<int>& test) {
                             return std::string(test.param == SIGINT ? "CtrlC" : "Sigterm");
                         });

// Several files at once give the very files, and lines, of a one-at-a-time run.
TEST_F(CliTest, ParallelRunsWriteWhatASequentialRunWrites) {
    std::string files;
    for (int i = 0; i < 5; ++i) {
        const std::string path = dir.File("s" + std::to_string(i) + ".wav");
        ASSERT_TRUE(test::WriteWav(path, test::MakeSignal(44100, 2, 30000 + 5000 * i, i + 1)));
        files += " " + Quote(path);
    }
    // Two sources with one output name, and a file no reader opens.
    fs::copy_file(dir.File("s0.wav"), dir.File("s0.flac"));
    std::ofstream(dir.File("junk.mp2")) << std::string(3000, 'j');
    files += " " + Quote(dir.File("s0.flac")) + " " + Quote(dir.File("junk.mp2"));
    for (const char* policy : {"rename", "overwrite"}) {
        std::string out1, out2;
        const std::string common =
            "convert " + Settings() + " -f mp3 --tags custom --track auto --if-exists " + policy;
        EXPECT_EQ(
            Run(common + " -j 1 -o " + Quote(dir.File(std::string("j1") + policy)) + files, &out1),
            1);
        EXPECT_EQ(
            Run(common + " -j 2 -o " + Quote(dir.File(std::string("j2") + policy)) + files, &out2),
            1);
        // The same lines but for the folder's name.
        const std::string j1 = dir.File(std::string("j1") + policy);
        const std::string j2 = dir.File(std::string("j2") + policy);
        for (size_t at = out2.find(j2); at != std::string::npos; at = out2.find(j2, at))
            out2.replace(at, j2.size(), j1);
        EXPECT_EQ(out1, out2) << policy;
        EXPECT_EQ(Lines(out1).size(), 7u) << out1;
        size_t compared = 0;
        for (const auto& e : fs::directory_iterator(dir.File(std::string("j1") + policy))) {
            const fs::path twin = dir.path() / (std::string("j2") + policy) / e.path().filename();
            std::string a, b;
            ASSERT_EQ(test::Run("cat " + Quote(e.path().string()), &a), 0);
            ASSERT_EQ(test::Run("cat " + Quote(twin.string()), &b), 0) << twin;
            EXPECT_TRUE(a == b) << e.path();
            ++compared;
        }
        EXPECT_EQ(compared, std::string(policy) == "rename" ? 6u : 5u);
    }
}

TEST_F(CliTest, InterruptingAParallelRunLeavesNoPartialFile) {
    std::vector<std::string> args = {"convert", "--settings", dir.File("settings.ini"),
                                     "-f",      "mp3",        "-j",
                                     "2",       "-o",         dir.File("out")};
    for (int i = 0; i < 4; ++i) {
        const std::string path = dir.File("long" + std::to_string(i) + ".wav");
        ASSERT_TRUE(test::WriteWav(path, test::MakeSignal(44100, 2, 44100 * 40, i + 1)));
        args.push_back(path);
    }
    args.insert(args.begin(), Cli());
    test::ChildProcess run(args);
    ASSERT_TRUE(run.Start(dir.path().string()));
    const fs::path first = PartialPathOf((dir.path() / "out" / "long0.mp3").string());
    for (int i = 0; i < 400 && !(fs::exists(first) && fs::file_size(first) > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    run.Signal(SIGINT);
    run.Wait();
    EXPECT_EQ(run.status(), 130);
    // Nothing half written and no claimed name is left; the sources are untouched.
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir.path() / "out", ec)) {
        ADD_FAILURE() << "left behind: " << e.path();
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(fs::exists(dir.File("long" + std::to_string(i) + ".wav")));
}

// When the folder asked for cannot be written, the output goes to the documents folder; the
// line names it by its whole path, so that it can be found.
TEST_F(CliTest, AnOutputIsShownWithItsWholePath) {
    const std::string wav = dir.File("tone.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(22050, 1, 2205)));
    std::ofstream(dir.File("file")) << "a file, not a folder";
    const std::string home = dir.File("home");
    test::ChildProcess run({Cli(), "convert", "--settings", dir.File("settings.ini"), "-f", "ogg",
                            "-o", dir.File("file/sub"), wav},
                           {"HOME=" + home, "XDG_CONFIG_HOME=" + dir.File("config")});
    ASSERT_EQ(run.Run(dir.path().string()), 0) << run.Err();
    const std::string output = home + "/Documents/tone.ogg";
    EXPECT_EQ(run.Out(), output + "\tvolume 100.00%\n");
    EXPECT_EQ(test::FfProbe(output).codecName, "vorbis");
}

// The file of --to-one is of the format its name says: without -f its extension chooses the
// format, with -f another extension is refused.
TEST_F(CliTest, AJoinedFileIsOfTheFormatItsNameSays) {
    const std::string wav = dir.File("a.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(22050, 1, 2205)));
    // The saved format is MP3.
    std::ofstream(dir.File("settings.ini")) << "[Options]\nOutputFormat=1000\n";
    struct Case {
        std::string out, format;
        int status;
        std::string codec;  // empty: nothing is written
    };
    for (const Case& c : {Case{"joined.wav", "", 0, "pcm_s16le"},
                          Case{"joined.flac", "", 0, "flac"}, Case{"joined.mp3", "", 0, "mp3"},
                          Case{"joined.ogg", "ogg", 0, "vorbis"}, Case{"joined.wav", "mp3", 2, ""},
                          Case{"joined.audio", "", 2, ""}, Case{"joined", "", 2, ""}}) {
        fs::create_directories(dir.File("j"));
        const std::string out = dir.File("j/" + c.out);
        std::vector<std::string> argv = {
            Cli(), "convert", "--settings", dir.File("settings.ini"), "--to-one", out};
        if (!c.format.empty())
            argv.insert(argv.end(), {"-f", c.format});
        argv.push_back(wav);
        test::ChildProcess run(argv);
        EXPECT_EQ(run.Run(dir.path().string()), c.status) << c.out << " " << c.format;
        if (c.codec.empty()) {
            EXPECT_NE(run.Err().find("--to-one"), std::string::npos) << run.Err();
            EXPECT_FALSE(fs::exists(out)) << out;
        } else {
            EXPECT_EQ(test::FfProbe(out).codecName, c.codec) << out;
        }
        fs::remove_all(dir.File("j"));
    }
}

// A joined file that cannot be written to its end (a name that leads to a full device) fails
// its files, and the run.
TEST_F(CliTest, AJoinThatCannotBeWrittenFailsItsFiles) {
    const std::string wav = dir.File("a.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(22050, 1, 22050)));
    fs::create_symlink("/dev/full", dir.File("full.flac"));
    std::string text;
    EXPECT_EQ(Run("convert " + Settings() + " --json --to-one " + Quote(dir.File("full.flac")) +
                      " " + Quote(wav),
                  &text),
              1);
    const auto objects = JsonLines(text);
    ASSERT_EQ(objects.size(), 2u) << text;
    EXPECT_EQ(Str(objects[0], "status"), "failed") << text;
    EXPECT_TRUE(objects[0].value(u"output").isNull());
    EXPECT_EQ(Str(objects[0], "text"),
              "Failed to write file \"" + dir.File("full.flac") + "\" (is the disk full?).");
}

TEST_F(CliTest, OptionsChangeNothingInTheStore) {
    const std::string wav = dir.File("a.wav");
    ASSERT_TRUE(test::WriteWav(wav, test::MakeSignal(44100, 1, 4410)));
    ASSERT_EQ(Run("convert " + Settings() + " -f ogg --volume 50 -o " + Quote(dir.File("o")) + " " +
                  Quote(wav)),
              0);
    EXPECT_TRUE(fs::exists(dir.File("o/a.ogg")));
    EXPECT_FALSE(fs::exists(dir.File("settings.ini")));
    // A second run with the rename policy keeps the first output.
    std::string out;
    ASSERT_EQ(Run("convert " + Settings() + " -f ogg --if-exists rename -o " +
                      Quote(dir.File("o")) + " " + Quote(wav),
                  &out),
              0);
    EXPECT_EQ(out, dir.File("o/a_1.ogg") + "\tvolume 100.00%\n");
    // Skipping is what was asked for: no failure.
    ASSERT_EQ(Run("convert " + Settings() + " -f ogg --if-exists skip -o " + Quote(dir.File("o")) +
                      " " + Quote(wav),
                  &out),
              0);
    EXPECT_EQ(out, "Target exists and skipped\n");
}

// --json: an object per file in the order given (a missing or unreadable file where it stood,
// not first), saying what became of it, and a summary that counts them; the same whether one
// file is converted at a time or two.
TEST_F(CliTest, JsonReportsEveryFileInOrderAndTheirSum) {
    ASSERT_TRUE(test::WriteWav(dir.File("a.wav"), test::MakeSignal(44100, 2, 66150, 1)));
    ASSERT_TRUE(test::WriteWav(dir.File("b.wav"), test::MakeSignal(44100, 2, 22050, 2)));
    ASSERT_TRUE(test::WriteWav(dir.File("c.wav"), test::MakeSignal(22050, 1, 22050 * 3, 3)));
    std::ofstream(dir.File("junk.mp2")) << std::string(3000, 'j');
    const std::vector<std::string> sources = {dir.File("a.wav"), dir.File("missing.wav"),
                                              dir.File("b.wav"), dir.File("junk.mp2"),
                                              dir.File("c.wav")};
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        const fs::path out = dir.path() / (std::string("out") + jobs);
        fs::create_directories(out);
        std::ofstream(out / "b.flac") << "an earlier output";
        std::string args = "convert " + Settings() +
                           " --json -f flac --volume 50 --if-exists skip -j " + jobs + " -o " +
                           Quote(out.string());
        for (const std::string& source : sources)
            args += " " + Quote(source);
        std::string text;
        EXPECT_EQ(Run(args, &text), 1) << "two files failed";
        const auto objects = JsonLines(text);
        ASSERT_EQ(objects.size(), 6u) << text;
        for (size_t i = 0; i < sources.size(); ++i) {
            EXPECT_EQ(Str(objects[i], "type"), "file");
            EXPECT_EQ(Str(objects[i], "source"), sources[i]);
            EXPECT_GE(objects[i].value(u"seconds").toDouble(-1), 0.0);
        }
        for (size_t i : {0u, 4u}) {
            const QJsonObject& o = objects[i];
            const std::string name = i == 0 ? "a.flac" : "c.flac";
            EXPECT_EQ(Str(o, "status"), "converted");
            EXPECT_EQ(Str(o, "output"), (out / name).string());
            EXPECT_EQ(Str(o, "text"), name);
            EXPECT_EQ(o.value(u"volume").toDouble(), 50.0);
            EXPECT_EQ(o.value(u"duration").toInt(), i == 0 ? 1 : 3);
            EXPECT_EQ(test::FfProbe((out / name).string()).codecName, "flac");
        }
        EXPECT_EQ(Str(objects[1], "status"), "failed");
        EXPECT_EQ(Str(objects[1], "text"), "Conversion Failure (" + sources[1] + ": no such file)");
        EXPECT_EQ(Str(objects[2], "status"), "skipped");
        EXPECT_EQ(Str(objects[2], "text"), "Target exists and skipped");
        EXPECT_EQ(Str(objects[3], "status"), "failed");
        EXPECT_TRUE(Str(objects[3], "text").starts_with("Conversion Failure")) << text;
        for (size_t i : {1u, 2u, 3u}) {
            EXPECT_TRUE(objects[i].value(u"output").isNull());
            EXPECT_TRUE(objects[i].value(u"volume").isNull());
            EXPECT_TRUE(objects[i].value(u"duration").isNull());
        }
        const QJsonObject& sum = objects[5];
        EXPECT_EQ(Str(sum, "type"), "summary");
        EXPECT_EQ(sum.value(u"files").toInt(), 5);
        EXPECT_EQ(sum.value(u"converted").toInt(), 2);
        EXPECT_EQ(sum.value(u"failed").toInt(), 2);
        EXPECT_EQ(sum.value(u"skipped").toInt(), 1);
        EXPECT_EQ(sum.value(u"cancelled").toInt(), 0);
        EXPECT_EQ(sum.value(u"planned").toInt(), 0);
        EXPECT_GE(sum.value(u"seconds").toDouble(-1), 0.0);
        std::string earlier;
        test::Run("cat " + Quote((out / "b.flac").string()), &earlier);
        EXPECT_EQ(earlier, "an earlier output");
        EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 3);
    }
}

// --files-from: lists of names that a shell or a line-based list would get wrong, from a file
// and from standard input, after the files of the command line and in their order.
TEST_F(CliTest, FilesFromTakesNamesAsTheyAre) {
    const std::vector<std::string> names = {"with space.wav", "Ünïcödé ♫ «x».wav",
                                            "-dash.wav",      "tab\there.wav",
                                            "new\nline.wav",  "it's $HOME.wav"};
    for (size_t i = 0; i < names.size(); ++i)
        ASSERT_TRUE(test::WriteWav(dir.File(names[i]), test::MakeSignal(8000, 1, 800, i + 1)));
    ASSERT_TRUE(test::WriteWav(dir.File("first.wav"), test::MakeSignal(8000, 1, 800, 9)));
    // One a line (the name with a line break cannot be in such a list), with an empty line.
    {
        std::ofstream lines(dir.File("list.txt"), std::ios::binary);
        for (const std::string& name : names)
            if (name.find('\n') == std::string::npos)
                lines << dir.File(name) << "\n\n";
        std::ofstream nul(dir.File("list.0"), std::ios::binary);
        for (const std::string& name : names)
            nul << dir.File(name) << '\0';
    }
    struct Case {
        const char* name;
        std::string args;
        bool withLineBreak;
    };
    const Case cases[] = {
        {"lines", "--files-from " + Quote(dir.File("list.txt")), false},
        {"stdin-nul", "--files-from - --null < " + Quote(dir.File("list.0")), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path out = dir.path() / (std::string("out-") + c.name);
        std::string text;
        ASSERT_EQ(Run("convert " + Settings() + " --json -f flac -o " + Quote(out.string()) + " " +
                          Quote(dir.File("first.wav")) + " " + c.args,
                      &text),
                  0)
            << text;
        const auto objects = JsonLines(text);
        std::vector<std::string> expected = {dir.File("first.wav")};
        for (const std::string& name : names)
            if (c.withLineBreak || name.find('\n') == std::string::npos)
                expected.push_back(dir.File(name));
        ASSERT_EQ(objects.size(), expected.size() + 1) << text;
        for (size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(Str(objects[i], "source"), expected[i]);
            EXPECT_EQ(Str(objects[i], "status"), "converted");
            const std::string output = Str(objects[i], "output");
            EXPECT_EQ(fs::path(output).parent_path(), out);
            EXPECT_EQ(fs::path(output).stem(), fs::path(expected[i]).stem());
            EXPECT_TRUE(fs::is_regular_file(output)) << output;
        }
        EXPECT_EQ(objects.back().value(u"converted").toInt(), static_cast<int>(expected.size()));
    }
    // An empty list is nothing to do; a list that cannot be read fails before any work.
    std::string text;
    EXPECT_EQ(Run("convert " + Settings() + " --json --files-from /dev/null", &text), 0);
    const auto objects = JsonLines(text);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].value(u"files").toInt(), 0);
    EXPECT_EQ(Run("convert " + Settings() + " -o " + Quote(dir.File("never")) + " --files-from " +
                  Quote(dir.File("no-such-list")) + " " + Quote(dir.File("first.wav"))),
              1);
    EXPECT_FALSE(fs::exists(dir.File("never")));
}

// --dry-run names the outputs that the run then writes, under each policy for existing
// files, and writes nothing itself: no output, no claimed name, no folder.
TEST_F(CliTest, DryRunNamesWhatTheRunThenWrites) {
    fs::create_directories(dir.path() / "x");
    fs::create_directories(dir.path() / "y");
    ASSERT_TRUE(test::WriteWav(dir.File("x/a.wav"), test::MakeSignal(22050, 2, 11025, 1)));
    ASSERT_TRUE(test::WriteWav(dir.File("y/a.wav"), test::MakeSignal(22050, 2, 11025, 2)));
    ASSERT_TRUE(test::WriteWav(dir.File("b.wav"), test::MakeSignal(22050, 2, 11025, 3)));
    std::ofstream(dir.File("junk.mp2")) << std::string(3000, 'j');
    const std::string sources = " " + Quote(dir.File("x/a.wav")) + " " +
                                Quote(dir.File("y/a.wav")) + " " + Quote(dir.File("b.wav")) + " " +
                                Quote(dir.File("junk.mp2"));
    const std::map<std::string, std::vector<std::string>> planned = {
        {"rename", {"out/a_2.ogg", "out/a_3.ogg", "out/b.ogg", ""}},
        {"overwrite", {"out/a.ogg", "out/a.ogg", "out/b.ogg", ""}},
        {"skip", {"", "", "out/b.ogg", ""}},
    };
    for (const auto& [policy, outputs] : planned) {
        SCOPED_TRACE(policy);
        fs::remove_all(dir.path() / "out");
        fs::create_directories(dir.path() / "out");
        std::ofstream(dir.File("out/a.ogg")) << "old";
        std::ofstream(dir.File("out/a_1.ogg")) << "old";
        const std::string common = "convert " + Settings() + " -j 2 -f ogg --if-exists " + policy +
                                   " -o " + Quote(dir.File("out")) + sources;
        const std::string before = Snapshot(dir.path());
        std::string dry, text;
        EXPECT_EQ(Run(common + " --json --dry-run", &dry), 1) << "the junk would fail";
        EXPECT_EQ(Snapshot(dir.path()), before);
        // Without --json, the paths it would write, or why not.
        EXPECT_EQ(Run(common + " --dry-run", &text), 1);
        EXPECT_EQ(Snapshot(dir.path()), before);
        const std::vector<std::string> lines = Lines(text);
        ASSERT_EQ(lines.size(), 4u) << text;

        std::string real;
        EXPECT_EQ(Run(common + " --json", &real), 1);
        const auto plan = JsonLines(dry), done = JsonLines(real);
        ASSERT_EQ(plan.size(), 5u) << dry;
        ASSERT_EQ(done.size(), 5u) << real;
        for (size_t i = 0; i < 4; ++i) {
            const std::string expected = outputs[i].empty() ? "" : dir.File(outputs[i]);
            EXPECT_EQ(Str(plan[i], "output"), expected) << i;
            EXPECT_EQ(Str(done[i], "output"), expected) << i;
            EXPECT_EQ(Str(plan[i], "status"),
                      Str(done[i], "status") == "converted" ? "planned" : Str(done[i], "status"));
            EXPECT_EQ(Str(plan[i], "text"), Str(done[i], "text"));
            EXPECT_EQ(lines[i], expected.empty() ? Str(done[i], "text") : expected);
        }
        EXPECT_EQ(plan[4].value(u"planned").toInt(), policy == "skip" ? 1 : 3);
        EXPECT_EQ(plan[4].value(u"converted").toInt(), 0);
    }
    // A folder that a run would make is not made by a dry run, nor is its tree.
    std::string text;
    const std::string before = Snapshot(dir.path());
    EXPECT_EQ(Run("convert " + Settings() + " --dry-run -f ogg --keep-tree -o " +
                      Quote(dir.File("fresh/deeper")) + " " + Quote(dir.File("b.wav")),
                  &text),
              0);
    EXPECT_EQ(text, dir.File("fresh/deeper") + dir.File("b.ogg") + "\n");
    EXPECT_EQ(Snapshot(dir.path()), before);
}

// A rerun with the skip policy over finished work reads no source at all: here the sources
// are no audio any more, yet every file is reported skipped, and no output changes.
TEST_F(CliTest, RerunWithSkipReadsNoSourceAgain) {
    std::string files;
    for (int i = 0; i < 3; ++i) {
        const std::string path = dir.File("s" + std::to_string(i) + ".wav");
        ASSERT_TRUE(test::WriteWav(path, test::MakeSignal(22050, 2, 22050, i + 1)));
        files += " " + Quote(path);
    }
    const std::string common = "convert " + Settings() + " --json -f flac --if-exists skip -o " +
                               Quote(dir.File("out")) + files;
    std::string text;
    ASSERT_EQ(Run(common, &text), 0);
    EXPECT_EQ(JsonLines(text).back().value(u"converted").toInt(), 3);
    const std::string finished = Snapshot(dir.path() / "out");
    for (int i = 0; i < 3; ++i)
        std::ofstream(dir.File("s" + std::to_string(i) + ".wav")) << "no longer audio";
    for (const char* extra : {"", " --dry-run", " -j 1"}) {
        SCOPED_TRACE(extra);
        ASSERT_EQ(Run(common + extra, &text), 0);
        const auto objects = JsonLines(text);
        ASSERT_EQ(objects.size(), 4u);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(Str(objects[i], "status"), "skipped");
            EXPECT_TRUE(objects[i].value(u"duration").isNull()) << "the source was read";
        }
        EXPECT_EQ(objects[3].value(u"skipped").toInt(), 3);
        EXPECT_EQ(Snapshot(dir.path() / "out"), finished);
    }
}

class CliStopAndRerunTest : public CliTest {
protected:
    // A run of three files stopped with the signal while it converts the second: its report
    // ends with the files it did not finish as cancelled, it leaves only the first output, and
    // the same command again converts the other two and skips the first.
    void InterruptThenRerun(int signal, const std::set<int>& exitStatuses) {
        std::vector<std::string> args = {"convert", "--settings", dir.File("settings.ini"),
                                         "--json",  "-j",         "1",
                                         "-f",      "mp3",        "--if-exists",
                                         "skip",    "-o",         dir.File("out")};
        for (int i = 0; i < 3; ++i) {
            // The second is long enough for the signal to land while it is being encoded.
            const size_t frames = i == 1 ? 44100 * 150 : 4410;
            const std::string path = dir.File("s" + std::to_string(i) + ".wav");
            ASSERT_TRUE(test::WriteWav(path, test::MakeSignal(44100, 2, frames, i + 1)));
            args.push_back(path);
        }
        std::string first, rest;
        {
            CliProcess run(args);
            ASSERT_TRUE(run.Started());
            ASSERT_TRUE(run.ReadLine(first));
            run.Signal(signal);
            rest = run.ReadAll();
            EXPECT_TRUE(exitStatuses.count(run.Wait())) << "not ended as asked";
        }
        const auto objects = JsonLines(first + "\n" + rest.substr(rest.find('\n') + 1));
        ASSERT_EQ(objects.size(), 4u) << rest;
        EXPECT_EQ(Str(objects[0], "status"), "converted");
        EXPECT_EQ(Str(objects[1], "status"), "cancelled");
        EXPECT_EQ(Str(objects[2], "status"), "cancelled");
        EXPECT_EQ(objects[3].value(u"cancelled").toInt(), 2);
        std::set<std::string> left;
        for (const auto& e : fs::directory_iterator(dir.path() / "out"))
            left.insert(e.path().filename().string());
        EXPECT_EQ(left, std::set<std::string>{"s0.mp3"});

        std::string text;
        std::vector<std::string> again(args.begin() + 1, args.end());
        std::string line = "convert";
        for (const std::string& a : again)
            line += " " + Quote(a);
        ASSERT_EQ(Run(line, &text), 0);
        const auto rerun = JsonLines(text);
        ASSERT_EQ(rerun.size(), 4u) << text;
        EXPECT_EQ(Str(rerun[0], "status"), "skipped");
        EXPECT_EQ(Str(rerun[1], "status"), "converted");
        EXPECT_EQ(Str(rerun[2], "status"), "converted");
        EXPECT_NEAR(test::FfProbe(dir.File("out/s1.mp3")).duration, 150.0, 0.2);
    }
};

TEST_F(CliStopAndRerunTest, CtrlCEndsTheReportAndARerunFinishes) {
    InterruptThenRerun(SIGINT, {130});
}

// SIGTERM (a scheduler's stop, `timeout`) is handled as Ctrl+C is, with the shell's status
// for it.
TEST_F(CliStopAndRerunTest, SigtermIsHandledLikeCtrlC) {
    InterruptThenRerun(SIGTERM, {143});
}

}  // namespace
}  // namespace kestrune
