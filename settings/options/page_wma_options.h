#pragma once

#include <vector>

#include "settings/options/opt_page.h"

class QListWidget;

namespace kestrune {

class Desktop;
class WmaFormatSource;

// "WMA/WMV/ASF": the encoding format of the three Windows Media rows, chosen from the formats
// the runtime offers, or left to the program.
class CPageWMAOptions : public COptPage {
    Q_OBJECT
public:
    CPageWMAOptions(Prompter& prompter, Desktop& desktop, WmaFormatSource& formats,
                    QWidget* parent = nullptr);

    static const char* const kRuntimeMissing;

protected:
    void InitControls() override;
    void ApplyControls() override;

private:
    struct Format {
        int sampleRate;
        int bitRate;
        int channels;
    };

    Desktop& desktop_;
    WmaFormatSource& source_;
    bool runtimeMissing_ = false;
    std::vector<Format> formats_;  // one per item after the first
    QListWidget* list_;
};

}  // namespace kestrune
