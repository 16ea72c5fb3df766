#pragma once

#include <QString>
#include <optional>

#include "engine/convert_settings.h"
#include "settings/option_table.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QWidget;

namespace kestrune {

class SpinEdit;

// The copy of the records an Options page edits.
struct OptionValues {
    ConvertSettings settings;
    TagOptions tags;
};

// A control of an Options page tied to an option of the table: a check box to an on/off
// option, an edit (or an editable list) to a text, a spin edit to a number within the option's
// range, a list to a number held as its items' data, a group of radios to a choice (each
// radio's id being the stored value). The control takes the option's name as its object name
// (a radio: the option's name, a dot and its choice's name).
class OptionBinding {
public:
    OptionBinding(const OptionEntry& entry, QCheckBox* check);
    OptionBinding(const OptionEntry& entry, QLineEdit* edit);
    OptionBinding(const OptionEntry& entry, SpinEdit* edit);
    // An editable list holds a text; another list selects fallbackIndex when no item holds the
    // value.
    OptionBinding(const OptionEntry& entry, QComboBox* list, int fallbackIndex = 0);
    // A value no radio stands for checks the radio of fallback; without one, none (and the
    // value stays unless a radio is then chosen).
    OptionBinding(const OptionEntry& entry, QButtonGroup* radios,
                  std::optional<int32_t> fallback = std::nullopt);

    const OptionEntry& Entry() const { return *entry_; }
    // The control that takes the focus when its content is refused.
    QWidget* Control() const { return control_; }

    void Show(const OptionValues& values) const;
    // Why the control's content cannot be taken, or empty. A control that is switched off
    // never refuses: what it holds is taken when it can be, else the value stays.
    QString Refusal() const;
    void Read(OptionValues& values) const;

private:
    enum class Kind { kCheck, kEdit, kSpin, kTextList, kList, kRadios };
    // The number a spin edit holds when the option can take it.
    std::optional<int64_t> SpinNumber() const;

    const OptionEntry* entry_;
    Kind kind_;
    QWidget* control_ = nullptr;
    QButtonGroup* radios_ = nullptr;
    int fallbackIndex_ = 0;
    std::optional<int32_t> fallback_;
};

}  // namespace kestrune
