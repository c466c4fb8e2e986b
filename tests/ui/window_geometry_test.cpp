// The main window's size arithmetic: the floating window's size and minimum,
// the aspect-keeping resize while floating, the drag step of the borderless
// window and the sizing borders.
#include <QString>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <ostream>

#include "ui/floating-geometry.h"

namespace {

using namespace window_geometry;

struct FloatingCase {
    const char* name;
    QSize preview;
    double videoAspect;  // stored as a float, as the window stores it
    QSize expected;
};

void PrintTo(const FloatingCase& c, std::ostream* out) { *out << c.name; }

class FloatingSize : public testing::TestWithParam<FloatingCase> {};

TEST_P(FloatingSize, FollowsThePicturesRatioFromTheLimitingSide) {
    const FloatingCase& c = GetParam();
    EXPECT_EQ(FloatingWindowSize(c.preview, static_cast<float>(c.videoAspect)), c.expected);
}

const FloatingCase kFloatingCases[] = {
    // The ratio is held as a float: 640 / (16/9 as a float) is just below
    // 360 and truncates.
    {"Landscape1080p", {643, 411}, 1920.0 / 1080.0, {640, 359}},
    {"Portrait1080p", {643, 411}, 1080.0 / 1920.0, {229, 408}},
    {"SameShapeAsPreview", {640, 360}, 1920.0 / 1080.0, {640, 359}},
    {"FourByThree", {800, 600}, 4.0 / 3.0, {800, 599}},
    {"SquareInLandscapePreview", {801, 603}, 1.0, {600, 600}},
    {"WidePictureInTallPreview", {100, 1000}, 3.0, {100, 33}},
    {"TallPictureInWidePreview", {1000, 100}, 0.5, {50, 100}},
    // No picture ratio yet: the preview keeps its own shape.
    {"NoRatioKeepsPreviewShape", {643, 411}, 0.0, {640, 409}},
    {"InfiniteRatioKeepsPreviewShape", {643, 411}, std::numeric_limits<double>::infinity(), {640, 409}},
    {"NanRatioKeepsPreviewShape", {643, 411}, std::numeric_limits<double>::quiet_NaN(), {640, 409}},
    {"EmptyPreview", {0, 411}, 16.0 / 9.0, {}},
    {"PreviewWithoutHeight", {643, 0}, 16.0 / 9.0, {}},
};

INSTANTIATE_TEST_SUITE_P(Table, FloatingSize, testing::ValuesIn(kFloatingCases),
                         [](const testing::TestParamInfo<FloatingCase>& param) { return std::string(param.param.name); });

TEST(FloatingMinimum, IsTwoHundredScaledPixelsWideAtThePicturesRatio) {
    EXPECT_EQ(FloatingMinimumSize(1.0, 1080.0f / 1920.0f), QSize(200, 355));
    EXPECT_EQ(FloatingMinimumSize(1.5, 1920.0f / 1080.0f), QSize(300, 168));
    EXPECT_EQ(FloatingMinimumSize(1.0, 0.0f), QSize(200, 200));
}

struct SizingCase {
    const char* name;
    int edges;
    double aspect;
    int top, bottom, left, right;              // the rectangle the window system proposes
    int wantTop, wantBottom, wantLeft, wantRight;  // after the window's answer
};

void PrintTo(const SizingCase& c, std::ostream* out) { *out << c.name; }

class AspectWhileSizing : public testing::TestWithParam<SizingCase> {};

TEST_P(AspectWhileSizing, KeepsTheRatioFromTheDraggedSide) {
    const SizingCase& c = GetParam();
    int top = c.top, bottom = c.bottom, left = c.left, right = c.right;
    KeepAspectWhileSizing(c.edges, static_cast<float>(c.aspect), &top, &bottom, &left, &right);
    EXPECT_EQ(top, c.wantTop);
    EXPECT_EQ(bottom, c.wantBottom);
    EXPECT_EQ(left, c.wantLeft);
    EXPECT_EQ(right, c.wantRight);
}

constexpr double k169 = 16.0 / 9.0;
constexpr double k916 = 9.0 / 16.0;
const SizingCase kSizingCases[] = {
    // Landscape: dragging the left edge changes the height.
    {"LandscapeLeftEdge", kSizingLeft, k169, 0, 300, 100, 740, 0, 360, 100, 740},
    {"LandscapeRightEdge", kSizingRight, k169, 10, 20, 0, 320, 10, 190, 0, 320},
    {"LandscapeTopEdge", kSizingTop, k169, 0, 450, 0, 640, 0, 450, 0, 800},
    {"LandscapeCornerFollowsWidth", kSizingTop | kSizingLeft, k169, 0, 900, 0, 640, 0, 360, 0, 640},
    // Portrait: dragging the bottom edge changes the width.
    {"PortraitBottomEdge", kSizingBottom, k916, 0, 400, 50, 60, 0, 400, 50, 275},
    {"PortraitLeftEdge", kSizingLeft, k916, 0, 10, 0, 225, 0, 400, 0, 225},
    {"PortraitCornerFollowsHeight", kSizingBottom | kSizingRight, k916, 0, 800, 0, 100, 0, 800, 0, 450},
    {"NoEdgesChangesNothing", 0, k169, 1, 2, 3, 4, 1, 2, 3, 4},
    {"NoRatioChangesNothing", kSizingLeft, 0.0, 0, 300, 100, 740, 0, 300, 100, 740},
};

INSTANTIATE_TEST_SUITE_P(Table, AspectWhileSizing, testing::ValuesIn(kSizingCases),
                         [](const testing::TestParamInfo<SizingCase>& param) { return std::string(param.param.name); });

TEST(AspectAfterResize, TheSideThatChangedMoreLeadsAndCorrectionsSettle) {
    const float landscape = 16.0f / 9.0f;
    const float portrait = 9.0f / 16.0f;
    EXPECT_EQ(KeepAspectAfterResize({640, 359}, {800, 359}, landscape), QSize(800, 450));
    EXPECT_EQ(KeepAspectAfterResize({640, 359}, {640, 500}, landscape), QSize(888, 500));
    // Within a pixel of the ratio: left as it is, so that a correction does
    // not set off another.
    EXPECT_EQ(KeepAspectAfterResize({800, 450}, {640, 359}, landscape), QSize(640, 359));
    EXPECT_EQ(KeepAspectAfterResize({800, 359}, {800, 450}, landscape), QSize(800, 450));
    EXPECT_EQ(KeepAspectAfterResize({229, 408}, {229, 600}, portrait), QSize(337, 600));
    EXPECT_EQ(KeepAspectAfterResize({229, 408}, {400, 408}, portrait), QSize(400, 711));
    EXPECT_EQ(KeepAspectAfterResize({229, 408}, {400, 408}, 0.0f), QSize(400, 408));
    EXPECT_EQ(KeepAspectAfterResize({229, 408}, {0, 408}, portrait), QSize(0, 408));
}

struct DragCase {
    const char* name;
    QPoint global, offset, windowPos;
    bool started;
    bool moves;
    QPoint target;
};

void PrintTo(const DragCase& c, std::ostream* out) { *out << c.name; }

class DragDistance : public testing::TestWithParam<DragCase> {};

TEST_P(DragDistance, MovesByTheDistanceNotByTheTargetsPlace) {
    const DragCase& c = GetParam();
    QPoint target(-12345, -12345);
    EXPECT_EQ(DragStep(c.global, c.offset, c.windowPos, 10, c.started, &target), c.moves);
    if (c.moves) {
        EXPECT_EQ(target, c.target);
    }
}

const DragCase kDragCases[] = {
    // A press that wobbles by 3 pixels leaves a window far from the screen's
    // origin where it is (its target lies 903 pixels from the origin).
    {"WobbleFarFromOriginStays", {512, 411}, {10, 10}, {500, 400}, false, false, {}},
    {"BeyondTheThresholdMoves", {525, 410}, {10, 10}, {500, 400}, false, true, {515, 400}},
    {"ExactlyTheThresholdStays", {520, 410}, {10, 10}, {500, 400}, false, false, {}},
    // Once moving, the window follows each small step.
    {"StartedFollowsSmallSteps", {522, 410}, {10, 10}, {510, 400}, true, true, {512, 400}},
    // A window dragged into the screen's top-left corner gets there: its
    // target lies within the threshold of the origin.
    {"IntoTheTopLeftCorner", {13, 13}, {10, 10}, {50, 50}, false, true, {3, 3}},
    {"StartedIntoTheCorner", {11, 10}, {10, 10}, {5, 0}, true, true, {1, 0}},
    {"NoMovementNoMove", {60, 60}, {10, 10}, {50, 50}, true, false, {}},
    // Screens left of or above the primary one have negative coordinates.
    {"NegativeScreen", {-400, -300}, {10, 10}, {-300, -300}, false, true, {-410, -310}},
};

INSTANTIATE_TEST_SUITE_P(Table, DragDistance, testing::ValuesIn(kDragCases),
                         [](const testing::TestParamInfo<DragCase>& param) { return std::string(param.param.name); });

struct BorderCase {
    const char* name;
    QPoint at;
    double scale;
    bool maximised;
    bool top, bottom, left, right;
};

void PrintTo(const BorderCase& c, std::ostream* out) { *out << c.name; }

class SizingBorders : public testing::TestWithParam<BorderCase> {};

TEST_P(SizingBorders, LieWithinFiveScaledPixelsOfEachEdge) {
    const BorderCase& c = GetParam();
    const BorderHits hits = BordersAt(c.at, QSize(900, 634), c.scale, c.maximised);
    EXPECT_EQ(hits.top, c.top);
    EXPECT_EQ(hits.bottom, c.bottom);
    EXPECT_EQ(hits.left, c.left);
    EXPECT_EQ(hits.right, c.right);
}

const BorderCase kBorderCases[] = {
    {"Inside", {100, 100}, 1.0, false, false, false, false, false},
    {"LeftEdge", {5, 100}, 1.0, false, false, false, true, false},
    {"JustInsideLeft", {6, 100}, 1.0, false, false, false, false, false},
    {"TopLeftCorner", {2, 3}, 1.0, false, true, false, true, false},
    {"RightEdge", {895, 300}, 1.0, false, false, false, false, true},
    {"BottomRightCorner", {899, 633}, 1.0, false, false, true, false, true},
    {"ScaledBorderIsWider", {9, 629}, 2.0, false, false, true, true, false},
    {"MaximisedHasNoBorder", {0, 0}, 1.0, true, false, false, false, false},
};

INSTANTIATE_TEST_SUITE_P(Table, SizingBorders, testing::ValuesIn(kBorderCases),
                         [](const testing::TestParamInfo<BorderCase>& param) { return std::string(param.param.name); });

}  // namespace
