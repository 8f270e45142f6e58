#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "extract/bal_minutiae_detect.h"

namespace {

constexpr uint8_t kBackground = 1;
constexpr uint8_t kVerticalRidges = 128;  // pixel orientation byte

// A hand-drawn skeleton with the images the detector reads.
struct Drawing {
    uint32_t rows, cols;
    std::vector<uint8_t> skeleton, orientation, quality, counts;

    Drawing(uint32_t r, uint32_t c, uint8_t q)
        : rows(r), cols(c), skeleton(size_t{r} * c, kBackground),
          orientation(size_t{r} * c, kVerticalRidges), quality(size_t{r} * c, q),
          counts(size_t{r} * c, 0) {}

    // A straight or diagonal run of skeleton pixels from (r0, c0), `n` steps of (dr, dc).
    void line(int32_t r0, int32_t c0, int32_t dr, int32_t dc, int32_t n) {
        for (int32_t i = 0; i <= n; ++i) skeleton[size_t(r0 + i * dr) * cols + size_t(c0 + i * dc)] = 0;
    }
    size_t skeleton_pixels() const { return size_t(std::count(skeleton.begin(), skeleton.end(), 0)); }

    std::vector<minutia> detect(uint8_t type, uint32_t scale) {
        minutia list[ZR_MAX_MINUTIAE] = {};
        const uint32_t n = bal_extract_bifurcations(skeleton.data(), orientation.data(), rows, cols,
                                                    type, quality.data(), list, 0, counts.data(),
                                                    scale);
        return {list, list + n};
    }
};

// A Y: branches up-left (15 steps) and up-right (`right` steps) from the
// junction at (20, 20), stem 20 pixels down.
Drawing y_shape(uint8_t quality, int32_t right) {
    Drawing d(48, 48, quality);
    d.line(20, 20, -1, -1, 15);
    d.line(20, 20, -1, 1, right);
    d.line(20, 20, 1, 0, 20);
    return d;
}

TEST(DetectMinutiae, JunctionOfAYGivesOneMinutiaBetweenItsBranches) {
    Drawing d = y_shape(80, 15);
    const std::vector<minutia> found = d.detect(ZR_MINUTIA_BIFURCATION, 1);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(20, found[0].row);
    EXPECT_EQ(20, found[0].col);
    EXPECT_EQ(64, found[0].angle);  // mean of 96 and 32: straight up
    EXPECT_EQ(ZR_MINUTIA_BIFURCATION, found[0].type);
    EXPECT_EQ(80, found[0].quality);  // all legs long: the quality image value
    EXPECT_EQ(3, d.counts[20 * 48 + 20]);
    EXPECT_EQ(1, d.counts[5 * 48 + 5]);
    EXPECT_EQ(2, d.counts[30 * 48 + 20]);
}

// A 3-step branch (squared length 18) against the quality-dependent minimum
// length and the quality reduction of short legs.
TEST(DetectMinutiae, ShortBranchLowersTheQualityOrDropsTheJunction) {
    const struct {
        uint8_t quality;
        size_t found;
        uint8_t minutia_quality;
    } cases[] = {
        {80, 1, 16},  // minimum 2: kept, 80 x (100 / (2 + 7 - 4)) / 100
        {61, 1, 12},  // minimum 2: 61 x 20 / 100
        {50, 0, 0},   // minimum 3: 50 x 16 / 100 = 8, not above 9
        {30, 0, 0},   // minimum 9: the branch is too short
        {10, 0, 0},   // minimum 10
    };
    for (const auto& k : cases) {
        Drawing d = y_shape(k.quality, 3);
        const std::vector<minutia> found = d.detect(ZR_MINUTIA_ENDING, 1);
        ASSERT_EQ(k.found, found.size()) << "quality " << int(k.quality);
        if (k.found) {
            EXPECT_EQ(k.minutia_quality, found[0].quality);
        }
    }
}

// A branch across the ridge flow is a bridge: at 500 dpi it is removed from
// the skeleton with its end point and leaves no junction; the 250 dpi pass
// keeps it.
TEST(DetectMinutiae, BranchAcrossTheRidgeFlowIsRemovedAt500Dpi) {
    auto bridge = [] {
        Drawing d(48, 48, 80);
        d.line(2, 10, 1, 0, 40);   // a ridge along the flow
        d.line(21, 11, 0, 1, 25);  // a branch across it
        return d;
    };
    Drawing at500 = bridge();
    const size_t before = at500.skeleton_pixels();
    EXPECT_TRUE(at500.detect(ZR_MINUTIA_BIFURCATION, 1).empty());
    EXPECT_EQ(before - 21, at500.skeleton_pixels());  // traced 20 pixels, not the end
    Drawing at250 = bridge();
    const std::vector<minutia> found = at250.detect(ZR_MINUTIA_BIFURCATION, 2);
    ASSERT_EQ(1u, found.size());
    EXPECT_LE(std::abs(found[0].row - 21), 1);
    EXPECT_LE(std::abs(found[0].col - 10), 1);
}

TEST(DetectMinutiae, ListStopsAt255AndSmallImagesGiveNothing) {
    Drawing d = y_shape(80, 15);
    minutia list[ZR_MAX_MINUTIAE] = {};
    EXPECT_EQ(255u, bal_extract_bifurcations(d.skeleton.data(), d.orientation.data(), d.rows,
                                             d.cols, 1, d.quality.data(), list, 255,
                                             d.counts.data(), 1));
    EXPECT_EQ(7u, bal_extract_bifurcations(d.skeleton.data(), d.orientation.data(), 2, d.cols, 1,
                                           d.quality.data(), list, 7, d.counts.data(), 1));
    EXPECT_EQ(7u, bal_extract_bifurcations(d.skeleton.data(), d.orientation.data(), d.rows, d.cols,
                                           1, d.quality.data(), list, 7, d.counts.data(), 0));
}

// 300 Ys in 15 rows of 20, the first 100 (five rows) at a junction quality
// too low for a minutia. The junction list holds the first 255 in scan
// order, so 155 good ones become minutiae: one more listed junction would
// write past the list (the sanitizer build sees it) and add a minutia.
TEST(DetectMinutiae, JunctionListHolds255) {
    constexpr int32_t kGridRows = 15, kGridCols = 20, kPitch = 20, kLeg = 8, kLowRows = 5;
    Drawing d(kGridRows * kPitch + 2, kGridCols * kPitch + 2, 80);
    for (int32_t gr = 0; gr < kGridRows; ++gr)
        for (int32_t gc = 0; gc < kGridCols; ++gc) {
            const int32_t r = gr * kPitch + kLeg + 1, c = gc * kPitch + kLeg + 1;
            d.line(r, c, -1, -1, kLeg);
            d.line(r, c, -1, 1, kLeg);
            d.line(r, c, 1, 0, kLeg);
            if (gr < kLowRows) d.quality[size_t(r) * d.cols + size_t(c)] = 10;
        }
    const std::vector<minutia> found = d.detect(ZR_MINUTIA_BIFURCATION, 1);
    ASSERT_EQ(155u, found.size());
    // The last five Ys of row 12 and all of rows 13 and 14 were never listed.
    EXPECT_EQ(kLowRows * kPitch + kLeg + 1, found.front().row);
    EXPECT_EQ(12 * kPitch + kLeg + 1, found.back().row);
    EXPECT_EQ(14 * kPitch + kLeg + 1, found.back().col);
}

// Each direction tries straight ahead first, then its sides.
TEST(DetectMinutiae, LegStepsTryTheNeighboursInTheirOrder) {
    const struct {
        bal_leg_direction from;
        std::vector<bal_leg_direction> set;
        bal_leg_direction taken;
    } cases[] = {
        {BAL_LEG_UP, {BAL_LEG_UP_RIGHT, BAL_LEG_UP_LEFT}, BAL_LEG_UP_LEFT},
        {BAL_LEG_UP, {BAL_LEG_LEFT, BAL_LEG_DOWN}, BAL_LEG_NONE},
        {BAL_LEG_DOWN, {BAL_LEG_DOWN_RIGHT, BAL_LEG_DOWN}, BAL_LEG_DOWN},
        {BAL_LEG_LEFT, {BAL_LEG_DOWN_LEFT, BAL_LEG_UP_LEFT}, BAL_LEG_UP_LEFT},
        {BAL_LEG_RIGHT, {BAL_LEG_DOWN_RIGHT}, BAL_LEG_DOWN_RIGHT},
        {BAL_LEG_UP_LEFT, {BAL_LEG_LEFT, BAL_LEG_UP}, BAL_LEG_UP},
        {BAL_LEG_UP_LEFT, {BAL_LEG_DOWN_LEFT, BAL_LEG_UP_RIGHT}, BAL_LEG_UP_RIGHT},
        {BAL_LEG_UP_RIGHT, {BAL_LEG_DOWN_RIGHT, BAL_LEG_RIGHT}, BAL_LEG_RIGHT},
        {BAL_LEG_DOWN_LEFT, {BAL_LEG_DOWN, BAL_LEG_UP_LEFT}, BAL_LEG_DOWN},
        {BAL_LEG_DOWN_RIGHT, {BAL_LEG_DOWN_LEFT, BAL_LEG_DOWN_RIGHT}, BAL_LEG_DOWN_LEFT},
        {BAL_LEG_DOWN_RIGHT, {BAL_LEG_UP_LEFT}, BAL_LEG_NONE},
    };
    constexpr int32_t kOffset[9][2] = {{0, 0},  {-1, 0}, {1, 0},  {0, -1}, {0, 1},
                                       {-1, -1}, {-1, 1}, {1, -1}, {1, 1}};
    for (const auto& k : cases) {
        std::vector<uint8_t> sk(25, kBackground);
        for (bal_leg_direction d : k.set) sk[size_t(2 + kOffset[d][0]) * 5 + size_t(2 + kOffset[d][1])] = 0;
        const bal_leg_step next = bal_find_next_leg_direction(sk.data(), 5, 5, {2, 2, k.from});
        EXPECT_EQ(k.taken, next.direction) << "from " << int(k.from);
        if (k.taken != BAL_LEG_NONE) {
            EXPECT_EQ(2 + kOffset[k.taken][0], next.row);
            EXPECT_EQ(2 + kOffset[k.taken][1], next.col);
        }
    }
    // Legs come in the order up-left, up, up-right, left, right, down-left,
    // down, down-right; positions outside the image are background.
    std::vector<uint8_t> sk(9, 0);
    bal_leg_step legs[8];
    ASSERT_EQ(3u, bal_find_bifurcation_legs(sk.data(), 3, 3, 0, 0, legs));
    EXPECT_EQ(BAL_LEG_RIGHT, legs[0].direction);
    EXPECT_EQ(BAL_LEG_DOWN, legs[1].direction);
    EXPECT_EQ(BAL_LEG_DOWN_RIGHT, legs[2].direction);
}

}  // namespace
