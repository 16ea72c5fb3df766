#pragma once

#include <string>

#include "engine/item_outcome.h"
#include "engine/run_observer.h"

namespace kestrune {

// The texts the file list, the progress windows and kestrune-cli show for the engine's typed
// results, composed in this one place for both front ends.

// The one line that says why: what follows "Conversion Failure" in parentheses, the reason of
// a naming failure, or what the failure report of adding files ends with. Empty for kNone.
std::string FailureDetailText(const Failure& failure);

// The "Output" cell of a finished item: the output's file name, or why there is none.
std::string OutputText(const ItemOutcome& outcome);
// "Conversion Failure", with the detail in parentheses when there is one.
std::string ConversionFailureText(const std::string& detail);
// True when the outcome's text carries a detail: the Output column is widened for it.
bool WidensOutputColumn(const ItemOutcome& outcome);
// The "Volume" cell: the gain in percent, "100.00%".
std::string VolumeText(float gain);

// The "Output" cell while a pass runs ("Converting..."), and with its progress
// ("Converting... 42%").
std::string PassText(Pass pass);
std::string PassProgressText(Pass pass, int percent);
// The "Output" cell of an item whose output waits for the rest of its album to be measured.
std::string WaitingForAlbumText();
// The per-file label of the progress window: "Starting to convert x.wav..." when an item
// begins, then "[42%] Converting x.wav..." while a pass runs.
std::string StartingText(const std::string& name);
std::string PassLabelText(Pass pass, int percent, const std::string& name);
// The overall label: "Converting 2 of 3 file(s) to MP3...".
std::string OverallText(int position, int count, const std::string& target);

// The warning of a join whose file could not be made or written; empty when it was.
std::string MergeFailureText(const RunSummary& summary);

}  // namespace kestrune
