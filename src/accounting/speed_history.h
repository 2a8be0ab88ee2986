#pragma once

#include <cstdint>
#include <vector>

namespace kv {

// The scale a graph step worked out: the largest recorded sample, the top of the scale and the
// bytes per second that one pixel of bar height stands for.
struct GraphScale {
    double historyMax = 0;
    double scaleMax = 0;
    double bytesPerPixel = 0;
};

// The speed samples behind a scrolling bar graph, with the filter that keeps isolated spikes
// above 4,000,000 bytes/s out (the first step after a start records nothing). Positions 1 .. W
// hold the samples, W the newest; position 0 is never used.
class SpeedHistory {
  public:
    static constexpr double kSpikeThreshold = 4000000.0;
    static constexpr int kMaxSpikes = 2;

    explicit SpeedHistory(int width);

    // One step: scale from the samples before this step (and the current speed), then the spike
    // filter, then record and scroll.
    GraphScale Step(double currentSpeed, int height);

    int Width() const { return width_; }
    std::int32_t At(int position) const { return samples_[std::size_t(position)]; }

  private:
    int width_;
    std::vector<std::int32_t> samples_;
    bool skipSample_ = true;
    std::uint8_t spikeCount_ = 0;
};

}  // namespace kv
