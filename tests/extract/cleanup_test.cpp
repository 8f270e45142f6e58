// Minutiae clean-up: duplicate merging, removal of ridge endings at the
// border of the print, the mask filter and the skeleton pixel edit.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "extract/bal_minutiae_cleanup.h"

namespace {

minutia make(int row, int col, int angle, uint8_t type, uint8_t quality = 50) {
    return minutia{static_cast<int16_t>(row), static_cast<int16_t>(col), static_cast<uint8_t>(angle), type,
                   quality, 3};
}

constexpr uint8_t E = ZR_MINUTIA_ENDING;
constexpr uint8_t B = ZR_MINUTIA_BIFURCATION;

// ---------------------------------------------------------------------------
// Duplicates

TEST(DuplicateMinutiae, PairsOfDifferentTypesMergeWhenCloseInPlaceAndDirection) {
    struct Case {
        const char* name;
        minutia first, second;
        uint8_t scale;
        bool merged;
    };
    const Case cases[] = {
        {"7 px, 10 steps", make(20, 20, 100, E), make(20, 27, 110, B), 1, true},
        {"8 px apart", make(20, 20, 100, E), make(20, 28, 110, B), 1, false},
        {"14 steps apart", make(20, 20, 100, E), make(20, 27, 114, B), 1, false},
        {"13 steps apart", make(20, 20, 100, E), make(20, 27, 113, B), 1, true},
        {"diagonal 5,5 (50 < 64)", make(20, 20, 0, E), make(25, 25, 0, B), 1, true},
        {"scale 2: 4 px count as 8", make(20, 20, 0, E), make(24, 20, 0, B), 2, false},
        {"scale 2: 3 px count as 6", make(20, 20, 0, E), make(23, 20, 0, B), 2, true},
        {"scale 16: factor 0, any distance", make(0, 0, 0, E), make(900, 900, 0, B), 16, true},
        {"bifurcation then ending", make(20, 20, 0, B), make(21, 20, 0, E), 1, true},
        {"two endings", make(20, 20, 0, E), make(21, 20, 0, E), 1, false},
        {"two bifurcations", make(20, 20, 0, B), make(21, 20, 0, B), 1, false},
        {"scale 0", make(20, 20, 0, E), make(21, 20, 0, B), 0, false},
    };
    for (const Case& c : cases) {
        minutia list[2] = {c.first, c.second};
        const uint32_t n = bal_remove_duplicate_minutiae(list, 2, c.scale);
        EXPECT_EQ(c.merged ? 1u : 2u, n) << c.name;
        if (c.merged) {
            EXPECT_EQ(B, list[0].type) << c.name;
            EXPECT_EQ((c.first.row + c.second.row) / 2, list[0].row) << c.name;
            EXPECT_EQ((c.first.col + c.second.col) / 2, list[0].col) << c.name;
        } else {
            EXPECT_EQ(c.first.type, list[0].type) << c.name;
            EXPECT_EQ(c.second.row, list[1].row) << c.name;
        }
    }
}

TEST(DuplicateMinutiae, MeanDirectionCrossesZeroAndTheScanContinuesInPlace) {
    // 250 and 4 are 10 steps apart across 0: their mean is 255.
    minutia wrap[2] = {make(10, 10, 250, E), make(10, 12, 4, B)};
    ASSERT_EQ(1u, bal_remove_duplicate_minutiae(wrap, 2, 1));
    EXPECT_EQ(255, wrap[0].angle);

    // The second bifurcation moves into the place of the merged one and is
    // compared again: it merges with the already merged entry.
    minutia chain[4] = {make(10, 10, 0, E), make(10, 13, 4, B), make(10, 16, 8, B), make(60, 60, 0, B)};
    ASSERT_EQ(2u, bal_remove_duplicate_minutiae(chain, 4, 1));
    EXPECT_EQ(10, chain[0].row);
    EXPECT_EQ(13, chain[0].col);  // (10 + 13) / 2 = 11, then (11 + 16) / 2 = 13
    EXPECT_EQ(B, chain[0].type);
    EXPECT_EQ(60, chain[1].row);

    // Lists of 0 and 1 entries are returned as they are.
    minutia one[1] = {make(1, 1, 1, E)};
    EXPECT_EQ(0u, bal_remove_duplicate_minutiae(one, 0, 1));
    EXPECT_EQ(1u, bal_remove_duplicate_minutiae(one, 1, 1));
}

TEST(DuplicateMinutiae, OnlyEntriesFromTheFirstOtherTypeOnAreCompared) {
    // Two endings close together followed by a far bifurcation: the endings
    // are earlier than the first bifurcation and never compared with each other.
    minutia list[3] = {make(10, 10, 0, E), make(10, 11, 0, E), make(80, 80, 0, B)};
    EXPECT_EQ(3u, bal_remove_duplicate_minutiae(list, 3, 1));
    // A later ending close to an earlier ending is compared (it comes after the
    // first bifurcation) and merges into a bifurcation.
    minutia mixed[3] = {make(10, 10, 0, E), make(80, 80, 0, B), make(10, 12, 0, E)};
    ASSERT_EQ(2u, bal_remove_duplicate_minutiae(mixed, 3, 1));
    EXPECT_EQ(B, mixed[0].type);
    EXPECT_EQ(11, mixed[0].col);
    EXPECT_EQ(80, mixed[1].row);
}

// ---------------------------------------------------------------------------
// Skeletons drawn by hand

struct Skeleton {
    uint32_t rows, cols;
    std::vector<uint8_t> pixels;  // 0 skeleton, 1 background
    std::vector<uint8_t> period;
    Skeleton(uint32_t r, uint32_t c, uint8_t ridge_period = 8)
        : rows(r), cols(c), pixels(size_t{r} * c, 1), period(size_t{r} * c, ridge_period) {}
    void set(int row, int col) {
        if (row >= 0 && col >= 0 && uint32_t(row) < rows && uint32_t(col) < cols) pixels[size_t(row) * cols + col] = 0;
    }
    void hline(int row, int c0, int c1) {
        for (int c = c0; c <= c1; ++c) set(row, c);
    }
    void vline(int col, int r0, int r1) {
        for (int r = r0; r <= r1; ++r) set(r, col);
    }
    bool skeleton(int row, int col) const {
        return row >= 0 && col >= 0 && uint32_t(row) < rows && uint32_t(col) < cols &&
               pixels[size_t(row) * cols + col] == 0;
    }
    // Neighbour counts recomputed from scratch (the reference).
    std::vector<uint8_t> counts() const {
        std::vector<uint8_t> out(pixels.size(), 0);
        for (int r = 0; r < int(rows); ++r)
            for (int c = 0; c < int(cols); ++c) {
                if (!skeleton(r, c)) continue;
                uint8_t n = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) n += (dy || dx) && skeleton(r + dy, c + dx);
                out[size_t(r) * cols + c] = n;
            }
        return out;
    }
    uint32_t filter(std::vector<minutia> list, uint8_t scale = 1) const {
        const auto map = counts();
        return bal_remove_edge_endpoints(list.data(), static_cast<uint32_t>(list.size()), pixels.data(), map.data(),
                                         period.data(), rows, cols, scale);
    }
};

// A ridge along row 20 ending at column `end` (direction 0: the probes walk
// back towards smaller columns, 10 and 30 pixels).
Skeleton ending_ridge(uint32_t cols, int end, uint8_t period = 8) {
    Skeleton s(40, cols, period);
    s.hline(20, 2, end);
    return s;
}

TEST(EdgeEndpoints, EndingStaysOnlyWithLinesOnBothSides) {
    struct Case {
        const char* name;
        int end;            // end column of the ridge (60 columns)
        int above_from, above_to;  // columns of a line at row 14 (empty when from > to)
        int below_from, below_to;  // columns of a line at row 26
        uint8_t period;
        uint32_t kept;
    };
    const Case cases[] = {
        {"both sides at the end point", 45, 0, 59, 0, 59, 8, 1},
        {"one side only everywhere", 45, 0, 59, 1, 0, 8, 0},
        {"no side lines", 45, 1, 0, 1, 0, 8, 0},
        {"lines beyond 3 periods (period 1: 3 px)", 45, 0, 59, 0, 59, 1, 0},
        {"ridge period 0: empty distance range", 45, 0, 59, 0, 59, 0, 0},
        {"both sides near the second probe only", 45, 33, 37, 33, 37, 8, 1},
        {"both sides near the third probe only", 45, 13, 17, 13, 17, 8, 1},
        {"third probe outside the image", 25, 0, 59, 1, 0, 8, 0},
    };
    for (const Case& c : cases) {
        Skeleton s = ending_ridge(60, c.end, c.period);
        if (c.above_from <= c.above_to) s.hline(14, c.above_from, c.above_to);
        if (c.below_from <= c.below_to) s.hline(26, c.below_from, c.below_to);
        EXPECT_EQ(c.kept, s.filter({make(20, c.end - 5, 0, E)})) << c.name;
    }
}

TEST(EdgeEndpoints, BifurcationsStayAndUnfoundEndsStay) {
    Skeleton s = ending_ridge(60, 45);
    // A bifurcation with no side lines is never removed; an ending whose end
    // point lies beyond 51 pixels stays.
    EXPECT_EQ(1u, s.filter({make(20, 45, 0, B)}));
    Skeleton empty(40, 60);
    EXPECT_EQ(1u, empty.filter({make(20, 30, 0, E)}));
    // Order of the survivors: endings removed from between bifurcations.
    std::vector<minutia> list = {make(20, 45, 0, B), make(20, 40, 0, E), make(5, 5, 0, B)};
    const auto map = s.counts();
    ASSERT_EQ(2u, bal_remove_edge_endpoints(list.data(), 3, s.pixels.data(), map.data(), s.period.data(), s.rows,
                                            s.cols, 1));
    EXPECT_EQ(45, list[0].col);
    EXPECT_EQ(5, list[1].col);
}

TEST(EdgeEndpoints, SideFindsCountTheLeftNeighbourAndInColumnZeroTheRight) {
    // Direction 0 searches straight up and down the probe's column: single
    // skeleton pixels 6 rows above and below, one column to the side.
    struct Case {
        const char* name;
        int side_col_offset;
        uint32_t kept;
    };
    for (const Case c : {Case{"left neighbour counts", -1, 1}, Case{"right neighbour does not", +1, 0}}) {
        Skeleton s = ending_ridge(60, 45);
        s.set(14, 45 + c.side_col_offset);
        s.set(26, 45 + c.side_col_offset);
        EXPECT_EQ(c.kept, s.filter({make(20, 40, 0, E)})) << c.name;
    }
    // An end point in column 0 (ridge to its right, direction 128 so the
    // probes move right): the right neighbour counts there.
    for (const Case c : {Case{"column 0: right neighbour counts", 1, 1}, Case{"column 0: pixel itself", 0, 1}}) {
        Skeleton s(40, 60);
        s.hline(20, 0, 15);
        s.set(14, c.side_col_offset);
        s.set(26, c.side_col_offset);
        EXPECT_EQ(c.kept, s.filter({make(20, 3, 128, E)})) << c.name;
    }
}

TEST(EdgeEndpoints, OneColumnImagesAndEmptyInputs) {
    // A vertical ridge in a one-column image: the side search reads no pixel
    // outside it; with no side lines the ending goes.
    Skeleton s(30, 1);
    s.vline(0, 0, 10);
    EXPECT_EQ(0u, s.filter({make(12, 0, 192, E)}));
    // Scale 0 and empty images return the list unchanged.
    Skeleton r = ending_ridge(60, 45);
    EXPECT_EQ(1u, r.filter({make(20, 40, 0, E)}, 0));
    std::vector<minutia> list = {make(0, 0, 0, E)};
    EXPECT_EQ(1u, bal_remove_edge_endpoints(list.data(), 1, r.pixels.data(), r.pixels.data(), r.period.data(), 0,
                                            60, 1));
}

TEST(EdgeEndpoints, ScaleTwoHalvesTheDistances) {
    // At scale 2 the search runs from 1 to 3 x 8 / 2 = 12 pixels: lines 6 px
    // away are found; at period 3 (up to 4 px) they are not.
    for (auto [period, kept] : {std::pair{uint8_t{8}, 1u}, {uint8_t{3}, 0u}}) {
        Skeleton s = ending_ridge(60, 45, period);
        s.hline(14, 0, 59);
        s.hline(26, 0, 59);
        EXPECT_EQ(kept, s.filter({make(20, 43, 0, E)}, 2)) << int(period);
    }
}

// ---------------------------------------------------------------------------
// Mask filter

TEST(LowVarianceMinutiae, KeepsNonZeroPositionsInOrder) {
    const uint32_t rows = 4, cols = 5;
    std::vector<uint8_t> image(rows * cols, 0);
    image[1 * cols + 2] = 7;
    image[3 * cols + 4] = 1;
    std::vector<minutia> list = {make(1, 2, 0, E), make(0, 0, 0, E), make(3, 4, 0, B), make(4, 0, 0, B),
                                 make(-1, 2, 0, B), make(1, 5, 0, E)};
    ASSERT_EQ(2u, bal_remove_low_variance_minutiae(list.data(), 6, image.data(), rows, cols));
    EXPECT_EQ(2, list[0].col);
    EXPECT_EQ(4, list[1].col);
}

// ---------------------------------------------------------------------------
// Skeleton pixel edit

TEST(RemoveSkeletonPixel, KeepsTheNeighbourCountsOfRandomSkeletons) {
    std::mt19937 rng(7);
    struct Size {
        uint32_t rows, cols;
    };
    for (const Size size : {Size{1, 9}, Size{9, 1}, Size{2, 2}, Size{3, 4}, Size{12, 15}}) {
        for (int trial = 0; trial < 20; ++trial) {
            Skeleton s(size.rows, size.cols);
            for (auto& p : s.pixels) p = (rng() % 3 == 0) ? 1 : 0;
            auto map = s.counts();
            // Delete skeleton pixels one by one, border pixels included.
            for (int k = 0; k < 6; ++k) {
                const uint32_t row = rng() % size.rows, col = rng() % size.cols;
                if (!s.skeleton(int(row), int(col))) continue;
                bal_remove_skeleton_pixel(s.pixels.data(), map.data(), size.rows, size.cols, row, col);
                EXPECT_EQ(1, s.pixels[size_t{row} * size.cols + col]);
                ASSERT_EQ(s.counts(), map) << size.rows << "x" << size.cols << " at " << row << "," << col;
            }
        }
    }
}

TEST(RemoveSkeletonPixel, PositionsOutsideChangeNothing) {
    Skeleton s(3, 3);
    s.hline(1, 0, 2);
    auto map = s.counts();
    const auto before = s.pixels;
    bal_remove_skeleton_pixel(s.pixels.data(), map.data(), 3, 3, 3, 1);
    bal_remove_skeleton_pixel(s.pixels.data(), map.data(), 3, 3, 1, 3);
    EXPECT_EQ(before, s.pixels);
    EXPECT_EQ(s.counts(), map);
}

}  // namespace
