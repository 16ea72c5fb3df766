#include "writers/windows_media_runtime.h"

#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace kestrune {

namespace {

// The one piece of process state: the loaded runtime, set once under the mutex.
std::mutex loadMutex;
std::unique_ptr<WindowsMediaRuntime> loadedRuntime;
std::atomic<const WindowsMediaRuntime*> loadedView{nullptr};

// The folder of the running executable, with a trailing "/".
std::string ProgramFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "./";
    std::string folder = exe.parent_path().string();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

template <typename Fn>
Fn Resolve(void* library, const char* name) {
    return reinterpret_cast<Fn>(dlsym(library, name));
}

}  // namespace

void WindowsMediaRuntime::LibraryCloser::operator()(void* handle) const {
    if (handle)
        dlclose(handle);
}

std::unique_ptr<WindowsMediaRuntime> OpenWindowsMediaRuntime(const std::string& folder) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += kWindowsMediaLibrary;
    auto runtime = std::make_unique<WindowsMediaRuntime>();
    runtime->library.reset(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!runtime->library)
        return nullptr;
    void* library = runtime->library.get();
    runtime->createProfileManager =
        Resolve<wm::CreateProfileManagerFn>(library, "WMCreateProfileManager");
    runtime->createWriter = Resolve<wm::CreateWriterFn>(library, "WMCreateWriter");
    runtime->createSyncReader = Resolve<wm::CreateSyncReaderFn>(library, "WMCreateSyncReader");
    if (!runtime->createProfileManager || !runtime->createWriter || !runtime->createSyncReader)
        return nullptr;
    return runtime;
}

int LoadWindowsMediaRuntime() {
    if (loadedView.load())
        return 1;
    return LoadWindowsMediaRuntime(ProgramFolder());
}

int LoadWindowsMediaRuntime(const std::string& folder) {
    std::lock_guard<std::mutex> lock(loadMutex);
    if (loadedRuntime)
        return 1;
    loadedRuntime = OpenWindowsMediaRuntime(folder);
    loadedView.store(loadedRuntime.get());
    return loadedRuntime ? 1 : 0;
}

const WindowsMediaRuntime* LoadedWindowsMediaRuntime() {
    return loadedView.load();
}

}  // namespace kestrune
