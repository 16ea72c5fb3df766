#pragma once

#include <string>

namespace kestrune {

// The folder of the running executable, ending in "/"; empty when it cannot be known. What the
// program keeps beside itself is looked up there: the decoding layer's plug-ins, the Windows
// Media layer and the MIDI sound font.
std::string RunningProgramFolder();

}  // namespace kestrune
