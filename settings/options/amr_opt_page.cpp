#include "settings/options/amr_opt_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kestrune {

namespace {

// The item a stored index names; an index no item has falls back to the fifth.
constexpr int kFallbackIndex = 4;

void FillRates(QComboBox* list, const QStringList& rates) {
    for (int i = 0; i < rates.size(); ++i)
        list->addItem(rates[i], i);
}

void SelectIndex(QComboBox* list, int value) {
    const int index = list->findData(value);
    list->setCurrentIndex(index >= 0 ? index : kFallbackIndex);
}

QCheckBox* DtxCheck(QWidget* parent) {
    auto* check = new QCheckBox(QStringLiteral("&Enable DTX (Discontinuous Transmission)"), parent);
    NameFor(check, check->text());
    return check;
}

}  // namespace

QStringList AmrNarrowBandRates() {
    return {QStringLiteral("4.75 kbps"), QStringLiteral("5.15 kbps"), QStringLiteral("5.9 kbps"),
            QStringLiteral("6.7 kbps"),  QStringLiteral("7.4 kbps"),  QStringLiteral("7.95 kbps"),
            QStringLiteral("10.2 kbps"), QStringLiteral("12.2 kbps")};
}

QStringList AmrWideBandRates() {
    QStringList rates;
    for (const char* r :
         {"6.60", "8.85", "12.65", "14.25", "15.85", "18.25", "19.85", "23.05", "23.85"})
        rates << QString::fromLatin1(r) + QStringLiteral(" kbps");
    return rates;
}

CAMROptPage::CAMROptPage(Prompter& prompter, QWidget* parent)
    : COptPage(QStringLiteral("AMR"), prompter, parent) {
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    typeGroup_ = new QButtonGroup(this);
    auto* nb = new QRadioButton(QStringLiteral("&NB (Narrow Band, 8000 Hz)"), this);
    auto* wb = new QRadioButton(QStringLiteral("&WB (Wide Band, 16000 Hz)"), this);
    NameFor(nb, nb->text());
    NameFor(wb, wb->text());
    typeGroup_->addButton(nb, 0);
    typeGroup_->addButton(wb, 1);

    nbList_ = new QComboBox(this);
    FillRates(nbList_, AmrNarrowBandRates());
    nbLabel_ = BuddyLabel(QStringLiteral("&Bit Rate:"), nbList_, this);
    nbList_->setAccessibleDescription(StripMnemonic(nb->text()));
    wbList_ = new QComboBox(this);
    FillRates(wbList_, AmrWideBandRates());
    wbLabel_ = BuddyLabel(QStringLiteral("Bit &Rate:"), wbList_, this);
    wbList_->setAccessibleDescription(StripMnemonic(wb->text()));

    grid->addWidget(nb, 0, 0);
    grid->addWidget(nbLabel_, 0, 1);
    grid->addWidget(nbList_, 0, 2);
    grid->addWidget(wb, 1, 0);
    grid->addWidget(wbLabel_, 1, 1);
    grid->addWidget(wbList_, 1, 2);
    grid->setColumnStretch(3, 1);
    layout->addLayout(grid);
    layout->addSpacing(8);
    dtxCheck_ = DtxCheck(this);
    layout->addWidget(dtxCheck_);
    layout->addStretch();

    connect(typeGroup_, &QButtonGroup::idClicked, this, &CAMROptPage::UpdateEnabling);
}

void CAMROptPage::Load(const ConvertSettings& s) {
    amrType_ = s.amrType;
    amrMode_ = s.amrMode;
    amrwbMode_ = s.amrwbMode;
    amrDtx_ = s.amrDtx;
}

void CAMROptPage::Store(ConvertSettings& s) const {
    s.amrType = amrType_;
    s.amrMode = amrMode_;
    s.amrwbMode = amrwbMode_;
    s.amrDtx = amrDtx_;
}

void CAMROptPage::InitControls() {
    // A variant this program does not know leaves both unchosen (and the value kept).
    if (QAbstractButton* radio = typeGroup_->button(amrType_))
        radio->setChecked(true);
    SelectIndex(nbList_, amrMode_);
    SelectIndex(wbList_, amrwbMode_);
    dtxCheck_->setChecked(amrDtx_ != 0);
    UpdateEnabling();
}

void CAMROptPage::UpdateEnabling() {
    const int type = typeGroup_->checkedId();
    nbLabel_->setEnabled(type == 0);
    nbList_->setEnabled(type == 0);
    wbLabel_->setEnabled(type == 1);
    wbList_->setEnabled(type == 1);
}

void CAMROptPage::ApplyControls() {
    if (typeGroup_->checkedId() >= 0)
        amrType_ = typeGroup_->checkedId();
    amrMode_ = nbList_->currentData().toInt();
    amrwbMode_ = wbList_->currentData().toInt();
    amrDtx_ = dtxCheck_->isChecked() ? 1 : 0;
}

CAWBOptPage::CAWBOptPage(Prompter& prompter, QWidget* parent)
    : COptPage(QStringLiteral("AWB"), prompter, parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Sample Frequency: 16000 Hz"), this));
    auto* grid = new QGridLayout;
    rateList_ = new QComboBox(this);
    FillRates(rateList_, AmrWideBandRates());
    grid->addWidget(BuddyLabel(QStringLiteral("&Bit Rate:"), rateList_, this), 0, 0);
    grid->addWidget(rateList_, 0, 1);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    layout->addSpacing(8);
    dtxCheck_ = DtxCheck(this);
    layout->addWidget(dtxCheck_);
    layout->addStretch();
}

void CAWBOptPage::Load(const ConvertSettings& s) {
    awbMode_ = s.awbMode;
    awbDtx_ = s.awbDtx;
}

void CAWBOptPage::Store(ConvertSettings& s) const {
    s.awbMode = awbMode_;
    s.awbDtx = awbDtx_;
}

void CAWBOptPage::InitControls() {
    SelectIndex(rateList_, awbMode_);
    dtxCheck_->setChecked(awbDtx_ != 0);
}

void CAWBOptPage::ApplyControls() {
    awbMode_ = rateList_->currentData().toInt();
    awbDtx_ = dtxCheck_->isChecked() ? 1 : 0;
}

}  // namespace kestrune
