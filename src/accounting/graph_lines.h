#pragma once

#include <cstdint>
#include <vector>

#include "accounting/speed_history.h"

namespace kv {

// One straight line of a graph drawing, in pixels of the graph box (y grows downwards).
struct GraphLine {
    float x1, y1, x2, y2;
    std::uint32_t rgb;  // 0xRRGGBB

    bool operator==(const GraphLine&) const = default;
};

// The main window's graph: a white frame and white bars standing on the bottom edge.
void MainGraphLines(const SpeedHistory& history, const GraphScale& scale, int height,
                    std::vector<GraphLine>& out);

// The indicator's graph: a grey baseline along the bottom row and green bars standing one pixel
// above it, drawn over the strip's background picture.
void IndicatorGraphLines(const SpeedHistory& history, const GraphScale& scale, int height,
                         std::vector<GraphLine>& out);

}  // namespace kv
