// Ghost removal: the latent-print test on real captures, the histogram rules
// on synthetic images and the in-place filter against a direct reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "fp_test_data.h"
#include "imaging/bal_ghost.h"

namespace {

// Straightforward bal_filter_ghost on a copy of the entry values.
std::vector<uint8_t> reference_filter(const std::vector<uint8_t>& in, uint32_t rows, uint32_t cols, uint8_t t) {
    std::vector<uint8_t> out = in;
    auto at = [&](uint32_t y, uint32_t x) { return in[size_t{y} * cols + x]; };
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            const uint32_t v = at(y, x);
            if (v <= t) continue;
            if (y == 0 || x == 0 || y + 1 == rows || x + 1 == cols) {
                out[size_t{y} * cols + x] = 255;
                continue;
            }
            uint32_t k = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if ((dy || dx) && at(y + dy, x + dx) > t) ++k;
            out[size_t{y} * cols + x] = uint8_t(v + ((k * (255 - v)) >> 3));
        }
    return out;
}

// The ghost decision written out plainly, step by step: dark-block
// histogram, smoothing, slope states, merging of flat extrema, peak list,
// reduction to three peaks and the test. Returns the threshold for the
// filter, or -1 when no ghost is found.
int32_t reference_ghost_threshold(const std::vector<uint8_t>& src, uint32_t rows, uint32_t cols, uint32_t block) {
    const uint32_t nr = rows / block, nc = cols / block;
    const uint32_t top = *std::max_element(src.begin(), src.end());
    const uint32_t limit = top >= 8 ? top - 8 : 0;
    uint32_t h[64] = {}, n = 0;
    for (uint32_t br = 0; br < nr; ++br)
        for (uint32_t bc = 0; bc < nc; ++bc) {
            uint32_t sum = 0;
            for (uint32_t y = br * block; y < br * block + block; ++y)
                for (uint32_t x = bc * block; x < bc * block + block; ++x) sum += src[size_t{y} * cols + x];
            if (sum / (block * block) >= limit) continue;
            for (uint32_t y = br * block; y < br * block + block; ++y)
                for (uint32_t x = bc * block; x < bc * block + block; ++x) ++h[src[size_t{y} * cols + x] >> 2];
            n += block * block;
        }
    if (n)
        for (uint32_t& v : h) v = (v << 10) / n;
    uint32_t s[64];
    s[0] = (h[0] + h[1]) >> 1;
    for (int i = 1; i < 63; ++i) s[i] = (h[i - 1] + h[i] + h[i + 1]) / 3;
    s[63] = (h[62] + h[63]) >> 1;

    enum { none, peak, valley };
    int e[64] = {};
    int state = 0;  // 0 undecided, 1 rising, 2 falling
    for (int i = 0; i < 63; ++i) {
        const int16_t d = int16_t(s[i + 1] - s[i]);
        if (d >= 1 && state != 1) e[i] = valley, state = 1;
        if (d < 0 && state != 2) e[i] = peak, state = 2;
    }
    int a = -1, b = -1;
    auto level = [&](int i) { return int32_t(int16_t(s[i])); };
    for (int c = 0; c < 64; ++c) {
        if (e[c] == none) continue;
        if (a < 0 || b < 0 || std::abs(level(a) - level(b)) > 7 || std::abs(level(b) - level(c)) > 7) {
            a = b, b = c;
            continue;
        }
        const bool b_peak = e[b] == peak;
        e[b] = none;
        int survivor;
        if (b_peak)
            survivor = s[c] <= s[a] ? (e[a] = none, c) : (e[c] = none, a);
        else
            survivor = s[a] <= s[c] ? (e[a] = none, c) : (e[c] = none, a);
        b = survivor, a = -1;
    }
    std::vector<uint32_t> P, V(8, 0);
    uint32_t v = 0;
    for (uint32_t i = 0; i < 64; ++i) {
        if (e[i] == valley) v = i;
        if (e[i] != peak) continue;
        if (P.size() == 8) break;
        P.push_back(i);
        if (P.size() > 1) V[P.size() - 2] = v;
        v = i;
    }
    if (P.size() <= 2) return -1;
    while (P.size() > 3) {
        uint32_t A[8] = {};
        for (size_t k = 0; k + 1 < P.size(); ++k) {
            const uint32_t left = k == 0 ? 0 : V[k - 1], right = V[k];
            const uint32_t lvl = P[k] == 0 ? s[right] : std::max(s[left], s[right]);
            for (uint32_t j = left; j <= right; ++j) A[k] += s[j] > lvl ? s[j] - lvl : 0;
        }
        size_t m;
        if (A[0] <= A[1] && A[0] < A[2]) m = 0;
        else if (A[0] <= A[1] && A[2] <= A[0]) m = 2;
        else if (A[0] > A[1] && A[1] < A[2]) m = 1;
        else m = 2;
        if (m == 1) V[0] = s[V[0]] < s[V[1]] ? V[0] : V[1];
        if (m == 2) V[1] = s[V[1]] < s[V[2]] ? V[1] : V[2];
        P.erase(P.begin() + long(m));
        V.erase(V.begin() + long(m));
        V.push_back(0);
    }
    uint32_t s1 = 0, s2 = 0;
    for (uint32_t j = 0; j <= V[0]; ++j) s1 += s[j];
    if (V[0] != 63)
        for (uint32_t j = V[0] + 1; j <= V[1]; ++j) s2 += s[j];
    const uint32_t share = s1 * 100 / (s1 + s2);
    const uint32_t spread = P[0] * s[V[0]] == 0 ? 1 : P[0] * s[V[0]];
    if (!((P[1] - P[0]) * share / spread > 5 && P[1] > 22 && share > 20)) return -1;
    if (V[0] == 0) return 0;
    uint32_t vv = V[0], acc = s[vv];
    while (acc <= s1 / 20 && vv > 1) acc += s[--vv];
    return int32_t((vv * 255) >> 6);
}

TEST(GhostFilter, StatedCases) {
    struct Case {
        uint8_t centre;
        int bright_neighbours;
        uint8_t threshold;
        uint8_t expected;
    };
    const Case cases[] = {
        {255, 8, 0, 255}, {200, 8, 100, 255}, {200, 4, 100, 227}, {200, 0, 100, 200}, {100, 8, 100, 100},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> img(9, 0);
        img[4] = c.centre;
        const int ring[8] = {0, 1, 2, 5, 8, 7, 6, 3};
        for (int i = 0; i < c.bright_neighbours; ++i) img[ring[i]] = 255;
        bal_filter_ghost(img.data(), 3, 3, c.threshold);
        EXPECT_EQ(img[4], c.expected) << int(c.centre) << " with " << c.bright_neighbours;
    }
}

TEST(GhostFilter, MatchesTheReferenceInPlaceOnAnySize) {
    std::mt19937 rng(3);
    for (uint32_t rows : {1u, 2u, 3u, 7u, 20u})
        for (uint32_t cols : {1u, 2u, 3u, 9u, 31u}) {
            std::vector<uint8_t> img(size_t{rows} * cols);
            for (auto& v : img) v = uint8_t(rng());
            const uint8_t t = uint8_t(rng());
            const auto want = reference_filter(img, rows, cols, t);
            bal_filter_ghost(img.data(), rows, cols, t);
            EXPECT_EQ(img, want) << rows << " x " << cols;
        }
}

TEST(GhostRemove, ImagesWithoutThreeModesAreCopiedUnchanged) {
    const uint32_t rows = 48, cols = 48;
    std::mt19937 rng(5);
    // All white (no dark block), a single smooth mode, and two modes.
    std::vector<std::vector<uint8_t>> images;
    images.emplace_back(rows * cols, 255);
    std::normal_distribution<double> one(120, 15);
    std::vector<uint8_t> img(rows * cols);
    for (auto& v : img) v = uint8_t(std::clamp(one(rng), 0.0, 250.0));
    images.push_back(img);
    for (size_t i = 0; i < img.size(); ++i) img[i] = (i / cols) % 6 < 3 ? 40 : 200;
    images.push_back(img);
    for (const auto& src : images) {
        std::vector<uint8_t> dst(src.size(), 7);
        EXPECT_EQ(bal_ghost_remove(src.data(), rows, cols, dst.data()), 0u);
        EXPECT_EQ(dst, src);
        for (uint32_t block : {1u, 6u, 100u}) {
            std::vector<uint8_t> in_place = src;
            EXPECT_EQ(bal_ghost_remove_bs(in_place.data(), rows, cols, in_place.data(), block), 0u);
            EXPECT_EQ(in_place, src);
        }
    }
}

// Mixtures of up to six grey modes of random widths and weights, at several
// block sizes: the result and the image equal the plain decision followed by
// the filter.
TEST(GhostRemove, MatchesThePlainDecisionOnMixturesOfModes) {
    std::mt19937 rng(19);
    int applied = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const uint32_t rows = 12 + rng() % 70, cols = 12 + rng() % 70;
        const int modes = 1 + int(rng() % 6);
        std::vector<std::normal_distribution<double>> mode;
        std::vector<double> weight;
        for (int m = 0; m < modes; ++m) {
            mode.emplace_back(double(rng() % 256), 2.0 + double(rng() % 28));
            weight.push_back(0.05 + double(rng() % 100) / 100.0);
        }
        std::discrete_distribution<int> pick(weight.begin(), weight.end());
        std::vector<uint8_t> src(size_t{rows} * cols);
        for (auto& v : src) v = uint8_t(std::clamp(mode[size_t(pick(rng))](rng), 0.0, 255.0));
        const uint32_t block = std::vector<uint32_t>{1, 2, 5, 6, 12}[rng() % 5];

        const int32_t threshold = reference_ghost_threshold(src, rows, cols, block);
        const std::vector<uint8_t> want =
            threshold < 0 ? src : reference_filter(src, rows, cols, uint8_t(threshold));
        std::vector<uint8_t> dst(src.size());
        ASSERT_EQ(bal_ghost_remove_bs(src.data(), rows, cols, dst.data(), block), threshold < 0 ? 0u : 1u)
            << "trial " << trial;
        ASSERT_EQ(dst, want) << "trial " << trial;
        applied += threshold >= 0;
    }
    EXPECT_GT(applied, 20);  // the mixtures reach the filter often enough
}

// 16 x 16 images (one block of 256 pixels, so each histogram bin is four
// times its pixel count) built from (bin, pixels) lists whose peak
// reduction meets equal areas: A[0] = A[1] < A[2] (peak 0 goes) and
// A[0] = A[2] <= A[1] (peak 2 goes).
TEST(GhostRemove, EqualPeakAreasFollowTheTieRules) {
    const std::vector<std::vector<std::pair<uint32_t, uint32_t>>> histograms = {
        {{1, 64}, {2, 19}, {3, 13}, {13, 8}, {14, 19}, {15, 13}, {29, 8}, {30, 19},
         {31, 13}, {33, 8}, {34, 19}, {35, 13}, {53, 8}, {54, 19}, {55, 13}},
        {{1, 23}, {2, 15}, {3, 13}, {9, 13}, {10, 15}, {11, 13}, {13, 13}, {14, 15}, {15, 13},
         {17, 13}, {18, 15}, {19, 13}, {25, 13}, {26, 15}, {27, 13}, {29, 13}, {30, 15}, {31, 13}},
        // Here removing peak 0 instead of peak 2 would find a ghost.
        {{11, 36}, {12, 17}, {13, 18}, {16, 2}, {17, 17}, {18, 18}, {21, 2}, {22, 17}, {23, 18},
         {31, 2}, {32, 17}, {33, 18}, {36, 2}, {37, 17}, {38, 18}, {41, 2}, {42, 17}, {43, 18}},
    };
    for (const auto& bins : histograms) {
        std::vector<uint8_t> src;
        for (auto [bin, pixels] : bins) src.insert(src.end(), pixels, uint8_t(4 * bin + 1));
        ASSERT_EQ(src.size(), 256u);
        std::shuffle(src.begin(), src.end(), std::mt19937(8));
        const int32_t threshold = reference_ghost_threshold(src, 16, 16, 16);
        const std::vector<uint8_t> want = threshold < 0 ? src : reference_filter(src, 16, 16, uint8_t(threshold));
        std::vector<uint8_t> dst(src.size());
        EXPECT_EQ(bal_ghost_remove_bs(src.data(), 16, 16, dst.data(), 16), threshold < 0 ? 0u : 1u);
        EXPECT_EQ(dst, want);
    }
}

// Ridge mask of a capture: darker than the mean of its 15 x 15 window.
std::vector<uint8_t> ridge_mask(const fp_test::GreyImage& g) {
    std::vector<uint8_t> m(g.pixels.size());
    const int32_t rows = int32_t(g.rows), cols = int32_t(g.cols);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x) {
            uint32_t sum = 0, n = 0;
            for (int32_t yy = std::max(0, y - 7); yy <= std::min(rows - 1, y + 7); ++yy)
                for (int32_t xx = std::max(0, x - 7); xx <= std::min(cols - 1, x + 7); ++xx, ++n)
                    sum += g.pixels[size_t(yy) * cols + xx];
            m[size_t(y) * cols + x] = uint32_t(g.pixels[size_t(y) * cols + x]) * n < sum;
        }
    return m;
}

TEST(GhostRemove, CleanCapturesAreLeftAlone) {
    FP_REQUIRE_CAPTURES();
    for (const auto& path : fp_test::capture_paths()) {
        const fp_test::GreyImage g = fp_test::read_pgm(path);
        std::vector<uint8_t> dst(g.pixels.size());
        EXPECT_EQ(bal_ghost_remove(g.pixels.data(), g.rows, g.cols, dst.data()), 0u) << path;
        EXPECT_EQ(dst, g.pixels) << path;
    }
}

// A finger pressed on the upper half of the sensor (a real capture, its grey
// range mapped to 0..150 as a well-pressed finger shows it) and, on the empty
// lower half (grey 230), the latent print of another finger: its ridges 60
// grey levels darker than the empty sensor.
TEST(GhostRemove, LatentPrintOnTheEmptySensorIsWhitenedAndRealRidgesKept) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    const uint32_t split = 88;
    for (size_t i = 0; i < paths.size(); ++i) {
        fp_test::GreyImage finger = fp_test::read_pgm(paths[i]);
        const fp_test::GreyImage latent = fp_test::read_pgm(paths[(i + 37) % paths.size()]);
        const auto [lo, hi] = std::minmax_element(finger.pixels.begin(), finger.pixels.end());
        const int32_t low = *lo, span = std::max(1, int32_t(*hi) - low);
        for (auto& v : finger.pixels) v = uint8_t((v - low) * 150 / span);
        const std::vector<uint8_t> finger_ridges = ridge_mask(finger);
        const std::vector<uint8_t> latent_ridges = ridge_mask(latent);
        std::vector<uint8_t> img = finger.pixels;
        for (size_t p = size_t{split} * finger.cols; p < img.size(); ++p) img[p] = latent_ridges[p] ? 170 : 230;

        std::vector<uint8_t> dst(img.size());
        ASSERT_EQ(bal_ghost_remove(img.data(), finger.rows, finger.cols, dst.data()), 1u) << paths[i];
        size_t ghost_dark = 0, ridges_changed = 0, ridge_pixels = 0;
        for (size_t p = 0; p < img.size(); ++p) {
            if (p >= size_t{split + 1} * finger.cols) {
                // Below the first row of the empty part every neighbour is
                // latent print or empty sensor: the ghost goes white.
                ghost_dark += latent_ridges[p] && dst[p] != 255;
            } else if (p < size_t{split} * finger.cols) {
                ridge_pixels += finger_ridges[p];
                ridges_changed += finger_ridges[p] && dst[p] != img[p];
            }
        }
        EXPECT_EQ(ghost_dark, 0u) << paths[i];
        // The filter starts a little below the valley after the ridge mode:
        // the brightest valley pixels of the finger go up, its ridges stay
        // (but for a rare ridge pixel in a bright patch).
        EXPECT_LE(ridges_changed * 100, ridge_pixels) << paths[i];
        // The same in place.
        std::vector<uint8_t> in_place = img;
        EXPECT_EQ(bal_ghost_remove_bs(in_place.data(), finger.rows, finger.cols, in_place.data(), 12), 1u);
        EXPECT_EQ(in_place, dst);
        if (HasFailure()) break;
    }
}

}  // namespace
