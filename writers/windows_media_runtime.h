#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/wmvcore/wmvcore.h"
#include "writers/wma_codec_list.h"

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

// The Windows Media layer of one program folder, loaded when first needed and kept for the
// owner's life, with the list of formats it offers. The owner (the session configuration of
// the window or of kestrune-cli, a test) keeps it while readers and writers made from it live.
// Sessions on several threads may share it: the load happens once, under a lock, and the list
// is built with it; only RebuildFormats (the Options sheet, between runs) changes it later.
class WindowsMediaSupport {
public:
    explicit WindowsMediaSupport(std::string folder);
    WindowsMediaSupport(const WindowsMediaSupport&) = delete;
    WindowsMediaSupport& operator=(const WindowsMediaSupport&) = delete;

    // True when the runtime is (already or now) loaded. A failed load may be retried: the user
    // may have installed the layer meanwhile.
    bool Load();
    // The loaded runtime, or null.
    const WindowsMediaRuntime* Runtime() const;
    // The formats the runtime offers, ordered; empty while it is not loaded.
    const WmaCodecList& Formats() const { return formats_; }
    // Builds the list again from the loaded runtime; 1 when every runtime call succeeded.
    int RebuildFormats();
    const std::string& Folder() const { return folder_; }

private:
    const std::string folder_;
    mutable std::mutex mutex_;
    std::unique_ptr<WindowsMediaRuntime> runtime_;
    WmaCodecList formats_;
};

}  // namespace kestrune
