#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace kestrune::test {

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

std::string CliPath() {
    return std::string(KESTRUNE_BIN_DIR) + "/kestrune-cli";
}

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> env)
    : argv_(std::move(argv)), env_(std::move(env)) {}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ChildProcess::Start(const std::string& scratchFolder) {
    static int serial = 0;
    const std::string stem = scratchFolder + "/child" + std::to_string(++serial);
    outPath_ = stem + ".out";
    errPath_ = stem + ".err";
    // Everything the child needs is made before the fork: it only calls what is safe there.
    std::vector<char*> argv;
    for (std::string& a : argv_)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    // The test's own environment, with the given entries in place of those of their names.
    std::vector<std::string> environment(env_);
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const std::string& given : env_)
            replaced = replaced || given.compare(0, name.size(), name) == 0;
        if (!replaced)
            environment.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    const int out = open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0 || err < 0)
        return false;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        if (fileSizeLimit_ > 0) {
            // A write past the limit then fails with EFBIG instead of ending the program.
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(fileSizeLimit_),
                               static_cast<rlim_t>(fileSizeLimit_)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out);
    close(err);
    return pid_ > 0;
}

bool ChildProcess::Signal(int signal) {
    return pid_ > 0 && kill(pid_, signal) == 0;
}

bool ChildProcess::WaitUntilStopped(int timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        int st = 0;
        const pid_t got = waitpid(pid_, &st, WUNTRACED | WNOHANG);
        if (got == pid_) {
            if (WIFSTOPPED(st))
                return true;
            // It ended instead: keep what waitpid told, as Wait would.
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            endSignal_ = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

bool ChildProcess::Wait(int timeoutSeconds) {
    if (pid_ <= 0)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool inTime = true;
    for (;;) {
        int st = 0;
        rusage usage{};
        const pid_t got = wait4(pid_, &st, WNOHANG, &usage);
        if (got == pid_) {
            status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            endSignal_ = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
            peakKiB_ = usage.ru_maxrss;
            pid_ = -1;
            return inTime;
        }
        if (inTime && std::chrono::steady_clock::now() >= deadline) {
            inTime = false;
            kill(pid_, SIGKILL);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string ChildProcess::Out() const {
    return ReadFile(outPath_);
}

std::string ChildProcess::Err() const {
    return ReadFile(errPath_);
}

int ChildProcess::Run(const std::string& scratchFolder, int timeoutSeconds) {
    if (!Start(scratchFolder))
        return -1;
    Wait(timeoutSeconds);
    return status_;
}

}  // namespace kestrune::test
