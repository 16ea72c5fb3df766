#include "settings/options/option_binding.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "settings/options/opt_page.h"

namespace kestrune {

namespace {

QString NameOf(const OptionEntry& entry) {
    return QString::fromLatin1(entry.name);
}

}  // namespace

OptionBinding::OptionBinding(const OptionEntry& entry, QCheckBox* check)
    : entry_(&entry), kind_(Kind::kCheck), control_(check) {
    check->setObjectName(NameOf(entry));
}

OptionBinding::OptionBinding(const OptionEntry& entry, QLineEdit* edit)
    : entry_(&entry), kind_(Kind::kEdit), control_(edit) {
    edit->setObjectName(NameOf(entry));
}

OptionBinding::OptionBinding(const OptionEntry& entry, SpinEdit* edit)
    : entry_(&entry), kind_(Kind::kSpin), control_(edit) {
    edit->setObjectName(NameOf(entry));
}

OptionBinding::OptionBinding(const OptionEntry& entry, QComboBox* list, int fallbackIndex)
    : entry_(&entry),
      kind_(list->isEditable() ? Kind::kTextList : Kind::kList),
      control_(list),
      fallbackIndex_(fallbackIndex) {
    list->setObjectName(NameOf(entry));
}

OptionBinding::OptionBinding(const OptionEntry& entry, QButtonGroup* radios,
                             std::optional<int32_t> fallback)
    : entry_(&entry), kind_(Kind::kRadios), radios_(radios), fallback_(fallback) {
    radios->setObjectName(NameOf(entry));
    for (QAbstractButton* radio : radios->buttons()) {
        const OptionChoice* choice = entry.Choice(radios->id(radio));
        radio->setObjectName(NameOf(entry) + u'.' +
                             QString::fromLatin1(choice ? choice->name : "unknown"));
    }
}

void OptionBinding::Show(const OptionValues& v) const {
    switch (kind_) {
        case Kind::kCheck:
            static_cast<QCheckBox*>(control_)->setChecked(entry_->Number(v.settings, v.tags) != 0);
            break;
        case Kind::kEdit:
            static_cast<QLineEdit*>(control_)->setText(
                QString::fromStdString(entry_->Text(v.settings, v.tags)));
            break;
        case Kind::kSpin:
            static_cast<SpinEdit*>(control_)->SetNumber(entry_->Number(v.settings, v.tags));
            break;
        case Kind::kTextList: {
            auto* list = static_cast<QComboBox*>(control_);
            list->setCurrentIndex(-1);
            list->setEditText(QString::fromStdString(entry_->Text(v.settings, v.tags)));
            break;
        }
        case Kind::kList: {
            auto* list = static_cast<QComboBox*>(control_);
            const int index = list->findData(static_cast<int>(entry_->Number(v.settings, v.tags)));
            list->setCurrentIndex(index >= 0 ? index : fallbackIndex_);
            break;
        }
        case Kind::kRadios: {
            const auto stored = static_cast<int>(entry_->Number(v.settings, v.tags));
            QAbstractButton* radio = radios_->button(stored);
            if (!radio && fallback_)
                radio = radios_->button(*fallback_);
            if (radio)
                radio->setChecked(true);
            break;
        }
    }
}

std::optional<int64_t> OptionBinding::SpinNumber() const {
    const QString text = static_cast<SpinEdit*>(control_)->Text();
    std::optional<int64_t> number;
    if (entry_->Type() == OptionType::kUnsigned) {
        if (const std::optional<uint32_t> n = ParseUnsigned(text))
            number = *n;
    } else if (const std::optional<int> n = ParseInteger(text)) {
        number = *n;
    }
    if (number && entry_->RefusesOutsideRange() &&
        (*number < entry_->minimum || *number > entry_->maximum))
        return std::nullopt;
    return number;
}

QString OptionBinding::Refusal() const {
    if (kind_ != Kind::kSpin || !control_->isEnabled() || SpinNumber())
        return {};
    const QString text = static_cast<SpinEdit*>(control_)->Text();
    if (entry_->RefusesOutsideRange() && ParseInteger(text))
        return QStringLiteral("Please enter an integer between %1 and %2.")
            .arg(entry_->minimum)
            .arg(entry_->maximum);
    if (entry_->Type() == OptionType::kUnsigned)
        return QStringLiteral("Please enter a positive integer.");
    return QStringLiteral("Please enter an integer.");
}

void OptionBinding::Read(OptionValues& v) const {
    switch (kind_) {
        case Kind::kCheck:
            entry_->SetNumber(v.settings, v.tags,
                              static_cast<QCheckBox*>(control_)->isChecked() ? 1 : 0);
            break;
        case Kind::kEdit:
            entry_->SetText(v.settings, v.tags,
                            static_cast<QLineEdit*>(control_)->text().toStdString());
            break;
        case Kind::kSpin:
            if (const std::optional<int64_t> number = SpinNumber())
                entry_->SetNumber(v.settings, v.tags, *number);
            break;
        case Kind::kTextList:
            entry_->SetText(v.settings, v.tags,
                            static_cast<QComboBox*>(control_)->currentText().toStdString());
            break;
        case Kind::kList: {
            auto* list = static_cast<QComboBox*>(control_);
            if (list->count() > 0)
                entry_->SetNumber(v.settings, v.tags, list->currentData().toLongLong());
            break;
        }
        case Kind::kRadios:
            if (radios_->checkedId() >= 0)
                entry_->SetNumber(v.settings, v.tags, radios_->checkedId());
            break;
    }
}

}  // namespace kestrune
