#include "writers/windows_media_runtime.h"

#include <dlfcn.h>

namespace kestrune {

namespace {

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

WindowsMediaSupport::WindowsMediaSupport(std::string folder) : folder_(std::move(folder)) {}

bool WindowsMediaSupport::Load() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (runtime_)
        return true;
    runtime_ = OpenWindowsMediaRuntime(folder_);
    if (!runtime_)
        return false;
    BuildWmaCodecList(runtime_.get(), formats_);
    return true;
}

const WindowsMediaRuntime* WindowsMediaSupport::Runtime() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return runtime_.get();
}

int WindowsMediaSupport::RebuildFormats() {
    std::lock_guard<std::mutex> lock(mutex_);
    return BuildWmaCodecList(runtime_.get(), formats_);
}

}  // namespace kestrune
