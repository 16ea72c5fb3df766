#include "settings/options/opt_general_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "desktop/prompter.h"

namespace kestrune {

namespace {

constexpr qint64 kLengthMax = 2147483647;

// Whether the extension text names no extension at all: nothing but spaces, tabs and
// separators (the filter would then let no file through).
bool NamesNoExtension(const QString& text) {
    QString cleaned = text;
    cleaned.remove(u' ');
    cleaned.remove(u'\t');
    cleaned.replace(u';', u',');
    cleaned.remove(u',');
    return cleaned.isEmpty();
}

QRadioButton* Radio(const QString& text, QButtonGroup* group, int id, QWidget* parent) {
    auto* radio = new QRadioButton(text, parent);
    NameFor(radio, text);
    group->addButton(radio, id);
    return radio;
}

QCheckBox* Check(const QString& text, QWidget* parent) {
    auto* check = new QCheckBox(text, parent);
    NameFor(check, text);
    return check;
}

}  // namespace

const char* const COptGeneralPage::kChannelHelp =
    "In general, the output sound equals to \"(L+R)/2,\" which contains left and right "
    "channels.\n\n\"L channel\" means the program outputs left channel of original stereo file. "
    "And \"R channel\" means right channel. It's very useful when you want to convert a stereo "
    "file into two files that contains left and right channels distinguishingly.";

COptGeneralPage::COptGeneralPage(Prompter& prompter, QWidget* parent)
    : COptPage(QStringLiteral("General"), prompter, parent) {
    auto* layout = new QVBoxLayout(this);

    filterCheck_ = Check(
        QStringLiteral("&Only add the following file extensions for \"Add Folder\" and Drag/Drop"),
        this);
    filterEdit_ = new QLineEdit(this);
    NameFor(filterEdit_, filterCheck_->text());
    auto* filterNote = new QLabel(
        QStringLiteral(
            "Note: use comma (,) to separate multiple extensions. For example: wav,mp3,m4a,aac"),
        this);
    filterNote->setWordWrap(true);
    layout->addWidget(filterCheck_);
    auto* filterBox = new QVBoxLayout;
    filterBox->setContentsMargins(20, 0, 0, 0);
    filterBox->addWidget(filterEdit_);
    filterBox->addWidget(filterNote);
    layout->addLayout(filterBox);

    hiddenCheck_ = Check(QStringLiteral("&Do not load hidden files"), this);
    dtsCheck_ = Check(QStringLiteral("&Use DTS to decode CDA files"), this);
    layout->addWidget(hiddenCheck_);
    layout->addWidget(dtsCheck_);
    layout->addSpacing(6);

    layout->addWidget(new QLabel(
        QStringLiteral("When converting 2 channels to 1 channel, the out channel equals to:"),
        this));
    monoGroup_ = new QButtonGroup(this);
    auto* monoRow = new QHBoxLayout;
    monoRow->setContentsMargins(20, 0, 0, 0);
    monoRow->addWidget(
        Radio(QStringLiteral("(L+R) / &2 (default)"), monoGroup_, kMonoAverage, this));
    monoRow->addWidget(Radio(QStringLiteral("&L channel"), monoGroup_, kMonoLeft, this));
    monoRow->addWidget(Radio(QStringLiteral("&R channel"), monoGroup_, kMonoRight, this));
    helpButton_ = new QPushButton(QStringLiteral("?"), this);
    NameFor(helpButton_, QStringLiteral("?"));
    helpButton_->setAccessibleDescription(
        QStringLiteral("When converting 2 channels to 1 channel, the out channel equals to:"));
    helpButton_->setFixedWidth(helpButton_->fontMetrics().horizontalAdvance(QStringLiteral("??")) +
                               16);
    monoRow->addWidget(helpButton_);
    monoRow->addStretch();
    layout->addLayout(monoRow);
    layout->addSpacing(6);

    auto* lengths = new QGridLayout;
    skipCheck_ = Check(QStringLiteral("&Skip the first"), this);
    skipEdit_ = new SpinEdit(0, kLengthMax, 100, this);
    NameFor(skipEdit_, skipCheck_->text());
    lengths->addWidget(skipCheck_, 0, 0);
    lengths->addWidget(skipEdit_, 0, 1);
    auto* skipUnit =
        new QLabel(QStringLiteral("milliseconds (ms) of each file (1 sec = 1000 ms)"), this);
    skipEdit_->setAccessibleDescription(skipUnit->text());
    lengths->addWidget(skipUnit, 0, 2);
    convertCheck_ = Check(QStringLiteral("Only &convert"), this);
    convertEdit_ = new SpinEdit(0, kLengthMax, 100, this);
    NameFor(convertEdit_, convertCheck_->text());
    lengths->addWidget(convertCheck_, 1, 0);
    lengths->addWidget(convertEdit_, 1, 1);
    auto* convertUnit = new QLabel(
        QStringLiteral("milliseconds (ms) length for each file (1 sec = 1000 ms)"), this);
    convertEdit_->setAccessibleDescription(convertUnit->text());
    lengths->addWidget(convertUnit, 1, 2);
    lengths->setColumnStretch(2, 1);
    layout->addLayout(lengths);
    layout->addSpacing(6);

    volumeGroup_ = new QButtonGroup(this);
    layout->addWidget(
        Radio(QStringLiteral(
                  "&Normalize volume automatically so that all output files have the same volume"),
              volumeGroup_, kVolumeNormalize, this));
    auto* manual =
        Radio(QStringLiteral("&Adjust volume manually"), volumeGroup_, kVolumeManual, this);
    layout->addWidget(manual);
    auto* volumeRow = new QHBoxLayout;
    volumeRow->setContentsMargins(20, 0, 0, 0);
    volumeEdit_ = new SpinEdit(10, 32767, 10, this);
    NameFor(volumeEdit_, manual->text());
    // The edit and its unit side by side, level with the first line of the explanation.
    auto* volumeBox = new QHBoxLayout;
    volumeBox->addWidget(volumeEdit_);
    volumeBox->addWidget(new QLabel(QStringLiteral("%"), this));
    volumeRow->addLayout(volumeBox);
    volumeRow->setAlignment(volumeBox, Qt::AlignTop);
    volumeRow->addSpacing(12);
    auto* volumeNote = new QLabel(
        QStringLiteral("< 100% - Decrease volume\n= 100% - No changes\n> 100% - Increase volume"),
        this);
    volumeEdit_->setAccessibleDescription(QStringLiteral("% ") + volumeNote->text());
    volumeRow->addWidget(volumeNote);
    volumeRow->addStretch();
    layout->addLayout(volumeRow);
    layout->addWidget(Radio(QStringLiteral("&Keep original volume (do not adjust volume)"),
                            volumeGroup_, kVolumeOriginal, this));
    layout->addSpacing(6);

    // How many files convert side by side: at most one per processor core pays.
    simultaneousEdit_ =
        new SpinEdit(kMinSimultaneousConversions, kMaxSimultaneousConversions, 1, this);
    auto* simultaneousRow = new QHBoxLayout;
    simultaneousRow->addWidget(
        BuddyLabel(QStringLiteral("Si&multaneous conversions:"), simultaneousEdit_, this));
    simultaneousRow->addWidget(simultaneousEdit_);
    simultaneousRow->addStretch();
    layout->addLayout(simultaneousRow);
    layout->addStretch();

    // Clicking a check or radio moves the focus into the edit it governs when that is enabled.
    auto focusInto = [this](QWidget* edit) {
        UpdateEnabling();
        if (edit->isEnabled()) {
            edit->setFocus(Qt::MouseFocusReason);
            if (auto* line = qobject_cast<QLineEdit*>(edit))
                line->selectAll();
            else
                static_cast<QAbstractSpinBox*>(edit)->selectAll();
        }
    };
    connect(filterCheck_, &QCheckBox::clicked, this, [this, focusInto] { focusInto(filterEdit_); });
    connect(skipCheck_, &QCheckBox::clicked, this, [this, focusInto] { focusInto(skipEdit_); });
    connect(convertCheck_, &QCheckBox::clicked, this,
            [this, focusInto] { focusInto(convertEdit_); });
    connect(volumeGroup_, &QButtonGroup::idClicked, this,
            [this, focusInto] { focusInto(volumeEdit_); });
    connect(helpButton_, &QPushButton::clicked, this, &COptGeneralPage::ShowChannelHelp);
}

void COptGeneralPage::Load(const ConvertSettings& s) {
    v_.enableExtFilter = s.enableExtFilter;
    v_.filterExts = s.filterExts;
    v_.doNotLoadHiddenFiles = s.doNotLoadHiddenFiles;
    v_.enableDTSForCDA = s.enableDTSForCDA;
    v_.monoType = s.monoType;
    v_.enableSkipLength = s.enableSkipLength;
    v_.skipLength = s.skipLength;
    v_.enableConvertLength = s.enableConvertLength;
    v_.convertLength = s.convertLength;
    v_.volumeType = s.volumeType;
    v_.volume = s.volume;
    v_.simultaneousConversions = s.simultaneousConversions;
}

void COptGeneralPage::Store(ConvertSettings& s) const {
    s.enableExtFilter = v_.enableExtFilter;
    s.filterExts = v_.filterExts;
    s.doNotLoadHiddenFiles = v_.doNotLoadHiddenFiles;
    s.enableDTSForCDA = v_.enableDTSForCDA;
    s.monoType = v_.monoType;
    s.enableSkipLength = v_.enableSkipLength;
    s.skipLength = v_.skipLength;
    s.enableConvertLength = v_.enableConvertLength;
    s.convertLength = v_.convertLength;
    s.volumeType = v_.volumeType;
    s.volume = v_.volume;
    s.simultaneousConversions = v_.simultaneousConversions;
}

void COptGeneralPage::InitControls() {
    filterCheck_->setChecked(v_.enableExtFilter != 0);
    filterEdit_->setText(QString::fromStdString(v_.filterExts));
    hiddenCheck_->setChecked(v_.doNotLoadHiddenFiles != 0);
    dtsCheck_->setChecked(v_.enableDTSForCDA != 0);
    // A channel rule this program does not know leaves all three unchosen (and the value kept).
    if (QAbstractButton* radio = monoGroup_->button(v_.monoType))
        radio->setChecked(true);
    skipCheck_->setChecked(v_.enableSkipLength != 0);
    skipEdit_->SetNumber(v_.skipLength);
    convertCheck_->setChecked(v_.enableConvertLength != 0);
    convertEdit_->SetNumber(v_.convertLength);
    const int volumeType = v_.volumeType == kVolumeNormalize || v_.volumeType == kVolumeManual
                               ? v_.volumeType
                               : kVolumeOriginal;
    volumeGroup_->button(volumeType)->setChecked(true);
    volumeEdit_->SetNumber(v_.volume);
    simultaneousEdit_->SetNumber(v_.simultaneousConversions);
    UpdateEnabling();
}

void COptGeneralPage::UpdateEnabling() {
    filterEdit_->setEnabled(filterCheck_->isChecked());
    skipEdit_->setEnabled(skipCheck_->isChecked());
    convertEdit_->setEnabled(convertCheck_->isChecked());
    volumeEdit_->setEnabled(volumeGroup_->checkedId() == kVolumeManual);
}

bool COptGeneralPage::ReadControls() {
    // Numbers first: the volume, then the two lengths. An edit that is switched off never
    // holds the page (the focus could not go there): what it says is taken when it is a number,
    // else its value stays as it was.
    const std::optional<int> volume = ParseInteger(volumeEdit_->Text());
    if (!volume && volumeEdit_->isEnabled()) {
        Refuse(QStringLiteral("Please enter an integer."), volumeEdit_);
        return false;
    }
    const std::optional<uint32_t> skip = ParseUnsigned(skipEdit_->Text());
    if (!skip && skipEdit_->isEnabled()) {
        Refuse(QStringLiteral("Please enter a positive integer."), skipEdit_);
        return false;
    }
    const std::optional<uint32_t> convert = ParseUnsigned(convertEdit_->Text());
    if (!convert && convertEdit_->isEnabled()) {
        Refuse(QStringLiteral("Please enter a positive integer."), convertEdit_);
        return false;
    }
    const std::optional<int> simultaneous = ParseInteger(simultaneousEdit_->Text());
    if (!simultaneous || *simultaneous < kMinSimultaneousConversions ||
        *simultaneous > kMaxSimultaneousConversions) {
        Refuse(QStringLiteral("Please enter a number of conversions from 1 to 64."),
               simultaneousEdit_);
        return false;
    }
    const bool filterOn = filterCheck_->isChecked();
    if (filterOn && NamesNoExtension(filterEdit_->text())) {
        Refuse(QStringLiteral("Please enter file extensions you need to filter."), filterEdit_);
        return false;
    }
    const bool convertOn = convertCheck_->isChecked();
    if (convertOn && convert && *convert == 0) {
        Refuse(QStringLiteral("Conversion length must be greater than 0 millisecond."),
               convertEdit_);
        return false;
    }

    v_.enableExtFilter = filterOn ? 1 : 0;
    v_.filterExts = filterEdit_->text().toStdString();  // exactly as typed
    v_.doNotLoadHiddenFiles = hiddenCheck_->isChecked() ? 1 : 0;
    v_.enableDTSForCDA = dtsCheck_->isChecked() ? 1 : 0;
    if (monoGroup_->checkedId() >= 0)
        v_.monoType = monoGroup_->checkedId();
    v_.enableSkipLength = skipCheck_->isChecked() ? 1 : 0;
    if (skip)
        v_.skipLength = *skip;
    v_.enableConvertLength = convertOn ? 1 : 0;
    if (convert)
        v_.convertLength = *convert;
    v_.volumeType = volumeGroup_->checkedId();
    if (volume)
        v_.volume = *volume;
    v_.simultaneousConversions = *simultaneous;
    return true;
}

void COptGeneralPage::ShowChannelHelp() {
    prompter().Inform(this, QString::fromUtf8(kChannelHelp));
}

}  // namespace kestrune
