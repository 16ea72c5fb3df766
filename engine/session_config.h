#pragma once

#include <functional>
#include <string>

#include "audio/program_folder.h"
#include "engine/convert_settings.h"
#include "writers/output_catalogue.h"
#include "writers/windows_media_runtime.h"

namespace kestrune {

// What a conversion session is configured with. Its owner (the main window for the life of
// the process, kestrune-cli for one command, a test) keeps it and hands it to every session by
// reference: the sessions read it at each step, so edits made between runs (the Options sheet
// works on settings, tagOptions and catalogue in place) hold from the next run on. Sessions
// never write it. The sessions of a run on several workers share one configuration; nobody may
// change it while they run.
struct SessionConfig {
    // programFolder ends in "/"; the sound font and the Windows Media layer are looked up there.
    explicit SessionConfig(std::string programFolder = RunningProgramFolder());
    SessionConfig(const SessionConfig&) = delete;
    SessionConfig& operator=(const SessionConfig&) = delete;

    ConvertSettings settings;
    TagOptions tagOptions;
    // The 30 output formats with their stored parameters.
    OutputCatalogue catalogue;

    const std::string programFolder;
    // Makes the sound font at the given path the decoding layer's default; non-zero on success.
    // By default the decoding layer's InstallSoundFont; unset: MIDI sources cannot be rendered.
    std::function<int(const std::string& fontPath)> loadSoundFont;
    // The Windows Media runtime of programFolder and the formats it offers, loaded when first
    // needed. The Options sheet's Windows Media page works on this same object
    // (RuntimeWmaFormatSource).
    WindowsMediaSupport windowsMedia;
    // Where outputs go when their own folder cannot be written ("OutputFiles2MyDocuments"):
    // the user's documents folder, made when first used; empty when there is none.
    std::string documentsFolder;

    // Installs the sound font beside the program (programFolder + "ct4mgm.sf2") as the
    // decoding layer's default; soundFontLoaded records the result, which is also returned.
    // Once loaded it stays so for the life of the process.
    int LoadSoundFont();
    // Non-zero once the sound font is the decoding layer's default.
    int soundFontLoaded = 0;
};

}  // namespace kestrune
