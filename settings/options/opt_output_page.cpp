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
    destList_->addItem(QStringLiteral("Same as source file"),
                       StoredCode(DestOutputFolder::kSameAsSource));
    destList_->addItem(QStringLiteral("Specific folder"),
                       StoredCode(DestOutputFolder::kSpecificFolder));
    auto* grid = new QGridLayout;
    grid->addWidget(BuddyLabel(QStringLiteral("&Output folder:"), destList_, this), 0, 0);
    grid->addWidget(destList_, 0, 1, 1, 3);

    folderEdit_ = new QLineEdit(this);
    folderLabel_ = BuddyLabel(QStringLiteral("&Specific folder:"), folderEdit_, this);
    browseButton_ = Button(QStringLiteral("&Browse"), this);
    browseButton_->setObjectName(QStringLiteral("browse"));
    openButton_ = Button(QStringLiteral("O&pen"), this);
    openButton_->setObjectName(QStringLiteral("open"));
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
                         StoredCode(TargetExists::kRename));
    existsList_->addItem(QStringLiteral("Overwrite"), StoredCode(TargetExists::kOverwrite));
    existsList_->addItem(QStringLiteral("Skip (not convert)"), StoredCode(TargetExists::kSkip));
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

    // A stored value no item holds selects the first item.
    Bind(destList_, &ConvertSettings::destOutputFolderOpt);
    Bind(folderEdit_, &ConvertSettings::destSpecifiedFolder);
    Bind(treeCheck_, &ConvertSettings::createDirs);
    Bind(existsList_, &ConvertSettings::targetExistsOpt);
    Bind(documentsCheck_, &ConvertSettings::outputFiles2MyDocuments);
    Bind(browseCheck_, &ConvertSettings::browseOutputFolder);

    connect(destList_, &QComboBox::currentIndexChanged, this, &COptOutputPage::UpdateEnabling);
    connect(browseButton_, &QPushButton::clicked, this, &COptOutputPage::Browse);
    connect(openButton_, &QPushButton::clicked, this, &COptOutputPage::Open);
}

void COptOutputPage::InitControls() {
    ShowBindings();
    UpdateEnabling();
}

void COptOutputPage::UpdateEnabling() {
    const bool specific =
        destList_->currentData().toInt() == StoredCode(DestOutputFolder::kSpecificFolder);
    for (QWidget* w : {static_cast<QWidget*>(folderLabel_), static_cast<QWidget*>(folderEdit_),
                       static_cast<QWidget*>(browseButton_), static_cast<QWidget*>(openButton_),
                       static_cast<QWidget*>(treeCheck_), static_cast<QWidget*>(treeNote_)})
        w->setEnabled(specific);
}

bool COptOutputPage::ReadControls() {
    if (destList_->currentData().toInt() == StoredCode(DestOutputFolder::kSpecificFolder) &&
        folderEdit_->text().isEmpty()) {
        Refuse(QStringLiteral("Please choose an output folder."), folderEdit_);
        return false;
    }
    ReadBindings();
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
