#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/item_outcome.h"

namespace kestrune::cli {

// How a file of a run ended; kPlanned only in a dry run, for a file that would be converted.
enum class FileStatus { kConverted, kFailed, kSkipped, kCancelled, kPlanned };

// One file of a run, as the report shows it.
struct FileResult {
    std::string source;  // the path as given, made absolute
    std::string output;  // the output's full path; empty when there is none
    FileStatus status = FileStatus::kFailed;
    std::string text;    // the "Output" text, as the file list shows it
    std::string volume;  // the "Volume" text ("100.00%"), empty when there is none
    int duration = -1;   // the source's duration in whole seconds; -1 when it was not read
    double seconds = 0;  // how long the file took
    // What measuring the output found (with ReplayGain or the loudness mode).
    LoudnessFigures loudness;
};

// The status of a file from how its item ended.
FileStatus StatusOf(ItemEnd end);

// The results of a run on standard output, one per file in the order the files were given,
// each as soon as it and every file before it are done. As text, a line with the "Output"
// text and the labelled volume (a dry run shows the full path it would write); as JSON, one
// object a line, and a summary object at the end.
class RunReport {
public:
    RunReport(bool json, bool dryRun) : json_(json), dryRun_(dryRun) {}

    // A file of the run, in the order given; its index.
    size_t Add(const std::string& source);
    FileResult& operator[](size_t i) { return files_[i]; }
    // The file is done; it is printed once the files before it are.
    void Done(size_t i);
    // Ends the report: the files not done get the given status (and no "Output" text), then
    // the summary follows.
    void Finish(FileStatus unfinished, double wallSeconds);
    int Count(FileStatus status) const { return counts_[static_cast<size_t>(status)]; }

private:
    void Print(const FileResult& r);

    bool json_, dryRun_;
    std::vector<FileResult> files_;
    std::vector<bool> done_;
    size_t next_ = 0;
    int counts_[5] = {};
};

// A JSON string literal of text; bytes that are no UTF-8 are shown repaired.
std::string JsonString(const std::string& text);

}  // namespace kestrune::cli
