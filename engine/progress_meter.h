#pragma once

#include <cstdint>
#include <string>

namespace kestrune {

class ConversionHost;

// The per-file label "[%d%%] <verb> <name>..." and bar of a pass. Texts are formatted only
// when the percentage grows and the bar moves only when its pixel position grows.
class ProgressMeter {
public:
    // verb is "Converting", "Scanning", ... as the pass calls itself.
    ProgressMeter(ConversionHost& host, int64_t length, std::string verb, std::string name);
    void Update(int64_t position);
    // The 100 % state, unless it was already shown.
    void Finish();

private:
    void ShowLabel(int percent);

    ConversionHost& host_;
    std::string verb_, name_;
    uint64_t length_, step_, pixelStep_;
    int width_;
    int lastPercent_ = 0;
    int lastPixel_ = 0;
};

}  // namespace kestrune
