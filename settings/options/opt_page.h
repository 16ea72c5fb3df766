#pragma once
// What every page of the Options sheet shares: the page base with its life cycle, and the small
// widgets and helpers the pages are built from.

#include <QAbstractSpinBox>
#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

#include "settings/options/option_binding.h"

class QAbstractButton;
class QLabel;

namespace kestrune {

class Prompter;

// One page of the Options sheet. A page holds copies of the values it edits (given by its
// Load, handed back by its Store). Its controls show those values from the first time the
// page is shown; a page that was never shown hands its values back unchanged. The values a
// page edits are the options its controls are bound to (Bind) and those it names (Own).
class COptPage : public QWidget {
    Q_OBJECT
public:
    COptPage(const QString& title, Prompter& prompter, QWidget* parent = nullptr);

    const QString& Title() const { return title_; }
    bool IsInitialised() const { return initialised_; }

    // Called by the sheet whenever the page becomes the active one.
    void Activate();
    // The page is being left or the sheet confirmed: reads the controls into the held values.
    // On a bad entry it shows the message, moves the focus to the control and returns false;
    // the page then stays.
    bool Validate();
    // The sheet was confirmed: pages that capture their lists at that moment do it here.
    void Apply();

    void Load(const ConvertSettings& settings, const TagOptions& tags);
    // Hands back the page's own options only.
    void Store(ConvertSettings& settings, TagOptions& tags) const;

protected:
    // Shows the held values in the controls (first activation only).
    virtual void InitControls() = 0;
    // By default: refuses what a bound control cannot take, else reads every bound control.
    virtual bool ReadControls();
    virtual void ApplyControls() {}

    // Ties control to the option of member (see OptionBinding); returns control.
    template <class Control, class... Extra>
    Control* Bind(Control* control, const OptionMember& member, Extra... extra) {
        bindings_.emplace_back(OptionFor(member), control, extra...);
        owned_.push_back(&bindings_.back().Entry());
        return control;
    }
    // An option the page edits through a control of its own making.
    void Own(const OptionMember& member) { owned_.push_back(&OptionFor(member)); }
    // A spin edit over the range of the option of member (to be bound to it).
    SpinEdit* NumberEdit(const OptionMember& member, int step);

    // The bound controls show the held values.
    void ShowBindings();
    // Shows the first refusal of a bound control, in the order they were bound; false then.
    bool CheckBindings();
    void ReadBindings();
    OptionValues& values() { return values_; }

    // Shows text with the exclamation icon and moves the focus to control.
    void Refuse(const QString& text, QWidget* control);
    Prompter& prompter() { return prompter_; }

private:
    QString title_;
    Prompter& prompter_;
    bool initialised_ = false;
    OptionValues values_;
    std::vector<OptionBinding> bindings_;
    std::vector<const OptionEntry*> owned_;
};

// A text edit with spin buttons, as the pages need it: the text is free (what the user typed
// is checked when the page is left), the buttons step by a fixed increment within a range.
class SpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    SpinEdit(qint64 minimum, qint64 maximum, int step, QWidget* parent = nullptr);

    QString Text() const;
    void SetText(const QString& text);
    void SetNumber(qint64 value) { SetText(QString::number(value)); }
    qint64 Minimum() const { return minimum_; }
    qint64 Maximum() const { return maximum_; }
    int Step() const { return step_; }

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;
    QSize sizeHint() const override;

protected:
    StepEnabled stepEnabled() const override;

private:
    qint64 minimum_;
    qint64 maximum_;
    int step_;
};

// The text with its mnemonic marks taken out ("&Browse" -> "Browse", "R&&B" -> "R&B").
QString StripMnemonic(const QString& text);

// Gives control the object name of the option of member.
void NameAfter(QWidget* control, const OptionMember& member);

// Names control for assistive technology after the text that stands for it.
void NameFor(QWidget* control, const QString& text);
// A label whose mnemonic moves to buddy, which takes the label's text as its name.
QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent = nullptr);

// Whole numbers as the pages accept them: optional spaces around, a sign for signed ones,
// digits only, within the type's range.
std::optional<int> ParseInteger(const QString& text);
std::optional<uint32_t> ParseUnsigned(const QString& text);

}  // namespace kestrune
