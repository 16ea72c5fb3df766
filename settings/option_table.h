#pragma once
// Every stored option, described once: its stored name, the field that holds it, its type,
// the range its control offers, the save mask that writes it and, where it has one, its
// kestrune-cli flag with the flag's line of --help. The store, the Options pages and
// kestrune-cli all work from this table; the fields and their defaults are the records'
// own (engine/convert_settings.h, and the catalogue rows for the per-format values).

#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "engine/convert_settings.h"
#include "writers/output_catalogue.h"

namespace kestrune {

// The number the store keeps for a choice (also a radio's id, a list item's data).
template <class Choice>
constexpr int32_t StoredCode(Choice choice) {
    return static_cast<int32_t>(choice);
}

// The field an option is kept in: a member of the settings, of the custom tag, or of every
// catalogue row with stored values. A new kind of choice adds its member type here.
using OptionMember = std::variant<
    std::monostate, bool ConvertSettings::*, int ConvertSettings::*, uint32_t ConvertSettings::*,
    std::string ConvertSettings::*, FormatId ConvertSettings::*,
    DestOutputFolder ConvertSettings::*, TargetExists ConvertSettings::*,
    MonoMix ConvertSettings::*, VolumeMode ConvertSettings::*, ReplayGainMode ConvertSettings::*,
    TagSource ConvertSettings::*, AmrBand ConvertSettings::*, bool TagOptions::*, int TagOptions::*,
    std::string TagOptions::*, TrackNumMode TagOptions::*, int OutputFormatEntry::*>;

// Where an option is stored: the "Options" group, the custom tag's group, or the "Options"
// group once per catalogue row, under the row's prefix followed by the option's name.
enum class OptionGroup { kOptions, kTags, kFormat };

enum class OptionType { kBool, kInt, kUnsigned, kChoice, kText };

// What a number outside an option's range means.
enum class OptionRange {
    kOffered,         // the range is what a spin control offers; any value of the type is taken
    kRefused,         // a page refuses a value outside it (the store keeps any value)
    kLoadsAsDefault,  // the store loads a value outside it as the default
    kClamped,         // a page refuses a value outside it; the store loads one as the nearest end
};

// One value of an option that chooses one of several ways: its stored number, the name its
// control carries after the option's name ("volumeType.manual") and, where kestrune-cli
// takes it by a word, that word.
struct OptionChoice {
    int32_t stored;
    const char* name;
    const char* word = nullptr;
};

// Another option that switches this one on: the value it then has, and for a number given on
// the command line, whether 0 switches it off instead (a length of 0 is no length).
struct OptionSwitch {
    OptionMember member{};
    int32_t on = 1;
    bool zeroIsOff = false;
};

// What kestrune-cli does with an option's flag. Any flag given sets its option for the run
// only; a flag with a value given an empty value (other than a text) counts as not given.
enum class FlagAction {
    kNone,    // no flag
    kSet,     // no value: the option takes OptionFlag::value
    kGiven,   // no value: the option is on when the flag is given, else off, whatever is saved
    kWord,    // one of the choices' words
    kNumber,  // a whole number from 0 to the largest the field holds
    kText,    // any text
    kFolder,  // a folder, taken as an absolute path
    kOwn,     // text that kestrune-cli reads itself (see ApplyOptions there)
};

struct OptionFlag {
    const char* name = nullptr;       // "--skip"
    const char* shortName = nullptr;  // "-f"
    const char* argument = nullptr;   // what the value is called in --help ("MS")
    const char* help = nullptr;       // the line of --help ("\n" where it goes on a second line)
    FlagAction action = FlagAction::kNone;
    int32_t value = 1;  // kSet: the stored value set
};

struct OptionEntry {
    const char* key;   // the stored name; for kFormat, what follows the row's prefix
    const char* name;  // the field's name, which is also the object name of its control
    OptionMember member;
    int saveMask;  // the SaveSettings mask that writes it (kSaveFolder, ...)
    // Numbers: the range; see OptionRange.
    int64_t minimum = 0;
    int64_t maximum = 0;
    OptionRange range = OptionRange::kOffered;
    std::span<const OptionChoice> choices = {};
    OptionSwitch switchedBy = {};
    OptionFlag flag = {};

    OptionGroup Group() const;
    OptionType Type() const;
    bool IsNumber() const { return Type() != OptionType::kText; }
    // Whether a page refuses a number outside the range.
    bool RefusesOutsideRange() const {
        return range == OptionRange::kRefused || range == OptionRange::kClamped;
    }
    // The choice with that stored value, or null.
    const OptionChoice* Choice(int64_t stored) const;
    // The smallest and largest value the field can hold (0 and 1 for an on/off option).
    int64_t TypeMinimum() const;
    int64_t TypeMaximum() const;

    // A number as the store writes it: 0 or 1, the signed or unsigned value, the stored code.
    int64_t Number(const ConvertSettings& settings, const TagOptions& tags) const;
    int64_t Number(const OutputFormatEntry& row) const;
    // Takes a stored number: any 32-bit value, signed or unsigned, is kept as its 32 bits
    // (an on/off option is on when they are not 0). False, leaving the field, for a value
    // that does not fit 32 bits.
    bool SetNumber(ConvertSettings& settings, TagOptions& tags, int64_t stored) const;
    bool SetNumber(OutputFormatEntry& row, int64_t stored) const;
    const std::string& Text(const ConvertSettings& settings, const TagOptions& tags) const;
    void SetText(ConvertSettings& settings, TagOptions& tags, std::string text) const;
    // Copies the field from one pair of records to another.
    void Copy(const ConvertSettings& fromSettings, const TagOptions& fromTags,
              ConvertSettings& toSettings, TagOptions& toTags) const;
    void Copy(const OutputFormatEntry& from, OutputFormatEntry& to) const;
};

// The whole table: the options of the command line's flags in the order --help lists them,
// then the others.
std::span<const OptionEntry> OptionTable();

// The entry of a field; every field of the records but the derived ones has one.
const OptionEntry& OptionFor(const OptionMember& member);

}  // namespace kestrune
