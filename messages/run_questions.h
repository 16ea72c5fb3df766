#pragma once

#include <string>

#include "engine/run_scheduler.h"
#include "messages/prompts.h"

namespace kestrune {

// Asked when a Windows Media file or output needs the missing runtime.
extern const char* const kWindowsMediaQuestion;
// Asked when MIDI sources need the missing sound font; it names the program's folder.
std::string SoundFontQuestion(const std::string& programFolder);

// Asks what a run needs answered before it starts, in the order the run would meet it, and
// opens what the answers call for. False when the run must not start: the Windows Media
// runtime of the output is missing (whatever the answer), or the user chose to fetch the sound
// font first. Declining the sound font lets the run go on with its MIDI items failing; the
// Windows Media sources are read by the generic reader whatever the answer.
bool AnswerRunNeeds(const RunNeeds& needs, const std::string& programFolder, Prompts& prompts);

// Adding Windows Media files while their runtime is missing: the same question, once; the
// files are probed by the generic reader whatever the answer.
void AnswerProbeNeeds(Prompts& prompts);

// The one filter of the save dialog of a join: "MP3 File (*.mp3)".
std::string MergeFilterText(const std::string& extension);

}  // namespace kestrune
