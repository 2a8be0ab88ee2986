#include <gtest/gtest.h>

#include <vector>

#include "accounting/graph_lines.h"
#include "accounting/speed_history.h"

namespace kv {
namespace {

constexpr int kMainWidth = 56;
constexpr int kMainHeight = 115;

// Runs the steps and returns the scale of the last one.
GraphScale Feed(SpeedHistory& history, std::initializer_list<double> speeds, int height) {
    GraphScale scale;
    for (double speed : speeds) {
        scale = history.Step(speed, height);
    }
    return scale;
}

std::vector<GraphLine> Bars(const std::vector<GraphLine>& lines, std::size_t frameLines) {
    return {lines.begin() + std::ptrdiff_t(frameLines), lines.end()};
}

TEST(SpeedHistory, TheFirstStepRecordsNothing) {
    SpeedHistory history(kMainWidth);
    history.Step(5000, kMainHeight);
    EXPECT_EQ(history.At(kMainWidth), 0);
    history.Step(700, kMainHeight);
    EXPECT_EQ(history.At(kMainWidth), 700);
    EXPECT_EQ(history.At(kMainWidth - 1), 700);
    EXPECT_EQ(history.At(kMainWidth - 2), 0);
}

TEST(SpeedHistory, ScaleFollowsTheLargestValueAndNeverDropsBelowOneBytePerPixel) {
    struct Case {
        double speed;
        double bytesPerPixel;
    } cases[] = {{0, 0}, {57, 1}, {114, 1}, {115, 1}, {230, 2}, {1000, 8}};
    for (const Case& c : cases) {
        SpeedHistory history(kMainWidth);
        const GraphScale scale = Feed(history, {0, c.speed}, kMainHeight);
        EXPECT_EQ(scale.bytesPerPixel, c.bytesPerPixel) << c.speed;
        EXPECT_EQ(scale.scaleMax, c.speed) << c.speed;
    }
}

TEST(SpeedHistory, SpikesAreSkippedTwiceThenRecorded) {
    SpeedHistory history(kMainWidth);
    Feed(history, {0, 300}, kMainHeight);
    struct Step {
        double speed;
        std::int32_t newest;
    } steps[] = {{5000000, 300},
                 {5000000, 300},
                 {5000000, 5000000},
                 {100, 100},
                 // The count went back to 0 at 100, so a new run is skipped again.
                 {5000000, 100},
                 {4000000, 4000000},
                 {5000000, 4000000},
                 {5000000, 5000000}};
    for (const Step& s : steps) {
        history.Step(s.speed, kMainHeight);
        EXPECT_EQ(history.At(kMainWidth), s.newest) << s.speed;
    }
}

TEST(SpeedHistory, ExactlyTheThresholdNeitherSkipsNorResetsTheRun) {
    SpeedHistory history(kMainWidth);
    Feed(history, {0, 10, 5000000}, kMainHeight);  // one spike skipped
    history.Step(4000000, kMainHeight);
    EXPECT_EQ(history.At(kMainWidth), 4000000);
    history.Step(5000000, kMainHeight);  // second skip of the same run
    EXPECT_EQ(history.At(kMainWidth), 4000000);
    history.Step(5000000, kMainHeight);
    EXPECT_EQ(history.At(kMainWidth), 5000000);
}

TEST(SpeedHistory, SpeedsBeyond32BitsAreStoredAsTheLargestSample) {
    SpeedHistory history(kMainWidth);
    Feed(history, {0, 3e9, 3e9, 3e9}, kMainHeight);
    EXPECT_EQ(history.At(kMainWidth), 2147483647);
}

TEST(SpeedHistory, ADroppedSpikeStillSetsTheScaleOfItsStep) {
    SpeedHistory history(181);
    Feed(history, {0, 20}, 21);
    const GraphScale scale = history.Step(5000000, 21);
    EXPECT_EQ(history.At(181), 20);
    EXPECT_EQ(scale.scaleMax, 5000000);
    EXPECT_EQ(scale.bytesPerPixel, 238095);
}

TEST(MainGraph, DrawsTheFrameThenOneBarPerNonZeroColumn) {
    SpeedHistory history(kMainWidth);
    const GraphScale scale = Feed(history, {0, 57}, kMainHeight);
    std::vector<GraphLine> lines;
    MainGraphLines(history, scale, kMainHeight, lines);
    const std::vector<GraphLine> frame(lines.begin(), lines.begin() + 4);
    EXPECT_EQ(frame, (std::vector<GraphLine>{{0, 114, 56, 114, 0xFFFFFF},
                                             {0, 0, 56, 0, 0xFFFFFF},
                                             {0, 0, 0, 114, 0xFFFFFF},
                                             {55, 0, 55, 114, 0xFFFFFF}}));
    EXPECT_EQ(Bars(lines, 4),
              (std::vector<GraphLine>{{55, 115, 55, 58, 0xFFFFFF}, {56, 115, 56, 58, 0xFFFFFF}}));
}

TEST(MainGraph, AllZeroDrawsOnlyTheFrame) {
    SpeedHistory history(kMainWidth);
    const GraphScale scale = Feed(history, {0, 0, 0}, kMainHeight);
    std::vector<GraphLine> lines;
    MainGraphLines(history, scale, kMainHeight, lines);
    EXPECT_EQ(lines.size(), 4u);
    EXPECT_EQ(scale.bytesPerPixel, 0);
}

TEST(MainGraph, TheLargestBarRunsPastTheTop) {
    SpeedHistory history(kMainWidth);
    const GraphScale scale = Feed(history, {0, 1000}, kMainHeight);
    std::vector<GraphLine> lines;
    MainGraphLines(history, scale, kMainHeight, lines);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[4].y2, 115 - 125);
}

TEST(IndicatorGraph, BarsStandOnePixelAboveTheGreyBaseline) {
    SpeedHistory history(181);
    const GraphScale scale = Feed(history, {0, 20}, 21);
    std::vector<GraphLine> lines;
    IndicatorGraphLines(history, scale, 21, lines);
    EXPECT_EQ(lines, (std::vector<GraphLine>{{0, 20, 181, 20, 0x868686},
                                             {180, 19, 180, 1, 0x7AF477},
                                             {181, 19, 181, 1, 0x7AF477}}));
}

TEST(IndicatorGraph, ASampleBelowOnePixelCrossesTheBaseline) {
    SpeedHistory history(181);
    Feed(history, {0, 5, 100}, 21);
    const GraphScale scale = history.Step(100, 21);
    std::vector<GraphLine> lines;
    IndicatorGraphLines(history, scale, 21, lines);
    // 5 bytes/s at 4 bytes per pixel is one pixel; a 0-pixel sample would end at y = 21.
    EXPECT_EQ(lines[1], (GraphLine{178, 19, 178, 20, 0x7AF477}));
}

}  // namespace
}  // namespace kv
