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

QRadioButton* Radio(const QString& text, QButtonGroup* group, int id, QWidget* parent) {
    auto* radio = new QRadioButton(text, parent);
    NameFor(radio, text);
    group->addButton(radio, id);
    return radio;
}

QString FromUtf8(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

CPageOptID3::CPageOptID3(Prompter& prompter, QWidget* parent)
    : COptPage(QStringLiteral("ID3"), prompter, parent) {
    auto* layout = new QVBoxLayout(this);
    typeGroup_ = new QButtonGroup(this);
    layout->addWidget(Radio(QStringLiteral("&Add custom ID3 tag"), typeGroup_, kTagsCustom, this));

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
    QRadioButton* none = Radio(QStringLiteral("N&one"), trackGroup_, kTrackNone, this);
    QRadioButton* sequence =
        Radio(QStringLiteral("&Sequence number in list"), trackGroup_, kTrackRunPosition, this);
    QRadioButton* custom = Radio(QStringLiteral("C&ustom"), trackGroup_, kTrackCustom, this);
    trackEdit_ = new SpinEdit(0, 255, 1, this);
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
                            kTagsFromSource, this));
    layout->addWidget(Radio(QStringLiteral("&None"), typeGroup_, kTagsNone, this));
    layout->addStretch();

    connect(typeGroup_, &QButtonGroup::idClicked, this, &CPageOptID3::UpdateEnabling);
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

void CPageOptID3::Load(const ConvertSettings& settings, const TagOptions& tags) {
    id3TagType_ = settings.id3TagType;
    tags_ = tags;
}

void CPageOptID3::Store(ConvertSettings& settings, TagOptions& tags) const {
    settings.id3TagType = id3TagType_;
    tags = tags_;
}

void CPageOptID3::InitControls() {
    const int type =
        id3TagType_ == kTagsCustom || id3TagType_ == kTagsFromSource ? id3TagType_ : kTagsNone;
    typeGroup_->button(type)->setChecked(true);
    const int track = tags_.trackNumType == kTrackRunPosition || tags_.trackNumType == kTrackCustom
                          ? tags_.trackNumType
                          : kTrackNone;
    trackGroup_->button(track)->setChecked(true);
    trackEdit_->SetNumber(tags_.customTrackNum);
    fileNameCheck_->setChecked(tags_.titleAsFileName != 0);
    titleEdit_->setText(FromUtf8(tags_.title));
    artistEdit_->setText(FromUtf8(tags_.artist));
    albumEdit_->setText(FromUtf8(tags_.album));
    yearEdit_->setText(FromUtf8(tags_.year));
    genreList_->setCurrentIndex(-1);
    genreList_->setEditText(FromUtf8(tags_.genre));
    commentEdit_->setText(FromUtf8(tags_.comment));
    composerEdit_->setText(FromUtf8(tags_.composer));
    copyrightEdit_->setText(FromUtf8(tags_.copyright));
    UpdateEnabling();
}

void CPageOptID3::UpdateEnabling() {
    const bool custom = typeGroup_->checkedId() == kTagsCustom;
    for (QWidget* w : tagControls_)
        w->setEnabled(custom);
    titleEdit_->setEnabled(custom && !fileNameCheck_->isChecked());
    trackEdit_->setEnabled(custom && trackGroup_->checkedId() == kTrackCustom);
}

bool CPageOptID3::ReadControls() {
    // A switched-off track edit never holds the page; its number is taken only when valid.
    const std::optional<int> track = ParseInteger(trackEdit_->Text());
    const bool inRange = track && *track >= 0 && *track <= 255;
    if (!inRange && trackEdit_->isEnabled()) {
        Refuse(track ? QStringLiteral("Please enter an integer between 0 and 255.")
                     : QStringLiteral("Please enter an integer."),
               trackEdit_);
        return false;
    }
    id3TagType_ = typeGroup_->checkedId();
    tags_.trackNumType = trackGroup_->checkedId();
    if (inRange)
        tags_.customTrackNum = *track;
    tags_.titleAsFileName = fileNameCheck_->isChecked() ? 1 : 0;
    tags_.title = titleEdit_->text().toStdString();
    tags_.artist = artistEdit_->text().toStdString();
    tags_.album = albumEdit_->text().toStdString();
    tags_.year = yearEdit_->text().toStdString();
    tags_.genre = genreList_->currentText().toStdString();
    tags_.comment = commentEdit_->text().toStdString();
    tags_.composer = composerEdit_->text().toStdString();
    tags_.copyright = copyrightEdit_->text().toStdString();
    return true;
}

}  // namespace kestrune
