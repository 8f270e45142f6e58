// Drawing on 8-bit grey images (lines, triangles, rectangle outlines, small
// circles, decimal numbers, pasted images, singular points) and the small
// self-contained image record.
//
// Drawing coordinates are (x, y) = (column, row); pixel (x, y) is element
// y * cols + x. Everything outside the image is clipped pixel by pixel, so
// shapes may lie partly or wholly off the image.
#pragma once

#include <cstdint>

// An image record and its pixels in one allocation, the pixels right after
// the record.
struct bal_image {
    uint8_t* data;             // first pixel
    uint32_t rows;
    uint32_t cols;
    uint32_t row_stride;       // bytes from one row to the next
    uint32_t bytes_per_pixel;
};

// A singular point as the singularity finder writes it.
struct bal_singularity {
    uint32_t index;      // row * cols + column
    uint8_t kind;        // 255 marks a three-armed point (a delta)
    uint8_t direction;   // 256 units a full turn
    uint8_t reserved[2];
};
static_assert(sizeof(bal_singularity) == 8);

// New record of rows x cols pixels of bytes_per_pixel bytes, row stride
// cols * bytes_per_pixel, pixels not initialised. Null for negative sizes,
// sizes whose byte count does not fit 31 bits, or missing memory.
bal_image* bal_image_create(int32_t rows, int32_t cols, int32_t bytes_per_pixel);

// The same with a given row stride, which must hold cols * bytes_per_pixel.
bal_image* bal_image_create_ex(int32_t rows, int32_t cols, int32_t bytes_per_pixel, int32_t row_stride);

// Sets rows x row stride pixel bytes to 0.
void bal_image_clear(bal_image* image);

// Frees the record and its pixels; null is ignored.
void bal_image_delete(bal_image* image);

// Byte offset of pixel (row, col): row * row stride + col * bytes per pixel.
uint32_t bal_image_offset(const bal_image* image, uint32_t row, uint32_t col);
uint8_t* bal_image_ptr(const bal_image* image, uint32_t row, uint32_t col);

// A straight line of max(|dx|, |dy|) + 1 pixels from (x0, y0) to (x1, y1).
void bal_image_draw_line(uint8_t* img, int32_t rows, int32_t cols, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                         uint8_t value);

// The lines p0-p1, p1-p2 and p2-p0.
void bal_image_draw_triangle(uint8_t* img, int32_t rows, int32_t cols, int32_t x0, int32_t y0, int32_t x1, int32_t y1,
                             int32_t x2, int32_t y2, uint8_t value);

// Outline of a width x height rectangle whose top-left pixel is (x, y).
// Nothing is drawn when width or height is 0.
void bal_image_draw_rectangle(uint8_t* img, int32_t rows, int32_t cols, int32_t x, int32_t y, uint32_t width,
                              uint32_t height, uint8_t value);

// An octagonal outline `diameter` pixels across around (x, y); for even
// sizes (x, y) is the upper left of the middle four pixels. The low byte of
// value is drawn.
void bal_image_draw_circle(uint8_t* img, int32_t rows, int32_t cols, uint32_t diameter, int32_t x, int32_t y,
                           uint32_t value);

// `number` in decimal in a 4 x 7 font, at least min_digits digits (leading
// zeros), its first character's top-left pixel at (x, y). Each digit sits in a
// 6 x 9 box of the background value (the complement of the colour's low byte).
void bal_image_draw_number(uint8_t* img, int32_t rows, int32_t cols, int32_t number, uint8_t min_digits, int32_t x,
                           int32_t y, uint32_t colour);

// Copies src into dst with source pixel (r, c) landing on
// (r + row_offset, c + col_offset). A transparent value in 0..255 is skipped;
// any other value makes every pixel opaque.
void bal_image_draw_image(uint8_t* dst, uint16_t dst_rows, uint16_t dst_cols, const uint8_t* src, uint16_t src_rows,
                          uint16_t src_cols, int32_t col_offset, int32_t row_offset, int16_t transparent);

// The same, writing the mean (d + s) / 2 of the two pixels.
void bal_image_blend_image(uint8_t* dst, uint16_t dst_rows, uint16_t dst_cols, const uint8_t* src, uint16_t src_rows,
                           uint16_t src_cols, int32_t col_offset, int32_t row_offset, int16_t transparent);

// A new rows x cols image (the caller frees it with free()): img brightened by
// 50 per cent with a circle and an arm per singular point, three arms for a
// delta. *out is null when the image cannot be allocated.
void bal_visualize_singularities(const uint8_t* img, uint32_t rows, uint32_t cols, const bal_singularity* points,
                                 uint32_t count, uint8_t** out);
