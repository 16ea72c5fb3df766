#include "engine/sheet_images.h"

#include <algorithm>
#include <filesystem>

#include "readers/cue_sheet.h"
#include "readers/source_type.h"

namespace kestrune {

namespace fs = std::filesystem;

// Sheets written on another platform may spell the name with backslashes. A sheet made for a
// WAV image often stays with its image once that is compressed, so the same name with another
// audio extension is taken when the named file is missing.
std::string SheetImagePath(const std::string& sheetPath, const std::string& name) {
    std::string spelled = name;
    std::replace(spelled.begin(), spelled.end(), '\\', '/');
    const fs::path named = fs::path(spelled).is_absolute()
                               ? fs::path(spelled)
                               : fs::path(sheetPath).parent_path() / spelled;
    std::error_code ec;
    if (fs::is_regular_file(named, ec))
        return named.string();
    const std::string stem = named.stem().string();
    for (fs::directory_iterator it(named.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const fs::path& p = it->path();
        std::error_code kind;
        if (p.stem().string() == stem && it->is_regular_file(kind) &&
            SourceTypeOf(p.string()) != SourceType::kOther)
            return p.string();
    }
    return {};
}

std::vector<std::string> SheetImages(const std::string& sheetPath) {
    std::vector<std::string> images;
    const CueParse parsed = ReadCueSheet(sheetPath);
    for (const CueTrack& t : parsed.sheet.tracks) {
        std::string image = SheetImagePath(sheetPath, t.file);
        if (!image.empty() && std::find(images.begin(), images.end(), image) == images.end())
            images.push_back(std::move(image));
    }
    return images;
}

}  // namespace kestrune
