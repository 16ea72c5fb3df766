#include "messages/run_questions.h"

#include <cctype>

#include "engine/web_addresses.h"
#include "readers/bass_reader.h"

namespace kestrune {

const char* const kWindowsMediaQuestion =
    "Dear user, WMA file requires Windows Media Format 9 Series Runtime.\nUnfortunately, the "
    "component isn't available on your computer.\n\nDo you want to download and install it "
    "now?";

std::string SoundFontQuestion(const std::string& programFolder) {
    return std::string("Dear user, to decode MIDI file, file \"") + kSoundFontName +
           "\" is required.\nUnfortunately, the file isn't available on your computer.\n\n"
           "Do you want to download the file from our website for free now?\n\n"
           "Once download completes, please copy the file to folder:\n\"" +
           programFolder + "\"\nAnd then convert your MIDI file again. Thank you.";
}

bool AnswerRunNeeds(const RunNeeds& needs, const std::string& programFolder, Prompts& prompts) {
    if (needs.windowsMediaOutput) {
        if (prompts.AskYesNo(kWindowsMediaQuestion))
            prompts.OpenInBrowser(kWindowsMediaDownloadUrl);
        return false;
    }
    if (needs.soundFont && prompts.AskYesNo(SoundFontQuestion(programFolder))) {
        prompts.OpenFolder(programFolder);
        prompts.OpenInBrowser(kSoundFontDownloadUrl);
        return false;  // the user converts again once the font is there
    }
    if (needs.windowsMediaSources)
        AnswerProbeNeeds(prompts);
    return true;
}

void AnswerProbeNeeds(Prompts& prompts) {
    if (prompts.AskYesNo(kWindowsMediaQuestion))
        prompts.OpenInBrowser(kWindowsMediaDownloadUrl);
}

std::string MergeFilterText(const std::string& extension) {
    std::string upper = extension;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper + " File (*." + extension + ")";
}

}  // namespace kestrune
