#include "engine/session_config.h"

#include "readers/bass_reader.h"

namespace kestrune {

SessionConfig::SessionConfig(std::string folder)
    : programFolder(std::move(folder)), windowsMedia(programFolder) {
    BuildOutputCatalogue(catalogue);
    loadSoundFont = [](const std::string& path) {
        const auto slash = path.rfind('/');
        int loaded = 0;
        InstallSoundFont(slash == std::string::npos ? std::string() : path.substr(0, slash + 1),
                         loaded);
        return loaded;
    };
}

int SessionConfig::LoadSoundFont() {
    if (!soundFontLoaded && loadSoundFont)
        soundFontLoaded = loadSoundFont(programFolder + kSoundFontName);
    return soundFontLoaded;
}

}  // namespace kestrune
