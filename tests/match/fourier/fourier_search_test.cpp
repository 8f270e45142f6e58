#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "match/fourier/zr_fourier.h"
#include "match/fourier/zr_fourier_internal.h"
#include "match/fourier/zr_fourier_search.h"
#include "fourier_test_support.h"

namespace {

using spectral_test::bytes;
using spectral_test::Grid;
using spectral_test::make_record;
using spectral_test::RecordOptions;
using spectral_test::SmoothField;

constexpr double kPi = 3.14159265358979323846;

struct MatchOutcome {
    zr_status status = ZR_FAILURE;
    uint16_t score = 0;
    uint32_t decision = 99;
    zr_spectral_alignment alignment{};
    spectral_search_trace trace{};
    std::vector<uint16_t> features;
};

MatchOutcome run_match(const bytes& probe, const bytes& reference, uint32_t flags,
                       uint32_t level = 0, bool want_features = false,
                       const zr_spectral_alignment* given = nullptr, int32_t work_shortfall = 0) {
    MatchOutcome out;
    uint32_t size = zr_spectral_match_required_mem(probe.data(), uint32_t(probe.size()),
                                                   reference.data(), uint32_t(reference.size()),
                                                   uint8_t(flags));
    EXPECT_GT(size, 0u);
    size = uint32_t(int32_t(size) - work_shortfall);
    std::vector<uint8_t> work(size);
    out.features.assign(ZR_SPECTRAL_FEATURE_ARRAY_LENGTH, 0);
    out.features[1] = want_features ? ZR_SPECTRAL_FEATURE_REQUEST : 0;
    if (given != nullptr) out.alignment = *given;
    out.status = spectral_match_traced(work.data(), uint16_t(size), probe.data(),
                                       uint32_t(probe.size()), reference.data(),
                                       uint32_t(reference.size()), level, out.features.data(),
                                       &out.decision, &out.alignment, flags, &out.trace);
    out.score = out.features[0];
    return out;
}

// A smooth field sampled on a cols x rows block grid; the probe is the same
// field seen through rotation `angle` (512 a turn) and whole-cell shift
// (dx, dy): the search should find that pose.
Grid reference_grid(const SmoothField& f, uint32_t cols, uint32_t rows, bool fine) {
    return spectral_test::sample_grid(
        f, cols, rows, [](double x, double y, double* fx, double* fy) { *fx = x; *fy = y; }, 0.0,
        fine);
}

Grid moved_grid(const SmoothField& f, uint32_t cols, uint32_t rows, int angle, int dx, int dy,
                bool fine) {
    const double th = angle * 2 * kPi / 512, c = std::cos(th), s = std::sin(th);
    const double cx = (cols - 1) / 2.0, cy = (rows - 1) / 2.0;
    // Probe cell u shows the reference position R^-1 (u - centre) + centre + d.
    return spectral_test::sample_grid(
        f, cols, rows,
        [=](double x, double y, double* fx, double* fy) {
            const double ux = x - cx, uy = y - cy;
            *fx = c * ux - s * uy + cx + dx;
            *fy = s * ux + c * uy + cy + dy;
        },
        double(angle), fine);
}

int angle_distance(int a, int b) {
    int d = ((a - b) % 512 + 512) % 512;
    return d > 256 ? 512 - d : d;
}

TEST(SpectralSearch, IdenticalRecordsGiveTheZeroPoseForEveryBlockSize) {
    const SmoothField field(1);
    for (const bool fine : {false, true}) {
        for (const uint8_t block : {6, 8, 12}) {
            SCOPED_TRACE(testing::Message() << "block " << int(block) << " fine " << fine);
            const Grid g = reference_grid(field, 8, 15, fine);
            RecordOptions o;
            o.block_size = block;
            o.with_fine = fine;
            const bytes record = make_record(g, o);
            for (const uint32_t flags : {uint32_t(ZR_SPECTRAL_RAW_SCORE),
                                         uint32_t(ZR_SPECTRAL_RAW_SCORE | ZR_SPECTRAL_MODE_360)}) {
                const MatchOutcome m = run_match(record, record, flags);
                ASSERT_EQ(ZR_OK, m.status);
                EXPECT_GT(m.score, 6078);
                EXPECT_EQ(fine, m.trace.used_fine_grids);
                EXPECT_EQ(0, m.alignment.rotation);
                EXPECT_EQ(0, m.alignment.dx);
                EXPECT_EQ(0, m.alignment.dy);
                EXPECT_EQ(0, m.trace.best_angle);
                EXPECT_EQ(0, m.trace.best_sub_x);
                EXPECT_EQ(0, m.trace.best_sub_y);
            }
        }
    }
}

TEST(SpectralSearch, FindsAKnownRotationAndShift) {
    struct Case {
        const char* name;
        int angle;
        int dx, dy;
        uint32_t flags;
    } cases[] = {
        {"normal mode, +21", 21, 2, -1, 0},
        {"normal mode, -21", -21, -1, 2, 0},
        {"normal mode, no turn", 0, 3, 2, 0},
        {"360 mode, half turn", -256, 1, -2, ZR_SPECTRAL_MODE_360},
        {"360 mode, a quarter turn", 128, 0, 1, ZR_SPECTRAL_MODE_360 | ZR_SPECTRAL_SQUARE_CANVAS},
    };
    for (const Case& c : cases) {
        for (uint32_t seed = 2; seed < 6; ++seed) {
            SCOPED_TRACE(testing::Message() << c.name << " seed " << seed);
            const SmoothField field(seed);
            const bytes ref = make_record(reference_grid(field, 16, 20, false));
            const bytes probe = make_record(moved_grid(field, 16, 20, c.angle, c.dx, c.dy, false));
            const MatchOutcome m = run_match(probe, ref, c.flags | ZR_SPECTRAL_RAW_SCORE);
            ASSERT_EQ(ZR_OK, m.status);
            EXPECT_LE(angle_distance(m.trace.best_angle, c.angle), 7);
            // A square canvas is centred on the longer side: the probe's
            // columns sit (rows - cols) / 2 further right.
            const int square_shift = (c.flags & ZR_SPECTRAL_SQUARE_CANVAS) ? -(20 - 16) / 2 : 0;
            EXPECT_LE(std::abs(m.trace.best_dx - (c.dx + square_shift)), 1);
            EXPECT_LE(std::abs(m.trace.best_dy - c.dy), 1);
        }
    }
}

TEST(SpectralSearch, LevelOneStopsInTheRefinementLevelZeroNever) {
    const SmoothField field(7);
    RecordOptions o;
    o.with_fine = true;
    const bytes record = make_record(reference_grid(field, 10, 14, true), o);
    const MatchOutcome level1 = run_match(record, record, ZR_SPECTRAL_RAW_SCORE, 1);
    const MatchOutcome level0 = run_match(record, record, ZR_SPECTRAL_RAW_SCORE, 0);
    ASSERT_EQ(ZR_OK, level1.status);
    ASSERT_EQ(ZR_OK, level0.status);
    EXPECT_TRUE(level1.trace.stopped_in_rotation_refinement);
    EXPECT_FALSE(level1.trace.used_fine_grids);
    EXPECT_EQ(1u, level1.decision);
    EXPECT_GT(level1.trace.best_score, 6078u);
    EXPECT_FALSE(level0.trace.stopped_in_rotation_refinement);
    EXPECT_TRUE(level0.trace.used_fine_grids);
    EXPECT_EQ(0u, level0.decision);
    EXPECT_LT(level1.trace.correlations, level0.trace.correlations);
    // The coarse search is the same in both: level 1 stops at the first
    // refinement score, which is above the threshold.
    const MatchOutcome coarse_only = run_match(record, record, ZR_SPECTRAL_RAW_SCORE, 1);
    EXPECT_EQ(level1.trace.correlations, coarse_only.trace.correlations);
}

TEST(SpectralSearch, HintedPoseWithFeaturesSearchesNothing) {
    const SmoothField field(8);
    const Grid g = reference_grid(field, 9, 13, false);
    const bytes record = make_record(g);
    const zr_spectral_alignment zero{0, 0, 0};
    const MatchOutcome m = run_match(record, record,
                                     ZR_SPECTRAL_USE_ALIGNMENT | ZR_SPECTRAL_FEATURES |
                                         ZR_SPECTRAL_RAW_SCORE,
                                     0, true, &zero);
    ASSERT_EQ(ZR_OK, m.status);
    EXPECT_EQ(0u, m.trace.correlations);
    EXPECT_EQ(17, m.features[2]);
    const uint16_t valid = uint16_t(9 * 13);
    // Every pair agrees exactly: w_o = w_f = 21, no differences, one bin each.
    const std::vector<uint16_t> expected_features = {valid, 441, 42, 0, 0, 0, 0};
    EXPECT_EQ(expected_features, std::vector<uint16_t>(m.features.begin() + 3,
                                                       m.features.begin() + 10));
    EXPECT_EQ(0, m.features[11]);                    // equal grouped entropies
    EXPECT_EQ(0, m.features[13]);                    // one w_f bin: no entropy
    EXPECT_EQ(21, m.features[16]);
    EXPECT_EQ(21, m.features[17]);
    EXPECT_EQ(21, m.features[18]);
    // The score is the one recomputed from the feature sums.
    EXPECT_EQ(spectral_score(uint64_t(441) * valid, valid, valid, 59), m.score);
    // Without features the hinted pose is scored once.
    const MatchOutcome once = run_match(record, record,
                                        ZR_SPECTRAL_USE_ALIGNMENT | ZR_SPECTRAL_RAW_SCORE, 0,
                                        false, &zero);
    EXPECT_EQ(1u, once.trace.correlations);
    EXPECT_EQ(m.score, once.score);
}

// A given pose goes in as pixels and comes out as pixels through the cell
// offsets and 1/32-cell remainders: the two agree to the pixel.
TEST(SpectralSearch, HintedPoseInvertsTheReportedAlignment) {
    const SmoothField field(9);
    struct Geometry {
        uint32_t probe_cols, probe_rows, ref_cols, ref_rows;
        uint8_t block;
        uint32_t flags;
    } geometries[] = {{16, 20, 16, 20, 12, 0},
                      {10, 14, 16, 20, 8, 0},
                      {12, 18, 16, 16, 12, ZR_SPECTRAL_SQUARE_CANVAS}};
    const zr_spectral_alignment poses[] = {{0, 0, 0},   {10, 25, -13}, {-7, -40, 31},
                                           {64, 3, 77}, {-128, -5, -5}, {100, 60, 0}};
    for (const Geometry& g : geometries) {
        RecordOptions o;
        o.block_size = g.block;
        const bytes probe = make_record(reference_grid(field, g.probe_cols, g.probe_rows, false), o);
        const bytes ref = make_record(reference_grid(field, g.ref_cols, g.ref_rows, false), o);
        for (const zr_spectral_alignment& given : poses) {
            const MatchOutcome m = run_match(probe, ref,
                                             g.flags | ZR_SPECTRAL_USE_ALIGNMENT | ZR_SPECTRAL_RAW_SCORE,
                                             0, false, &given);
            ASSERT_EQ(ZR_OK, m.status);
            SCOPED_TRACE(testing::Message() << "pose " << given.rotation << " " << given.dx << " "
                                            << given.dy << " block " << int(g.block));
            EXPECT_EQ(2 * given.rotation, m.trace.best_angle);
            EXPECT_LE(std::abs(m.trace.best_sub_x), 16);
            EXPECT_LE(std::abs(m.trace.best_sub_y), 16);
            EXPECT_EQ(given.rotation, m.alignment.rotation);
            EXPECT_LE(std::abs(given.dx - m.alignment.dx), 1);
            EXPECT_LE(std::abs(given.dy - m.alignment.dy), 1);
        }
    }
}

TEST(SpectralSearch, EmptyAndUnreachablePairsAreNoFailure) {
    const SmoothField field(10);
    Grid blank = reference_grid(field, 6, 6, false);
    for (size_t i = 1; i < blank.cells.size(); i += 2) blank.cells[i] = 0;
    const bytes ref = make_record(reference_grid(field, 6, 6, false));
    const MatchOutcome empty = run_match(make_record(blank), ref, 0, 3);
    EXPECT_EQ(ZR_OK, empty.status);
    EXPECT_EQ(0, empty.score);
    EXPECT_EQ(0u, empty.decision);

    // A 2 x 1 probe cannot reach the overlap a 2 x 20 reference demands:
    // no search, score 0, decision 2 at a level, the features of the zero pose.
    const bytes small = make_record(reference_grid(field, 2, 1, false));
    const bytes tall = make_record(reference_grid(field, 2, 20, false));
    const MatchOutcome unreachable =
        run_match(small, tall, ZR_SPECTRAL_FEATURES | ZR_SPECTRAL_RAW_SCORE, 3, true);
    EXPECT_EQ(ZR_OK, unreachable.status);
    EXPECT_EQ(0, unreachable.score);
    EXPECT_EQ(2u, unreachable.decision);
    EXPECT_EQ(0u, unreachable.trace.correlations);
    EXPECT_EQ(17, unreachable.features[2]);
    EXPECT_EQ(2, unreachable.features[3]);  // the probe row over reference row 0
    EXPECT_EQ(441 * 2 / 20, unreachable.features[4]);  // divided by at least 20 pairs
}

TEST(SpectralSearch, QualityNormalisationOfTheScore) {
    const SmoothField field(11);
    const Grid g = reference_grid(field, 10, 12, false);
    struct Case {
        uint8_t probe_quality, reference_quality;
        uint32_t numerator, denominator;
    } cases[] = {{90, 90, 1, 1}, {60, 50, 237, 202}, {0, 0, 237, 202}, {120, 30, 237, 295}};
    for (const Case& c : cases) {
        RecordOptions p, r;
        p.with_quality = r.with_quality = true;
        p.quality = c.probe_quality;
        r.quality = c.reference_quality;
        const bytes probe = make_record(g, p), ref = make_record(g, r);
        const MatchOutcome raw = run_match(probe, ref, ZR_SPECTRAL_RAW_SCORE);
        const MatchOutcome normalised = run_match(probe, ref, 0);
        ASSERT_EQ(ZR_OK, normalised.status);
        const uint32_t expected = std::min<uint32_t>(
            uint32_t(uint64_t(c.numerator) * raw.score / c.denominator), 65535);
        EXPECT_EQ(expected, normalised.score) << int(c.probe_quality) << "/" << int(c.reference_quality);
    }
}

TEST(SpectralSearch, RefusalsTable) {
    const SmoothField field(12);
    const bytes good = make_record(reference_grid(field, 8, 8, false));
    bytes broken = good;
    broken[0] = 0;
    std::vector<uint8_t> work(4096);
    uint16_t score = 0;
    uint32_t decision = 0;
    struct Case {
        const char* name;
        const bytes* probe;
        const bytes* ref;
        uint32_t level;
        uint16_t work_size;
    } cases[] = {
        {"level above 12", &good, &good, 13, 4096},
        {"invalid probe", &broken, &good, 0, 4096},
        {"invalid reference", &good, &broken, 0, 4096},
        {"work one byte short", &good, &good, 0,
         uint16_t(zr_spectral_match_required_mem(good.data(), uint32_t(good.size()), good.data(),
                                                 uint32_t(good.size()), 0) -
                  1)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ZR_UNHANDLED_INPUT,
                  zr_spectral_match(work.data(), c.work_size, c.probe->data(),
                                    uint32_t(c.probe->size()), c.ref->data(),
                                    uint32_t(c.ref->size()), c.level, &score, &decision, nullptr, 0))
            << c.name;
    }
    // A reference wider than a canvas row can hold is refused, whatever the buffer.
    std::mt19937 rng(13);
    const bytes wide = make_record(spectral_test::random_grid(rng, 120, 2, 0));
    std::vector<uint8_t> big(65535);
    EXPECT_EQ(ZR_UNHANDLED_INPUT,
              zr_spectral_match(big.data(), 65535, good.data(), uint32_t(good.size()), wide.data(),
                                uint32_t(wide.size()), 0, &score, &decision, nullptr, 0));
}

}  // namespace
