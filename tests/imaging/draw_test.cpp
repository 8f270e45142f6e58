// Drawing and the image record: the stated shapes, clipping checked against
// the same shape drawn on a larger canvas, and the record's size checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "imaging/bal_draw.h"
#include "math/zr_trig.h"

namespace {

using Pixels = std::set<std::pair<int32_t, int32_t>>;  // (x, y)

struct Canvas {
    int32_t rows, cols;
    std::vector<uint8_t> px;
    Canvas(int32_t r, int32_t c, uint8_t fill = 0) : rows(r), cols(c), px(size_t(r) * size_t(c), fill) {}
    uint8_t at(int32_t x, int32_t y) const { return px[size_t(y) * cols + x]; }
    Pixels with(uint8_t v) const {
        Pixels out;
        for (int32_t y = 0; y < rows; ++y)
            for (int32_t x = 0; x < cols; ++x)
                if (at(x, y) == v) out.insert({x, y});
        return out;
    }
};

Pixels rect_pixels(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    Pixels out;
    for (int32_t y = y0; y <= y1; ++y)
        for (int32_t x = x0; x <= x1; ++x) out.insert({x, y});
    return out;
}

// Draws with `draw(img, rows, cols, dx, dy)` on a small canvas and, shifted by
// the margin, on a larger one: the small one must be the large one's middle.
void expect_clipped(const std::function<void(uint8_t*, int32_t, int32_t, int32_t, int32_t)>& draw,
                    const std::string& what) {
    const int32_t rows = 12, cols = 10, margin = 40;
    Canvas small(rows, cols), large(rows + 2 * margin, cols + 2 * margin);
    draw(small.px.data(), rows, cols, 0, 0);
    draw(large.px.data(), large.rows, large.cols, margin, margin);
    for (int32_t y = 0; y < rows; ++y)
        for (int32_t x = 0; x < cols; ++x)
            ASSERT_EQ(small.at(x, y), large.at(x + margin, y + margin)) << what << " at " << x << "," << y;
}

TEST(DrawLine, StatedPixelsInBothDirections) {
    const Pixels want = {{0, 0}, {1, 0}, {2, 0}, {3, 1}, {4, 1}, {5, 2}};
    Canvas a(6, 8), b(6, 8);
    bal_image_draw_line(a.px.data(), 6, 8, 0, 0, 5, 2, 9);
    bal_image_draw_line(b.px.data(), 6, 8, 5, 2, 0, 0, 9);
    EXPECT_EQ(a.with(9), want);
    EXPECT_EQ(b.with(9), want);
    Canvas dot(6, 8);
    bal_image_draw_line(dot.px.data(), 6, 8, 3, 4, 3, 4, 9);
    EXPECT_EQ(dot.with(9), (Pixels{{3, 4}}));
}

TEST(DrawLine, HasOnePixelPerStepOfTheLongerAxisAndClips) {
    std::mt19937 rng(11);
    for (int i = 0; i < 400; ++i) {
        const int32_t x0 = int32_t(rng() % 40), y0 = int32_t(rng() % 40), x1 = int32_t(rng() % 40),
                      y1 = int32_t(rng() % 40);
        Canvas c(40, 40), r(40, 40);
        bal_image_draw_line(c.px.data(), 40, 40, x0, y0, x1, y1, 1);
        bal_image_draw_line(r.px.data(), 40, 40, x1, y1, x0, y0, 1);
        const Pixels p = c.with(1);
        ASSERT_EQ(p.size(), size_t(std::max(std::abs(x1 - x0), std::abs(y1 - y0)) + 1));
        ASSERT_EQ(p, r.with(1));
        // Each pixel advances the longer axis by exactly one.
        std::set<int32_t> major;
        for (auto [x, y] : p) major.insert(std::abs(y1 - y0) > std::abs(x1 - x0) ? y : x);
        ASSERT_EQ(major.size(), p.size());
        const int32_t sx = x0 - 25, sy = y0 - 20, ex = x1 - 25, ey = y1 - 20;
        expect_clipped([&](uint8_t* img, int32_t rows, int32_t cols, int32_t dx,
                           int32_t dy) { bal_image_draw_line(img, rows, cols, sx + dx, sy + dy, ex + dx, ey + dy, 1); },
                       "line");
    }
    // Far outside: nothing drawn, and no long loop.
    Canvas c(10, 10);
    bal_image_draw_line(c.px.data(), 10, 10, -2000000000, 5, 2000000000, 7, 1);
    EXPECT_EQ(c.with(1).size(), 10u);
    bal_image_draw_line(c.px.data(), 10, 10, 5, -2000000000, 6, -1999999000, 3);
    EXPECT_TRUE(c.with(3).empty());
}

TEST(DrawShapes, RectangleOutlines) {
    Canvas c(6, 7);
    bal_image_draw_rectangle(c.px.data(), 6, 7, 1, 1, 4, 3, 5);
    Pixels want = rect_pixels(1, 1, 4, 1);
    for (auto p : rect_pixels(1, 3, 4, 3)) want.insert(p);
    want.insert({1, 2});
    want.insert({4, 2});
    EXPECT_EQ(c.with(5), want);
    for (uint32_t h : {1u, 2u}) {
        Canvas t(6, 7);
        bal_image_draw_rectangle(t.px.data(), 6, 7, 1, 1, 4, h, 5);
        EXPECT_EQ(t.with(5), rect_pixels(1, 1, 4, int32_t(h)));
    }
    for (auto [w, h] : {std::pair{0u, 3u}, std::pair{3u, 0u}}) {
        Canvas t(6, 7);
        bal_image_draw_rectangle(t.px.data(), 6, 7, 1, 1, w, h, 5);
        EXPECT_TRUE(t.with(5).empty());
    }
    expect_clipped([](uint8_t* img, int32_t rows, int32_t cols, int32_t dx,
                      int32_t dy) { bal_image_draw_rectangle(img, rows, cols, -3 + dx, 2 + dy, 20, 30, 1); },
                   "rectangle");
}

TEST(DrawShapes, CirclesOfStatedDiameters) {
    Canvas c5(20, 20);
    bal_image_draw_circle(c5.px.data(), 20, 20, 5, 8, 8, 0x1FF);  // low byte drawn
    Pixels want5 = rect_pixels(7, 6, 9, 6);
    for (auto p : rect_pixels(7, 10, 9, 10)) want5.insert(p);
    for (auto p : rect_pixels(6, 7, 6, 9)) want5.insert(p);
    for (auto p : rect_pixels(10, 7, 10, 9)) want5.insert(p);
    EXPECT_EQ(c5.with(0xFF), want5);

    Canvas c6(20, 20);
    bal_image_draw_circle(c6.px.data(), 20, 20, 6, 8, 8, 3);
    Pixels want6 = {{8, 6}, {9, 6}, {8, 11}, {9, 11}, {6, 8}, {6, 9}, {11, 8}, {11, 9},
                    {7, 7}, {10, 7}, {7, 10}, {10, 10}};
    EXPECT_EQ(c6.with(3), want6);

    const Pixels none = Canvas(4, 4).with(1);
    for (auto [d, want] : {std::pair<uint32_t, Pixels>{0, none}, {1, {{1, 1}}}, {2, rect_pixels(1, 1, 2, 2)}}) {
        Canvas c(4, 4);
        bal_image_draw_circle(c.px.data(), 4, 4, d, 1, 1, 1);
        EXPECT_EQ(c.with(1), want) << d;
    }
    // Sizes 3 to 12: a d x d outline with straight sides of the stated length.
    const int32_t side[] = {1, 2, 3, 2, 3, 4, 5, 4, 5, 6};
    for (uint32_t d = 3; d <= 12; ++d) {
        Canvas c(30, 30);
        bal_image_draw_circle(c.px.data(), 30, 30, d, 15, 15, 1);
        const Pixels p = c.with(1);
        int32_t top = 99, bottom = -1, left = 99, right = -1, top_run = 0;
        for (auto [x, y] : p) {
            top = std::min(top, y), bottom = std::max(bottom, y), left = std::min(left, x), right = std::max(right, x);
        }
        for (auto [x, y] : p) top_run += y == top;
        EXPECT_EQ(bottom - top + 1, int32_t(d)) << d;
        EXPECT_EQ(right - left + 1, int32_t(d)) << d;
        EXPECT_EQ(top_run, side[d - 3]) << d;
    }
    expect_clipped([](uint8_t* img, int32_t rows, int32_t cols, int32_t dx,
                      int32_t dy) { bal_image_draw_circle(img, rows, cols, 17, 1 + dx, 9 + dy, 1); },
                   "circle");
    // Huge diameters stay cheap and clip: around the middle of the image the
    // whole outline lies outside it; moved right by half the diameter, its
    // left side crosses the image as one full column.
    for (uint32_t d : {0xFFFFFFFFu, 3000000001u}) {
        Canvas big(10, 10);
        bal_image_draw_circle(big.px.data(), 10, 10, d, 5, 5, 1);
        EXPECT_TRUE(big.with(1).empty()) << d;
    }
    Canvas edge(10, 10);
    bal_image_draw_circle(edge.px.data(), 10, 10, 0xFFFFFFFFu, INT32_MAX, 5, 1);  // left = 0
    EXPECT_EQ(edge.with(1), rect_pixels(0, 0, 0, 9));
    Canvas edge2(10, 10);
    bal_image_draw_circle(edge2.px.data(), 10, 10, 3000000001u, 1500000002, 5, 1);  // left = 2
    EXPECT_EQ(edge2.with(1), rect_pixels(2, 0, 2, 9));
}

// Glyph pixels of a digit whose top-left pixel is (x, y).
Pixels glyph(int digit, int32_t x, int32_t y) {
    static const std::vector<std::vector<int>> codes = {
        {1, 2, 4, 7, 8, 11, 12, 15, 16, 19, 20, 23, 25, 26},  {2, 5, 6, 10, 14, 18, 22, 24, 25, 26, 27},
        {1, 2, 4, 7, 11, 14, 17, 20, 24, 25, 26, 27},         {1, 2, 4, 7, 11, 14, 16, 19, 20, 23, 25, 26},
        {3, 6, 7, 9, 11, 12, 15, 16, 17, 18, 19, 23, 27},     {0, 1, 2, 3, 4, 8, 13, 14, 19, 23, 24, 25, 26},
        {1, 2, 4, 7, 8, 12, 13, 14, 16, 19, 20, 23, 25, 26},  {0, 1, 2, 3, 7, 10, 13, 17, 21, 25},
        {1, 2, 4, 7, 8, 11, 13, 14, 16, 19, 20, 23, 25, 26},  {1, 2, 4, 7, 8, 11, 13, 14, 15, 19, 20, 23, 25, 26},
    };
    Pixels out;
    for (int p : codes[size_t(digit)]) out.insert({x + p % 4, y + p / 4});
    return out;
}

TEST(DrawNumber, DigitsInBoxesWithLeadingZeros) {
    Canvas c(30, 40, 100);
    bal_image_draw_number(c.px.data(), 30, 40, 7, 3, 10, 10, 0x0100 | 200);
    Pixels fg = glyph(0, 10, 10);
    for (auto p : glyph(0, 15, 10)) fg.insert(p);
    for (auto p : glyph(7, 20, 10)) fg.insert(p);
    EXPECT_EQ(c.with(200), fg);
    Pixels box = rect_pixels(9, 9, 24, 17);
    for (auto p : fg) box.erase(p);
    EXPECT_EQ(c.with(255 - 200), box);
    EXPECT_EQ(c.with(100).size(), size_t(30 * 40) - rect_pixels(9, 9, 24, 17).size());

    Canvas m(30, 40, 100);
    bal_image_draw_number(m.px.data(), 30, 40, -42, 0, 10, 10, 0);
    Pixels want_fg = {{11, 13}, {12, 13}};
    for (auto p : glyph(4, 15, 10)) want_fg.insert(p);
    for (auto p : glyph(2, 20, 10)) want_fg.insert(p);
    EXPECT_EQ(m.with(0), want_fg);
    Pixels want_bg = rect_pixels(10, 12, 13, 14);
    for (auto p : rect_pixels(14, 9, 24, 17)) want_bg.insert(p);
    for (auto p : want_fg) want_bg.erase(p);
    EXPECT_EQ(m.with(255), want_bg);

    Canvas z(20, 20, 100);
    bal_image_draw_number(z.px.data(), 20, 20, 0, 0, 5, 5, 0);
    EXPECT_EQ(z.with(100).size(), 400u);
    bal_image_draw_number(z.px.data(), 20, 20, 0, 1, 5, 5, 0);
    EXPECT_EQ(z.with(0), glyph(0, 5, 5));
}

TEST(DrawNumber, EveryDigitAndTheLargestMagnitudes) {
    Canvas c(12, 60, 100);
    bal_image_draw_number(c.px.data(), 12, 60, 123456789, 0, 1, 2, 0);
    Pixels want;
    for (int d = 1; d <= 9; ++d)
        for (auto p : glyph(d, 1 + 5 * (d - 1), 2)) want.insert(p);
    EXPECT_EQ(c.with(0), want);
    Canvas z(12, 60, 100);
    bal_image_draw_number(z.px.data(), 12, 60, 0, 12, 1, 2, 0);  // at most nine places
    want.clear();
    for (int k = 0; k < 9; ++k)
        for (auto p : glyph(0, 1 + 5 * k, 2)) want.insert(p);
    EXPECT_EQ(z.with(0), want);
    // Ten digits from 10^9 on, the smallest i32 included, clipped on the right.
    Canvas w(12, 60, 100);
    bal_image_draw_number(w.px.data(), 12, 60, INT32_MIN, 0, 1, 2, 0);
    want = {{2, 5}, {3, 5}};
    for (auto p : glyph(2, 6, 2)) want.insert(p);
    for (auto p : glyph(1, 11, 2)) want.insert(p);
    Pixels first_two;
    for (auto p : w.with(0))
        if (p.first < 16) first_two.insert(p);
    EXPECT_EQ(first_two, want);
    expect_clipped([](uint8_t* img, int32_t rows, int32_t cols, int32_t dx,
                      int32_t dy) { bal_image_draw_number(img, rows, cols, -9081726, 0, -7 + dx, 6 + dy, 17); },
                   "number");
}

TEST(PlaceImage, CopyBlendAndTransparency) {
    std::vector<uint8_t> src(100);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i);
    std::vector<uint8_t> dst(25, 0);
    bal_image_draw_image(dst.data(), 5, 5, src.data(), 10, 10, -3, -3, -1);
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) EXPECT_EQ(dst[size_t(r) * 5 + c], (r + 3) * 10 + c + 3);

    // Placed against the destination's edges, out of reach, and partly in.
    std::mt19937 rng(4);
    for (int i = 0; i < 300; ++i) {
        const int32_t ro = int32_t(rng() % 30) - 15, co = int32_t(rng() % 30) - 15;
        std::vector<uint8_t> d(64, 1);
        bal_image_draw_image(d.data(), 8, 8, src.data(), 10, 10, co, ro, 300);
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) {
                const int sr = r - ro, sc = c - co;
                const bool covered = sr >= 0 && sr < 10 && sc >= 0 && sc < 10;
                ASSERT_EQ(d[size_t(r) * 8 + c], covered ? src[size_t(sr) * 10 + sc] : 1) << ro << "," << co;
            }
    }

    const uint8_t white = 255;
    uint8_t black = 0;
    bal_image_blend_image(&black, 1, 1, &white, 1, 1, 0, 0, -1);
    EXPECT_EQ(black, 127);
    black = 0;
    bal_image_blend_image(&black, 1, 1, &white, 1, 1, 0, 0, 255);
    EXPECT_EQ(black, 0);
    uint8_t d = 9;
    bal_image_draw_image(&d, 1, 1, &white, 1, 1, 0, 0, 256);
    EXPECT_EQ(d, 255);
}

TEST(ImageRecord, CreateRefusesBadSizesAndOverflow) {
    bal_image* img = bal_image_create(176, 96, 1);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->rows, 176u);
    EXPECT_EQ(img->cols, 96u);
    EXPECT_EQ(img->row_stride, 96u);
    EXPECT_EQ(img->bytes_per_pixel, 1u);
    EXPECT_EQ(img->data, reinterpret_cast<uint8_t*>(img + 1));
    bal_image_clear(img);
    for (uint32_t i = 0; i < 176 * 96; ++i) ASSERT_EQ(img->data[i], 0);
    EXPECT_EQ(bal_image_offset(img, 2, 3), 2u * 96 + 3);
    EXPECT_EQ(bal_image_ptr(img, 175, 95), img->data + 175 * 96 + 95);
    bal_image_delete(img);
    bal_image_delete(nullptr);

    bal_image* ex = bal_image_create_ex(10, 7, 2, 16);
    ASSERT_NE(ex, nullptr);
    EXPECT_EQ(ex->row_stride, 16u);
    EXPECT_EQ(bal_image_offset(ex, 3, 5), 3u * 16 + 5 * 2);
    bal_image_clear(ex);
    bal_image_delete(ex);
    bal_image* empty = bal_image_create(0, 0, 0);
    ASSERT_NE(empty, nullptr);
    bal_image_delete(empty);

    struct Bad {
        int32_t rows, cols, bpp, stride;
    };
    const Bad bad[] = {
        {-1, 4, 1, 4},                 // negative sizes
        {4, -1, 1, 4},
        {4, 4, -1, 4},
        {4, 7, 2, 13},                 // stride below cols x bytes per pixel
        {4, 7, 2, -1},
        {65536, 65536, 1, 65536},      // rows x stride beyond 31 bits
        {2, 0x40000000, 4, INT32_MAX}, // cols x bytes per pixel wraps in 32 bits
        {0x7FFFFFFF, 3, 1, 3},
    };
    for (const Bad& b : bad) {
        EXPECT_EQ(bal_image_create_ex(b.rows, b.cols, b.bpp, b.stride), nullptr) << b.rows << " " << b.cols;
        if (b.rows < 0 || b.cols < 0 || b.bpp < 0 || int64_t{b.stride} == int64_t{b.cols} * b.bpp ||
            b.cols == 0x40000000) {
            EXPECT_EQ(bal_image_create(b.rows, b.cols, b.bpp), nullptr) << b.rows << " " << b.cols;
        }
    }
    EXPECT_EQ(bal_image_create(3, 0x40000000, 4), nullptr);  // 2^32 bytes a row wraps to 0
    EXPECT_EQ(bal_image_create(0x10000, 0x8000, 1), nullptr);
}

TEST(Singularities, BrightenedCopyWithCirclesAndArms) {
    const uint32_t rows = 40, cols = 50;
    std::vector<uint8_t> img(rows * cols, 100);
    const bal_singularity points[2] = {{20 * cols + 20, 255, 0, {0, 0}}, {30 * cols + 40, 1, 64, {0, 0}}};
    uint8_t* out = nullptr;
    bal_visualize_singularities(img.data(), rows, cols, points, 2, &out);
    ASSERT_NE(out, nullptr);
    Canvas expected(int32_t(rows), int32_t(cols), 177);  // 100 + (155 * 50) / 100
    bal_image_draw_circle(expected.px.data(), 40, 50, 5, 20, 20, 0);
    bal_image_draw_circle(expected.px.data(), 40, 50, 5, 40, 30, 0);
    auto arm = [&](int32_t c, int32_t r, int32_t b) {
        const int32_t a = b * 205887 / 128;
        const int32_t ex = c + int16_t(zr_cos_14(a)) / 1024, ey = r - int16_t(zr_sin_14(a)) / 1024;
        bal_image_draw_line(expected.px.data(), 40, 50, c, r, ex, ey, 0);
    };
    arm(20, 20, 0);
    arm(20, 20, 85);
    arm(20, 20, 170);
    arm(40, 30, 64);
    EXPECT_EQ(std::vector<uint8_t>(out, out + rows * cols), expected.px);
    // Direction 0 points right 16 pixels; direction 64 points up.
    for (int32_t x = 20; x <= 36; ++x) EXPECT_EQ(out[20 * cols + x], 0) << x;
    for (int32_t y = 14; y <= 30; ++y) EXPECT_EQ(out[y * cols + 40], 0) << y;
    // 85 and 170 (about 120 and 240 degrees) point up-left and down-left:
    // cos 119.5 = -0.492, sin 119.5 = 0.870; cos 239.1 = -0.514, sin 239.1 = -0.858.
    EXPECT_EQ(out[(20 - 13) * cols + 20 - 7], 0);
    EXPECT_EQ(out[(20 + 13) * cols + 20 - 8], 0);
    std::free(out);
}

}  // namespace
