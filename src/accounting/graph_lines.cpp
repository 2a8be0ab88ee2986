#include "accounting/graph_lines.h"

#include <cmath>

namespace kv {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBaselineGrey = 0x868686;
constexpr std::uint32_t kBarGreen = 0x7AF477;

// One bar per non-zero sample from its foot up to its height above the bottom edge; the bar of
// the largest sample may run past the top and is clipped there.
void AppendBars(const SpeedHistory& history, const GraphScale& scale, float foot, float height,
                std::uint32_t rgb, std::vector<GraphLine>& out) {
    if (scale.bytesPerPixel == 0) {
        return;
    }
    for (int p = 1; p <= history.Width(); ++p) {
        const std::int32_t sample = history.At(p);
        if (sample != 0) {
            const auto x = float(p);
            const auto bar = float(std::floor(sample / scale.bytesPerPixel));
            out.push_back({x, foot, x, height - bar, rgb});
        }
    }
}

}  // namespace

void MainGraphLines(const SpeedHistory& history, const GraphScale& scale, int height,
                    std::vector<GraphLine>& out) {
    out.clear();
    const auto w = float(history.Width());
    const auto h = float(height);
    out.push_back({0, h - 1, w, h - 1, kWhite});
    out.push_back({0, 0, w, 0, kWhite});
    out.push_back({0, 0, 0, h - 1, kWhite});
    out.push_back({w - 1, 0, w - 1, h - 1, kWhite});
    AppendBars(history, scale, h, h, kWhite, out);
}

void IndicatorGraphLines(const SpeedHistory& history, const GraphScale& scale, int height,
                         std::vector<GraphLine>& out) {
    out.clear();
    const auto h = float(height);
    out.push_back({0, h - 1, float(history.Width()), h - 1, kBaselineGrey});
    AppendBars(history, scale, h - 2, h, kBarGreen, out);
}

}  // namespace kv
