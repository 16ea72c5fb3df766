#pragma once

#include <cstdint>
#include <string>

#include "engine/convert_settings.h"
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

    void Load(const ConvertSettings& settings);
    void Store(ConvertSettings& settings) const;

    static const char* const kChannelHelp;

protected:
    void InitControls() override;
    bool ReadControls() override;

private:
    void UpdateEnabling();
    void ShowChannelHelp();

    struct Values {
        int enableExtFilter = 0;
        std::string filterExts;
        int doNotLoadHiddenFiles = 0;
        int enableDTSForCDA = 0;
        int monoType = 0;
        int enableSkipLength = 0;
        uint32_t skipLength = 0;
        int enableConvertLength = 0;
        uint32_t convertLength = 0;
        int volumeType = kVolumeOriginal;
        int volume = 100;
        int simultaneousConversions = kMinSimultaneousConversions;
    } v_;

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
    SpinEdit* simultaneousEdit_;
};

}  // namespace kestrune
