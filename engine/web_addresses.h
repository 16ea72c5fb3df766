#pragma once

#include "common/version.h"

namespace kestrune {

// Every address the program shows or opens.
inline constexpr const char* kHomePageUrl = "https://kestrune.org/";
inline constexpr const char* kUpdateCheckUrl =
    "https://kestrune.org/checkforupdates/?ver=" KESTRUNE_VERSION "&build=" KESTRUNE_BUILD_NUMBER;
inline constexpr const char* kSupportAddress = "support@kestrune.org";
inline constexpr const char* kWindowsMediaDownloadUrl =
    "https://kestrune.org/download/windows-media-runtime/";
inline constexpr const char* kSoundFontDownloadUrl = "https://kestrune.org/download/ct4mgm.sf2";

}  // namespace kestrune
