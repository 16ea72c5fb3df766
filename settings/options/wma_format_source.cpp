#include "settings/options/wma_format_source.h"

#include "writers/windows_media_runtime.h"

namespace kestrune {

bool RuntimeWmaFormatSource::RuntimeLoaded() const {
    return LoadedWindowsMediaRuntime() != nullptr;
}

bool RuntimeWmaFormatSource::LoadRuntime() {
    return (folder_.empty() ? LoadWindowsMediaRuntime() : LoadWindowsMediaRuntime(folder_)) == 1;
}

void RuntimeWmaFormatSource::BuildFormatList() {
    BuildWmaCodecList(list_);
}

}  // namespace kestrune
