#pragma once

#include "engine/convert_settings.h"
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

    void Load(const ConvertSettings& settings);
    void Store(ConvertSettings& settings) const;

protected:
    void InitControls() override;
    void ApplyControls() override;

private:
    void UpdateEnabling();

    int amrType_ = 0;
    int amrMode_ = 6;
    int amrwbMode_ = 6;
    int amrDtx_ = 0;

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

    void Load(const ConvertSettings& settings);
    void Store(ConvertSettings& settings) const;

protected:
    void InitControls() override;
    void ApplyControls() override;

private:
    int awbMode_ = 6;
    int awbDtx_ = 0;

    QComboBox* rateList_;
    QCheckBox* dtxCheck_;
};

}  // namespace kestrune
