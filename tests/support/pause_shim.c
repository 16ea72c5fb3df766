/* Preloaded into a program under test: when KESTRUNE_PAUSE_AT names one of the moments below,
 * the program stops itself (SIGSTOP) the first time it gets there, so that the test can kill
 * it at exactly that point. Nothing else changes: each call goes on to the real function.
 *   trailer  before FFmpeg writes a container's trailer
 *   flush    before a file's data is flushed to disk
 *   rename   before a file is renamed or linked to another name */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int paused;

static void PauseAt(const char* moment) {
    const char* wanted = getenv("KESTRUNE_PAUSE_AT");
    if (!paused && wanted && strcmp(wanted, moment) == 0) {
        paused = 1;
        raise(SIGSTOP);
    }
}

int av_write_trailer(void* context) {
    PauseAt("trailer");
    int (*real)(void*) = (int (*)(void*))dlsym(RTLD_NEXT, "av_write_trailer");
    return real(context);
}

int fsync(int fd) {
    PauseAt("flush");
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    return real(fd);
}

int rename(const char* from, const char* to) {
    PauseAt("rename");
    int (*real)(const char*, const char*) =
        (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    return real(from, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
    PauseAt("rename");
    int (*real)(int, const char*, int, const char*, unsigned int) =
        (int (*)(int, const char*, int, const char*, unsigned int))dlsym(RTLD_NEXT, "renameat2");
    return real(fromDir, from, toDir, to, flags);
}

int link(const char* from, const char* to) {
    PauseAt("rename");
    int (*real)(const char*, const char*) =
        (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "link");
    return real(from, to);
}
