#pragma once

#include <memory>
#include <string>

#include "writers/wm/wmvcore.h"

namespace kestrune {

// The Windows Media layer's library and its three entry points: all set, or the load failed.
struct WindowsMediaRuntime {
    struct LibraryCloser {
        void operator()(void* handle) const;
    };
    std::unique_ptr<void, LibraryCloser> library;
    wm::CreateProfileManagerFn createProfileManager = nullptr;
    wm::CreateWriterFn createWriter = nullptr;
    wm::CreateSyncReaderFn createSyncReader = nullptr;
};

// The library's file name, looked up in the program's folder.
inline constexpr char kWindowsMediaLibrary[] = "libwmvcore.so";

// Opens the library in folder and resolves the entry points, touching no process state;
// null when the file is missing or is not the layer.
std::unique_ptr<WindowsMediaRuntime> OpenWindowsMediaRuntime(const std::string& folder);

// Loads the runtime from the program's folder once per process: 1 when it is (already or now)
// loaded, else 0. A failed load may be retried; a loaded runtime stays for the process's life.
int LoadWindowsMediaRuntime();
// The same with another folder (a loaded runtime is kept whatever the folder).
int LoadWindowsMediaRuntime(const std::string& folder);

// The loaded runtime, or null.
const WindowsMediaRuntime* LoadedWindowsMediaRuntime();

}  // namespace kestrune
