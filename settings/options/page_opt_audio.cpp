#include "settings/options/page_opt_audio.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace kestrune {

namespace {

const QString kAutoRate = QStringLiteral("Auto (the program will choose the best sample rate)");
const QString kAutoBitRate = QStringLiteral("Auto (the program will choose the best bit rate)");
const QString kAutoChannels = QStringLiteral("Auto (the program will choose the best channels)");

void SelectValue(QComboBox* list, int value) {
    const int index = list->findData(value);
    list->setCurrentIndex(index >= 0 ? index : 0);
}

// Makes list as wide as its widest item can ever be, so that the page keeps its shape and shows
// every item whole whichever codec fills it.
void WideEnoughFor(QComboBox* list, const QString& widest) {
    list->addItem(widest);
    list->setMinimumWidth(list->sizeHint().width());
    list->clear();
}

}  // namespace

QString CPageOptAudio::BitRateLabel(int bitRate) {
    if (bitRate < 1000)
        return QString::asprintf("%d bit", bitRate);
    if (bitRate % 1000 != 0)
        return QString::asprintf("%.2f kbps", bitRate / 1000.0);
    return QString::asprintf("%d kbps", bitRate / 1000);
}

CPageOptAudio::CPageOptAudio(const QString& title, std::vector<const CodecEntry*> codecs,
                             Prompter& prompter, QWidget* parent)
    : COptPage(title, prompter, parent), codecs_(std::move(codecs)) {
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    codecList_ = new QComboBox(this);
    for (const CodecEntry* codec : codecs_)
        codecList_->addItem(QString::fromUtf8(codec->label), codec->codecId);
    grid->addWidget(BuddyLabel(QStringLiteral("&Codec:"), codecList_, this), 0, 0);
    grid->addWidget(codecList_, 0, 1);

    rateList_ = new QComboBox(this);
    rateLabel_ = BuddyLabel(QStringLiteral("Sample &Rate:"), rateList_, this);
    bitRateList_ = new QComboBox(this);
    bitRateLabel_ = BuddyLabel(QStringLiteral("&Bit Rate:"), bitRateList_, this);
    channelList_ = new QComboBox(this);
    channelLabel_ = BuddyLabel(QStringLiteral("Channels:"), channelList_, this);
    grid->addWidget(rateLabel_, 1, 0);
    grid->addWidget(rateList_, 1, 1);
    grid->addWidget(bitRateLabel_, 2, 0);
    grid->addWidget(bitRateList_, 2, 1);
    grid->addWidget(channelLabel_, 3, 0);
    grid->addWidget(channelList_, 3, 1);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    WideEnoughFor(rateList_, kAutoRate);
    WideEnoughFor(bitRateList_, kAutoBitRate);
    WideEnoughFor(channelList_, kAutoChannels);
    layout->addSpacing(8);
    autoCheck_ =
        new QCheckBox(QStringLiteral("A&uto (the program will choose the best options)"), this);
    NameFor(autoCheck_, autoCheck_->text());
    layout->addWidget(autoCheck_);
    layout->addStretch();

    NameAfter(codecList_, &OutputFormatEntry::codecId);
    NameAfter(rateList_, &OutputFormatEntry::sampleRate);
    NameAfter(bitRateList_, &OutputFormatEntry::bitRate);
    NameAfter(channelList_, &OutputFormatEntry::channels);
    NameAfter(autoCheck_, &OutputFormatEntry::autoParams);

    connect(codecList_, &QComboBox::currentIndexChanged, this, &CPageOptAudio::CodecChosen);
    connect(autoCheck_, &QCheckBox::toggled, this, &CPageOptAudio::UpdateEnabling);
}

void CPageOptAudio::Load(const OutputFormatEntry& e) {
    for (const OptionEntry& option : OptionTable())
        if (option.Group() == OptionGroup::kFormat)
            option.Copy(e, row_);
}

void CPageOptAudio::Store(OutputFormatEntry& e) const {
    for (const OptionEntry& option : OptionTable())
        if (option.Group() == OptionGroup::kFormat)
            option.Copy(row_, e);
}

void CPageOptAudio::InitControls() {
    {
        const QSignalBlocker quiet(codecList_);
        SelectValue(codecList_, row_.codecId);
    }
    // A stored codec the row does not offer shows the first one, with that codec's lists.
    if (codecList_->count() > 0 && codecList_->findData(row_.codecId) < 0)
        row_.codecId = codecList_->currentData().toInt();
    autoCheck_->setChecked(row_.autoParams == 1);
    FillLists();
}

void CPageOptAudio::FillLists() {
    rateList_->clear();
    bitRateList_->clear();
    channelList_->clear();
    const CodecEntry* codec = nullptr;
    for (const CodecEntry* c : codecs_)
        if (c->codecId == row_.codecId)
            codec = c;  // the last one with the id
    hasRates_ = codec && !codec->sampleRates.empty();
    hasBitRates_ = codec && !codec->bitRates.empty();
    if (codec) {
        for (int rate : codec->sampleRates)
            rateList_->addItem(QString::asprintf("%d Hz", rate), rate);
        if (codec->sampleRates.size() > 1)
            rateList_->addItem(kAutoRate, 0);
        for (int bitRate : codec->bitRates)
            bitRateList_->addItem(BitRateLabel(bitRate), bitRate);
        if (codec->bitRates.size() > 1)
            bitRateList_->addItem(kAutoBitRate, 0);
        if (codec->channelMask & 2)
            channelList_->addItem(QStringLiteral("Stereo"), 2);
        if (codec->channelMask & 1)
            channelList_->addItem(QStringLiteral("Mono"), 1);
        if ((codec->channelMask & 3) == 3)
            channelList_->addItem(kAutoChannels, 0);
    }
    if (rateList_->count() > 0)
        SelectValue(rateList_, row_.sampleRate);
    if (bitRateList_->count() > 0)
        SelectValue(bitRateList_, row_.bitRate);
    if (channelList_->count() > 0)
        SelectValue(channelList_, row_.channels);
    UpdateEnabling();
}

void CPageOptAudio::CodecChosen() {
    // What the lists show now is what the next codec's lists should show where they can.
    CaptureLists();
    row_.codecId = codecList_->currentData().toInt();
    FillLists();
}

void CPageOptAudio::CaptureLists() {
    if (rateList_->count() > 0)
        row_.sampleRate = rateList_->currentData().toInt();
    if (bitRateList_->count() > 0)
        row_.bitRate = bitRateList_->currentData().toInt();
    if (channelList_->count() > 0)
        row_.channels = channelList_->currentData().toInt();
}

void CPageOptAudio::UpdateEnabling() {
    const bool manual = !autoCheck_->isChecked();
    rateLabel_->setEnabled(manual && hasRates_);
    rateList_->setEnabled(manual && hasRates_);
    bitRateLabel_->setEnabled(manual && hasBitRates_);
    bitRateList_->setEnabled(manual && hasBitRates_);
    channelLabel_->setEnabled(manual);
    channelList_->setEnabled(manual);
}

void CPageOptAudio::ApplyControls() {
    row_.autoParams = autoCheck_->isChecked() ? 1 : 0;
    if (codecList_->count() > 0)
        row_.codecId = codecList_->currentData().toInt();
    row_.sampleRate = rateList_->count() > 0 ? rateList_->currentData().toInt() : 0;
    row_.bitRate = bitRateList_->count() > 0 ? bitRateList_->currentData().toInt() : 0;
    row_.channels = channelList_->count() > 0 ? channelList_->currentData().toInt() : 1;
}

}  // namespace kestrune
