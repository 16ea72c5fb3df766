#pragma once

#include "settings/options/opt_page.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kestrune {

class Desktop;
class FileDialogs;

// "Output": where output files go, the directory tree, what happens to existing targets, the
// documents-folder fall-back and opening the output folder after a run.
class COptOutputPage : public COptPage {
    Q_OBJECT
public:
    COptOutputPage(Prompter& prompter, FileDialogs& dialogs, Desktop& desktop,
                   QWidget* parent = nullptr);

protected:
    void InitControls() override;
    bool ReadControls() override;

private:
    void UpdateEnabling();
    void Browse();
    void Open();

    FileDialogs& dialogs_;
    Desktop& desktop_;
    QComboBox* destList_;
    QLabel* folderLabel_;
    QLineEdit* folderEdit_;
    QPushButton* browseButton_;
    QPushButton* openButton_;
    QCheckBox* treeCheck_;
    QLabel* treeNote_;
    QComboBox* existsList_;
    QCheckBox* documentsCheck_;
    QCheckBox* browseCheck_;
};

}  // namespace kestrune
