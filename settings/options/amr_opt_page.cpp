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
    typeGroup_->addButton(nb, StoredCode(AmrBand::kNarrow));
    typeGroup_->addButton(wb, StoredCode(AmrBand::kWide));

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

    // A variant this program does not know leaves both unchosen (and the value kept).
    Bind(typeGroup_, &ConvertSettings::amrType);
    Bind(nbList_, &ConvertSettings::amrMode, kFallbackIndex);
    Bind(wbList_, &ConvertSettings::amrwbMode, kFallbackIndex);
    Bind(dtxCheck_, &ConvertSettings::amrDtx);

    connect(typeGroup_, &QButtonGroup::idToggled, this, &CAMROptPage::UpdateEnabling);
}

void CAMROptPage::InitControls() {
    ShowBindings();
    UpdateEnabling();
}

void CAMROptPage::UpdateEnabling() {
    const int type = typeGroup_->checkedId();
    nbLabel_->setEnabled(type == StoredCode(AmrBand::kNarrow));
    nbList_->setEnabled(type == StoredCode(AmrBand::kNarrow));
    wbLabel_->setEnabled(type == StoredCode(AmrBand::kWide));
    wbList_->setEnabled(type == StoredCode(AmrBand::kWide));
}

CAWBOptPage::CAWBOptPage(Prompter& prompter, QWidget* parent)
    : COptPage(QStringLiteral("AWB"), prompter, parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Sample Frequency: 16000 Hz"), this));
    auto* grid = new QGridLayout;
    auto* rateList = new QComboBox(this);
    FillRates(rateList, AmrWideBandRates());
    grid->addWidget(BuddyLabel(QStringLiteral("&Bit Rate:"), rateList, this), 0, 0);
    grid->addWidget(rateList, 0, 1);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    layout->addSpacing(8);
    QCheckBox* dtxCheck = DtxCheck(this);
    layout->addWidget(dtxCheck);
    layout->addStretch();
    Bind(rateList, &ConvertSettings::awbMode, kFallbackIndex);
    Bind(dtxCheck, &ConvertSettings::awbDtx);
}

void CAWBOptPage::InitControls() {
    ShowBindings();
}

}  // namespace kestrune
