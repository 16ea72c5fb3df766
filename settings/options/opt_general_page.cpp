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

template <class Choice>
QRadioButton* Radio(const QString& text, QButtonGroup* group, Choice id, QWidget* parent) {
    auto* radio = new QRadioButton(text, parent);
    NameFor(radio, text);
    group->addButton(radio, StoredCode(id));
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
        Radio(QStringLiteral("(L+R) / &2 (default)"), monoGroup_, MonoMix::kAverage, this));
    monoRow->addWidget(Radio(QStringLiteral("&L channel"), monoGroup_, MonoMix::kLeft, this));
    monoRow->addWidget(Radio(QStringLiteral("&R channel"), monoGroup_, MonoMix::kRight, this));
    helpButton_ = new QPushButton(QStringLiteral("?"), this);
    helpButton_->setObjectName(QStringLiteral("channelHelp"));
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
    skipEdit_ = NumberEdit(&ConvertSettings::skipLength, 100);
    NameFor(skipEdit_, skipCheck_->text());
    lengths->addWidget(skipCheck_, 0, 0);
    lengths->addWidget(skipEdit_, 0, 1);
    auto* skipUnit =
        new QLabel(QStringLiteral("milliseconds (ms) of each file (1 sec = 1000 ms)"), this);
    skipEdit_->setAccessibleDescription(skipUnit->text());
    lengths->addWidget(skipUnit, 0, 2);
    convertCheck_ = Check(QStringLiteral("Only &convert"), this);
    convertEdit_ = NumberEdit(&ConvertSettings::convertLength, 100);
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
              volumeGroup_, VolumeMode::kNormalize, this));
    auto* manual =
        Radio(QStringLiteral("&Adjust volume manually"), volumeGroup_, VolumeMode::kManual, this);
    layout->addWidget(manual);
    auto* volumeRow = new QHBoxLayout;
    volumeRow->setContentsMargins(20, 0, 0, 0);
    volumeEdit_ = NumberEdit(&ConvertSettings::volume, 10);
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
    auto* loudness =
        Radio(QStringLiteral("Normalize loudn&ess to"), volumeGroup_, VolumeMode::kLoudness, this);
    loudnessEdit_ = NumberEdit(&ConvertSettings::loudnessTarget, 1);
    NameFor(loudnessEdit_, loudness->text());
    auto* loudnessRow = new QHBoxLayout;
    loudnessRow->addWidget(loudness);
    loudnessRow->addWidget(loudnessEdit_);
    auto* loudnessUnit =
        new QLabel(QStringLiteral("LUFS (EBU R128; the peaks stay at -1 dBFS at most)"), this);
    loudnessEdit_->setAccessibleDescription(loudnessUnit->text());
    loudnessRow->addWidget(loudnessUnit);
    loudnessRow->addStretch();
    layout->addLayout(loudnessRow);
    layout->addWidget(Radio(QStringLiteral("&Keep original volume (do not adjust volume)"),
                            volumeGroup_, VolumeMode::kOriginal, this));
    layout->addSpacing(6);

    // How many files convert side by side: at most one per processor core pays.
    simultaneousEdit_ = NumberEdit(&ConvertSettings::simultaneousConversions, 1);
    auto* simultaneousRow = new QHBoxLayout;
    simultaneousRow->addWidget(
        BuddyLabel(QStringLiteral("Si&multaneous conversions:"), simultaneousEdit_, this));
    simultaneousRow->addWidget(simultaneousEdit_);
    simultaneousRow->addStretch();
    layout->addLayout(simultaneousRow);
    layout->addStretch();

    // The numbers are checked first, in this order, when the page is left.
    Bind(volumeEdit_, &ConvertSettings::volume);
    Bind(loudnessEdit_, &ConvertSettings::loudnessTarget);
    Bind(skipEdit_, &ConvertSettings::skipLength);
    Bind(convertEdit_, &ConvertSettings::convertLength);
    Bind(simultaneousEdit_, &ConvertSettings::simultaneousConversions);
    Bind(filterCheck_, &ConvertSettings::enableExtFilter);
    Bind(filterEdit_, &ConvertSettings::filterExts);
    Bind(hiddenCheck_, &ConvertSettings::doNotLoadHiddenFiles);
    Bind(dtsCheck_, &ConvertSettings::enableDTSForCDA);
    // A channel rule this program does not know leaves all three unchosen (and the value kept).
    Bind(monoGroup_, &ConvertSettings::monoType);
    Bind(skipCheck_, &ConvertSettings::enableSkipLength);
    Bind(convertCheck_, &ConvertSettings::enableConvertLength);
    Bind(volumeGroup_, &ConvertSettings::volumeType, StoredCode(VolumeMode::kOriginal));

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
    connect(volumeGroup_, &QButtonGroup::idClicked, this, [this, focusInto](int id) {
        focusInto(id == StoredCode(VolumeMode::kLoudness) ? loudnessEdit_ : volumeEdit_);
    });
    // The edits follow the checks' state however it changed (a click, a key, a screen reader).
    for (QCheckBox* check : {filterCheck_, skipCheck_, convertCheck_})
        connect(check, &QCheckBox::toggled, this, &COptGeneralPage::UpdateEnabling);
    connect(volumeGroup_, &QButtonGroup::idToggled, this, &COptGeneralPage::UpdateEnabling);
    connect(helpButton_, &QPushButton::clicked, this, &COptGeneralPage::ShowChannelHelp);
}

void COptGeneralPage::InitControls() {
    ShowBindings();
    UpdateEnabling();
}

void COptGeneralPage::UpdateEnabling() {
    filterEdit_->setEnabled(filterCheck_->isChecked());
    skipEdit_->setEnabled(skipCheck_->isChecked());
    convertEdit_->setEnabled(convertCheck_->isChecked());
    volumeEdit_->setEnabled(volumeGroup_->checkedId() == StoredCode(VolumeMode::kManual));
    loudnessEdit_->setEnabled(volumeGroup_->checkedId() == StoredCode(VolumeMode::kLoudness));
}

bool COptGeneralPage::ReadControls() {
    // Numbers first: the volume, the loudness, the two lengths and the simultaneous conversions;
    // then the extensions and the conversion length.
    if (!CheckBindings())
        return false;
    if (filterCheck_->isChecked() && NamesNoExtension(filterEdit_->text())) {
        Refuse(QStringLiteral("Please enter file extensions you need to filter."), filterEdit_);
        return false;
    }
    if (convertCheck_->isChecked() && ParseUnsigned(convertEdit_->Text()) == 0u) {
        Refuse(QStringLiteral("Conversion length must be greater than 0 millisecond."),
               convertEdit_);
        return false;
    }
    ReadBindings();  // the extensions exactly as typed
    return true;
}

void COptGeneralPage::ShowChannelHelp() {
    prompter().Inform(this, QString::fromUtf8(kChannelHelp));
}

}  // namespace kestrune
