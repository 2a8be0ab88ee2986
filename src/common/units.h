#pragma once

namespace kv {

inline constexpr int kTwipsPerPixel = 15;
inline constexpr double kBytesPerMb = 1048576.0;

// Nearest whole pixel, for sizes that do not divide (730 twips is 48.67 pixels).
constexpr int TwipsToPixels(int twips) {
    return (twips >= 0 ? twips + kTwipsPerPixel / 2 : twips - kTwipsPerPixel / 2) / kTwipsPerPixel;
}

// The whole part of twips / 15, as the graph sizes are taken.
constexpr int WholePixels(int twips) {
    return twips / kTwipsPerPixel;
}

constexpr int PixelsToTwips(int pixels) {
    return pixels * kTwipsPerPixel;
}

}  // namespace kv
