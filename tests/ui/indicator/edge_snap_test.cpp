#include "ui/indicator/edge_snap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace kv {
namespace {

constexpr std::int32_t kScreenW = 1920 * 15;  // 28800
constexpr std::int32_t kScreenH = 1080 * 15;  // 16200
constexpr std::int32_t kWindowW = 2715;
constexpr std::int32_t kRight = kScreenW - kWindowW;  // flush: 26085
constexpr std::int32_t kBottom = kScreenH - 945;      // flush: 15255

struct SnapCase {
    const char* name;
    TwipsPosition dragged;
    TwipsPosition expected;
    std::int32_t screenW = kScreenW;
    std::int32_t screenH = kScreenH;
    std::int32_t windowH = 945;
};

class SnapToScreenEdgesTest : public testing::TestWithParam<SnapCase> {};

TEST_P(SnapToScreenEdgesTest, LandsWhereTheEdgeRulesPutIt) {
    const SnapCase& c = GetParam();
    EXPECT_EQ(SnapToScreenEdges(c.dragged, kWindowW, c.windowH, c.screenW, c.screenH), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, SnapToScreenEdgesTest,
    testing::Values(
        SnapCase{"LeftEdge150OffScreenSnaps", {-150, 6000}, {0, 6000}},
        SnapCase{"LeftEdge150InsideSnaps", {150, 6000}, {0, 6000}},
        SnapCase{"LeftEdge151OffScreenStaysOff", {-151, 6000}, {-151, 6000}},
        SnapCase{"LeftEdge151InsideStays", {151, 6000}, {151, 6000}},
        SnapCase{"RightEdge150InsideSnaps", {kRight - 150, 6000}, {kRight, 6000}},
        SnapCase{"RightEdge150OffScreenSnaps", {kRight + 150, 6000}, {kRight, 6000}},
        SnapCase{"RightEdge151InsideStays", {kRight - 151, 6000}, {kRight - 151, 6000}},
        SnapCase{"TopEdge150OffScreenSnaps", {9000, -150}, {9000, 0}},
        SnapCase{"TopEdge151InsideStays", {9000, 151}, {9000, 151}},
        SnapCase{"BottomEdge150InsideSnaps", {9000, kBottom - 150}, {9000, kBottom}},
        SnapCase{"BottomEdge151OffScreenStays", {9000, kBottom + 151}, {9000, kBottom + 151}},
        SnapCase{"ShortWindowSnapsWithItsOwnHeight",
                 {9000, kScreenH - 830},
                 {9000, kScreenH - 730},
                 kScreenW,
                 kScreenH,
                 730},
        // Screens barely larger than the window: both edges are near, the left and top win.
        SnapCase{"LeftWinsOverRight", {50, 6000}, {0, 6000}, 2800},
        SnapCase{"TopWinsOverBottom", {9000, 50}, {9000, 0}, kScreenW, 1000},
        SnapCase{"PositionsBeyond16BitsSurvive", {40000, 33000}, {40000, 33000}, 60000, 45000}),
    [](const testing::TestParamInfo<SnapCase>& info) { return info.param.name; });

TEST(Drag, CornerKeepsTheOffsetUnderThePointer) {
    const std::int32_t offset = DragOffset(100, 1200);
    EXPECT_EQ(offset, 300);
    EXPECT_EQ(DraggedCorner(200, offset), 2700);
    EXPECT_EQ(DraggedCorner(10, offset), -150);
}

TEST(Drag, AbsurdPointerSaturatesInsteadOfWrapping) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(DraggedCorner(kMax, 0), kMax);
    EXPECT_EQ(DragOffset(-kMax, 5), std::numeric_limits<std::int32_t>::min());
}

TEST(TwipsPositionToPixels, RoundsToTheNearestPixelWithoutOverflowAtTheEnds) {
    EXPECT_EQ(TwipsPositionToPixels(15470), 1031);  // 1031.33
    EXPECT_EQ(TwipsPositionToPixels(-150), -10);
    EXPECT_EQ(TwipsPositionToPixels(std::numeric_limits<std::int32_t>::max()), 143165576);
    EXPECT_EQ(TwipsPositionToPixels(std::numeric_limits<std::int32_t>::min()), -143165577);
}

}  // namespace
}  // namespace kv
