// Drawing primitives, pasting and the image record. Positions are worked out
// in 64 bits (the same values as 32-bit arithmetic for every sensible
// coordinate) and loops run only over the part that can be visible.
#include "imaging/bal_draw.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_point_ops.h"
#include "math/zr_trig.h"

namespace {

// A drawing target: writes only pixels inside the image.
struct Canvas {
    uint8_t* img;
    int64_t rows, cols;

    void plot(int64_t x, int64_t y, uint8_t v) const {
        if (x >= 0 && y >= 0 && x < cols && y < rows) img[y * cols + x] = v;
    }
    // Row y from x = a to x = b inclusive.
    void hline(int64_t y, int64_t a, int64_t b, uint8_t v) const {
        if (y < 0 || y >= rows) return;
        a = std::max<int64_t>(a, 0);
        b = std::min<int64_t>(b, cols - 1);
        for (int64_t x = a; x <= b; ++x) img[y * cols + x] = v;
    }
    // Column x from y = a to y = b inclusive.
    void vline(int64_t x, int64_t a, int64_t b, uint8_t v) const {
        if (x < 0 || x >= cols) return;
        a = std::max<int64_t>(a, 0);
        b = std::min<int64_t>(b, rows - 1);
        for (int64_t y = a; y <= b; ++y) img[y * cols + x] = v;
    }
};

Canvas canvas(uint8_t* img, int32_t rows, int32_t cols) {
    // A negative side is an empty image.
    return {img, std::max<int64_t>(rows, 0), std::max<int64_t>(cols, 0)};
}

// Largest byte count of an image record's pixels: offsets are signed 32-bit.
constexpr uint64_t kMaxImageBytes = INT32_MAX;

bal_image* allocate_image(uint32_t rows, uint32_t cols, uint32_t bytes_per_pixel, uint32_t row_stride) {
    const uint64_t bytes = static_cast<uint64_t>(rows) * row_stride;
    if (bytes > kMaxImageBytes) return nullptr;
    auto* image = static_cast<bal_image*>(std::malloc(sizeof(bal_image) + static_cast<size_t>(bytes)));
    if (!image) return nullptr;
    image->data = reinterpret_cast<uint8_t*>(image + 1);
    image->rows = rows;
    image->cols = cols;
    image->row_stride = row_stride;
    image->bytes_per_pixel = bytes_per_pixel;
    return image;
}

// Digit glyphs of 4 x 7 pixels: codes 4 * row + column, -1 past the count.
constexpr int32_t kGlyphCodes[10][14] = {
    {1, 2, 4, 7, 8, 11, 12, 15, 16, 19, 20, 23, 25, 26},
    {2, 5, 6, 10, 14, 18, 22, 24, 25, 26, 27, -1, -1, -1},
    {1, 2, 4, 7, 11, 14, 17, 20, 24, 25, 26, 27, -1, -1},
    {1, 2, 4, 7, 11, 14, 16, 19, 20, 23, 25, 26, -1, -1},
    {3, 6, 7, 9, 11, 12, 15, 16, 17, 18, 19, 23, 27, -1},
    {0, 1, 2, 3, 4, 8, 13, 14, 19, 23, 24, 25, 26, -1},
    {1, 2, 4, 7, 8, 12, 13, 14, 16, 19, 20, 23, 25, 26},
    {0, 1, 2, 3, 7, 10, 13, 17, 21, 25, -1, -1, -1, -1},
    {1, 2, 4, 7, 8, 11, 13, 14, 16, 19, 20, 23, 25, 26},
    {1, 2, 4, 7, 8, 11, 13, 14, 15, 19, 20, 23, 25, 26},
};
constexpr int32_t kGlyphCounts[10] = {14, 11, 12, 12, 13, 13, 14, 10, 14, 14};

void draw_glyph(const Canvas& cv, uint32_t digit, int64_t x, int64_t y, uint8_t fg, uint8_t bg) {
    for (int64_t row = y - 1; row <= y + 7; ++row) cv.hline(row, x - 1, x + 4, bg);
    for (int32_t i = 0; i < kGlyphCounts[digit]; ++i) {
        const int32_t p = kGlyphCodes[digit][i];
        cv.plot(x + p % 4, y + p / 4, fg);
    }
}

// Source index range [first, last] of one axis that lands inside the
// destination; empty when first > last.
struct Span {
    int64_t first, last;
};
Span visible_span(int64_t src_len, int64_t dst_len, int64_t offset) {
    const int64_t first = std::max<int64_t>(0, -offset);
    const int64_t last = offset + src_len < dst_len ? src_len - 1 : dst_len - offset - 1;
    return {first, last};
}

template <typename Combine>
void place_image(uint8_t* dst, uint16_t dst_rows, uint16_t dst_cols, const uint8_t* src, uint16_t src_rows,
                 uint16_t src_cols, int32_t col_offset, int32_t row_offset, int16_t transparent, Combine combine) {
    const Span rs = visible_span(src_rows, dst_rows, row_offset);
    const Span cs = visible_span(src_cols, dst_cols, col_offset);
    if (rs.first > rs.last || cs.first > cs.last) return;
    const bool keyed = transparent >= 0 && transparent <= 255;
    for (int64_t r = rs.first; r <= rs.last; ++r) {
        const uint8_t* s = src + r * src_cols;
        uint8_t* d = dst + (r + row_offset) * dst_cols;
        for (int64_t c = cs.first; c <= cs.last; ++c) {
            if (keyed && s[c] == transparent) continue;
            uint8_t& out = d[c + col_offset];
            out = combine(out, s[c]);
        }
    }
}

// Arm of a singular point: up to 16 pixels from (c, r) in the direction b.
void draw_arm(const Canvas& cv, int32_t c, int32_t r, int32_t b) {
    const int32_t a = static_cast<int32_t>(static_cast<int64_t>(b) * 205887 / 128);
    const int32_t cosine = static_cast<int16_t>(zr_cos_14(a));
    const int32_t sine = static_cast<int16_t>(zr_sin_14(a));
    bal_image_draw_line(cv.img, static_cast<int32_t>(cv.rows), static_cast<int32_t>(cv.cols), c, r, c + cosine / 1024,
                        r - sine / 1024, 0);
}

}  // namespace

bal_image* bal_image_create(int32_t rows, int32_t cols, int32_t bytes_per_pixel) {
    if (rows < 0 || cols < 0 || bytes_per_pixel < 0) return nullptr;
    const uint64_t stride = static_cast<uint64_t>(cols) * static_cast<uint64_t>(bytes_per_pixel);
    if (stride > kMaxImageBytes) return nullptr;
    return allocate_image(static_cast<uint32_t>(rows), static_cast<uint32_t>(cols),
                          static_cast<uint32_t>(bytes_per_pixel), static_cast<uint32_t>(stride));
}

bal_image* bal_image_create_ex(int32_t rows, int32_t cols, int32_t bytes_per_pixel, int32_t row_stride) {
    if (rows < 0 || cols < 0 || bytes_per_pixel < 0) return nullptr;
    const int64_t min_stride = static_cast<int64_t>(cols) * bytes_per_pixel;
    if (row_stride < min_stride) return nullptr;
    return allocate_image(static_cast<uint32_t>(rows), static_cast<uint32_t>(cols),
                          static_cast<uint32_t>(bytes_per_pixel), static_cast<uint32_t>(row_stride));
}

void bal_image_clear(bal_image* image) {
    std::memset(image->data, 0, static_cast<size_t>(image->rows) * image->row_stride);
}

void bal_image_delete(bal_image* image) { std::free(image); }

uint32_t bal_image_offset(const bal_image* image, uint32_t row, uint32_t col) {
    return row * image->row_stride + col * image->bytes_per_pixel;
}

uint8_t* bal_image_ptr(const bal_image* image, uint32_t row, uint32_t col) {
    return image->data + static_cast<int32_t>(bal_image_offset(image, row, col));
}

void bal_image_draw_line(uint8_t* img, int32_t rows, int32_t cols, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                         uint8_t value) {
    const Canvas cv = canvas(img, rows, cols);
    cv.plot(x0, y0, value);
    cv.plot(x1, y1, value);
    if (y0 > y1) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const int64_t dx = int64_t{x1} - x0, dy = int64_t{y1} - y0;
    if (dx == 0 && dy == 0) return;
    if (dy > std::abs(dx)) {
        // Steep: one pixel a row; only rows inside the image can show.
        const int64_t k_first = std::max<int64_t>(1, -int64_t{y0});
        const int64_t k_last = std::min<int64_t>(dy - 1, cv.rows - 1 - y0);
        for (int64_t k = k_first; k <= k_last; ++k) cv.plot(x0 + k * dx / dy, y0 + k, value);
    } else if (dx > 0) {
        const int64_t k_first = std::max<int64_t>(1, -int64_t{x0});
        const int64_t k_last = std::min<int64_t>(dx - 1, cv.cols - 1 - x0);
        for (int64_t k = k_first; k <= k_last; ++k) cv.plot(x0 + k, y0 + k * dy / dx, value);
    } else {
        const int64_t m = -dx;
        const int64_t k_first = std::max<int64_t>(1, int64_t{x0} - (cv.cols - 1));
        const int64_t k_last = std::min<int64_t>(m - 1, x0);
        for (int64_t k = k_first; k <= k_last; ++k) cv.plot(x0 - k, y0 + k * dy / m, value);
    }
}

void bal_image_draw_triangle(uint8_t* img, int32_t rows, int32_t cols, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                             int32_t x2, int32_t y2, uint8_t value) {
    bal_image_draw_line(img, rows, cols, x0, y0, x1, y1, value);
    bal_image_draw_line(img, rows, cols, x1, y1, x2, y2, value);
    bal_image_draw_line(img, rows, cols, x2, y2, x0, y0, value);
}

void bal_image_draw_rectangle(uint8_t* img, int32_t rows, int32_t cols, int32_t x, int32_t y, uint32_t width,
                              uint32_t height, uint8_t value) {
    if (width == 0 || height == 0) return;
    const Canvas cv = canvas(img, rows, cols);
    const int64_t right = int64_t{x} + width - 1;
    const int64_t bottom = int64_t{y} + height - 1;
    cv.hline(y, x, right, value);
    cv.hline(bottom, x, right, value);
    if (height >= 3) {
        cv.vline(x, int64_t{y} + 1, bottom - 1, value);
        cv.vline(right, int64_t{y} + 1, bottom - 1, value);
    }
}

void bal_image_draw_circle(uint8_t* img, int32_t rows, int32_t cols, uint32_t diameter, int32_t x, int32_t y,
                           uint32_t value) {
    const Canvas cv = canvas(img, rows, cols);
    const uint8_t v = static_cast<uint8_t>(value);
    const int64_t d = diameter;
    if (d == 0) return;
    if (d == 1) {
        cv.plot(x, y, v);
        return;
    }
    if (d == 2) {
        cv.hline(y, x, int64_t{x} + 1, v);
        cv.hline(int64_t{y} + 1, x, int64_t{x} + 1, v);
        return;
    }
    static constexpr int64_t kSideTweak[4] = {0, 0, 1, -1};
    auto even = [](int64_t n) -> int64_t { return n % 2 == 0 ? 1 : 0; };
    const int64_t side = d / 2 + kSideTweak[(d - 3) % 4];
    const int64_t c = (d + 2 - side) / 2;
    const int64_t left = x - d / 2 + even(d);
    const int64_t top = y - d / 2 + even(d);
    const int64_t hs = x - side / 2 + even(side);
    const int64_t vs = y - side / 2 + even(side);

    cv.hline(top, hs, hs + side - 1, v);
    cv.hline(top + d - 1, hs, hs + side - 1, v);
    cv.vline(left, vs, vs + side - 1, v);
    cv.vline(left + d - 1, vs, vs + side - 1, v);
    // Corner steps i = 0 .. c - 3, walked only where their column can be
    // inside the image: the left corners at column left + 1 + i, the right
    // ones at column left + d - 2 - i.
    const int64_t last_step = c - 3;
    const int64_t left_first = std::max<int64_t>(0, -left - 1);
    const int64_t left_last = std::min<int64_t>(last_step, cv.cols - left - 2);
    for (int64_t i = left_first; i <= left_last; ++i) {
        cv.plot(left + 1 + i, vs - 1 - i, v);
        cv.plot(left + 1 + i, vs + side + i, v);
    }
    const int64_t right_first = std::max<int64_t>(0, left + d - 1 - cv.cols);
    const int64_t right_last = std::min<int64_t>(last_step, left + d - 2);
    for (int64_t i = right_first; i <= right_last; ++i) {
        cv.plot(left + d - 2 - i, vs - 1 - i, v);
        cv.plot(left + d - 2 - i, vs + side + i, v);
    }
}

void bal_image_draw_number(uint8_t* img, int32_t rows, int32_t cols, int32_t number, uint8_t min_digits, int32_t x,
                           int32_t y, uint32_t colour) {
    const Canvas cv = canvas(img, rows, cols);
    const uint8_t fg = static_cast<uint8_t>(colour);
    const uint8_t bg = static_cast<uint8_t>(~fg);
    int64_t pos = x;
    int64_t magnitude = number;
    if (number < 0) {
        for (int64_t row = int64_t{y} + 2; row <= int64_t{y} + 4; ++row) cv.hline(row, pos, pos + 3, bg);
        cv.plot(pos + 1, int64_t{y} + 3, fg);
        cv.plot(pos + 2, int64_t{y} + 3, fg);
        magnitude = -magnitude;
        pos += 5;
    }
    // Nine digit positions; a tenth only for magnitudes from 10^9 up.
    int32_t positions = magnitude >= 1000000000 ? 10 : 9;
    int64_t place = 1;
    for (int32_t k = 1; k < positions; ++k) place *= 10;
    bool drawn = false;
    for (int32_t k = positions; k >= 1; --k, place /= 10) {
        const int64_t q = magnitude / place;
        if (!(q > 0 || drawn || k <= min_digits)) continue;
        draw_glyph(cv, static_cast<uint32_t>(q), pos, y, fg, bg);
        drawn = true;
        magnitude -= q * place;
        pos += 5;
    }
}

void bal_image_draw_image(uint8_t* dst, uint16_t dst_rows, uint16_t dst_cols, const uint8_t* src, uint16_t src_rows,
                          uint16_t src_cols, int32_t col_offset, int32_t row_offset, int16_t transparent) {
    place_image(dst, dst_rows, dst_cols, src, src_rows, src_cols, col_offset, row_offset, transparent,
                [](uint8_t, uint8_t s) { return s; });
}

void bal_image_blend_image(uint8_t* dst, uint16_t dst_rows, uint16_t dst_cols, const uint8_t* src, uint16_t src_rows,
                           uint16_t src_cols, int32_t col_offset, int32_t row_offset, int16_t transparent) {
    place_image(dst, dst_rows, dst_cols, src, src_rows, src_cols, col_offset, row_offset, transparent,
                [](uint8_t d, uint8_t s) { return static_cast<uint8_t>((d + s) / 2); });
}

void bal_visualize_singularities(const uint8_t* img, uint32_t rows, uint32_t cols, const bal_singularity* points,
                                 uint32_t count, uint8_t** out) {
    const uint64_t n = static_cast<uint64_t>(rows) * cols;
    *out = nullptr;
    if (rows > INT32_MAX || cols > INT32_MAX || n > INT32_MAX) return;
    auto* pic = static_cast<uint8_t*>(std::malloc(n ? static_cast<size_t>(n) : 1));
    if (!pic) return;
    std::memcpy(pic, img, static_cast<size_t>(n));
    const int32_t r32 = static_cast<int32_t>(rows), c32 = static_cast<int32_t>(cols);
    bal_image_brighten(pic, r32, c32, 50, pic);
    const Canvas cv = canvas(pic, r32, c32);
    for (uint32_t i = 0; i < count && cols != 0; ++i) {
        const int32_t r = static_cast<int32_t>(points[i].index / cols);
        const int32_t c = static_cast<int32_t>(points[i].index % cols);
        bal_image_draw_circle(pic, r32, c32, 5, c, r, 0);
        const int32_t b = points[i].direction;
        draw_arm(cv, c, r, b);
        if (points[i].kind == 255) {
            draw_arm(cv, c, r, b + 85);
            draw_arm(cv, c, r, b + 170);
        }
    }
    *out = pic;
}
