// kestrune-cli: the conversion engine without a window.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/version.h"

namespace {

const char* const kUsage = R"(Usage:
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
  -f, --format F          output format: id (1000), extension (mp3) or label
  -o, --output-dir DIR    write outputs into DIR ("Specific folder")
      --same-folder       write each output next to its source
      --keep-tree         recreate each source's folder tree below DIR
      --if-exists P       rename | overwrite | skip when the target exists
      --skip MS           skip the first MS milliseconds of each file
      --length MS         convert at most MS milliseconds of each file
      --mono M            avg | left | right: how stereo folds to one channel
      --normalize         normalise each file to full scale
      --volume PCT        change the volume to PCT percent
      --tags T            source | custom | none
      --title, --artist, --album, --year, --genre, --comment, --composer, --copyright TEXT
                          the custom tag (with --tags custom)
      --track N|auto      custom track number, or the file's position in the run
      --codec C           codec id (0x15001 or 86017) or label substring of the format's codecs
      --rate HZ           sample rate (0: the source's)
      --bitrate BPS       bit rate in bit/s (0: automatic)
      --channels N        1, 2 (0: the source's)
      --dts-cda           decode CD tracks as DTS
      --browse            show the first output in the file manager at the end
      --yes, --no         answer questions (without either: ask on a terminal, else No)
  -j, --jobs N            files converted at once (default: the cores this process may use)
      --settings FILE     use another settings file instead of the user's
      --files-from LIST   also convert the files named in LIST, one a line (-: standard input)
      --null              the names in LIST are separated by NUL bytes (as find -print0 writes)
      --json              print a JSON object per file, then a summary object
      --dry-run           convert nothing: show the output each file would get, or why it
                          would fail or be skipped; nothing is written

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
        std::fputs(kUsage, stdout);
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
