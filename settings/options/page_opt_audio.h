#pragma once

#include <vector>

#include "settings/options/opt_page.h"
#include "writers/output_catalogue.h"

class QCheckBox;
class QComboBox;
class QLabel;

namespace kestrune {

// The encoding page of one output format written by FFmpeg: its codec, sample rate, bit rate
// and channels, or the program's own choice of them.
class CPageOptAudio : public COptPage {
    Q_OBJECT
public:
    CPageOptAudio(const QString& title, std::vector<const CodecEntry*> codecs, Prompter& prompter,
                  QWidget* parent = nullptr);

    // The row's stored values (the option table's per-format options).
    void Load(const OutputFormatEntry& entry);
    void Store(OutputFormatEntry& entry) const;

    // How the bit-rate list labels a value: "%d bit", "%.2f kbps" or "%d kbps".
    static QString BitRateLabel(int bitRate);

protected:
    void InitControls() override;
    void ApplyControls() override;

private:
    void FillLists();
    void CodecChosen();
    void UpdateEnabling();
    void CaptureLists();

    OutputFormatEntry row_;  // the row's stored values that the page edits

    std::vector<const CodecEntry*> codecs_;
    bool hasRates_ = false;
    bool hasBitRates_ = false;

    QComboBox* codecList_;
    QLabel* rateLabel_;
    QComboBox* rateList_;
    QLabel* bitRateLabel_;
    QComboBox* bitRateList_;
    QLabel* channelLabel_;
    QComboBox* channelList_;
    QCheckBox* autoCheck_;
};

}  // namespace kestrune
