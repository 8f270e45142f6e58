// Ridge features: tracing, curvature vectors and the curvature summary on
// drawn and thinned skeletons; the alignment vectors of straight ridges and
// of junctions with one and three legs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <set>
#include <vector>

#include "extract/bal_extract.h"
#include "extract/bal_ridge_features.h"
#include "fp_test_data.h"
#include "imaging/bal_thin.h"

namespace {

constexpr uint8_t kBackground = 1;
constexpr double kPi = std::numbers::pi;

struct Canvas {
    uint32_t rows, cols;
    std::vector<uint8_t> px;
    // At least one byte, so that an empty image still has a buffer.
    Canvas(uint32_t r, uint32_t c) : rows(r), cols(c), px(std::max<size_t>(1, size_t{r} * c), kBackground) {}
    uint8_t& at(uint32_t r, uint32_t c) { return px[size_t{r} * cols + c]; }
    void hline(uint32_t row, uint32_t c0, uint32_t c1) {
        for (uint32_t c = c0; c <= c1; ++c) at(row, c) = 0;
    }
    void vline(uint32_t col, uint32_t r0, uint32_t r1) {
        for (uint32_t r = r0; r <= r1; ++r) at(r, col) = 0;
    }
    // Diagonal from (r0, c0) by `steps` steps of (dr, dc).
    void diagonal(uint32_t r0, uint32_t c0, int dr, int dc, uint32_t steps) {
        for (uint32_t k = 0; k <= steps; ++k) at(r0 + dr * int(k), c0 + dc * int(k)) = 0;
    }
};

int angle_distance(int a, int b) {
    const int d = ((a - b) % 256 + 256) % 256;
    return d > 128 ? 256 - d : d;
}

struct Extraction {
    bal_status status;
    zr_template_container* container;
    ~Extraction() {
        for (auto& block : container->feature_blocks) std::free(block.data);
        zr_template_container_free(container);
    }
    std::vector<uint8_t> block(uint32_t slot) const {
        const zr_feature_block& b = container->feature_blocks[slot];
        return std::vector<uint8_t>(b.data, b.data + b.length);
    }
};

// Runs an extractor over the canvas with every block on the finger.
Extraction run(bal_feature_callback callback, Canvas canvas, uint32_t margin = 0, uint32_t slot_base = 0,
               uint32_t flags = 0, uint32_t block = 12) {
    zr_template_container* c = zr_template_container_alloc();
    c->flags = flags;
    const std::vector<uint8_t> mask(size_t{canvas.rows / block + 1} * (canvas.cols / block + 1), 1);
    const bal_extraction_image image{nullptr, canvas.rows, canvas.cols, 197, 0, 0, 0, 0, 50, 0};
    const bal_status status = callback(&image, canvas.px.data(), mask.data(), block, margin, nullptr, c, slot_base);
    return {status, c};
}

// Concentric rings, 3 px wide, every 9 px, about a centre outside the image,
// thinned by the image library (the outermost pixels stay background).
Canvas thinned_rings(uint32_t rows, uint32_t cols, double centre_row, double centre_col) {
    Canvas c(rows, cols);
    for (uint32_t y = 1; y + 1 < rows; ++y)
        for (uint32_t x = 1; x + 1 < cols; ++x) {
            const double d = std::hypot(y - centre_row, x - centre_col);
            if (std::fmod(d, 9.0) < 3.0) c.at(y, x) = 0;
        }
    std::vector<uint8_t*> row_ptrs(rows);
    for (uint32_t y = 0; y < rows; ++y) row_ptrs[y] = &c.at(y, 0);
    EXPECT_EQ(BAL_OK, bal_contour_thin(row_ptrs.data(), rows, cols));
    for (auto& p : c.px) p = p == 0 ? 0 : kBackground;
    return c;
}

// ---------------------------------------------------------------------------
// Curvature summary

TEST(RidgeCurvature, RingsAboutAnOutsideCentreBendTowardsIt) {
    constexpr uint32_t rows = 120, cols = 120;
    struct Case {
        const char* side;
        double centre_row, centre_col;
        int expected;  // zr_atan2_(row, column) circle, rows growing downwards
    };
    const Case cases[] = {
        {"right", 60, 170, 0}, {"below", 170, 60, 64}, {"left", 60, -50, 128}, {"above", -50, 60, 192},
        {"below right", 160, 160, 32},
    };
    for (const Case& c : cases) {
        for (bal_feature_callback callback : {&bal_extract_ridge_curvature, &bal_extract_alignment_vectors}) {
            const Extraction e = run(callback, thinned_rings(rows, cols, c.centre_row, c.centre_col));
            ASSERT_EQ(BAL_OK, e.status) << c.side;
            const zr_alignment_summary s = e.container->alignment;
            EXPECT_LE(angle_distance(s.direction, c.expected), 12) << c.side << ": " << int(s.direction);
            EXPECT_GT(s.magnitude, 0) << c.side;
            EXPECT_LT(s.direction_spread, 40) << c.side;
        }
    }
}

TEST(RidgeCurvature, SmallOrEmptySkeletonsGiveTheEmptySummary) {
    const zr_alignment_summary empty = {0, 128, 0, -1};
    for (auto [rows, cols] : {std::pair{3u, 100u}, {100u, 3u}, {2u, 2u}, {0u, 0u}, {40u, 40u}}) {
        Canvas c(rows, cols);
        if (rows == 3) c.hline(1, 0, cols - 1);
        for (bal_feature_callback callback : {&bal_extract_ridge_curvature, &bal_extract_alignment_vectors}) {
            const Extraction e = run(callback, c);
            ASSERT_EQ(BAL_OK, e.status);
            const zr_alignment_summary s = e.container->alignment;
            EXPECT_EQ(0, std::memcmp(&empty, &s, 4)) << rows << "x" << cols;
            for (const auto& block : e.container->feature_blocks) EXPECT_EQ(0u, block.length);
        }
    }
}

TEST(RidgeCurvature, BadArguments) {
    zr_template_container* c = zr_template_container_alloc();
    std::vector<uint8_t> px(100, 1), mask(4, 1);
    const bal_extraction_image image{nullptr, 10, 10, 197, 0, 0, 0, 0, 50, 0};
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_extract_ridge_curvature(&image, px.data(), mask.data(), 0, 0, nullptr, c, 0));
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_extract_ridge_curvature(nullptr, px.data(), mask.data(), 12, 0, nullptr, c, 0));
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_extract_alignment_vectors(&image, px.data(), mask.data(), 12, 0, nullptr, nullptr, 0));
    zr_template_container_free(c);
}

// A straight horizontal ridge of n points.
std::vector<bal_ridge_point> straight(uint32_t n, uint32_t row = 50, uint32_t col = 10) {
    std::vector<bal_ridge_point> p(n);
    for (uint32_t i = 0; i < n; ++i) p[i] = bal_ridge_point{row, col + i, 0, {0, 0, 0}, BAL_POINT_TRACED};
    return p;
}

uint32_t curvature_count(const std::vector<bal_ridge_point>& points, uint32_t window, uint32_t factor) {
    bal_curvature_vectors v{nullptr, 0, 0};
    EXPECT_EQ(BAL_OK, bal_calculate_curvature_vectors(points.data(), uint32_t(points.size()), window, factor, &v));
    const uint32_t n = v.count;
    bal_curvature_vectors_release(&v);
    return n;
}

TEST(CurvatureVectors, WindowsChordsAndSteps) {
    struct Case {
        uint32_t points, window, factor, expected;
    };
    const Case cases[] = {
        {47, 48, 2, 0},   // shorter than the window
        {48, 48, 2, 1},   {49, 48, 2, 1},  {50, 48, 2, 2},  {50, 48, 1, 3},
        {40, 37, 2, 0},   // chord 36 is not longer than 36
        {40, 38, 2, 2},   // chord 37
        {30, 19, 1, 0},   // chord 18 at 250 dpi
        {30, 20, 1, 11},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, curvature_count(straight(c.points), c.window, c.factor))
            << c.points << " points, window " << c.window << ", factor " << c.factor;
}

TEST(CurvatureVectors, ArcsPointTowardsTheirCentre) {
    // Quarter arcs of radius 60 traced as 8-connected points, the centre in
    // each of eight directions; every vector points from its window's middle
    // point towards the centre.
    constexpr uint32_t window = 48, factor = 2;
    const double centre_row = 200, centre_col = 200, radius = 60;
    for (int k = 0; k < 8; ++k) {
        const double towards = k * kPi / 4;  // from the arc's middle to the centre, rows downwards
        std::vector<bal_ridge_point> points;
        for (int step = -400; step <= 400; ++step) {
            const double t = towards + kPi + step / 800.0 * (kPi / 2);
            const auto row = uint32_t(std::lround(centre_row + radius * std::sin(t)));
            const auto col = uint32_t(std::lround(centre_col + radius * std::cos(t)));
            if (points.empty() || points.back().row != row || points.back().col != col)
                points.push_back(bal_ridge_point{row, col, 0, {0, 0, 0}, BAL_POINT_TRACED});
            // Cut the corners of staircase steps, as a thin skeleton has none.
            const size_t n = points.size();
            if (n >= 3 && std::abs(int(points[n - 1].row) - int(points[n - 3].row)) <= 1 &&
                std::abs(int(points[n - 1].col) - int(points[n - 3].col)) <= 1)
                points.erase(points.end() - 2);
        }
        bal_curvature_vectors v{nullptr, 0, 0};
        ASSERT_EQ(BAL_OK, bal_calculate_curvature_vectors(points.data(), uint32_t(points.size()), window, factor, &v));
        ASSERT_EQ((points.size() - window) / factor + 1, v.count) << k;
        for (uint32_t i = 0; i < v.count; ++i) {
            const bal_ridge_point& middle = points[i * factor + window / 2];
            const double expected = std::atan2(centre_row - middle.row, centre_col - middle.col) * 128 / kPi;
            const double dir = std::atan2(double(v.vectors[i].row), double(v.vectors[i].col)) * 128 / kPi;
            EXPECT_LE(angle_distance(int(std::lround(dir)), int(std::lround(expected))), 4)
                << "k " << k << " vector " << i;
            // Magnitude: the distance from the middle point to the window's mean,
            // times 1800 / 48 (floating-point reference).
            double mean_row = 0, mean_col = 0;
            for (uint32_t j = 0; j < window; ++j) {
                mean_row += points[i * factor + j].row / double(window);
                mean_col += points[i * factor + j].col / double(window);
            }
            const double reference = std::hypot(mean_row - middle.row, mean_col - middle.col) * (1800 / window);
            EXPECT_NEAR(v.vectors[i].magnitude, reference, 2.0) << "k " << k << " vector " << i;
        }
        bal_curvature_vectors_release(&v);
    }
}

TEST(CurvatureVectors, VerticalRidgeAndRefusedArguments) {
    std::vector<bal_ridge_point> p(60);
    for (uint32_t i = 0; i < 60; ++i) p[i] = bal_ridge_point{10 + i, 30, 0, {0, 0, 0}, BAL_POINT_TRACED};
    EXPECT_EQ(7u, curvature_count(p, 48, 2));  // equal end columns: no division by zero
    bal_curvature_vectors v{nullptr, 0, 0};
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_calculate_curvature_vectors(p.data(), 60, 0, 2, &v));
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_calculate_curvature_vectors(p.data(), 60, 48, 0, &v));
    EXPECT_EQ(0u, v.count);
}

// ---------------------------------------------------------------------------
// Tracing

std::vector<std::pair<uint32_t, uint32_t>> positions(const bal_traced_ridge& r) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (uint32_t i = 0; i < r.count; ++i) out.emplace_back(r.points[i].row, r.points[i].col);
    return out;
}

TEST(TraceRidge, FreeEndsJunctionsAndTheImageBorder) {
    {
        // A bent line traced from its end to its free other end: every pixel
        // once, kind 5, all erased.
        Canvas c(10, 10);
        c.hline(2, 1, 5);
        c.diagonal(3, 6, 1, 1, 3);
        bal_traced_ridge r{nullptr, 0, 0};
        ASSERT_EQ(BAL_OK, bal_trace_ridge(c.px.data(), 10, 10, 2, 1, &r));
        ASSERT_EQ(9u, r.count);
        EXPECT_EQ((std::pair{6u, 9u}), positions(r).back());
        for (uint32_t i = 0; i < r.count; ++i) EXPECT_EQ(BAL_POINT_TRACED, r.points[i].kind);
        for (uint8_t p : c.px) EXPECT_NE(0, p);
        bal_traced_ridge_release(&r);
    }
    {
        // A line that meets a crossing line at a T: the trace ends on the
        // junction pixel with kind 4, and it and the pixel before stay skeleton.
        Canvas c(12, 12);
        c.hline(5, 1, 6);
        c.vline(7, 1, 10);
        bal_traced_ridge r{nullptr, 0, 0};
        ASSERT_EQ(BAL_OK, bal_trace_ridge(c.px.data(), 12, 12, 5, 1, &r));
        ASSERT_EQ(7u, r.count);
        EXPECT_EQ((std::pair{5u, 7u}), positions(r).back());
        EXPECT_EQ(BAL_POINT_JUNCTION, r.points[6].kind);
        EXPECT_EQ(BAL_POINT_TRACED, r.points[5].kind);
        EXPECT_EQ(0, c.at(5, 7));
        EXPECT_EQ(0, c.at(5, 6));
        EXPECT_EQ(255, c.at(5, 5));
        bal_traced_ridge_release(&r);
    }
    {
        // Where the line meets a thick corner, the junction is the first pixel
        // of the 3 x 3 block (row by row) whose skeleton neighbours are not
        // next to each other.
        Canvas c(12, 12);
        c.hline(5, 1, 5);
        c.at(4, 6) = c.at(4, 7) = c.at(6, 6) = 0;
        bal_traced_ridge r{nullptr, 0, 0};
        ASSERT_EQ(BAL_OK, bal_trace_ridge(c.px.data(), 12, 12, 5, 1, &r));
        // (5,5) sees (4,6) and (6,6) apart from each other: the trace ends on it.
        EXPECT_EQ((std::pair{5u, 5u}), positions(r).back());
        EXPECT_EQ(BAL_POINT_JUNCTION, r.points[r.count - 1].kind);
        bal_traced_ridge_release(&r);
    }
    {
        // Lines along the outermost rows and columns, and one-row and
        // one-column images: nothing outside is read or written.
        for (auto [rows, cols] : {std::pair{1u, 20u}, {20u, 1u}, {6u, 6u}}) {
            Canvas c(rows, cols);
            if (rows == 1) c.hline(0, 0, cols - 1);
            else if (cols == 1) c.vline(0, 0, rows - 1);
            else {
                // Round the outermost rows and the last column, corners cut diagonally.
                c.hline(0, 0, 4);
                c.vline(5, 1, 4);
                c.hline(5, 0, 4);
            }
            bal_traced_ridge r{nullptr, 0, 0};
            ASSERT_EQ(BAL_OK, bal_trace_ridge(c.px.data(), rows, cols, 0, 0, &r));
            EXPECT_EQ(rows == 6 ? 14u : 20u, r.count) << rows << "x" << cols;
            bal_traced_ridge_release(&r);
        }
    }
}

TEST(RidgeScan, MarginAndMaskEraseTheBorderOfThePrint) {
    // A vertical ridge in column 3 is traced with margin 0 (its windows give
    // curvature vectors) and erased with margin 4; one in column 30 is erased
    // when its blocks lie off the finger.
    const zr_alignment_summary empty = {0, 128, 0, -1};
    Canvas near_border(100, 100);
    near_border.vline(3, 10, 89);
    for (auto [margin, measured] : {std::pair{0u, true}, {4u, false}}) {
        const Extraction e = run(&bal_extract_ridge_curvature, near_border, margin);
        ASSERT_EQ(BAL_OK, e.status);
        EXPECT_EQ(measured, std::memcmp(&empty, &e.container->alignment, 4) != 0) << "margin " << margin;
    }
    Canvas inner(100, 60);
    inner.vline(30, 10, 89);
    zr_template_container* c = zr_template_container_alloc();
    std::vector<uint8_t> mask(8 * 5, 1);
    for (uint32_t br = 0; br < 8; ++br) mask[br * 5 + 2] = 0;  // block column 2: pixels 24..35
    const bal_extraction_image image{nullptr, 100, 60, 197, 0, 0, 0, 0, 50, 0};
    ASSERT_EQ(BAL_OK, bal_extract_ridge_curvature(&image, inner.px.data(), mask.data(), 12, 0, nullptr, c, 0));
    EXPECT_EQ(0, std::memcmp(&empty, &c->alignment, 4));
    for (uint8_t p : inner.px) EXPECT_NE(0, p);
    zr_template_container_free(c);
}

// ---------------------------------------------------------------------------
// Alignment vectors

TEST(AlignmentVectors, StraightRidgeInTheCentre) {
    // Row 50, columns 40..159 (120 points), every block on the finger.
    Canvas c(100, 200);
    c.hline(50, 40, 159);
    for (uint32_t base : {0u, 28u}) {
        const Extraction e = run(&bal_extract_alignment_vectors, c, 0, base);
        ASSERT_EQ(BAL_OK, e.status);
        // End vectors (key 5) and their three tails (keys 9, 13, 17) at 12,
        // 24, 36 and 48 points from each end, and the sharpest (here: widest)
        // bend at the first middle point, pointing back along the ridge.
        const std::vector<std::pair<uint32_t, std::vector<uint8_t>>> expected = {
            {5, {40, 50, 0, 159, 50, 128}},  {9, {52, 50, 0, 147, 50, 128}}, {13, {64, 50, 0, 135, 50, 128}},
            {17, {76, 50, 0, 123, 50, 128}}, {19, {56, 50, 128}},
        };
        std::set<uint32_t> used;
        for (const auto& [key, bytes] : expected) {
            EXPECT_EQ(bytes, e.block(base + key)) << "key " << key << " base " << base;
            used.insert(base + key);
        }
        for (uint32_t slot = 0; slot < ZR_FEATURE_BLOCK_SLOTS; ++slot)
            if (!used.count(slot)) {
                EXPECT_EQ(0u, e.container->feature_blocks[slot].length) << slot;
            }
        // A straight ridge: the middle point of an even window (50 points) lies
        // half a point past the window's mean, which reads as a bend of
        // 1800 / 50 / 2 = 18 at right angles to the ridge, on the side of
        // direction 192 (the nearer of the two is taken when both are equally near).
        const zr_alignment_summary straight_summary = {192, 0, 18, 0};
        EXPECT_EQ(0, std::memcmp(&straight_summary, &e.container->alignment, 4));
    }
}

TEST(AlignmentVectors, CoordinatesAreStoredModulo256) {
    Canvas c(100, 340);
    c.hline(50, 200, 300);
    const Extraction e = run(&bal_extract_alignment_vectors, c);
    // The end at column 300 lies nearer the border: it is traced first.
    const auto ends = e.block(BAL_KEY_FREE_END);
    ASSERT_EQ(6u, ends.size());
    EXPECT_EQ(44, ends[0]);  // column 300
    EXPECT_EQ(200, ends[3]);
}

TEST(AlignmentVectors, RidgeVectorsNeedMorePointsWhenAnEndIsInTheCentre) {
    // 46 points at unit 12: more than 44, not more than 48.
    std::vector<bal_ridge_point> points = straight(46);
    const bal_traced_ridge ridge{points.data(), 46, 46};
    const std::vector<uint8_t> finger(100, 1), off(100, 0);
    for (const auto* mask : {&finger, &off}) {
        bal_alignment_list list{nullptr, nullptr, 0};
        ASSERT_EQ(BAL_OK, bal_calculate_ridge_vectors(&ridge, mask->data(), 12, 0, 12, 100, 100, 1, 0, &list));
        const bool centre = mask == &finger;
        EXPECT_EQ(centre ? 0u : 1u, list.count);
        if (!centre) {
            EXPECT_EQ(uint32_t{BAL_KEY_SHARPEST_BEND_WIDE}, list.first->key);
            EXPECT_EQ(26, list.first->first->col);  // middle point 16
            EXPECT_EQ(128, list.first->first->direction);
        }
        bal_alignment_list_release(&list);
    }
}

TEST(AlignmentVectors, RightAngleGivesSharpestBendAndBends) {
    // 40 points right, then 40 points down: the opening angle falls to about
    // 64 at the corner (below 73 and at least 56: keys 18, 19, 22, 23).
    std::vector<bal_ridge_point> points;
    for (uint32_t i = 0; i < 40; ++i) points.push_back({20, 10 + i, 0, {0, 0, 0}, BAL_POINT_TRACED});
    for (uint32_t i = 1; i <= 40; ++i) points.push_back({20 + i, 49, 0, {0, 0, 0}, BAL_POINT_TRACED});
    const bal_traced_ridge ridge{points.data(), uint32_t(points.size()), uint32_t(points.size())};
    const std::vector<uint8_t> off(100, 0);
    bal_alignment_list list{nullptr, nullptr, 0};
    ASSERT_EQ(BAL_OK, bal_calculate_ridge_vectors(&ridge, off.data(), 12, 0, 12, 100, 100, 1, 0, &list));
    std::set<uint32_t> keys;
    for (auto* b = list.first; b; b = b->next) {
        keys.insert(b->key);
        for (auto* v = b->first; v; v = v->next)
            if (b->key == BAL_KEY_SHARPEST_BEND) {
                EXPECT_EQ(20, v->row);
                EXPECT_EQ(49, v->col);  // at the corner
            }
    }
    EXPECT_TRUE(keys.count(BAL_KEY_SHARPEST_BEND));
    EXPECT_TRUE(keys.count(BAL_KEY_SHARPEST_BEND_WIDE));
    EXPECT_TRUE(keys.count(BAL_KEY_BEND));
    // Joined legs give no wide bends, straight stretches or fastest changes.
    bal_alignment_list joined{nullptr, nullptr, 0};
    ASSERT_EQ(BAL_OK, bal_calculate_ridge_vectors(&ridge, off.data(), 12, 0, 12, 100, 100, 1, 1, &joined));
    for (auto* b = joined.first; b; b = b->next) {
        EXPECT_NE(uint32_t{BAL_KEY_BEND_WIDE}, b->key);
        EXPECT_NE(uint32_t{BAL_KEY_STRAIGHT}, b->key);
        EXPECT_NE(uint32_t{BAL_KEY_FASTEST_CHANGE}, b->key);
    }
    bal_alignment_list_release(&list);
    bal_alignment_list_release(&joined);
}

TEST(AlignmentVectors, JunctionWithOneLegKeepsItsKeyFourVector) {
    // A long leg from the left and two one-pixel stubs at the junction (50, 60).
    Canvas c(100, 120);
    c.hline(50, 20, 60);
    c.at(49, 61) = c.at(51, 61) = 0;
    for (uint32_t base : {0u, 28u}) {
        const Extraction e = run(&bal_extract_alignment_vectors, c, 0, base);
        ASSERT_EQ(BAL_OK, e.status);
        EXPECT_EQ((std::vector<uint8_t>{60, 50, 128}), e.block(base + BAL_KEY_JUNCTION_END));
        EXPECT_EQ(0u, e.container->feature_blocks[base + BAL_KEY_BRANCH_FIRST].length);
    }
}

TEST(AlignmentVectors, ThreeLegsGiveBranchesStemAndTails) {
    // A junction at (60, 60) with a stem to the left and two branches going
    // up-right and down-right, 50 pixels each.
    Canvas c(120, 120);
    c.hline(60, 10, 59);
    c.diagonal(59, 61, -1, 1, 49);
    c.diagonal(61, 61, 1, 1, 49);
    c.at(60, 60) = 0;
    const Extraction e = run(&bal_extract_alignment_vectors, c);
    ASSERT_EQ(BAL_OK, e.status);
    const auto first = e.block(BAL_KEY_BRANCH_FIRST), second = e.block(BAL_KEY_BRANCH_SECOND);
    ASSERT_EQ(3u, first.size());
    ASSERT_EQ(3u, second.size());
    EXPECT_EQ(60, first[0]);
    EXPECT_EQ(60, first[1]);
    EXPECT_EQ(60, second[0]);
    // The branches are the up-right (224) and down-right (32) legs.
    EXPECT_EQ((std::set<int>{32, 224}), (std::set<int>{first[2], second[2]}));
    // The stem keeps its key-4 vector at the junction, pointing left.
    EXPECT_EQ((std::vector<uint8_t>{60, 60, 128}), e.block(BAL_KEY_JUNCTION_END));
    for (uint32_t key : {BAL_KEY_TAIL_FIRST_1, BAL_KEY_TAIL_SECOND_1, BAL_KEY_TAIL_STEM_1})
        EXPECT_EQ(3u, e.container->feature_blocks[key].length) << key;
}

TEST(AlignmentList, AddCloneAndRemove) {
    bal_alignment_list list{nullptr, nullptr, 0};
    auto* v = static_cast<bal_alignment_vector*>(std::malloc(sizeof(bal_alignment_vector)));
    *v = bal_alignment_vector{nullptr, nullptr, 77, 3, 4, nullptr};
    ASSERT_EQ(BAL_OK, bal_add_alignment_vector(&list, v, BAL_KEY_JUNCTION_END));
    ASSERT_EQ(BAL_OK, bal_add_clone(&list, v, BAL_KEY_BRANCH_FIRST));
    ASSERT_EQ(2u, list.count);
    EXPECT_EQ(uint32_t{BAL_KEY_BRANCH_FIRST}, list.last->key);
    EXPECT_EQ(77, list.last->first->direction);
    EXPECT_EQ(nullptr, list.last->first->payload);
    // A vector outside the key-4 bucket is not removed.
    bal_remove_alignment_vector(&list, list.last->first);
    EXPECT_EQ(2u, list.count);
    bal_remove_alignment_vector(&list, v);
    ASSERT_EQ(1u, list.count);
    EXPECT_EQ(uint32_t{BAL_KEY_BRANCH_FIRST}, list.first->key);
    bal_alignment_list_release(&list);
    EXPECT_EQ(nullptr, list.first);
}

}  // namespace

// ---------------------------------------------------------------------------
// Real captures through the extraction

namespace real {

struct Features {
    bal_status status = BAL_OK;
    zr_alignment_summary summary{};
    std::vector<std::vector<uint8_t>> blocks;  // one per slot
};

Features extract_features(std::vector<uint8_t> pixels, uint32_t rows, uint32_t cols) {
    Features out;
    zr_template_container* c = zr_template_container_alloc();
    c->flags = BAL_EXTRACT_FEATURE_CALLBACKS;
    c->minutiae.max_minutiae = 255;
    out.status = bal_extract(pixels.data(), nullptr, rows, cols, c, &bal_extract_alignment_vectors,
                             &bal_extract_alignment_vectors);
    out.summary = c->alignment;
    for (auto& block : c->feature_blocks) {
        out.blocks.emplace_back(block.data, block.data + block.length);
        std::free(block.data);
        block = zr_feature_block{};
    }
    zr_template_container_free(c);
    return out;
}

}  // namespace real

TEST(RidgeFeaturesReal, CapturesGiveSummariesAndBlocksOfBothCallbacks) {
    FP_REQUIRE_CAPTURES();
    const std::set<uint32_t> unused_keys = {1, 20, 21, 25, 26};
    uint32_t measured = 0, captures = 0;
    const auto paths = fp_test::capture_paths();
    for (size_t index = 0; index < paths.size(); index += 3) {  // every third capture
        const auto& path = paths[index];
        const fp_test::GreyImage g = fp_test::read_pgm(path);
        ASSERT_FALSE(g.pixels.empty()) << path;
        const real::Features f = real::extract_features(g.pixels, g.rows, g.cols);
        ASSERT_EQ(BAL_OK, f.status) << path;
        ++captures;
        const zr_alignment_summary empty = {0, 128, 0, -1};
        if (std::memcmp(&empty, &f.summary, 4) != 0) ++measured;
        uint32_t first = 0, second = 0;
        for (uint32_t slot = 0; slot < ZR_FEATURE_BLOCK_SLOTS; ++slot) {
            const auto& block = f.blocks[slot];
            if (block.empty()) continue;
            EXPECT_EQ(0u, block.size() % 3) << path << " slot " << slot;
            EXPECT_LT(slot, 56u);
            EXPECT_FALSE(unused_keys.count(slot % 28)) << path << " slot " << slot;
            (slot < 28 ? first : second) += uint32_t(block.size() / 3);
            // Positions lie in the processed image (rows below 256 here).
            for (size_t i = 0; i < block.size(); i += 3) EXPECT_LT(block[i], 96) << path << " slot " << slot;
        }
        EXPECT_GT(first, 0u) << path;
        EXPECT_GT(second, 0u) << path;
    }
    ASSERT_GT(captures, 0u);
    EXPECT_GE(measured * 10, captures * 9) << measured << " of " << captures << " measured";
}

TEST(RidgeFeaturesReal, SecondRunIsIdentical) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    for (size_t i = 0; i < paths.size(); i += 16) {
        const fp_test::GreyImage g = fp_test::read_pgm(paths[i]);
        const real::Features a = real::extract_features(g.pixels, g.rows, g.cols);
        const real::Features b = real::extract_features(g.pixels, g.rows, g.cols);
        EXPECT_EQ(0, std::memcmp(&a.summary, &b.summary, 4)) << paths[i];
        EXPECT_EQ(a.blocks, b.blocks) << paths[i];
    }
}
