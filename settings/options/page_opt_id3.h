#pragma once

#include "settings/options/opt_page.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace kestrune {

// "ID3": which tags outputs get, the custom tag with its track number, and whether the
// pictures go with them.
class CPageOptID3 : public COptPage {
    Q_OBJECT
public:
    explicit CPageOptID3(Prompter& prompter, QWidget* parent = nullptr);

protected:
    void InitControls() override;

private:
    void UpdateEnabling();

    QButtonGroup* typeGroup_;
    QButtonGroup* trackGroup_;
    QLabel* trackLabel_;
    SpinEdit* trackEdit_;
    QCheckBox* fileNameCheck_;
    QLineEdit* titleEdit_;
    QLineEdit* artistEdit_;
    QLineEdit* albumEdit_;
    QLineEdit* yearEdit_;
    QLineEdit* commentEdit_;
    QLineEdit* composerEdit_;
    QLineEdit* copyrightEdit_;
    QComboBox* genreList_;
    QCheckBox* coverCheck_;
    QCheckBox* folderCoverCheck_;
    QComboBox* replayGainList_;
    QCheckBox* truePeakCheck_;
    QList<QWidget*> tagControls_;  // everything the custom tag governs
};

}  // namespace kestrune
