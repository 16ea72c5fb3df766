#pragma once

#include "settings/options/opt_page.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;

namespace kestrune {

// The rate lists of the two AMR variants, the index being the stored value.
QStringList AmrNarrowBandRates();
QStringList AmrWideBandRates();

// "AMR": the variant of the "amr" format, its two rate lists and DTX.
class CAMROptPage : public COptPage {
    Q_OBJECT
public:
    explicit CAMROptPage(Prompter& prompter, QWidget* parent = nullptr);

protected:
    void InitControls() override;

private:
    void UpdateEnabling();

    QButtonGroup* typeGroup_;
    QLabel* nbLabel_;
    QComboBox* nbList_;
    QLabel* wbLabel_;
    QComboBox* wbList_;
    QCheckBox* dtxCheck_;
};

// "AWB": the wide-band rate and DTX of the "awb" format.
class CAWBOptPage : public COptPage {
    Q_OBJECT
public:
    explicit CAWBOptPage(Prompter& prompter, QWidget* parent = nullptr);

protected:
    void InitControls() override;
};

}  // namespace kestrune
