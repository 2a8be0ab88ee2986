#include "accounting/speed_history.h"

#include <algorithm>
#include <cmath>

#include "common/rounding.h"

namespace kv {

SpeedHistory::SpeedHistory(int width)
    : width_(std::max(width, 1)), samples_(std::size_t(width_) + 1, 0) {}

GraphScale SpeedHistory::Step(double currentSpeed, int height) {
    GraphScale scale;
    for (int p = 1; p <= width_; ++p) {
        if (scale.historyMax < samples_[std::size_t(p)]) {
            scale.historyMax = samples_[std::size_t(p)];
        }
    }
    scale.scaleMax = scale.historyMax;
    if (scale.historyMax < currentSpeed) {
        scale.scaleMax = currentSpeed;
    }
    scale.bytesPerPixel = height > 0 ? std::floor(scale.scaleMax / height) : 0;
    if (scale.bytesPerPixel == 0 && scale.scaleMax != 0) {
        scale.bytesPerPixel = 1;
    }

    if (currentSpeed > kSpikeThreshold && !skipSample_ && spikeCount_ < kMaxSpikes) {
        skipSample_ = true;
        ++spikeCount_;
    }
    if (skipSample_) {
        skipSample_ = false;
    } else {
        if (currentSpeed < kSpikeThreshold) {
            spikeCount_ = 0;
        }
        // Links faster than 2 GiB/s exist (loopback, veth): keep the largest storable sample.
        samples_[std::size_t(width_)] = SaturateToInt32(currentSpeed);
    }
    std::copy(samples_.begin() + 2, samples_.end(), samples_.begin() + 1);
    return scale;
}

}  // namespace kv
