#include "settings/options/page_opt_id3.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "settings/options/genre_names.h"

namespace kestrune {

namespace {

template <class Choice>
QRadioButton* Radio(const QString& text, QButtonGroup* group, Choice id, QWidget* parent) {
    auto* radio = new QRadioButton(text, parent);
    NameFor(radio, text);
    group->addButton(radio, StoredCode(id));
    return radio;
}

}  // namespace

CPageOptID3::CPageOptID3(Prompter& prompter, QWidget* parent)
    : COptPage(QStringLiteral("ID3"), prompter, parent) {
    auto* layout = new QVBoxLayout(this);
    typeGroup_ = new QButtonGroup(this);
    layout->addWidget(
        Radio(QStringLiteral("&Add custom ID3 tag"), typeGroup_, TagSource::kCustom, this));

    auto* grid = new QGridLayout;
    grid->setContentsMargins(20, 0, 0, 0);
    int row = 0;
    auto addEdit = [&](const QString& text) {
        auto* edit = new QLineEdit(this);
        QLabel* label = BuddyLabel(text, edit, this);
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1, 1, 2);
        ++row;
        tagControls_ << label << edit;
        return edit;
    };
    titleEdit_ = addEdit(QStringLiteral("T&itle:"));
    fileNameCheck_ =
        new QCheckBox(QStringLiteral("Na&me as file name (not include extension)"), this);
    NameFor(fileNameCheck_, fileNameCheck_->text());
    grid->addWidget(fileNameCheck_, row++, 1, 1, 2);
    tagControls_ << fileNameCheck_;
    artistEdit_ = addEdit(QStringLiteral("A&rtist:"));
    albumEdit_ = addEdit(QStringLiteral("A&lbum:"));
    yearEdit_ = addEdit(QStringLiteral("&Year:"));

    genreList_ = new QComboBox(this);
    genreList_->setEditable(true);
    genreList_->setInsertPolicy(QComboBox::NoInsert);
    genreList_->addItems(SortedGenreNames());
    genreList_->setMaxVisibleItems(20);
    // The default completer writes names into the text as it is typed and matches without
    // case, so "Synth" would be stored as "Synthpop" and "rock" as "Rock": offer the names in
    // a popup instead, and leave the typed text alone.
    auto* completer = new QCompleter(genreList_->model(), genreList_);
    completer->setCompletionMode(QCompleter::PopupCompletion);
    completer->setCaseSensitivity(Qt::CaseSensitive);
    genreList_->setCompleter(completer);
    QLabel* genreLabel = BuddyLabel(QStringLiteral("&Genre:"), genreList_, this);
    genreList_->lineEdit()->setAccessibleName(genreList_->accessibleName());
    grid->addWidget(genreLabel, row, 0);
    grid->addWidget(genreList_, row++, 1, 1, 2);
    tagControls_ << genreLabel << genreList_;

    commentEdit_ = addEdit(QStringLiteral("&Comment:"));
    composerEdit_ = addEdit(QStringLiteral("Com&poser:"));
    copyrightEdit_ = addEdit(QStringLiteral("Copyrig&ht:"));

    trackLabel_ = new QLabel(QStringLiteral("Track #:"), this);
    trackGroup_ = new QButtonGroup(this);
    auto* trackRow = new QHBoxLayout;
    QRadioButton* none = Radio(QStringLiteral("N&one"), trackGroup_, TrackNumMode::kNone, this);
    QRadioButton* sequence = Radio(QStringLiteral("&Sequence number in list"), trackGroup_,
                                   TrackNumMode::kRunPosition, this);
    QRadioButton* custom =
        Radio(QStringLiteral("C&ustom"), trackGroup_, TrackNumMode::kCustom, this);
    trackEdit_ = NumberEdit(&TagOptions::customTrackNum, 1);
    NameFor(trackEdit_, custom->text());
    trackEdit_->setAccessibleDescription(trackLabel_->text());
    for (QRadioButton* r : {none, sequence, custom})
        r->setAccessibleDescription(trackLabel_->text());
    trackRow->addWidget(none);
    trackRow->addWidget(sequence);
    trackRow->addWidget(custom);
    trackRow->addWidget(trackEdit_);
    trackRow->addStretch();
    grid->addWidget(trackLabel_, row, 0);
    grid->addLayout(trackRow, row++, 1, 1, 2);
    tagControls_ << trackLabel_ << none << sequence << custom << trackEdit_;
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    layout->addWidget(Radio(QStringLiteral("&Transfer ID3 tag from source file"), typeGroup_,
                            TagSource::kFromSource, this));
    layout->addWidget(Radio(QStringLiteral("&None"), typeGroup_, TagSource::kNone, this));

    // The pictures go with either kind of tag.
    coverCheck_ = new QCheckBox(QStringLiteral("Copy co&ver art"), this);
    folderCoverCheck_ = new QCheckBox(
        QStringLiteral("When a file has no cover, use the fol&der's cover image"), this);
    auto* coverRows = new QVBoxLayout;
    coverRows->setContentsMargins(0, 8, 0, 0);
    coverRows->addWidget(coverCheck_);
    auto* folderRow = new QHBoxLayout;
    folderRow->setContentsMargins(20, 0, 0, 0);
    folderRow->addWidget(folderCoverCheck_);
    coverRows->addLayout(folderRow);
    layout->addLayout(coverRows);

    // Measured while converting, whatever tags the outputs get otherwise.
    replayGainList_ = new QComboBox(this);
    replayGainList_->addItem(QStringLiteral("None"), StoredCode(ReplayGainMode::kOff));
    replayGainList_->addItem(QStringLiteral("Track gain"), StoredCode(ReplayGainMode::kTrack));
    replayGainList_->addItem(QStringLiteral("Track and album gain (an album is a source folder)"),
                             StoredCode(ReplayGainMode::kAlbum));
    auto* gainRow = new QHBoxLayout;
    gainRow->setContentsMargins(0, 8, 0, 0);
    auto* gainLabel = new QLabel(QStringLiteral("R&eplayGain tags:"), this);
    gainLabel->setBuddy(replayGainList_);
    gainRow->addWidget(gainLabel);
    gainRow->addWidget(replayGainList_);
    gainRow->addStretch();
    layout->addLayout(gainRow);
    truePeakCheck_ =
        new QCheckBox(QStringLiteral("Measure true peaks (slo&wer than sample peaks)"), this);
    layout->addWidget(truePeakCheck_);
    layout->addStretch();

    // A tag source or track number this program does not know shows as "None".
    Bind(typeGroup_, &ConvertSettings::id3TagType, StoredCode(TagSource::kNone));
    Bind(trackGroup_, &TagOptions::trackNumType, StoredCode(TrackNumMode::kNone));
    Bind(trackEdit_, &TagOptions::customTrackNum);
    Bind(fileNameCheck_, &TagOptions::titleAsFileName);
    Bind(titleEdit_, &TagOptions::title);
    Bind(artistEdit_, &TagOptions::artist);
    Bind(albumEdit_, &TagOptions::album);
    Bind(yearEdit_, &TagOptions::year);
    Bind(genreList_, &TagOptions::genre);
    Bind(commentEdit_, &TagOptions::comment);
    Bind(composerEdit_, &TagOptions::composer);
    Bind(copyrightEdit_, &TagOptions::copyright);
    Bind(coverCheck_, &ConvertSettings::copyCoverArt);
    Bind(folderCoverCheck_, &ConvertSettings::folderCoverArt);
    Bind(replayGainList_, &ConvertSettings::replayGain);
    Bind(truePeakCheck_, &ConvertSettings::truePeak);

    // The edits follow the controls' state however it changed (a click, a key, a screen
    // reader); a click also moves the focus into the edit it enabled.
    connect(typeGroup_, &QButtonGroup::idToggled, this, &CPageOptID3::UpdateEnabling);
    connect(trackGroup_, &QButtonGroup::idToggled, this, &CPageOptID3::UpdateEnabling);
    connect(coverCheck_, &QCheckBox::toggled, this, &CPageOptID3::UpdateEnabling);
    connect(fileNameCheck_, &QCheckBox::toggled, this, &CPageOptID3::UpdateEnabling);
    connect(fileNameCheck_, &QCheckBox::clicked, this, [this] {
        UpdateEnabling();
        if (titleEdit_->isEnabled()) {
            titleEdit_->setFocus(Qt::MouseFocusReason);
            titleEdit_->selectAll();
        }
    });
    connect(trackGroup_, &QButtonGroup::idClicked, this, [this] {
        UpdateEnabling();
        if (trackEdit_->isEnabled()) {
            trackEdit_->setFocus(Qt::MouseFocusReason);
            trackEdit_->selectAll();
        }
    });
}

void CPageOptID3::InitControls() {
    ShowBindings();
    UpdateEnabling();
}

void CPageOptID3::UpdateEnabling() {
    const bool custom = typeGroup_->checkedId() == StoredCode(TagSource::kCustom);
    for (QWidget* w : tagControls_)
        w->setEnabled(custom);
    titleEdit_->setEnabled(custom && !fileNameCheck_->isChecked());
    trackEdit_->setEnabled(custom && trackGroup_->checkedId() == StoredCode(TrackNumMode::kCustom));
    const bool tagged = custom || typeGroup_->checkedId() == StoredCode(TagSource::kFromSource);
    coverCheck_->setEnabled(tagged);
    folderCoverCheck_->setEnabled(tagged && coverCheck_->isChecked());
}

}  // namespace kestrune
