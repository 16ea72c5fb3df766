// The cue sheet reader, which adding a .cue runs before any image is opened, and the reader of
// FLAC's own CUESHEET block, which adding a FLAC file runs. Beyond not crashing, what they give
// must hold what the rest of the program relies on.
#include <string_view>

#include "audio/utf8_text.h"
#include "fuzz/fuzz_support.h"
#include "readers/cue_sheet.h"
#include "readers/embedded_cue_sheet.h"

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrune::fuzz::InitLibraries();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kestrune;
    if (size >= 4 && std::string_view(reinterpret_cast<const char*>(data), 4) == "fLaC") {
        CueSheet block;
        if (ReadFlacCueBlock(fuzz::InputFile(data, size, ".flac"), block)) {
            Check(!block.tracks.empty() &&
                  block.tracks.size() <= static_cast<size_t>(kMostCueTracks));
            for (size_t i = 1; i < block.tracks.size(); ++i)
                Check(block.tracks[i - 1].index01 < block.tracks[i].index01);
        }
        return 0;
    }
    const std::string& path = fuzz::InputFile(data, size, ".cue");
    const CueParse parsed = ReadCueSheet(path);
    const CueSheet& sheet = parsed.sheet;
    Check(parsed.error == CueError::kNone || sheet.tracks.empty());
    Check(parsed.error != CueError::kNone || !sheet.tracks.empty());
    Check(sheet.tracks.size() <= static_cast<size_t>(kMostCueTracks));
    Check(IsValidUtf8(sheet.title) && IsValidUtf8(sheet.performer));
    const CueTrack* before = nullptr;
    for (const CueTrack& t : sheet.tracks) {
        Check(t.number >= 1 && t.number <= kMostCueTracks && !t.file.empty());
        Check(t.index01 >= 0 && IsValidUtf8(t.title) && IsValidUtf8(t.file));
        // Cuts in one file only move forward, so no track has a negative length.
        if (before && before->file == t.file)
            Check(CueFramesToSamples(before->index01, 96000) <
                  CueFramesToSamples(t.index01, 96000));
        before = &t;
    }
    return 0;
}
