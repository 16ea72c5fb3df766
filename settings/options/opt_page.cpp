#include "settings/options/opt_page.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <limits>

#include "desktop/prompter.h"

namespace kestrune {

COptPage::COptPage(const QString& title, Prompter& prompter, QWidget* parent)
    : QWidget(parent), title_(title), prompter_(prompter) {
    setAccessibleName(title);
}

void COptPage::Activate() {
    if (initialised_)
        return;
    initialised_ = true;
    InitControls();
}

bool COptPage::Validate() {
    return !initialised_ || ReadControls();
}

void COptPage::Apply() {
    if (initialised_)
        ApplyControls();
}

void COptPage::Load(const ConvertSettings& settings, const TagOptions& tags) {
    values_ = {settings, tags};
}

void COptPage::Store(ConvertSettings& settings, TagOptions& tags) const {
    for (const OptionEntry* entry : owned_)
        entry->Copy(values_.settings, values_.tags, settings, tags);
}

bool COptPage::ReadControls() {
    if (!CheckBindings())
        return false;
    ReadBindings();
    return true;
}

SpinEdit* COptPage::NumberEdit(const OptionMember& member, int step) {
    const OptionEntry& entry = OptionFor(member);
    return new SpinEdit(entry.minimum, entry.maximum, step, this);
}

void COptPage::ShowBindings() {
    for (const OptionBinding& binding : bindings_)
        binding.Show(values_);
}

bool COptPage::CheckBindings() {
    for (const OptionBinding& binding : bindings_) {
        if (const QString refusal = binding.Refusal(); !refusal.isEmpty()) {
            Refuse(refusal, binding.Control());
            return false;
        }
    }
    return true;
}

void COptPage::ReadBindings() {
    for (const OptionBinding& binding : bindings_)
        binding.Read(values_);
}

void COptPage::Refuse(const QString& text, QWidget* control) {
    prompter_.Warn(this, text);
    if (control) {
        control->setFocus(Qt::OtherFocusReason);
        if (auto* edit = qobject_cast<QLineEdit*>(control))
            edit->selectAll();
        else if (auto* spin = qobject_cast<QAbstractSpinBox*>(control))
            spin->selectAll();
    }
}

SpinEdit::SpinEdit(qint64 minimum, qint64 maximum, int step, QWidget* parent)
    : QAbstractSpinBox(parent), minimum_(minimum), maximum_(maximum) {
    // A step as wide as the whole range would jump from end to end: such spins step by one.
    step_ = step < maximum - minimum ? step : 1;
    setAccelerated(true);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
}

QString SpinEdit::Text() const {
    return lineEdit()->text();
}

void SpinEdit::SetText(const QString& text) {
    lineEdit()->setText(text);
}

void SpinEdit::stepBy(int steps) {
    // The buttons start from what the edit holds; text that is no number starts at the minimum.
    bool ok = false;
    qint64 value = Text().trimmed().toLongLong(&ok);
    // The spin's own position never leaves its range.
    value = ok ? std::clamp(value, minimum_, maximum_) : minimum_;
    value += static_cast<qint64>(steps) * step_;
    value = std::clamp(value, minimum_, maximum_);
    SetText(QString::number(value));
    lineEdit()->selectAll();
    emit editingFinished();
}

QValidator::State SpinEdit::validate(QString&, int&) const {
    // Anything may be typed; the page says what is wrong when it is left.
    return QValidator::Acceptable;
}

QSize SpinEdit::sizeHint() const {
    QSize size = QAbstractSpinBox::sizeHint();
    const int digits = QString::number(maximum_).size();
    size.setWidth(
        std::max(size.width(), fontMetrics().horizontalAdvance(QString(digits + 2, u'0')) + 30));
    return size;
}

QAbstractSpinBox::StepEnabled SpinEdit::stepEnabled() const {
    if (!isEnabled())
        return StepNone;
    bool ok = false;
    const qint64 value = Text().trimmed().toLongLong(&ok);
    if (!ok)
        return StepUpEnabled | StepDownEnabled;
    StepEnabled flags = StepNone;
    if (value < maximum_)
        flags |= StepUpEnabled;
    if (value > minimum_)
        flags |= StepDownEnabled;
    return flags;
}

QString StripMnemonic(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&') {
            if (i + 1 < text.size() && text[i + 1] == u'&')
                out += u'&';
            ++i;
            if (i < text.size() && text[i] != u'&')
                out += text[i];
            continue;
        }
        out += text[i];
    }
    return out;
}

void NameAfter(QWidget* control, const OptionMember& member) {
    control->setObjectName(QString::fromLatin1(OptionFor(member).name));
}

void NameFor(QWidget* control, const QString& text) {
    control->setAccessibleName(StripMnemonic(text));
}

QLabel* BuddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    NameFor(buddy, text);
    return label;
}

namespace {

// The digits of text between optional surrounding spaces, with an optional sign.
std::optional<qint64> ParseWhole(const QString& text, bool allowMinus) {
    const QString t = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == u'+' || (allowMinus && t[i] == u'-'))) {
        negative = t[i] == u'-';
        ++i;
    }
    if (i == t.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < t.size(); ++i) {
        if (t[i] < u'0' || t[i] > u'9')
            return std::nullopt;
        value = value * 10 + (t[i].unicode() - u'0');
        if (value > (qint64{1} << 33))
            return std::nullopt;  // far beyond any 32-bit value
    }
    return negative ? -value : value;
}

}  // namespace

std::optional<int> ParseInteger(const QString& text) {
    const std::optional<qint64> v = ParseWhole(text, true);
    if (!v || *v < std::numeric_limits<int>::min() || *v > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*v);
}

std::optional<uint32_t> ParseUnsigned(const QString& text) {
    const std::optional<qint64> v = ParseWhole(text, false);
    if (!v || *v > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    return static_cast<uint32_t>(*v);
}

}  // namespace kestrune
