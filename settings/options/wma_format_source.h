#pragma once
// What the Windows Media page needs of the main window: the runtime and the format list the
// main window owns (the WindowsMediaSupport of its session configuration).

#include "writers/wma_codec_list.h"

namespace kestrune {

class WmaFormatSource {
public:
    virtual ~WmaFormatSource() = default;
    virtual bool RuntimeLoaded() const = 0;
    // True when the runtime is (already or now) loaded.
    virtual bool LoadRuntime() = 0;
    // Builds the format list from the loaded runtime.
    virtual void BuildFormatList() = 0;
    virtual const WmaCodecList& FormatList() const = 0;
};

class WindowsMediaSupport;

// The real runtime and its list, as the caller owns them (the session configuration's, or one
// over another folder in tests).
class RuntimeWmaFormatSource : public WmaFormatSource {
public:
    explicit RuntimeWmaFormatSource(WindowsMediaSupport& windowsMedia)
        : windowsMedia_(windowsMedia) {}

    bool RuntimeLoaded() const override;
    bool LoadRuntime() override;
    void BuildFormatList() override;
    const WmaCodecList& FormatList() const override;

private:
    WindowsMediaSupport& windowsMedia_;
};

}  // namespace kestrune
