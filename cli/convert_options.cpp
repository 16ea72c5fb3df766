#include "cli/convert_options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

#include "cli/commands.h"
#include "readers/source_type.h"

namespace kestrune::cli {

namespace {

// The flags of the run itself, which no stored option stands behind.
enum class RunOption { kYes, kNo, kJobs, kSettings, kFilesFrom, kNull, kJson, kDryRun };

struct RunFlag {
    RunOption option;
    const char* name;
    const char* shortName;
    const char* argument;
    const char* help;
};

constexpr const char* kAnswerHelp = "answer questions (without either: ask on a terminal, else No)";

constexpr RunFlag kRunFlags[] = {
    {RunOption::kYes, "--yes", nullptr, nullptr, kAnswerHelp},
    {RunOption::kNo, "--no", nullptr, nullptr, kAnswerHelp},
    {RunOption::kJobs, "--jobs", "-j", "N",
     "files converted at once (default: the cores this process may use)"},
    {RunOption::kSettings, "--settings", nullptr, "FILE",
     "use another settings file instead of the user's"},
    {RunOption::kFilesFrom, "--files-from", nullptr, "LIST",
     "also convert the files named in LIST, one a line (-: standard input)"},
    {RunOption::kNull, "--null", nullptr, nullptr,
     "the names in LIST are separated by NUL bytes (as find -print0 writes)"},
    {RunOption::kJson, "--json", nullptr, nullptr,
     "print a JSON object per file, then a summary object"},
    {RunOption::kDryRun, "--dry-run", nullptr, nullptr,
     "convert nothing: show the output each file would get, or why it\n"
     "would fail or be skipped; nothing is written"},
};

// The merge's output: --help names it with the commands, not among these options.
constexpr const char* kToOneFlag = "--to-one";

// A flag as --help shows it.
struct HelpItem {
    const char* name;
    const char* shortName;
    const char* argument;
    const char* help;
};

bool SameText(const char* a, const char* b) {
    return (a == nullptr && b == nullptr) || (a && b && std::strcmp(a, b) == 0);
}

// Flags side by side in the first 26 columns, the help after them; flags that share their
// value and their help share a line ("--yes, --no").
std::string HelpLines(const std::vector<HelpItem>& items) {
    constexpr size_t kHelpColumn = 26;
    const std::string indent(kHelpColumn, ' ');
    std::string text;
    for (size_t i = 0; i < items.size();) {
        size_t end = i + 1;
        while (end < items.size() && !items[end].shortName &&
               SameText(items[end].help, items[i].help) &&
               SameText(items[end].argument, items[i].argument))
            ++end;
        std::string flags = items[i].shortName ? std::string("  ") + items[i].shortName + ", "
                                               : std::string("      ");
        for (size_t j = i; j < end; ++j)
            flags += (j > i ? ", " : "") + std::string(items[j].name);
        if (items[i].argument)
            flags += std::string(" ") + items[i].argument;
        text += flags;
        if (flags.size() + 2 <= kHelpColumn)
            text += std::string(kHelpColumn - flags.size(), ' ');
        else
            text += "\n" + indent;
        for (const char* c = items[i].help; *c; ++c)
            text += *c == '\n' ? "\n" + indent : std::string(1, *c);
        text += "\n";
        i = end;
    }
    return text;
}

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool ParseInt(const std::string& text, long long& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return false;
    out = v;
    return true;
}

// An output format by id, extension or label (letter case ignored).
const OutputFormatEntry* FindFormat(const OutputCatalogue& catalogue, const std::string& text) {
    long long id = 0;
    if (ParseInt(text, id))
        return FindOutputFormat(catalogue, static_cast<FormatId>(id));
    const std::string wanted = Lower(text[0] == '.' ? text.substr(1) : text);
    for (const OutputFormatEntry& row : catalogue)
        if (Lower(row.extension) == wanted)
            return &row;
    for (const OutputFormatEntry& row : catalogue)
        if (Lower(row.DisplayLabel()) == wanted)
            return &row;
    return nullptr;
}

// A codec of the row by id (hex or decimal) or by a piece of its label.
const CodecEntry* FindCodec(const OutputFormatEntry& row, const std::string& text) {
    long long id = 0;
    const bool numeric = ParseInt(text, id);
    for (const CodecEntry* c : row.allowedCodecs) {
        if (numeric ? c->codecId == id : Lower(c->label).find(Lower(text)) != std::string::npos)
            return c;
    }
    return nullptr;
}

std::string FlagOf(const OptionMember& member) {
    return OptionFor(member).flag.name;
}

// "rename, overwrite or skip".
std::string Words(const OptionEntry& e) {
    std::string words;
    for (size_t i = 0; i < e.choices.size(); ++i) {
        if (i > 0)
            words += i + 1 == e.choices.size() ? " or " : ", ";
        words += e.choices[i].word;
    }
    return words;
}

const OptionEntry* FindOptionFlag(const std::string& arg) {
    for (const OptionEntry& e : OptionTable()) {
        if (e.flag.name && (arg == e.flag.name || (e.flag.shortName && arg == e.flag.shortName)))
            return &e;
    }
    return nullptr;
}

const RunFlag* FindRunFlag(const std::string& arg) {
    for (const RunFlag& f : kRunFlags)
        if (arg == f.name || (f.shortName && arg == f.shortName))
            return &f;
    return nullptr;
}

// Sets the option that switches e on, as a value given for e asks.
void Switch(const OptionEntry& e, long long number, SessionConfig& s) {
    const OptionSwitch& sw = e.switchedBy;
    if (std::holds_alternative<std::monostate>(sw.member))
        return;
    const bool off = sw.zeroIsOff && number == 0;
    OptionFor(sw.member).SetNumber(s.settings, s.tagOptions, off ? (sw.on ? 0 : 1) : sw.on);
}

}  // namespace

const GivenOption* ConvertOptions::Given(const OptionMember& member) const {
    const auto it = given.find(&OptionFor(member));
    return it == given.end() ? nullptr : &it->second;
}

std::string ConvertOptionsHelp() {
    std::vector<HelpItem> items;
    for (const OptionEntry& e : OptionTable())
        if (e.flag.name)
            items.push_back({e.flag.name, e.flag.shortName, e.flag.argument, e.flag.help});
    for (const RunFlag& f : kRunFlags)
        items.push_back({f.name, f.shortName, f.argument, f.help});
    return HelpLines(items);
}

int ParseConvert(const std::vector<std::string>& args, ConvertOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        // A whole number from 0 to most.
        auto number = [&](long long& out, long long most) {
            std::string text;
            return value(text) && ParseInt(text, out) && out >= 0 && out <= most;
        };
        bool ok = true;
        if (a == "--") {
            o.files.insert(o.files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
            break;
        }
        if (const RunFlag* run = FindRunFlag(a)) {
            switch (run->option) {
                case RunOption::kYes:
                    o.answer = Answer::kYes;
                    break;
                case RunOption::kNo:
                    o.answer = Answer::kNo;
                    break;
                case RunOption::kJobs:
                    ok = number(o.jobs, std::numeric_limits<int>::max()) && o.jobs >= 1;
                    break;
                case RunOption::kSettings:
                    ok = value(o.settingsFile);
                    break;
                case RunOption::kFilesFrom:
                    ok = value(o.filesFrom.emplace_back());
                    break;
                case RunOption::kNull:
                    o.nulSeparated = true;
                    break;
                case RunOption::kJson:
                    o.json = true;
                    break;
                case RunOption::kDryRun:
                    o.dryRun = true;
                    break;
            }
        } else if (a == kToOneFlag) {
            ok = value(o.toOne);
        } else if (const OptionEntry* e = FindOptionFlag(a)) {
            const FlagAction action = e->flag.action;
            GivenOption given;
            if (action == FlagAction::kNumber)
                ok = number(given.number, e->TypeMaximum());
            else if (action != FlagAction::kSet && action != FlagAction::kGiven)
                ok = value(given.text);
            // An empty word, folder, format, track or codec chooses nothing: the flag counts as
            // not given. (An empty tag text is a text.)
            const bool chooses = action == FlagAction::kWord || action == FlagAction::kFolder ||
                                 action == FlagAction::kOwn;
            if (ok && chooses && given.text.empty())
                o.given.erase(e);
            else
                o.given[e] = std::move(given);
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option " + a);
        } else {
            o.files.push_back(a);
        }
        if (!ok)
            return UsageError("option " + a + " needs a valid value");
    }
    // A list may be empty (a shard with nothing left to do); the command line alone may not.
    if (o.files.empty() && o.filesFrom.empty())
        return UsageError("convert needs at least one file");
    if (o.nulSeparated && o.filesFrom.empty())
        return UsageError("--null needs --files-from");
    for (const OptionEntry& e : OptionTable()) {
        const auto it = o.given.find(&e);
        if (e.flag.action != FlagAction::kWord || it == o.given.end())
            continue;
        bool known = false;
        for (const OptionChoice& c : e.choices)
            known = known || it->second.text == c.word;
        if (!known)
            return UsageError(std::string(e.flag.name) + " takes " + Words(e));
    }
    const OptionEntry& channels = OptionFor(&OutputFormatEntry::channels);
    if (const GivenOption* given = o.Given(channels.member); given && given->number > 2)
        return UsageError(FlagOf(channels.member) + " takes 0, 1 or 2");
    // One way to change the volume at a time.
    const OptionMember volumeFlags[] = {&ConvertSettings::volumeType, &ConvertSettings::volume,
                                        &ConvertSettings::loudnessTarget};
    for (size_t a = 0; a < std::size(volumeFlags); ++a)
        for (size_t b = a + 1; b < std::size(volumeFlags); ++b)
            if (o.Given(volumeFlags[a]) && o.Given(volumeFlags[b]))
                return UsageError(FlagOf(volumeFlags[a]) + " and " + FlagOf(volumeFlags[b]) +
                                  " exclude each other");
    return 0;
}

int MatchMergeFormat(ConvertOptions& o, const SessionConfig& s) {
    if (o.toOne.empty())
        return 0;
    const std::string name = FileNameOf(o.toOne);
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : Lower(name.substr(dot + 1));
    if (const GivenOption* format = o.Given(&ConvertSettings::outputFormat)) {
        const OutputFormatEntry* row = FindFormat(s.catalogue, format->text);
        if (row && Lower(row->extension) != ext)
            return UsageError(std::string(kToOneFlag) + " " + o.toOne + " does not end in ." +
                              row->extension + ", the extension of format " + row->DisplayLabel());
        return 0;
    }
    const OutputFormatEntry* saved = FindOutputFormat(s.catalogue, s.settings.outputFormat);
    const OutputFormatEntry* chosen = saved && Lower(saved->extension) == ext ? saved : nullptr;
    for (const OutputFormatEntry& row : s.catalogue)
        if (!chosen && !ext.empty() && Lower(row.extension) == ext)
            chosen = &row;
    if (!chosen)
        return UsageError(std::string(kToOneFlag) + " " + o.toOne +
                          ": its extension names no output format; give one with -f "
                          "(see kestrune-cli formats)");
    o.given[&OptionFor(&ConvertSettings::outputFormat)].text =
        std::to_string(StoredValue(chosen->formatId));
    return 0;
}

OutputFormatEntry* ApplyOptions(const ConvertOptions& o, SessionConfig& s) {
    ConvertSettings& st = s.settings;
    TagOptions& t = s.tagOptions;
    if (const GivenOption* format = o.Given(&ConvertSettings::outputFormat)) {
        const OutputFormatEntry* row = FindFormat(s.catalogue, format->text);
        if (!row) {
            UsageError("unknown format \"" + format->text + "\" (see kestrune-cli formats)");
            return nullptr;
        }
        st.outputFormat = row->formatId;
    }
    OutputFormatEntry* row = FindOutputFormat(s.catalogue, st.outputFormat);
    if (!row)
        row = &s.catalogue.front();

    // The stored options, in the table's order. The per-format values and the flags that
    // kestrune-cli reads itself follow.
    for (const OptionEntry& e : OptionTable()) {
        if (e.Group() == OptionGroup::kFormat)
            continue;
        const auto it = o.given.find(&e);
        const GivenOption* given = it == o.given.end() ? nullptr : &it->second;
        if (e.flag.action == FlagAction::kGiven)
            e.SetNumber(st, t, given ? 1 : 0);
        if (!given)
            continue;
        switch (e.flag.action) {
            case FlagAction::kSet:
                e.SetNumber(st, t, e.flag.value);
                break;
            case FlagAction::kWord:
                for (const OptionChoice& c : e.choices)
                    if (given->text == c.word)
                        e.SetNumber(st, t, c.stored);
                break;
            case FlagAction::kNumber:
                e.SetNumber(st, t, given->number);
                Switch(e, given->number, s);
                break;
            case FlagAction::kText:
                e.SetText(st, t, given->text);
                Switch(e, 1, s);
                break;
            case FlagAction::kFolder: {
                std::error_code ec;
                e.SetText(st, t, std::filesystem::absolute(given->text, ec).string());
                Switch(e, 1, s);
                break;
            }
            default:
                break;
        }
    }

    if (const GivenOption* track = o.Given(&TagOptions::trackNumType)) {
        long long n = 0;
        if (track->text == "auto") {
            t.trackNumType = TrackNumMode::kRunPosition;
        } else if (ParseInt(track->text, n) && n >= 0 && n <= std::numeric_limits<int>::max()) {
            t.trackNumType = n > 0 ? TrackNumMode::kCustom : TrackNumMode::kNone;
            t.customTrackNum = static_cast<int>(n);
        } else {
            UsageError(FlagOf(&TagOptions::trackNumType) + " takes a number or auto");
            return nullptr;
        }
    }

    if (const GivenOption* loudness = o.Given(&ConvertSettings::loudnessTarget)) {
        long long n = 0;
        if (!ParseInt(loudness->text, n) || n < kMinLoudnessTarget || n > kMaxLoudnessTarget) {
            UsageError(FlagOf(&ConvertSettings::loudnessTarget) + " takes a number from " +
                       std::to_string(kMinLoudnessTarget) + " to " +
                       std::to_string(kMaxLoudnessTarget));
            return nullptr;
        }
        st.loudnessTarget = static_cast<int>(n);
        st.volumeType = VolumeMode::kLoudness;
    }

    // Encoding parameters: any of them makes the row manual for this run; what is not given
    // keeps the row's manual value, or "as the source / automatic" when the row was automatic.
    const GivenOption* codec = o.Given(&OutputFormatEntry::codecId);
    const GivenOption* rate = o.Given(&OutputFormatEntry::sampleRate);
    const GivenOption* bitRate = o.Given(&OutputFormatEntry::bitRate);
    const GivenOption* channels = o.Given(&OutputFormatEntry::channels);
    const bool mono = o.Given(&ConvertSettings::monoType) != nullptr;
    const bool manual = codec || rate || bitRate || channels || mono;
    if (manual && row->HasStoredParameters()) {
        if (row->autoParams) {
            row->autoParams = 0;
            row->sampleRate = 0;
            row->bitRate = 0;
            row->channels = 0;
        }
        if (codec) {
            const CodecEntry* c = FindCodec(*row, codec->text);
            if (!c) {
                UsageError("format " + row->DisplayLabel() + " has no codec \"" + codec->text +
                           "\" (see kestrune-cli formats)");
                return nullptr;
            }
            row->codecId = c->codecId;
        }
        if (rate)
            row->sampleRate = static_cast<int>(rate->number);
        if (bitRate)
            row->bitRate = static_cast<int>(bitRate->number);
        if (channels)
            row->channels = static_cast<int>(channels->number);
        if (mono && !channels)
            row->channels = 1;
    } else if (manual) {
        // AMR and Windows Media keep their parameters in the general options.
        if (rate)
            st.wmaSampleRate = static_cast<int>(rate->number);
        if (bitRate)
            st.wmaBitRate = static_cast<int>(bitRate->number);
        if (channels && channels->number > 0)
            st.wmaChannels = static_cast<int>(channels->number);
        if (mono && !channels)
            st.wmaChannels = 1;
        if (rate || bitRate || channels || mono)
            st.wmaAutoEncParam = false;
    }
    return row;
}

}  // namespace kestrune::cli
