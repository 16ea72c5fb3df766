#include "settings/options/wma_format_source.h"

#include "writers/windows_media_runtime.h"

namespace kestrune {

bool RuntimeWmaFormatSource::RuntimeLoaded() const {
    return windowsMedia_.Runtime() != nullptr;
}

bool RuntimeWmaFormatSource::LoadRuntime() {
    return windowsMedia_.Load();
}

void RuntimeWmaFormatSource::BuildFormatList() {
    windowsMedia_.RebuildFormats();
}

const WmaCodecList& RuntimeWmaFormatSource::FormatList() const {
    return windowsMedia_.Formats();
}

}  // namespace kestrune
