#include "settings/options/opt_output_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "desktop/prompter.h"
#include "desktop/wait_cursor.h"

namespace kestrune {

namespace {

// Selects the item holding value; a value no item holds selects the first item.
void SelectValue(QComboBox* list, int value) {
    const int index = list->findData(value);
    list->setCurrentIndex(index >= 0 ? index : 0);
}

QCheckBox* Check(const QString& text, QWidget* parent) {
    auto* check = new QCheckBox(text, parent);
    NameFor(check, text);
    return check;
}

QPushButton* Button(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    NameFor(button, text);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

COptOutputPage::COptOutputPage(Prompter& prompter, FileDialogs& dialogs, Desktop& desktop,
                               QWidget* parent)
    : COptPage(QStringLiteral("Output"), prompter, parent), dialogs_(dialogs), desktop_(desktop) {
    auto* layout = new QVBoxLayout(this);

    destList_ = new QComboBox(this);
    destList_->addItem(QStringLiteral("Same as source file"), kDestSameAsSource);
    destList_->addItem(QStringLiteral("Specific folder"), kDestSpecificFolder);
    auto* grid = new QGridLayout;
    grid->addWidget(BuddyLabel(QStringLiteral("&Output folder:"), destList_, this), 0, 0);
    grid->addWidget(destList_, 0, 1, 1, 3);

    folderEdit_ = new QLineEdit(this);
    folderLabel_ = BuddyLabel(QStringLiteral("&Specific folder:"), folderEdit_, this);
    browseButton_ = Button(QStringLiteral("&Browse"), this);
    openButton_ = Button(QStringLiteral("O&pen"), this);
    grid->addWidget(folderLabel_, 1, 0);
    grid->addWidget(folderEdit_, 1, 1);
    grid->addWidget(browseButton_, 1, 2);
    grid->addWidget(openButton_, 1, 3);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);

    treeCheck_ = Check(QStringLiteral("&Keep original directory tree"), this);
    // The example in this program's own path style.
    treeNote_ = new QLabel(
        QStringLiteral("For example: source file is \"/home/ann/Music/pop/track01.mp3\" and "
                       "output folder is \"/out\". If the option is checked, the output folder "
                       "will be \"/out/home/ann/Music/pop/\"."),
        this);
    treeNote_->setWordWrap(true);
    treeCheck_->setAccessibleDescription(treeNote_->text());
    layout->addWidget(treeCheck_);
    auto* noteBox = new QVBoxLayout;
    noteBox->setContentsMargins(20, 0, 0, 0);
    noteBox->addWidget(treeNote_);
    layout->addLayout(noteBox);
    layout->addSpacing(8);

    existsList_ = new QComboBox(this);
    existsList_->addItem(QStringLiteral("Rename automatically (add number at end of file name)"),
                         kTargetRename);
    existsList_->addItem(QStringLiteral("Overwrite"), kTargetOverwrite);
    existsList_->addItem(QStringLiteral("Skip (not convert)"), kTargetSkip);
    auto* existsRow = new QHBoxLayout;
    existsRow->addWidget(BuddyLabel(QStringLiteral("&If target file exists "), existsList_, this));
    existsRow->addWidget(existsList_, 1);
    layout->addLayout(existsRow);
    layout->addSpacing(8);

    documentsCheck_ =
        Check(QStringLiteral("O&utput files to \"My Documents\" if creating file failure"), this);
    browseCheck_ = Check(QStringLiteral("Bro&wse output folder when conversion completes"), this);
    layout->addWidget(documentsCheck_);
    layout->addWidget(browseCheck_);
    layout->addStretch();

    connect(destList_, &QComboBox::currentIndexChanged, this, &COptOutputPage::UpdateEnabling);
    connect(browseButton_, &QPushButton::clicked, this, &COptOutputPage::Browse);
    connect(openButton_, &QPushButton::clicked, this, &COptOutputPage::Open);
}

void COptOutputPage::Load(const ConvertSettings& s) {
    v_.destOutputFolderOpt = s.destOutputFolderOpt;
    v_.destSpecifiedFolder = s.destSpecifiedFolder;
    v_.createDirs = s.createDirs;
    v_.targetExistsOpt = s.targetExistsOpt;
    v_.outputFiles2MyDocuments = s.outputFiles2MyDocuments;
    v_.browseOutputFolder = s.browseOutputFolder;
}

void COptOutputPage::Store(ConvertSettings& s) const {
    s.destOutputFolderOpt = v_.destOutputFolderOpt;
    s.destSpecifiedFolder = v_.destSpecifiedFolder;
    s.createDirs = v_.createDirs;
    s.targetExistsOpt = v_.targetExistsOpt;
    s.outputFiles2MyDocuments = v_.outputFiles2MyDocuments;
    s.browseOutputFolder = v_.browseOutputFolder;
}

void COptOutputPage::InitControls() {
    SelectValue(destList_, v_.destOutputFolderOpt);
    folderEdit_->setText(QString::fromStdString(v_.destSpecifiedFolder));
    treeCheck_->setChecked(v_.createDirs != 0);
    SelectValue(existsList_, v_.targetExistsOpt);
    documentsCheck_->setChecked(v_.outputFiles2MyDocuments != 0);
    browseCheck_->setChecked(v_.browseOutputFolder != 0);
    UpdateEnabling();
}

void COptOutputPage::UpdateEnabling() {
    const bool specific = destList_->currentData().toInt() == kDestSpecificFolder;
    for (QWidget* w : {static_cast<QWidget*>(folderLabel_), static_cast<QWidget*>(folderEdit_),
                       static_cast<QWidget*>(browseButton_), static_cast<QWidget*>(openButton_),
                       static_cast<QWidget*>(treeCheck_), static_cast<QWidget*>(treeNote_)})
        w->setEnabled(specific);
}

bool COptOutputPage::ReadControls() {
    const int dest = destList_->currentData().toInt();
    if (dest == kDestSpecificFolder && folderEdit_->text().isEmpty()) {
        Refuse(QStringLiteral("Please choose an output folder."), folderEdit_);
        return false;
    }
    v_.destOutputFolderOpt = dest;
    v_.destSpecifiedFolder = folderEdit_->text().toStdString();
    v_.createDirs = treeCheck_->isChecked() ? 1 : 0;
    v_.targetExistsOpt = existsList_->currentData().toInt();
    v_.outputFiles2MyDocuments = documentsCheck_->isChecked() ? 1 : 0;
    v_.browseOutputFolder = browseCheck_->isChecked() ? 1 : 0;
    return true;
}

void COptOutputPage::Browse() {
    QString folder = dialogs_.ChooseFolder(this, QStringLiteral("Please choose an output folder:"),
                                           folderEdit_->text());
    if (folder.isEmpty())
        return;
    if (!folder.endsWith(u'/'))
        folder += u'/';
    folderEdit_->setText(folder);
    folderEdit_->setFocus(Qt::OtherFocusReason);
}

void COptOutputPage::Open() {
    const QString folder = folderEdit_->text();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        WaitCursor wait;
        desktop_.OpenUrl(QUrl::fromLocalFile(QFileInfo(folder).absoluteFilePath()));
        return;
    }
    prompter().Warn(this,
                    QStringLiteral("The folder \"%1\" doesn't exist yet.\n\nNote: the program "
                                   "will create the folder automatically when converting "
                                   "files.")
                        .arg(folder));
}

}  // namespace kestrune
