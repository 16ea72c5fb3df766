#include "engine/progress_meter.h"

#include <algorithm>

#include "engine/conversion_host.h"

namespace kestrune {

ProgressMeter::ProgressMeter(ConversionHost& host, int64_t length, std::string verb,
                             std::string name)
    : host_(host), verb_(std::move(verb)), name_(std::move(name)) {
    length_ = static_cast<uint64_t>(std::max<int64_t>(length, 0));
    step_ = length_ / 100;
    if (step_ == 0)
        step_ = 1;
    if (length_ == 0)
        length_ = 1;
    width_ = std::max(host_.FileBarWidth(), 1);
    pixelStep_ = length_ / static_cast<uint64_t>(width_);
    if (pixelStep_ == 0)
        pixelStep_ = 1;
    host_.SetFileProgress(0, width_);
    ShowLabel(0);
}

void ProgressMeter::ShowLabel(int percent) {
    host_.SetFileLabel("[" + std::to_string(percent) + "%] " + verb_ + " " + name_ + "...");
}

void ProgressMeter::Update(int64_t position) {
    const uint64_t pos = static_cast<uint64_t>(std::max<int64_t>(position, 0));
    const int percent = static_cast<int>(std::min<uint64_t>(pos / step_, 100));
    if (percent > lastPercent_) {
        lastPercent_ = percent;
        ShowLabel(percent);
    }
    const int px = static_cast<int>(std::min<uint64_t>(pos / pixelStep_, width_));
    if (px > lastPixel_) {
        lastPixel_ = px;
        host_.SetFileProgress(px, width_);
    }
}

void ProgressMeter::Finish() {
    if (lastPercent_ != 100) {
        lastPercent_ = 100;
        ShowLabel(100);
        lastPixel_ = width_;
        host_.SetFileProgress(width_, width_);
    }
}

}  // namespace kestrune
