// Times what the tags beyond the nine texts cost one output, for bench/run_bench.py:
//   kestrune-tag-bench SOURCE FORMAT_ID SECONDS RUNS
// SOURCE is a tagged file with a cover. The tags are read from it as a conversion with tags
// from the source reads them; a second of sound is written by the format's writer with those
// tags given and without (what the writer does with them: room in the header, Ogg comments,
// Matroska attachments); an output of SECONDS is written with them, and they go into copies of
// it as a conversion puts them into its finished output. Prints the medians of RUNS in
// milliseconds of wall-clock and of processor time, a line each: "read", "write" (the second
// with the tags less the one without), "finish", "total" (their sum), then "output" (the size
// of the finished file in bytes).
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/program_folder.h"
#include "audio/tag_set.h"
#include "engine/convert_settings.h"
#include "engine/writer_plan.h"
#include "readers/ffmpeg_reader.h"
#include "readers/tag_file_reader.h"
#include "writers/tag_file_writer.h"
#include "writers/windows_media_runtime.h"

namespace fs = std::filesystem;
using namespace kestrune;

namespace {

// Wall-clock and processor milliseconds.
struct Time {
    double wall = 0, cpu = 0;
};

double CpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

Time Median(std::vector<Time> v) {
    if (v.empty())
        return {};
    Time m;
    std::sort(v.begin(), v.end(), [](Time a, Time b) { return a.wall < b.wall; });
    m.wall = v[v.size() / 2].wall;
    std::sort(v.begin(), v.end(), [](Time a, Time b) { return a.cpu < b.cpu; });
    m.cpu = v[v.size() / 2].cpu;
    return m;
}

template <class F>
Time Measure(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = CpuNow();
    f();
    return {
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
        CpuNow() - cpu};
}

// SECONDS of a stereo 44.1 kHz tone through the writer the format gets, as the engine makes it.
bool WriteOutput(const OutputFormatEntry& format, const TagSet* tags, const std::string& path,
                 int seconds) {
    ConvertSettings settings;
    static WindowsMediaSupport windowsMedia(RunningProgramFolder());
    if (IsWindowsMediaFormat(format.formatId) && !windowsMedia.Load())
        return false;
    WriterPlan plan;
    if (!PlanWriter(format, settings, windowsMedia, 44100, 2, WriterFor::kOneSource, plan))
        return false;
    if (tags)
        plan.writer->SetTags(*tags);
    plan.writer->SetPath(path);
    if (!plan.writer->Open())
        return false;
    std::vector<int16_t> left(kBlockFrames), right(kBlockFrames);
    const long frames = static_cast<long>(plan.rate) * seconds;
    for (long at = 0; at < frames; at += kBlockFrames) {
        for (int i = 0; i < kBlockFrames; ++i) {
            const double t = static_cast<double>(at + i) / plan.rate;
            left[static_cast<size_t>(i)] =
                static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
            right[static_cast<size_t>(i)] =
                static_cast<int16_t>(8000 * std::sin(2 * M_PI * 660 * t));
        }
        plan.writer->Write(left.data(), right.data(), kBlockFrames);
    }
    plan.writer->Close();
    return plan.writer->Completed();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: kestrune-tag-bench SOURCE FORMAT_ID SECONDS RUNS\n");
        return 2;
    }
    const std::string source = argv[1];
    const int seconds = std::atoi(argv[3]);
    const int runs = std::max(1, std::atoi(argv[4]));
    InitFFmpegLogging();
    OutputCatalogue catalogue;
    BuildOutputCatalogue(catalogue);
    const OutputFormatEntry* format =
        FindOutputFormat(catalogue, static_cast<FormatId>(std::atoi(argv[2])));
    if (!format) {
        std::fprintf(stderr, "no format %s\n", argv[2]);
        return 2;
    }

    // The source's nine texts as its reader gives them, and the rest.
    TagSet tags("Title", "Artist", "Album", "2005", "Rock", "", "3", "", "");
    std::vector<Time> read;
    for (int i = 0; i < runs; ++i) {
        TagSet file;
        read.push_back(Measure([&] { ReadFileTags(source, file); }));
        if (i == 0)
            AddSourceTags(tags, file, true);
    }
    if (tags.pictures.empty()) {
        std::fprintf(stderr, "%s has no cover\n", source.c_str());
        return 1;
    }

    const fs::path work =
        fs::temp_directory_path() / ("kestrune-tag-bench-" + std::to_string(getpid()));
    fs::create_directories(work);
    const std::string with = (work / ("with." + std::string(format->extension))).string();
    const std::string without = (work / ("without." + std::string(format->extension))).string();
    std::vector<Time> withTimes, withoutTimes, finish;
    bool ok = true;
    for (int i = 0; i < runs && ok; ++i) {
        withoutTimes.push_back(
            Measure([&] { ok = ok && WriteOutput(*format, nullptr, without, 1); }));
        withTimes.push_back(Measure([&] { ok = ok && WriteOutput(*format, &tags, with, 1); }));
    }
    ok = ok && WriteOutput(*format, &tags, with, seconds);
    const std::string copy = (work / ("copy." + std::string(format->extension))).string();
    for (int i = 0; i < runs && ok; ++i) {
        fs::copy_file(with, copy, fs::copy_options::overwrite_existing);
        if (TagsGoIntoFinishedFile(*format, tags))
            finish.push_back(Measure([&] { ok = WriteTagsToFile(copy, *format, tags); }));
    }
    std::error_code ec;
    const auto size = fs::file_size(ok ? copy : with, ec);
    fs::remove_all(work, ec);
    if (!ok) {
        std::fprintf(stderr, "writing failed\n");
        return 1;
    }
    const Time r = Median(read), with1 = Median(withTimes), without1 = Median(withoutTimes),
               f = Median(finish);
    const Time w{with1.wall - without1.wall, with1.cpu - without1.cpu};
    auto line = [](const char* name, Time t) {
        std::printf("%s %.2f %.2f\n", name, t.wall, t.cpu);
    };
    line("read", r);
    line("write", w);
    line("finish", f);
    line("total", {r.wall + w.wall + f.wall, r.cpu + w.cpu + f.cpu});
    std::printf("output %ju\n", static_cast<uintmax_t>(size));
    return 0;
}
