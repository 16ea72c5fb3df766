#pragma once

#include "settings/options/opt_page.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kestrune {

// "General": the file filter of "Add Folder" and drag and drop, hidden files, CD audio
// decoding, the two-to-one channel rule, skip and convert lengths, the volume, and how many
// files are converted at once.
class COptGeneralPage : public COptPage {
    Q_OBJECT
public:
    explicit COptGeneralPage(Prompter& prompter, QWidget* parent = nullptr);

    static const char* const kChannelHelp;

protected:
    void InitControls() override;
    bool ReadControls() override;

private:
    void UpdateEnabling();
    void ShowChannelHelp();

    QCheckBox* filterCheck_;
    QLineEdit* filterEdit_;
    QCheckBox* hiddenCheck_;
    QCheckBox* dtsCheck_;
    QButtonGroup* monoGroup_;
    QPushButton* helpButton_;
    QCheckBox* skipCheck_;
    SpinEdit* skipEdit_;
    QCheckBox* convertCheck_;
    SpinEdit* convertEdit_;
    QButtonGroup* volumeGroup_;
    SpinEdit* volumeEdit_;
    SpinEdit* loudnessEdit_;
    SpinEdit* simultaneousEdit_;
};

}  // namespace kestrune
