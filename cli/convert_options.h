#pragma once
// The options of `kestrune-cli convert`: the flags of the stored options come from the option
// table, the flags of the run itself are listed here; both give their lines of --help.

#include <map>
#include <string>
#include <vector>

#include "cli/cli_host.h"
#include "engine/session_config.h"
#include "settings/option_table.h"

namespace kestrune::cli {

// A stored option as given on the command line: its value as typed, and as a number where the
// flag takes one.
struct GivenOption {
    std::string text;
    long long number = 0;
};

struct ConvertOptions {
    // The stored options given, by their entries (the last value of a flag given twice).
    std::map<const OptionEntry*, GivenOption> given;
    std::string toOne, settingsFile;
    long long jobs = 0;
    Answer answer = Answer::kAsk;
    std::vector<std::string> files;
    // For scripts: where more files are listed, how the results are shown, and whether
    // anything is done at all.
    std::vector<std::string> filesFrom;
    bool nulSeparated = false, json = false, dryRun = false;

    // The value given for the option of member, or null.
    const GivenOption* Given(const OptionMember& member) const;
};

// The option lines of --help, one flag (or group of flags) a line.
std::string ConvertOptionsHelp();

// Parses convert's arguments; returns 0, or 2 after a message on a usage error.
int ParseConvert(const std::vector<std::string>& args, ConvertOptions& o);

// --to-one OUT: the extension of OUT and the format agree. Without -f, OUT's extension chooses
// the format (the saved one when it has that extension); with -f, another extension is a usage
// error. Returns 0, or 2 after a usage message.
int MatchMergeFormat(ConvertOptions& o, const SessionConfig& s);

// Applies the options to the configuration's settings and returns the chosen row, or null
// after a usage message.
OutputFormatEntry* ApplyOptions(const ConvertOptions& o, SessionConfig& s);

}  // namespace kestrune::cli
