#pragma once

#include <string>

namespace kestrune {

class Desktop;
class FileDialogs;
class Prompter;
class SettingsStore;

// What the window asks of its surroundings. The program hands in the real ones (message boxes,
// file dialogs, the desktop, the user's store); tests hand in stand-ins.
struct AppServices {
    Prompter& prompter;
    FileDialogs& dialogs;
    Desktop& desktop;
    SettingsStore& store;
    // The folder of the program, ending in "/": the sound font and the manual lie there.
    std::string programFolder;
    // The user's documents folder, the default output folder; empty when there is none.
    std::string documentsFolder;
};

}  // namespace kestrune
