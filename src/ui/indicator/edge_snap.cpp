#include "ui/indicator/edge_snap.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "common/units.h"

namespace kv {

namespace {

// Pointer positions come from the platform unchecked; absurd ones must not wrap around.
std::int32_t Saturate(std::int64_t value) {
    return std::int32_t(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
}

// The edge tests are made in floating point, so a corner near the 32-bit ends cannot overflow.
bool Near(double position, double edge) {
    return edge - kSnapDistanceTwips <= position && position <= edge + kSnapDistanceTwips;
}

std::int32_t SnapAxis(std::int32_t corner, std::int32_t size, std::int32_t screen) {
    if (Near(double(corner) + size, screen)) {
        corner = Saturate(std::int64_t(screen) - size);
    }
    if (Near(corner, 0)) {
        corner = 0;
    }
    return corner;
}

}  // namespace

std::int32_t DragOffset(std::int32_t pointerPixels, std::int32_t cornerTwips) {
    return Saturate(std::int64_t(pointerPixels) * kTwipsPerPixel - cornerTwips);
}

std::int32_t DraggedCorner(std::int32_t pointerPixels, std::int32_t offsetTwips) {
    return Saturate(std::int64_t(pointerPixels) * kTwipsPerPixel - offsetTwips);
}

TwipsPosition SnapToScreenEdges(TwipsPosition corner, std::int32_t windowWidth,
                                std::int32_t windowHeight, std::int32_t screenWidth,
                                std::int32_t screenHeight) {
    return {SnapAxis(corner.left, windowWidth, screenWidth),
            SnapAxis(corner.top, windowHeight, screenHeight)};
}

int TwipsPositionToPixels(std::int32_t twips) {
    const std::int64_t half = kTwipsPerPixel / 2;
    const std::int64_t wide = twips;
    return int((wide >= 0 ? wide + half : wide - half) / kTwipsPerPixel);
}

}  // namespace kv
