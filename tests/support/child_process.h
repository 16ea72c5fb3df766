#pragma once

// A program run by a test as a user runs it, watched from outside: its output, how it ended,
// the most memory it ever held, and signals sent to it at chosen moments.

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrune::test {

class ChildProcess {
public:
    // argv[0] is the program's path. env entries ("NAME=value") are added to the test's own
    // environment, replacing those of the same names.
    explicit ChildProcess(std::vector<std::string> argv, std::vector<std::string> env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Limits the size of any file the program writes (a full disk, as the program sees it:
    // a write past it fails).
    void LimitFileSize(long bytes) { fileSizeLimit_ = bytes; }

    // Starts the program; its standard output and error go to files of the test's folder.
    bool Start(const std::string& scratchFolder);
    pid_t pid() const { return pid_; }
    bool Signal(int signal);
    // Waits until the program stopped itself (SIGSTOP), true; false when it ended meanwhile
    // or did not stop within the time.
    bool WaitUntilStopped(int timeoutSeconds);
    // Waits until the program ends (killed after timeoutSeconds); false when it had to be
    // killed.
    bool Wait(int timeoutSeconds = 300);

    // After Wait: the exit status (-1 when a signal ended it), the signal, the largest
    // resident size in KiB, and what it printed.
    int status() const { return status_; }
    int endSignal() const { return endSignal_; }
    long peakKiB() const { return peakKiB_; }
    std::string Out() const;
    std::string Err() const;

    // Starts, waits, and gives the exit status.
    int Run(const std::string& scratchFolder, int timeoutSeconds = 300);

private:
    std::vector<std::string> argv_, env_;
    long fileSizeLimit_ = 0;
    pid_t pid_ = -1;
    int status_ = -1;
    int endSignal_ = 0;
    long peakKiB_ = 0;
    std::string outPath_, errPath_;
};

// kestrune-cli of this build.
std::string CliPath();

}  // namespace kestrune::test
