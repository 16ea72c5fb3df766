// A conversion killed outright (SIGKILL: no clean-up runs) at any moment, or failing on a full
// disk, never leaves a file under the output's name that is not the whole output; what it does
// leave is taken over by the next run; the sources stay as they were.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/output_claim.h"
#include "tests/support/child_process.h"
#include "tests/support/test_support.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Where the run is killed: while writing (as soon as the partial file is there, and half-way
// through), and in the steps that finish it (the container's trailer, the flush to disk, the
// rename to its name).
enum class Moment { kEarly, kMidFile, kTrailer, kFlush, kRename };

struct KillCase {
    const char* name;
    Moment moment;
    bool merge;
};

class KilledRunTest : public ::testing::TestWithParam<KillCase> {
protected:
    void SetUp() override {
        for (int i = 0; i < 2; ++i) {
            sources.push_back(dir.File("song" + std::to_string(i) + ".wav"));
            ASSERT_TRUE(test::WriteWav(sources.back(), test::MakeSignal(44100, 2, 44100 * 12, i)));
            original.push_back(Bytes(sources.back()));
        }
        fs::create_directory(out);
    }

    // kestrune-cli converting the first source to MP3 into out, or joining both into one MP3.
    std::vector<std::string> Command(const std::string& ifExists) const {
        std::vector<std::string> argv = {
            test::CliPath(), "convert",     "--settings", dir.File("settings.ini"), "-f",
            "mp3",           "--if-exists", ifExists};
        if (GetParam().merge) {
            argv.insert(argv.end(), {"--to-one", Target(), sources[0], sources[1]});
        } else {
            argv.insert(argv.end(), {"-o", out.string(), sources[0]});
        }
        return argv;
    }
    std::string Target() const {
        return (out / (GetParam().merge ? "joined.mp3" : "song0.mp3")).string();
    }
    double Seconds() const { return GetParam().merge ? 24.0 : 12.0; }

    // Waits until the partial file holds more than bytes; false when the run ended first.
    bool PartialGrowsBeyond(test::ChildProcess& run, uintmax_t bytes) {
        const std::string partial = PartialPathOf(Target());
        for (int i = 0; i < 20000; ++i) {
            std::error_code ec;
            const auto size = fs::file_size(partial, ec);
            if (!ec && size > bytes)
                return true;
            if (kill(run.pid(), 0) != 0)
                return false;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return false;
    }

    test::TempDir dir;
    fs::path out = dir.path() / "out";
    std::vector<std::string> sources, original;
};

TEST_P(KilledRunTest, TheNameNeverHoldsAPartialFileAndARerunConverts) {
    const KillCase& c = GetParam();
    std::vector<std::string> env;
    static const char* const kPauses[] = {nullptr, nullptr, "trailer", "flush", "rename"};
    if (const char* pause = kPauses[static_cast<int>(c.moment)]) {
        // The sanitizer runtime otherwise insists on being the first library loaded.
        const char* asan = std::getenv("ASAN_OPTIONS");
        env = {std::string("LD_PRELOAD=") + KESTRUNE_PAUSE_SHIM,
               std::string("KESTRUNE_PAUSE_AT=") + pause,
               std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0"};
    }
    test::ChildProcess run(Command("rename"), env);
    ASSERT_TRUE(run.Start(dir.path().string()));
    switch (c.moment) {
        case Moment::kEarly:
            ASSERT_TRUE(PartialGrowsBeyond(run, 0));
            break;
        case Moment::kMidFile:
            // 128 kbit/s: a third of the output.
            ASSERT_TRUE(PartialGrowsBeyond(run, static_cast<uintmax_t>(Seconds() * 16000 / 3)));
            break;
        default:
            ASSERT_TRUE(run.WaitUntilStopped(120)) << run.Err();
            break;
    }
    run.Signal(SIGKILL);
    run.Wait();
    ASSERT_EQ(run.endSignal(), SIGKILL);

    // Nothing carries the output's name; only the hidden partial file is left.
    EXPECT_FALSE(fs::exists(Target()));
    EXPECT_EQ(test::FolderEntries(out),
              std::vector<std::string>{fs::path(PartialPathOf(Target())).filename().string()});

    // A rerun that skips existing outputs converts it, and takes the partial file over.
    test::ChildProcess rerun(Command("skip"));
    ASSERT_EQ(rerun.Run(dir.path().string()), 0) << rerun.Err();
    const std::string line = Target() + "\tvolume 100.00%\n";
    EXPECT_EQ(rerun.Out(), c.merge ? line + line : line);
    EXPECT_EQ(test::FolderEntries(out),
              std::vector<std::string>{fs::path(Target()).filename().string()});
    const test::ProbeInfo info = test::FfProbe(Target());
    EXPECT_EQ(info.codecName, "mp3");
    EXPECT_NEAR(info.duration, Seconds(), 0.1);

    for (size_t i = 0; i < sources.size(); ++i)
        EXPECT_TRUE(Bytes(sources[i]) == original[i]) << sources[i] << " changed";
}

INSTANTIATE_TEST_SUITE_P(Moments, KilledRunTest,
                         ::testing::Values(KillCase{"Early", Moment::kEarly, false},
                                           KillCase{"MidFile", Moment::kMidFile, false},
                                           KillCase{"Trailer", Moment::kTrailer, false},
                                           KillCase{"Flush", Moment::kFlush, false},
                                           KillCase{"Rename", Moment::kRename, false},
                                           KillCase{"MergeEarly", Moment::kEarly, true},
                                           KillCase{"MergeMidFile", Moment::kMidFile, true},
                                           KillCase{"MergeTrailer", Moment::kTrailer, true},
                                           KillCase{"MergeFlush", Moment::kFlush, true},
                                           KillCase{"MergeRename", Moment::kRename, true}),
                         [](const ::testing::TestParamInfo<KillCase>& test) {
                             return test.param.name;
                         });

// A disk that fills up half-way: the run fails, says so, and leaves nothing of the output.
class FullDiskTest : public ::testing::TestWithParam<bool> {};

TEST_P(FullDiskTest, AFailedWriteLeavesNothing) {
    const bool merge = GetParam();
    test::TempDir dir;
    std::vector<std::string> argv = {test::CliPath(),          "convert", "--settings",
                                     dir.File("settings.ini"), "-f",      "wav"};
    const fs::path out = dir.path() / "out";
    fs::create_directory(out);
    if (merge)
        argv.insert(argv.end(), {"--to-one", (out / "joined.wav").string()});
    else
        argv.insert(argv.end(), {"-o", out.string()});
    for (int i = 0; i < 2; ++i) {
        argv.push_back(dir.File("song" + std::to_string(i) + ".wav"));
        ASSERT_TRUE(test::WriteWav(argv.back(), test::MakeSignal(44100, 2, 44100 * 10, i)));
    }
    test::ChildProcess run(argv);
    run.LimitFileSize(1 << 20);  // 1 MiB of the 1.7 MiB each output needs
    EXPECT_EQ(run.Run(dir.path().string()), 1);
    EXPECT_EQ(test::FolderEntries(out), std::vector<std::string>{});
    const std::string written = "Failed to write the output file (is the disk full?)";
    EXPECT_NE(run.Out().find("Conversion Failure (" + written + ")"), std::string::npos)
        << run.Out();
    if (merge) {
        EXPECT_NE(run.Err().find("Failed to write file"), std::string::npos) << run.Err();
    }
}

INSTANTIATE_TEST_SUITE_P(Outputs, FullDiskTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& test) {
                             return test.param ? "Merge" : "OnePerFile";
                         });

}  // namespace
}  // namespace kestrune
