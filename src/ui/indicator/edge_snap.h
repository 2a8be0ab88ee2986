#pragma once

#include <cstdint>

namespace kv {

// A window corner in twips. 32 bits: a wide desktop puts it past the 16-bit range.
struct TwipsPosition {
    std::int32_t left = 0;
    std::int32_t top = 0;

    bool operator==(const TwipsPosition&) const = default;
};

// How far from a screen edge a dragged window is pulled flush with it.
inline constexpr std::int32_t kSnapDistanceTwips = 150;

// Where the pointer went down relative to the window's corner: 15 * pointer pixel - corner.
std::int32_t DragOffset(std::int32_t pointerPixels, std::int32_t cornerTwips);

// The corner that keeps the recorded offset under the pointer: 15 * pointer pixel - offset.
std::int32_t DraggedCorner(std::int32_t pointerPixels, std::int32_t offsetTwips);

// Pulls a window of the given size flush with an edge of the screen it comes within 150 twips of,
// on either side. The right and bottom edges are tested first, so on a screen narrower than the
// window plus the margins the left and top edges win.
TwipsPosition SnapToScreenEdges(TwipsPosition corner, std::int32_t windowWidth,
                                std::int32_t windowHeight, std::int32_t screenWidth,
                                std::int32_t screenHeight);

// Nearest whole pixel of a twips position, without overflowing near the 32-bit ends.
int TwipsPositionToPixels(std::int32_t twips);

}  // namespace kv
