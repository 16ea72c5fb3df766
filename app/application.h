#pragma once

#include <functional>
#include <string>

#include "readers/bass_reader.h"

namespace kestrune {

class Prompter;

// Starts the decoding layer in the given program folder.
using DecodingStarter = std::function<DecodingLayerStart(const std::string& programFolder)>;

// What the program sets up before its window, in order: the decoding layer (its version, its
// start, its plug-ins), FFmpeg and the random seed. A layer of another version ends the program
// without a word; one that cannot start is reported first. False: the program ends.
bool StartLibraries(const std::string& programFolder, Prompter& prompter,
                    const DecodingStarter& startDecoding = InitDecodingLayer);
// Releases the decoding layer and its plug-ins.
void StopLibraries();

// The whole program: start-up, the window until it closes, shutdown. The exit status.
int RunKestrune(int& argc, char** argv);

}  // namespace kestrune
