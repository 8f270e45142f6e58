// Singular points: Poincare classification, the search with its markers,
// quality order and limit, point directions on synthetic orientation fields,
// and the transfer into the container's reference-point blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "extract/bal_singularities.h"

namespace {

constexpr double kPi = std::numbers::pi;

struct Centre {
    double row;
    double col;
    int winding;  // +1 core (1/2 atan2), -1 delta (-1/2 atan2)
};

// Angle of (row, col) about a centre in 256 steps a turn, rows growing downwards.
double angle_about(double row, double col, const Centre& c) {
    return std::atan2(row - c.row, col - c.col) * 128.0 / kPi;
}

// Orientation image (64..191) whose ridge direction is the sum of
// +-1/2 atan2 about each centre plus `turn` (256 steps a full turn), sampled
// at positions rotated back by `turn` about `pivot` (so the whole pattern
// is turned by `turn`, rows growing downwards).
std::vector<uint8_t> field(uint32_t rows, uint32_t cols, const std::vector<Centre>& centres,
                           double turn = 0, double pivot_row = 0, double pivot_col = 0) {
    std::vector<uint8_t> img(size_t{rows} * cols);
    const double t = -turn * kPi / 128.0;
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const double dy = y - pivot_row, dx = x - pivot_col;
            const double sy = pivot_row + dx * std::sin(t) + dy * std::cos(t);
            const double sx = pivot_col + dx * std::cos(t) - dy * std::sin(t);
            double ridge = turn;
            for (const Centre& c : centres) ridge += c.winding * 0.5 * angle_about(sy, sx, c);
            double o = std::fmod(std::round(ridge), 128.0);
            if (o < 0) o += 128.0;
            img[size_t{y} * cols + x] = static_cast<uint8_t>(64 + o);
        }
    return img;
}

struct Found {
    bal_status status;
    std::vector<bal_singularity> points;
};

Found find_points(const std::vector<uint8_t>& orientation, const std::vector<uint8_t>& quality, uint32_t rows,
             uint32_t cols, uint32_t max_count = BAL_SINGULARITY_SEARCH_MAX) {
    std::vector<bal_singularity> out(max_count + 1);
    uint32_t count = 99;
    const bal_status status =
        bal_find_singularities_poincare(orientation.data(), quality.data(), rows, cols, out.data(), &count, max_count);
    out.resize(status == BAL_OK ? count : 0);
    return {status, out};
}

int angle_distance(int a, int b) {
    const int d = ((a - b) % 256 + 256) % 256;
    return d > 128 ? 256 - d : d;
}

// A 3 x 3 image whose 8 neighbours, clockwise from the upper left, hold the
// given orientation bytes.
std::vector<uint8_t> loop_image(const int (&loop)[8]) {
    std::vector<uint8_t> img(9, 100);
    const int positions[8] = {0, 1, 2, 5, 8, 7, 6, 3};
    for (int k = 0; k < 8; ++k) img[positions[k]] = static_cast<uint8_t>(loop[k]);
    return img;
}

TEST(SingularityClass, PoincareSumsAroundTheLoop) {
    struct Case {
        int step;  // orientation change at each step of the loop
        uint8_t expected;
    };
    const Case cases[] = {
        {16, BAL_SINGULARITY_CORE},  {32, BAL_SINGULARITY_WHORL}, {-16, BAL_SINGULARITY_DELTA},
        {0, BAL_SINGULARITY_ORDINARY},
        // Sums of 384 and -256: no class.
        {48, BAL_SINGULARITY_UNDETERMINED}, {-32, BAL_SINGULARITY_UNDETERMINED},
    };
    for (const Case& c : cases) {
        int loop[8];
        for (int k = 0; k < 8; ++k) loop[k] = 64 + (((k * c.step) % 128) + 128) % 128;
        const auto img = loop_image(loop);
        EXPECT_EQ(c.expected, bal_classify_singularity(img.data(), 3, 4)) << "step " << c.step;
    }
}

TEST(SingularitySearch, HalfAtanFieldGivesOneCoreAndMinusHalfOneDelta) {
    constexpr uint32_t rows = 60, cols = 72;
    const std::vector<uint8_t> quality(size_t{rows} * cols, 100);
    for (int winding : {+1, -1}) {
        const Centre centre{29.5, 35.5, winding};
        const Found f = find_points(field(rows, cols, {centre}), quality, rows, cols);
        ASSERT_EQ(BAL_OK, f.status);
        ASSERT_EQ(1u, f.points.size()) << "winding " << winding;
        const uint32_t row = f.points[0].index / cols, col = f.points[0].index % cols;
        EXPECT_LE(std::abs(row - centre.row), 12.0);
        EXPECT_LE(std::abs(col - centre.col), 12.0);
        EXPECT_EQ(winding > 0 ? BAL_SINGULARITY_CORE : BAL_SINGULARITY_DELTA, f.points[0].kind);
    }
}

TEST(SingularitySearch, CoreDirectionPointsToTheOpeningAndTurnsWithTheField) {
    // The 1/2 atan2 loop has horizontal ridges to the right of the centre and
    // vertical ones to its left: it opens to the right, direction 0.
    constexpr uint32_t rows = 64, cols = 64;
    const std::vector<uint8_t> quality(size_t{rows} * cols, 100);
    const Centre centre{31.5, 31.5, +1};
    const Found upright = find_points(field(rows, cols, {centre}), quality, rows, cols);
    ASSERT_EQ(1u, upright.points.size());
    EXPECT_LE(angle_distance(upright.points[0].direction, 0), 8);
    // Turning the pattern by a quarter turn towards increasing rows (clockwise
    // on screen) turns the direction by a quarter turn the same way, which on
    // the minutia circle (angles growing anticlockwise) is -64.
    for (int quarter = 1; quarter < 4; ++quarter) {
        const Found turned =
            find_points(field(rows, cols, {centre}, 64.0 * quarter, centre.row, centre.col), quality, rows, cols);
        ASSERT_EQ(1u, turned.points.size()) << quarter;
        EXPECT_EQ(BAL_SINGULARITY_CORE, turned.points[0].kind);
        EXPECT_LE(angle_distance(turned.points[0].direction, upright.points[0].direction - 64 * quarter), 8)
            << "quarter turns " << quarter << " direction " << int(turned.points[0].direction);
    }
}

TEST(SingularitySearch, DeltaArmsTurnWithTheField) {
    constexpr uint32_t rows = 64, cols = 64;
    const std::vector<uint8_t> quality(size_t{rows} * cols, 100);
    const Centre centre{31.5, 31.5, -1};
    const Found upright = find_points(field(rows, cols, {centre}), quality, rows, cols);
    const Found turned = find_points(field(rows, cols, {centre}, 64.0, centre.row, centre.col), quality, rows, cols);
    ASSERT_EQ(1u, upright.points.size());
    ASSERT_EQ(1u, turned.points.size());
    // The three arms (a, a + 85, a - 86) of the turned delta are those of the
    // upright one turned by -64: one of them lies within 8 steps.
    int best = 256;
    for (int arm : {0, 85, -86})
        best = std::min(best, angle_distance(turned.points[0].direction, upright.points[0].direction + arm - 64));
    EXPECT_LE(best, 8);
}

TEST(SingularitySearch, QualityThresholdAndMarkersKeepOnePointPerSingularity) {
    // A centre on a pixel corner makes the four pixels around it candidates;
    // the first masks its right neighbour and the row below.
    constexpr uint32_t rows = 40, cols = 40;
    const Centre centre{19.5, 19.5, +1};
    const auto orientation = field(rows, cols, {centre});
    struct Case {
        uint8_t quality_at_first;  // quality of pixel (19, 19)
        uint32_t expected_col;
    };
    for (const Case c : {Case{41, 19}, Case{40, 20}, Case{0, 20}}) {
        std::vector<uint8_t> quality(size_t{rows} * cols, 100);
        quality[19 * cols + 19] = c.quality_at_first;
        const Found f = find_points(orientation, quality, rows, cols);
        ASSERT_EQ(1u, f.points.size()) << int(c.quality_at_first);
        EXPECT_EQ(19u * cols + c.expected_col, f.points[0].index);
    }
    // Quality 40 everywhere: nothing is searched.
    const std::vector<uint8_t> low(size_t{rows} * cols, 40);
    EXPECT_TRUE(find_points(orientation, low, rows, cols).points.empty());
}

// Singular points on a grid, cores and deltas alternating, each with its own
// quality plateau (quality grows with the column).
struct Mosaic {
    uint32_t rows = 96, cols = 120;
    std::vector<Centre> centres;
    std::vector<uint8_t> orientation, quality;
    Mosaic() {
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 5; ++c)
                centres.push_back({12.5 + 22 * r, 12.5 + 22 * c, ((r + c) % 2 == 0) ? +1 : -1});
        orientation = field(rows, cols, centres);
        quality.resize(size_t{rows} * cols);
        for (uint32_t y = 0; y < rows; ++y)
            for (uint32_t x = 0; x < cols; ++x) quality[size_t{y} * cols + x] = static_cast<uint8_t>(50 + x / 3);
    }
};

TEST(SingularitySearch, StopsAtTheMaximumAndSortsByQuality) {
    const Mosaic m;
    const Found all = find_points(m.orientation, m.quality, m.rows, m.cols, 64);
    ASSERT_EQ(20u, all.points.size());
    const Found first16 = find_points(m.orientation, m.quality, m.rows, m.cols, 16);
    ASSERT_EQ(16u, first16.points.size());
    // The 16 are the first four rows of the raster scan, i.e. the 16 points
    // of smallest index; sorted by quality, highest first, ties in scan order.
    std::vector<bal_singularity> expected = all.points;
    std::sort(expected.begin(), expected.end(), [](auto a, auto b) { return a.index < b.index; });
    expected.resize(16);
    std::stable_sort(expected.begin(), expected.end(),
                     [&](auto a, auto b) { return m.quality[a.index] > m.quality[b.index]; });
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(expected[i].index, first16.points[i].index) << i;
        EXPECT_EQ(expected[i].kind, first16.points[i].kind) << i;
    }
    // Every point sits at one of the centres and has the centre's kind.
    for (const bal_singularity& p : all.points) {
        const double row = p.index / m.cols, col = p.index % m.cols;
        bool matched = false;
        for (const Centre& c : m.centres)
            if (std::abs(row - c.row) <= 1 && std::abs(col - c.col) <= 1) {
                matched = (p.kind == (c.winding > 0 ? BAL_SINGULARITY_CORE : BAL_SINGULARITY_DELTA));
            }
        EXPECT_TRUE(matched) << row << "," << col;
    }
}

TEST(SingularitySearch, FourBestCoresAndDeltasReachTheBlocks) {
    const Mosaic m;
    const Found f = find_points(m.orientation, m.quality, m.rows, m.cols);
    zr_reference_points cores{}, deltas{};
    cores.enable = deltas.enable = ZR_FEATURE_ENABLE;
    bal_convert_singularities(f.points.data(), static_cast<uint32_t>(f.points.size()), m.cols, &cores, &deltas);
    ASSERT_EQ(4u, cores.count);
    ASSERT_EQ(4u, deltas.count);
    EXPECT_EQ(ZR_FEATURE_ENABLE, cores.enable);
    // The stored ones are the best of their kind: no dropped point of that
    // kind has a higher quality than the lowest stored.
    for (const zr_reference_points* block : {&cores, &deltas}) {
        const bool want_core = block == &cores;
        int lowest_stored = 1000;
        for (int i = 0; i < 4; ++i) {
            const auto& p = block->points[i];
            EXPECT_EQ(1u, p.valid);
            lowest_stored = std::min(lowest_stored, int(m.quality[size_t{p.row} * m.cols + p.col]));
        }
        int kept = 0;
        for (const auto& p : f.points) {
            if (bal_singularity_is_core(p.kind) != want_core) continue;
            if (++kept > 4) {
                EXPECT_LE(m.quality[p.index], lowest_stored);
            }
        }
    }
}

TEST(SingularityConvert, DeltaArmsBlocksAndLimits) {
    const uint32_t cols = 100;
    const bal_singularity points[] = {
        {5 * cols + 7, BAL_SINGULARITY_DELTA, 200, {0, 0}}, {10 * cols + 3, BAL_SINGULARITY_CORE, 17, {0, 0}},
        {11 * cols + 4, BAL_SINGULARITY_WHORL, 90, {0, 0}}, {12 * cols, BAL_SINGULARITY_ORDINARY, 1, {0, 0}},
    };
    zr_reference_points cores{}, deltas{};
    cores.count = deltas.count = 3;  // stale counts are reset
    bal_convert_singularities(points, 4, cols, &cores, &deltas);
    ASSERT_EQ(1u, deltas.count);
    EXPECT_EQ(5, deltas.points[0].row);
    EXPECT_EQ(7, deltas.points[0].col);
    EXPECT_EQ(200, deltas.points[0].angles[0]);
    EXPECT_EQ(29, deltas.points[0].angles[1]);
    EXPECT_EQ(114, deltas.points[0].angles[2]);
    ASSERT_EQ(2u, cores.count);
    EXPECT_EQ(17, cores.points[0].angles[0]);
    EXPECT_EQ(0, cores.points[0].angles[1]);
    EXPECT_EQ(11, cores.points[1].row);
    EXPECT_EQ(90, cores.points[1].angles[0]);

    // Without a cores block the cores are dropped; columns 0 store nothing.
    bal_convert_singularities(points, 4, cols, nullptr, &deltas);
    EXPECT_EQ(1u, deltas.count);
    bal_convert_singularities(points, 4, 0, &cores, &deltas);
    EXPECT_EQ(0u, cores.count);
    EXPECT_EQ(0u, deltas.count);
}

TEST(SingularitySearch, SmallImagesAndBadArguments) {
    const std::vector<uint8_t> px(16, 100);
    bal_singularity out[4];
    for (auto [rows, cols] : {std::pair{0u, 5u}, {1u, 5u}, {2u, 5u}, {5u, 0u}, {5u, 2u}, {3u, 3u}}) {
        uint32_t count = 7;
        EXPECT_EQ(BAL_OK, bal_find_singularities_poincare(px.data(), px.data(), rows, cols, out, &count, 4));
        EXPECT_EQ(0u, count) << rows << "x" << cols;
        count = 7;
        EXPECT_EQ(BAL_OK, bal_find_singularities(px.data(), px.data(), rows, cols, out, &count, 4));
        EXPECT_EQ(0u, count) << rows << "x" << cols;
    }
    uint32_t count = 0;
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_find_singularities_poincare(nullptr, px.data(), 4, 4, out, &count, 4));
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_find_singularities_poincare(px.data(), px.data(), 4, 4, nullptr, &count, 4));
    EXPECT_EQ(BAL_BAD_ARGUMENT, bal_find_singularities(px.data(), nullptr, 4, 4, out, &count, 4));
    // A 3 x 3 core is found at its only interior pixel.
    int loop[8];
    for (int k = 0; k < 8; ++k) loop[k] = 64 + 16 * k;
    const auto core = loop_image(loop);
    const std::vector<uint8_t> quality(9, 100);
    ASSERT_EQ(BAL_OK, bal_find_singularities_poincare(core.data(), quality.data(), 3, 3, out, &count, 4));
    ASSERT_EQ(1u, count);
    EXPECT_EQ(4u, out[0].index);
}

// The search with its eight-pixel pre-pass finds what the pixel-by-pixel
// reference finds (positions, kinds, directions, order and count): on
// random fields over the whole byte range (differences beyond the fold),
// random fields of ridge directions (many singular pixels, so the markers
// and the limit come into play), synthetic cores and deltas, and widths
// around the pre-pass's eight pixels.
TEST(SingularitySearch, PrePassFindsWhatThePixelLoopFinds) {
    std::mt19937 rng(611);
    const auto random_field = [&rng](size_t n, int lo, int hi) {
        std::uniform_int_distribution<int> value(lo, hi);
        std::vector<uint8_t> v(n);
        for (auto& b : v) b = uint8_t(value(rng));
        return v;
    };
    const struct {
        uint32_t rows, cols;
    } sizes[] = {{3, 3}, {4, 9}, {5, 10}, {7, 11}, {9, 17}, {12, 18}, {40, 33}, {64, 80}};
    for (const auto& size : sizes) {
        const size_t n = size_t{size.rows} * size.cols;
        std::vector<std::vector<uint8_t>> fields = {random_field(n, 0, 255), random_field(n, 64, 191),
                                                    field(size.rows, size.cols,
                                                          {{size.rows / 2.0 - 0.3, size.cols / 3.0 + 0.2, 1},
                                                           {size.rows / 2.0 + 0.4, 2 * size.cols / 3.0 - 0.1, -1}})};
        for (const auto& orientation : fields)
            for (uint32_t max_count : {4u, BAL_SINGULARITY_SEARCH_MAX, 400u}) {
                const std::vector<uint8_t> quality = random_field(n, 30, 120);
                std::vector<bal_singularity> expected(max_count), fast(max_count);
                uint32_t expected_count = 99, fast_count = 77;
                ASSERT_EQ(BAL_OK, bal_find_singularities_poincare_reference(orientation.data(), quality.data(),
                                                                            size.rows, size.cols, expected.data(),
                                                                            &expected_count, max_count));
                ASSERT_EQ(BAL_OK, bal_find_singularities_poincare(orientation.data(), quality.data(), size.rows,
                                                                  size.cols, fast.data(), &fast_count, max_count));
                ASSERT_EQ(expected_count, fast_count) << size.rows << " x " << size.cols;
                for (uint32_t i = 0; i < expected_count; ++i) {
                    EXPECT_EQ(expected[i].index, fast[i].index) << i;
                    EXPECT_EQ(expected[i].kind, fast[i].kind) << i;
                    EXPECT_EQ(expected[i].direction, fast[i].direction) << i;
                }
            }
    }
}

TEST(SingularityStrengthSearch, StrongLocalMaximaOfSingularClass) {
    constexpr uint32_t rows = 40, cols = 40;
    const auto orientation = field(rows, cols, {{19.5, 19.5, +1}});
    struct Case {
        uint8_t peak;       // strength at (19, 19)
        uint8_t neighbour;  // strength at (19, 20)
        uint32_t expected;  // points found
    };
    for (const Case c : {Case{129, 0, 1}, Case{128, 0, 0}, Case{200, 201, 1}, Case{200, 200, 2}}) {
        std::vector<uint8_t> strength(size_t{rows} * cols, 0);
        strength[19 * cols + 19] = c.peak;
        strength[19 * cols + 20] = c.neighbour;
        bal_singularity out[8];
        uint32_t count = 0;
        ASSERT_EQ(BAL_OK, bal_find_singularities(strength.data(), orientation.data(), rows, cols, out, &count, 8));
        EXPECT_EQ(c.expected, count) << int(c.peak) << " " << int(c.neighbour);
        for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(BAL_SINGULARITY_CORE, out[i].kind);
    }
    // A strong maximum where the field is ordinary is not listed.
    std::vector<uint8_t> strength(size_t{rows} * cols, 0);
    strength[5 * cols + 5] = 255;
    bal_singularity out[2];
    uint32_t count = 9;
    ASSERT_EQ(BAL_OK, bal_find_singularities(strength.data(), orientation.data(), rows, cols, out, &count, 2));
    EXPECT_EQ(0u, count);
}

}  // namespace
