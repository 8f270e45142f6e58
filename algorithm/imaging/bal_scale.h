// Resampling of 8-bit images and of block fields: the general bilinear
// resize, reductions by two, block-field up-scaling (plain, cyclic for angles,
// padded) and nearest-neighbour variants for masks.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Resizes src (rows x cols) into dst (dst_rows x dst_cols): a copy at the same
// size, the 2 x 2 mean at exactly half size, otherwise repeated halvings while
// both sides stay above twice the target, then 16.16 bilinear sampling with
// 8-bit weights. Sizes of 0 write nothing.
void bal_scale_bilinear(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst,
                        uint32_t dst_rows, uint32_t dst_cols);

// Halves an image to rows / 2 x cols / 2. The u8 member takes the plain 2 x 2
// mean when both sides are even; otherwise (and always for the other members)
// the image is first smoothed with the 3 x 3 binomial kernel, cut at the
// border. Returns BAL_OK, or BAL_NO_MEMORY when the row buffers cannot be
// allocated.
[[nodiscard]] bal_status bal_scale_down_bilinear_2_uint8(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                         uint8_t* dst);
[[nodiscard]] bal_status bal_scale_down_bilinear_2_int8(const int8_t* src, uint32_t rows, uint32_t cols,
                                                        int8_t* dst);
[[nodiscard]] bal_status bal_scale_down_bilinear_2_uint16(const uint16_t* src, uint32_t rows, uint32_t cols,
                                                          uint16_t* dst);
[[nodiscard]] bal_status bal_scale_down_bilinear_2_int16(const int16_t* src, uint32_t rows, uint32_t cols,
                                                         int16_t* dst);

// Brings a block field (rows x cols, one value a block of block x block
// pixels) to pixels: each value sits at its block's centre, the squares
// between four centres are interpolated bilinearly and the margins repeat the
// nearest interpolated row or column. dst is normally rows * block by
// cols * block; writes are kept inside dst_rows x dst_cols. Fields of fewer
// than 2 rows or columns write nothing.
void bal_scale_up_bilinear_uint8(const uint8_t* field, uint32_t rows, uint32_t cols, int32_t block,
                                 uint8_t* dst, int32_t dst_rows, int32_t dst_cols);
// The same pixels with one division per pixel, column by column: the plain
// form the faster bal_scale_up_bilinear_uint8 is held to.
void bal_scale_up_bilinear_uint8_reference(const uint8_t* field, uint32_t rows, uint32_t cols, int32_t block,
                                           uint8_t* dst, int32_t dst_rows, int32_t dst_cols);
void bal_scale_up_bilinear_int8(const int8_t* field, uint32_t rows, uint32_t cols, int32_t block,
                                int8_t* dst, int32_t dst_rows, int32_t dst_cols);
void bal_scale_up_bilinear_uint16(const uint16_t* field, uint32_t rows, uint32_t cols,
                                  int32_t block, uint16_t* dst, int32_t dst_rows,
                                  int32_t dst_cols);
void bal_scale_up_bilinear_int16(const int16_t* field, uint32_t rows, uint32_t cols, int32_t block,
                                 int16_t* dst, int32_t dst_rows, int32_t dst_cols);
// The same for 8-bit angles: interpolation runs the shorter way around the
// 256-step circle (at a difference of exactly 128 through the wrap).
void bal_scale_up_bilinear_cyclic(const uint8_t* field, uint32_t rows, uint32_t cols,
                                  int32_t block, uint8_t* dst, int32_t dst_rows, int32_t dst_cols);

// Up-scales the field framed by one ring of `pad`, so that the outer blocks
// blend towards pad. Returns BAL_OK, or BAL_NO_MEMORY when a work buffer cannot
// be allocated.
[[nodiscard]] bal_status bal_scale_up_bilinear_pad_uint8(const uint8_t* field, uint32_t rows, uint32_t cols,
                                                         uint32_t block, uint8_t pad, uint8_t* dst,
                                                         uint32_t dst_rows, uint32_t dst_cols);

// dst(i, j) = src(i * rows / dst_rows, j * cols / dst_cols).
void bal_scale_nearest_neighbour_uint8(const uint8_t* src, uint32_t rows, uint32_t cols,
                                       uint8_t* dst, uint32_t dst_rows, uint32_t dst_cols);

// dst(i, j) = src(i * num / den, j * num / den), 0 beyond the source. A den of
// 0 writes nothing.
void bal_scale_blocks_nearest_neighbour(const uint8_t* src, uint32_t rows, uint32_t cols,
                                        uint32_t den, uint8_t* dst, uint32_t dst_rows,
                                        uint32_t dst_cols, uint32_t num);

// Returns a new (rows * block) x (cols * block) image in which every field
// value fills its block, or none when it cannot be allocated (or rows is
// negative). The sizes are stored where the pointers are given. The caller
// frees the image.
uint8_t* bal_scale_up_blocks(const uint8_t* field, int32_t rows, uint32_t cols, uint32_t block,
                             uint32_t* out_rows, uint32_t* out_cols);
