#pragma once
// What the Windows Media page needs of the main window: the runtime and the format list the
// main window owns.

#include <string>

#include "writers/wma_codec_list.h"

namespace kestrune {

class WmaFormatSource {
public:
    virtual ~WmaFormatSource() = default;
    virtual bool RuntimeLoaded() const = 0;
    // LoadWindowsMediaRuntime: true when the runtime is (already or now) loaded.
    virtual bool LoadRuntime() = 0;
    // BuildWmaCodecList into the main window's list.
    virtual void BuildFormatList() = 0;
    virtual const WmaCodecList& FormatList() const = 0;
};

// The real runtime from the program's folder (or another folder, for tests), over a format
// list that the caller owns.
class RuntimeWmaFormatSource : public WmaFormatSource {
public:
    explicit RuntimeWmaFormatSource(WmaCodecList& list, std::string folder = {})
        : list_(list), folder_(std::move(folder)) {}

    bool RuntimeLoaded() const override;
    bool LoadRuntime() override;
    void BuildFormatList() override;
    const WmaCodecList& FormatList() const override { return list_; }

private:
    WmaCodecList& list_;
    std::string folder_;
};

}  // namespace kestrune
