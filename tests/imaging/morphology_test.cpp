#include "imaging/bal_morphology.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "filters_test_support.h"

namespace {

using filters_test::for_clipped_window;
using filters_test::random_image;
using Image = std::vector<uint8_t>;
using Filter = std::function<bal_status(const uint8_t*, uint32_t, uint32_t, uint8_t*)>;
using Reference = std::function<Image(const Image&, uint32_t, uint32_t)>;

std::vector<filters_test::Size> sizes_with_strips() {
    std::vector<filters_test::Size> sizes = filters_test::test_sizes();
    sizes.insert(sizes.end(), {{1, 1}, {1, 6}, {7, 1}, {1, 2}, {2, 1}});
    return sizes;
}

Image binary_reference(const Image& src, uint32_t rows, uint32_t cols, bool grow) {
    Image out = src;
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            bool hit = false;
            for_clipped_window(rows, cols, y, x, [&](uint32_t yy, uint32_t xx) {
                hit |= grow ? src[yy * cols + xx] != 0 : src[yy * cols + xx] == 0;
            });
            uint8_t& o = out[y * cols + x];
            if (grow && o == 0 && hit) o = 1;
            if (!grow && o != 0 && hit) o = 0;
        }
    return out;
}

Image grey_reference(const Image& src, uint32_t rows, uint32_t cols, bool maximum, bool cross) {
    Image out(src.size());
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < cols; ++x) {
            int best = src[y * cols + x];
            for_clipped_window(rows, cols, y, x, [&](uint32_t yy, uint32_t xx) {
                if (cross && yy != y && xx != x) return;
                best = maximum ? std::max<int>(best, src[yy * cols + xx]) : std::min<int>(best, src[yy * cols + xx]);
            });
            out[y * cols + x] = uint8_t(best);
        }
    return out;
}

void expect_matches(const Filter& filter, const Reference& reference, int64_t max_value) {
    uint32_t seed = 1;
    for (auto [rows, cols] : sizes_with_strips()) {
        Image src = random_image<uint8_t>(rows * cols, seed++, 0, max_value);
        if (max_value == 2)  // a 0 / 255 mask with some 1s
            for (auto& p : src) p = p == 2 ? 255 : p;
        const Image expected = reference(src, rows, cols);
        Image out(src.size(), 0xAB);
        ASSERT_EQ(filter(src.data(), rows, cols, out.data()), BAL_OK);
        EXPECT_EQ(out, expected) << rows << " x " << cols;
        Image in_place = src;
        ASSERT_EQ(filter(in_place.data(), rows, cols, in_place.data()), BAL_OK);
        EXPECT_EQ(in_place, expected) << rows << " x " << cols << " in place";
    }
}

TEST(BinaryMorphology, DilateErodeOpenCloseMatchReference) {
    auto dilate = [](const Image& s, uint32_t r, uint32_t c) { return binary_reference(s, r, c, true); };
    auto erode = [](const Image& s, uint32_t r, uint32_t c) { return binary_reference(s, r, c, false); };
    // Sparse and dense masks exercise both decisions.
    for (int64_t max_value : {2, 9}) {
        expect_matches(bal_dilate, dilate, max_value);
        expect_matches(bal_erode, erode, max_value);
        expect_matches(bal_open, [&](const Image& s, uint32_t r, uint32_t c) { return dilate(erode(s, r, c), r, c); },
                       max_value);
        expect_matches(bal_close, [&](const Image& s, uint32_t r, uint32_t c) { return erode(dilate(s, r, c), r, c); },
                       max_value);
    }
}

TEST(GreyMorphology, SquareAndCrossMatchReference) {
    auto ref = [](bool maximum, bool cross) {
        return [=](const Image& s, uint32_t r, uint32_t c) { return grey_reference(s, r, c, maximum, cross); };
    };
    expect_matches(bal_dilate_uint8, ref(true, false), 255);
    expect_matches(bal_erode_uint8, ref(false, false), 255);
    expect_matches(bal_dilate_small_uint8, ref(true, true), 255);
    expect_matches(bal_erode_small_uint8, ref(false, true), 255);
    expect_matches(bal_open_uint8,
                   [&](const Image& s, uint32_t r, uint32_t c) { return ref(true, false)(ref(false, false)(s, r, c), r, c); },
                   255);
    expect_matches(bal_close_uint8,
                   [&](const Image& s, uint32_t r, uint32_t c) { return ref(false, false)(ref(true, false)(s, r, c), r, c); },
                   255);
}

TEST(BinaryMorphology, OpeningAndClosingWorkedValues) {
    Image img(7 * 7, 0);
    img[1 * 7 + 1] = 255;  // an isolated pixel
    for (uint32_t y = 3; y < 6; ++y)
        for (uint32_t x = 3; x < 6; ++x) img[y * 7 + x] = 255;
    Image out(img.size());
    ASSERT_EQ(bal_open(img.data(), 7, 7, out.data()), BAL_OK);
    Image expected(7 * 7, 0);
    for (uint32_t y = 3; y < 6; ++y)
        for (uint32_t x = 3; x < 6; ++x) expected[y * 7 + x] = 1;
    expected[4 * 7 + 4] = 255;  // the eroded core keeps its value
    EXPECT_EQ(out, expected);

    Image full(5 * 5, 255);
    full[2 * 5 + 2] = 0;
    ASSERT_EQ(bal_close(full.data(), 5, 5, full.data()), BAL_OK);
    Image closed(5 * 5, 255);
    closed[2 * 5 + 2] = 1;
    EXPECT_EQ(full, closed);
}

TEST(Morphology, BorderIsNotErodedAndEmptyImageIsLeftAlone) {
    const Image full(4 * 5, 200);
    Image out(full.size());
    for (auto op : {bal_erode, bal_erode_uint8, bal_erode_small_uint8}) {
        ASSERT_EQ(op(full.data(), 4, 5, out.data()), BAL_OK);
        EXPECT_EQ(out, full);
    }
    const Image square = {10, 20, 30, 40};
    ASSERT_EQ(bal_dilate_uint8(square.data(), 2, 2, out.data()), BAL_OK);
    EXPECT_EQ(Image(out.begin(), out.begin() + 4), Image(4, 40));
    ASSERT_EQ(bal_erode_uint8(square.data(), 2, 2, out.data()), BAL_OK);
    EXPECT_EQ(Image(out.begin(), out.begin() + 4), Image(4, 10));
    EXPECT_EQ(bal_dilate(nullptr, 0, 4, nullptr), BAL_OK);
    EXPECT_EQ(bal_close_uint8(nullptr, 4, 0, nullptr), BAL_OK);
    EXPECT_EQ(bal_despeckle_dark_uint8(nullptr, 0, 0, 10, nullptr), BAL_OK);
}

Image despeckle_reference(const Image& src, uint32_t rows, uint32_t cols, int threshold) {
    std::vector<int> depth(src.size());
    auto at = [&](int y, int x) { return src[y * cols + x]; };
    auto inside = [&](int y, int x) { return y >= 0 && x >= 0 && y < int(rows) && x < int(cols); };
    for (int y = 0; y < int(rows); ++y)
        for (int x = 0; x < int(cols); ++x) {
            auto diff = [&](int yy, int xx) { return inside(yy, xx) ? at(yy, xx) - at(y, x) : 255; };
            int d = 0;
            if (diff(y - 1, x) > 0 && diff(y + 1, x) > 0) d = std::min(diff(y - 1, x), diff(y + 1, x));
            if (diff(y, x - 1) > 0 && diff(y, x + 1) > 0) d = std::min({d, diff(y, x - 1), diff(y, x + 1)});
            depth[y * cols + x] = d;
        }
    Image out = src;
    for (int y = 0; y < int(rows); ++y)
        for (int x = 0; x < int(cols); ++x) {
            if (depth[y * cols + x] <= threshold) continue;
            int sum = 0, count = 0;
            const int ny[4] = {y - 1, y + 1, y, y}, nx[4] = {x, x, x - 1, x + 1};
            for (int k = 0; k < 4; ++k)
                if (inside(ny[k], nx[k]) && depth[ny[k] * cols + nx[k]] <= threshold) {
                    sum += at(ny[k], nx[k]);
                    ++count;
                }
            if (count) out[y * cols + x] = uint8_t(sum / count);
        }
    return out;
}

TEST(Despeckle, MatchesReferenceAndWorkedValues) {
    for (int threshold : {0, 20, 90, 255})
        expect_matches(
            [threshold](const uint8_t* s, uint32_t r, uint32_t c, uint8_t* d) {
                return bal_despeckle_dark_uint8(s, r, c, uint8_t(threshold), d);
            },
            [threshold](const Image& s, uint32_t r, uint32_t c) { return despeckle_reference(s, r, c, threshold); },
            255);
    Image speck(9, 200);
    speck[4] = 50;
    Image out(9);
    ASSERT_EQ(bal_despeckle_dark_uint8(speck.data(), 3, 3, 100, out.data()), BAL_OK);
    EXPECT_EQ(out, Image(9, 200));
    ASSERT_EQ(bal_despeckle_dark_uint8(speck.data(), 3, 3, 150, out.data()), BAL_OK);
    EXPECT_EQ(out, speck);
    // A horizontal dark line takes the mean of its rows above and below; a vertical one stays.
    Image lines(5 * 6, 0);
    for (uint32_t x = 0; x < 6; ++x) {
        lines[1 * 6 + x] = 100;
        lines[2 * 6 + x] = 10;
        lines[3 * 6 + x] = 200;
        lines[4 * 6 + x] = 200;
    }
    out.resize(lines.size());
    ASSERT_EQ(bal_despeckle_dark_uint8(lines.data(), 5, 6, 50, out.data()), BAL_OK);
    for (uint32_t x = 0; x < 6; ++x) EXPECT_EQ(out[2 * 6 + x], 150);
    Image vertical(4 * 5, 200);
    for (uint32_t y = 0; y < 4; ++y) vertical[y * 5 + 2] = 10;
    out.resize(vertical.size());
    ASSERT_EQ(bal_despeckle_dark_uint8(vertical.data(), 4, 5, 50, out.data()), BAL_OK);
    EXPECT_EQ(out, vertical);
}

}  // namespace

namespace {

TEST(Despeckle, DepthMapThatCannotBeAllocatedReturnsNoMemory) {
    FP_REQUIRE_PLAIN_MALLOC();
    EXPECT_EQ(bal_despeckle_dark_uint8(nullptr, 1u << 31, 1u << 31, 10, nullptr), BAL_NO_MEMORY);
}

}  // namespace
