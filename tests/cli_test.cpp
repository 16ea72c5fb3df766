#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Presses Ctrl+C in the child and waits for it: its exit status, -1 when it did not exit.
int InterruptAndWait(pid_t pid) {
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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
    ASSERT_EQ(lines.size(), 30u);
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto cols = Split(lines[i]);
        ASSERT_EQ(cols.size(), 4u) << lines[i];
        EXPECT_EQ(cols[0], std::to_string(StoredValue(catalogue[i].formatId)));
        EXPECT_EQ(cols[1], catalogue[i].extension);
        EXPECT_EQ(cols[2], catalogue[i].DisplayLabel());
    }
    EXPECT_NE(lines[21].find("0x15001 LAME MP3"), std::string::npos);
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(Run(""), 2);
    EXPECT_EQ(Run("convert"), 2);
    EXPECT_EQ(Run("convert --if-exists maybe x.wav"), 2);
    EXPECT_EQ(Run("convert --format nosuch x.wav"), 2);
    EXPECT_EQ(Run("frobnicate"), 2);
    std::string help;
    EXPECT_EQ(Run("--help", &help), 0);
    EXPECT_NE(help.find("--to-one OUT"), std::string::npos);
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
        EXPECT_EQ(cols[3], f.sampleRate > 0 ? std::to_string(f.sampleRate) + " Hz" : "") << cols[0];
        EXPECT_EQ(cols[4], ChannelsText(f.channels)) << cols[0];
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
    int rows = 0;
    for (const OutputFormatEntry& row : catalogue) {
        if (!row.UsesFFmpegWriter())
            continue;
        ++rows;
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
            ASSERT_EQ(out, file + "\t100.00%\n");
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
    EXPECT_EQ(rows, 25);
}

TEST_F(CliTest, ConvertsTheCorpusToMp3) {
    KESTRUNE_REQUIRE_CORPUS();
    // Twenty seconds of each keep the run short; the readers decode whole files elsewhere.
    const auto lines =
        RunOverTheCorpus("convert " + Settings() + " -f mp3 --tags source --length 20000 -o " +
                         Quote(dir.File("mp3")));
    ASSERT_EQ(lines.size(), test::CorpusFiles().size());
    size_t converted = 0;
    for (const std::string& line : lines) {
        if (line.size() > 12 && line.substr(line.size() - 8) == "\t100.00%") {
            ++converted;
            const std::string path = line.substr(0, line.size() - 8);
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
        ASSERT_EQ(cols[1].back(), '%') << line;
        if (cols[1] != "100.00%")
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
    const std::string line = merged + "\t100.00%\n";
    EXPECT_EQ(out, line + line + line + line);
    const test::ProbeInfo info = test::FfProbe(merged);
    EXPECT_EQ(info.codecName, "vorbis");
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_NEAR(info.duration, 0.5 * 3 + 2.0, 0.1);
    EXPECT_EQ(info.Tag("title"), "Joined");
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
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGINT ? "CtrlC" : "Sigterm");
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
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::vector<char*> argv = {const_cast<char*>("kestrune-cli")};
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(Cli().c_str(), argv.data());
        _exit(127);
    }
    const fs::path first = PartialPathOf((dir.path() / "out" / "long0.mp3").string());
    for (int i = 0; i < 400 && !(fs::exists(first) && fs::file_size(first) > 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(InterruptAndWait(pid), 130);
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
    EXPECT_EQ(run.Out(), output + "\t100.00%\n");
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
    EXPECT_EQ(out, dir.File("o/a_1.ogg") + "\t100.00%\n");
    ASSERT_EQ(Run("convert " + Settings() + " -f ogg --if-exists skip -o " + Quote(dir.File("o")) +
                      " " + Quote(wav),
                  &out),
              1);
    EXPECT_EQ(out, "Target exists and skipped\n");
}

}  // namespace
}  // namespace kestrune
