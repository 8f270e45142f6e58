#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "match/fourier/zr_fourier_internal.h"
#include "math/zr_trig.h"
#include "fourier_test_support.h"

namespace {

using spectral_test::bytes;
using spectral_test::Grid;

uint64_t floor_sqrt(uint64_t v) {
    uint64_t r = uint64_t(std::sqrt(double(v)));
    while (r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return r;
}

bytes canvas_of(const Grid& g) {
    bytes canvas(size_t(g.cols + 8) * 2 * g.rows + 1, 0xEE);
    const uint32_t size = align8_feature_canvas(g.cells.data(), uint8_t(g.cols), uint8_t(g.rows),
                                                canvas.data());
    EXPECT_EQ((g.cols + 8) * 2 * g.rows, size);
    EXPECT_EQ(0xEE, canvas.back());  // nothing written past the canvas
    canvas.pop_back();
    return canvas;
}

struct Box {
    int left = 1, top = 1, right = 0, bottom = 0;
    bool empty() const { return left > right; }
};

Box oracle_box(const Grid& g) {
    Box b{1 << 20, 1 << 20, -1, -1};
    for (uint32_t y = 0; y < g.rows; ++y)
        for (uint32_t x = 0; x < g.cols; ++x)
            if (g.cells[(y * g.cols + x) * 2 + 1] != 0) {
                b.left = std::min(b.left, int(x));
                b.right = std::max(b.right, int(x));
                b.top = std::min(b.top, int(y));
                b.bottom = std::max(b.bottom, int(y));
            }
    if (b.right < 0 || b.bottom > 79 || (b.left == b.right && b.top == b.bottom)) return Box{};
    return b;
}

// The correlation written out from its definition.
struct OracleResult {
    uint32_t estimate;
    uint32_t score;
};

OracleResult oracle_xcorr(const Grid& ref, const Grid& probe, int dx, int dy, uint32_t min_overlap,
                          bool progressive, uint32_t k) {
    const int ox = std::min(dx + int(probe.cols), int(ref.cols)) - std::max(dx, 0);
    const int oy = std::min(dy + int(probe.rows), int(ref.rows)) - std::max(dy, 0);
    if (ox <= 0 || oy <= 0 || uint64_t(ox) * oy < min_overlap) return {0, 0};
    const Box rb = oracle_box(ref), pb = oracle_box(probe);
    if (rb.empty() || pb.empty()) return {0, 0};
    const int left = std::max(rb.left, pb.left + dx), right = std::min(rb.right, pb.right + dx);
    const int top = std::max(rb.top, pb.top + dy), bottom = std::min(rb.bottom, pb.bottom + dy);
    if (left > right || top > bottom) return {0, 0};
    uint64_t sum = 0;
    uint32_t count = 0, estimate = 0;
    auto visit = [&](int x, int y) {
        const uint8_t* r = &ref.cells[(y * ref.cols + x) * 2];
        const uint8_t* p = &probe.cells[((y - dy) * probe.cols + (x - dx)) * 2];
        if (r[1] == 0 || p[1] == 0) return;
        const int d_o = std::abs(int(int8_t(uint8_t(r[0] - p[0]))));
        const int d_f = std::abs(int(r[1]) - int(p[1]));
        sum += uint64_t(std::max(21 - d_o, 0) * std::max(21 - d_f, 0));
        ++count;
    };
    if (!progressive) {
        for (int y = top; y <= bottom; ++y)
            for (int x = left; x <= right; ++x) visit(x, y);
        estimate = count;
    } else {
        bool stopped = false;
        for (int pass = 0; pass < 4 && !stopped; ++pass) {
            for (int y = top + (pass >> 1); y <= bottom; y += 2)
                for (int x = left + (pass & 1); x <= right; x += 2) visit(x, y);
            if (count > 31 && 4ull * count >= uint64_t(pass + 1) * min_overlap) {
                estimate = uint32_t(std::ceil(4.0 * count / (pass + 1)));
                stopped = true;
            }
        }
        if (!stopped) estimate = count;
    }
    const uint64_t s = (sum << 15) / (uint64_t(std::max(count, 20u)) * 441);
    const uint64_t factor = floor_sqrt(floor_sqrt(uint64_t(estimate) << 12) * k);
    const uint64_t product = s * factor;
    return {estimate, product > 0x7FFFFF ? 32767u : uint32_t(product >> 8)};
}

TEST(SpectralCanvas, CopyPadsEachRowWithEightInvalidCells) {
    std::mt19937 rng(1);
    const Grid g = spectral_test::random_grid(rng, 5, 3, 0);
    const bytes canvas = canvas_of(g);
    for (uint32_t y = 0; y < 3; ++y) {
        EXPECT_EQ(0, std::memcmp(&canvas[y * 26], &g.cells[y * 10], 10));
        for (uint32_t i = 10; i < 26; ++i) EXPECT_EQ(0, canvas[y * 26 + i]);
    }
}

TEST(SpectralCanvas, BoundingBoxMatchesBruteForce) {
    std::mt19937 rng(2);
    for (int trial = 0; trial < 200; ++trial) {
        const uint32_t cols = 1 + rng() % 30, rows = 1 + rng() % 90;
        const Grid g = spectral_test::random_grid(rng, cols, rows, trial % 2 ? 99 : 90);
        const bytes canvas = canvas_of(g);
        spectral_box box{};
        const uint32_t area = get_bounding_box(canvas.data(), cols, uint8_t(rows), &box);
        const Box b = oracle_box(g);
        SCOPED_TRACE(trial);
        if (b.empty()) {
            EXPECT_EQ(0u, area);
            EXPECT_GT(box.left, box.right);  // an empty box correlates nothing
            continue;
        }
        EXPECT_EQ(uint32_t((b.right - b.left + 1) * (b.bottom - b.top + 1)), area);
        EXPECT_EQ(b.left, box.left);
        EXPECT_EQ(b.top, box.top);
        EXPECT_EQ(b.right, box.right);
        EXPECT_EQ(b.bottom, box.bottom);
    }
}

TEST(SpectralCanvas, RefineBoundingBoxesCountsSharedRows) {
    const spectral_box ref{0, 10, 5, 19};
    const spectral_box probe{0, 2, 5, 6};
    for (int32_t offset = -10; offset <= 25; ++offset) {
        // Shared rows: min(6 + off, 19) - max(2 + off, 10) + 1, negative kept.
        const int shared = std::min(6 + offset, 19) - std::max(2 + offset, 10) + 1;
        EXPECT_EQ(shared < 0 ? shared : 1, refine_bounding_boxes(&ref, &probe, offset)) << offset;
    }
}

TEST(SpectralCanvas, CorrelationMatchesTheFormulasFullAndProgressive) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 400; ++trial) {
        const uint32_t rc = 4 + rng() % 40, rr = 4 + rng() % 40;
        const uint32_t pc = 4 + rng() % 40, pr = 4 + rng() % 40;
        Grid ref = spectral_test::random_grid(rng, rc, rr, 25);
        Grid probe = spectral_test::random_grid(rng, pc, pr, 25);
        // Mostly near-agreeing values, so that sums are large.
        for (size_t i = 0; i < probe.cells.size() && i < ref.cells.size(); i += 2) {
            if (rng() % 4 != 0) continue;
            probe.cells[i] = uint8_t(ref.cells[i] + rng() % 9);
        }
        const bytes rcv = canvas_of(ref), pcv = canvas_of(probe);
        spectral_box rbox{}, pbox{};
        (void)get_bounding_box(rcv.data(), rc, uint8_t(rr), &rbox);
        (void)get_bounding_box(pcv.data(), pc, uint8_t(pr), &pbox);
        const int dx = int(rng() % (rc + pc)) - int(pc);
        const int dy = int(rng() % (rr + pr)) - int(pr);
        const uint32_t min_overlap = rng() % 3 == 0 ? 1 : rng() % 400;
        const uint32_t k = 1 + rng() % 120;
        for (const bool progressive : {false, true}) {
            uint32_t score = 99, zero = 99;
            const uint32_t estimate =
                xcorr_features(rcv.data(), uint8_t(rc), uint8_t(rr), &rbox, pcv.data(),
                               uint8_t(pc), uint8_t(pr), &pbox, dx, dy, &score, &zero, min_overlap,
                               progressive, k);
            const OracleResult expected = oracle_xcorr(ref, probe, dx, dy, min_overlap, progressive, k);
            SCOPED_TRACE(testing::Message() << "trial " << trial << " progressive " << progressive);
            EXPECT_EQ(expected.estimate, estimate);
            EXPECT_EQ(expected.score, score);
            EXPECT_EQ(0u, zero);
        }
    }
}

TEST(SpectralCanvas, CorrelationSumPastSeventeenBitsDoesNotWrap) {
    // 45 x 24 identical cells: sum = 1080 x 441 = 476280, whose << 15 passes 32 bits.
    Grid g;
    g.cols = 24;
    g.rows = 45;
    g.cells.assign(size_t(24) * 45 * 2, 60);
    const bytes canvas = canvas_of(g);
    spectral_box box{};
    ASSERT_GT(get_bounding_box(canvas.data(), 24, 45, &box), 0u);
    uint32_t score = 0;
    const uint32_t count = xcorr_features(canvas.data(), 24, 45, &box, canvas.data(), 24, 45, &box,
                                          0, 0, &score, nullptr, 1, 0, 1);
    EXPECT_EQ(1080u, count);
    // S = 32768; isqrt(isqrt(1080 << 12) x 1) = isqrt(2103) = 45; 32768 x 45 >> 8.
    EXPECT_EQ(32768u * 45 >> 8, score);
}

// Source cells carry their own coordinates: orientation = column, frequency
// = row + 1, so that every canvas cell tells where it was sampled.
TEST(SpectralCanvas, TransformAgreesWithAFloatingPointRotateAndSampleModel) {
    std::mt19937 rng(4);
    const double kPi = 3.14159265358979323846;
    int checked = 0;
    for (int trial = 0; trial < 200; ++trial) {
        const uint32_t sc = 2 + rng() % 100, sr = 2 + rng() % 100;
        const uint32_t w = 1 + rng() % 119, h = 1 + rng() % 120;
        Grid src;
        src.cols = sc;
        src.rows = sr;
        src.cells.resize(size_t(sc) * sr * 2);
        for (uint32_t y = 0; y < sr; ++y)
            for (uint32_t x = 0; x < sc; ++x) {
                src.cells[(y * sc + x) * 2] = uint8_t(x);
                src.cells[(y * sc + x) * 2 + 1] = uint8_t(y + 1);
            }
        const int16_t angle = int16_t(int(rng() % 1024) - 512);
        const int32_t dx = int32_t(rng() % 200) - 100, dy = int32_t(rng() % 200) - 100;
        const int32_t scale = 16 + int32_t(rng() % 48);
        bytes canvas(size_t(w + 8) * 2 * h, 0xEE);
        transform_features(src.cells.data(), uint8_t(sc), uint8_t(sr), canvas.data(), uint8_t(w),
                           uint8_t(h), angle, dx, dy, scale, scale);
        // The rotation uses the foundation's Q14 cosine and sine (whose table
        // the search depends on bit for bit); the geometry is the model's.
        const uint32_t trig = uint32_t(angle * 128) & 0xFFFF;
        const double c = zr_cos14_(trig) / 16384.0, s = zr_sin14_(trig) / 16384.0;
        const double th = angle * 2 * kPi / 512;
        EXPECT_NEAR(std::cos(th), c, 0.01);
        EXPECT_NEAR(std::sin(th), s, 0.01);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w + 8; ++x) {
                const uint8_t* cell = &canvas[(y * (w + 8) + x) * 2];
                if (x >= w) {
                    ASSERT_EQ(0, cell[0] | cell[1]);
                    continue;
                }
                const double X = x - (w - 1) / 2.0 - dx / 32.0;
                const double Y = y - (h - 1) / 2.0 - dy / 32.0;
                const double u = (sc - 1) / 2.0 + (c * X + s * Y) * 32.0 / scale;
                const double v = (sr - 1) / 2.0 + (-s * X + c * Y) * 32.0 / scale;
                const double fu = u - std::floor(u), fv = v - std::floor(v);
                if (std::fabs(fu - 0.5) < 0.1 || std::fabs(fv - 0.5) < 0.1) continue;
                const long iu = std::lround(u), iv = std::lround(v);
                SCOPED_TRACE(testing::Message() << "trial " << trial << " at " << x << "," << y);
                if (iu < 0 || iv < 0 || iu >= long(sc) || iv >= long(sr)) {
                    ASSERT_EQ(0, cell[1]);
                    continue;
                }
                ASSERT_EQ(iv + 1, cell[1]);
                ASSERT_EQ(uint8_t(iu + angle), cell[0]) << u << " " << v << " angle " << angle
                                                        << " scale " << scale << " src " << sc
                                                        << "x" << sr << " canvas " << w << "x" << h;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 10000);
}

TEST(SpectralCanvas, OrientationHistogramBins) {
    Grid g;
    g.cols = 6;
    g.rows = 1;
    // 0 -> bin 0; 11 -> 1; 240 -> 11; 241 -> 11; 245 -> 12 counts in 0; invalid cell skipped.
    g.cells = {0, 1, 11, 1, 240, 1, 241, 1, 245, 1, 100, 0};
    uint16_t hist[12];
    EXPECT_EQ(5u, hist_ori(g.cells.data(), 6, 1, hist));
    const uint16_t expected[12] = {2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    EXPECT_EQ(0, std::memcmp(expected, hist, sizeof(hist)));
}

double shannon_centibits(const std::vector<uint32_t>& h) {
    double total = 0, e = 0;
    for (uint32_t v : h) total += v;
    for (uint32_t v : h)
        if (v) e -= (v / total) * std::log2(v / total);
    return 100 * e;
}

TEST(SpectralCanvas, EntropyTakesTheHistogramsOwnBins) {
    struct Case {
        const char* name;
        std::vector<uint32_t> histogram;
    } cases[] = {
        {"one bin", {0, 0, 9, 0, 0, 0, 0, 0}},
        {"uniform 8", std::vector<uint32_t>(8, 5)},
        {"uniform 32", std::vector<uint32_t>(32, 3)},
        {"uniform 22", std::vector<uint32_t>(22, 1)},
        {"two halves", {7, 7}},
        {"mass only past bin 22 of 32",
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 4, 4, 1, 1, 1, 1, 9, 2}},
        {"skewed 22", {100, 1, 1, 2, 3, 5, 8, 13, 21, 34, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 55}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // An exactly sized copy: reading past the histogram is caught by the sanitizers.
        std::vector<uint32_t> exact(c.histogram);
        const double expected = shannon_centibits(c.histogram);
        const uint16_t entropy = calculate_entropy_score(exact.data(), uint32_t(exact.size()));
        // The piecewise-linear log2 and the per-bin truncation stay within 5 %.
        EXPECT_NEAR(expected, entropy, 0.05 * expected + 2);
    }
    const uint32_t empty[8] = {};
    EXPECT_EQ(0, calculate_entropy_score(empty, 8));
}

}  // namespace
