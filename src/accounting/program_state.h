#pragma once

#include <cstdint>

namespace kv {

// Everything the windows share for the whole run: the user's settings, the figures of the last
// accounting tick, the indicator's settings and the graph scales. One instance, owned by main()
// and handed to every window.
struct ProgramState {
    // Settings the user enters; kept in data.dat.
    float moneyLimit = 0;
    float tariffPerMb = 0;
    std::int32_t adapterIndex = 0;

    // Indicator settings. 32-bit: a wide desktop puts the indicator past 32767 twips.
    std::int32_t indicatorLeft = 0;
    std::int32_t indicatorTop = 0;
    bool indicatorEnabled = false;
    bool indicatorShown = false;
    bool playerLineHidden = false;
    bool tickerPaused = false;
    bool mainWindowShown = false;

    // Figures of the last accounting tick. The ledger writes these and the two money settings
    // above; the windows only read them.
    bool watching = false;  // an interface is charged and in the table
    float sentMb = 0;
    float receivedMb = 0;
    float usedMb = 0;
    double currentSpeed = 0;

    // Main speed graph.
    double graphWidth = 0;
    double graphHeight = 0;
    double graphScaleMax = 0;
    double historyMax = 0;
    double bytesPerPixel = 0;

    // Indicator speed graph.
    double indicatorGraphWidth = 0;
    double indicatorGraphHeight = 0;
    double indicatorScaleMax = 0;
    double indicatorHistoryMax = 0;
    double indicatorBytesPerPixel = 0;

    // Where a drag of the indicator started, relative to its corner, in twips.
    std::int32_t dragOffsetX = 0;
    std::int32_t dragOffsetY = 0;
};

}  // namespace kv
