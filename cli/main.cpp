// kestrune-cli: the conversion engine without a window.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/convert_options.h"
#include "common/version.h"

namespace {

const char* const kCommands = R"(Usage:
  kestrune-cli formats
      Lists the output formats: id, extension, label, allowed codecs.
  kestrune-cli probe FILE...
      Shows what the file list shows for each file: file, duration, bit rate, sample rate,
      channels (tab-separated).
  kestrune-cli convert [options] FILE...
      Converts each file into one output file.
  kestrune-cli convert --to-one OUT [options] FILE...
      Joins every file, in order, into the one output file OUT. Without -f, OUT's
      extension chooses the format; with -f, it must be that format's extension.
  kestrune-cli -h | --help
      Shows this text.
  kestrune-cli --version
      Shows the program's version.

Options of convert (each overrides the saved settings for this run only):
)";

const char* const kResults = R"(
Each file prints one line, in the order given: the output's path and the applied volume
("volume 100.00%"), or why it failed or was skipped. A rerun with --if-exists skip reads no
file whose output exists.
Exit status: 0 when every file converted (or was skipped by --if-exists skip), 1 when any
failed, 2 on a usage error, 130 when cancelled with Ctrl+C, 143 on SIGTERM (the current
output is removed).
)";

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Kestrune"));
    QCoreApplication::setApplicationName(QStringLiteral("Kestrune 4"));
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty())
        return kestrune::cli::UsageError("no command given");
    const std::string command = args.front();
    args.erase(args.begin());
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(kCommands, stdout);
        std::fputs(kestrune::cli::ConvertOptionsHelp().c_str(), stdout);
        std::fputs(kResults, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("kestrune-cli %s\n", KESTRUNE_VERSION);
        return 0;
    }
    if (command == "formats")
        return kestrune::cli::RunFormats(args);
    if (command != "probe" && command != "convert")
        return kestrune::cli::UsageError("unknown command \"" + command + "\"");
    if (!kestrune::cli::InitEngineLibraries())
        return 1;
    const int status =
        command == "probe" ? kestrune::cli::RunProbe(args) : kestrune::cli::RunConvert(args);
    kestrune::cli::FreeEngineLibraries();
    return status;
}
