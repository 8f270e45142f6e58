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
