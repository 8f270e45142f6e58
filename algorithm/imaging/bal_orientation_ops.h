// Operations that use an orientation field: smoothing along the ridges, the
// minutia direction check, repair and smoothing of direction fields, the local
// irregularity of a field and a first-octant arctangent.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Mean of nine (resp. median of five) pixels along the ridge through each
// pixel, steered by the pixel orientation bytes. dst may equal src. The mean
// writes rows/columns 3 .. n-4 and nothing when rows or cols < 7; the median
// writes 2 .. n-3 and nothing when rows or cols < 5. Returns BAL_OK or
// BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_oriented_mean(const uint8_t* src, uint32_t rows, uint32_t cols,
                                           const uint8_t* pixel_orientation, uint8_t* dst);
[[nodiscard]] bal_status bal_oriented_median(const uint8_t* src, uint32_t rows, uint32_t cols,
                                             const uint8_t* pixel_orientation, uint8_t* dst);
// The same, pixel by pixel: the reference the vector rows above are held to.
[[nodiscard]] bal_status bal_oriented_mean_reference(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                     const uint8_t* pixel_orientation, uint8_t* dst);
[[nodiscard]] bal_status bal_oriented_median_reference(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                       const uint8_t* pixel_orientation, uint8_t* dst);

// Removes (compacting in place, order kept) the 8-byte minutia records
// {i16 row, i16 col, u8 direction, 3 bytes} whose direction departs from the
// ridge direction at the minutia and 15/scale pixels ahead by more than
// 12 + 3/8 of the bend between them. Returns the new count. Records whose
// position lies outside the image, and every record when scale is 0, are kept.
uint32_t bal_orientation_difference(void* minutiae, uint32_t count,
                                    const uint8_t* pixel_orientation, uint32_t rows, uint32_t cols,
                                    uint8_t scale);

// Weighted 3x3 blur (4-2-1 kernel) of a direction field with its values and
// weights; only blocks inside the mask with a non-zero value change.
// Directions are written as 0..127. Returns BAL_OK or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_orientation_blur_weighted(uint8_t* orientation, uint8_t* values, uint8_t* weights,
                                                       const uint8_t* block_mask, uint32_t block_rows,
                                                       uint32_t block_cols);

// Fills blocks whose value is 0 from their weighted eight neighbours, pass
// after pass, until no empty block is left unfilled, a pass fills nothing or
// changes nothing, or the pass limit is reached. Returns BAL_OK or
// BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_orientation_replace_null_values(uint8_t* orientation, uint8_t* values,
                                                             uint8_t* weights, uint32_t block_rows,
                                                             uint32_t block_cols);

// Replaces a direction (0..127) that departs by more than 20 from the average
// of an agreeing pair of opposite neighbours. The second argument is not read.
// Returns BAL_OK or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_orientation_replace_perpendicular_orientations(uint8_t* field, const void* unused,
                                                                            uint32_t block_rows,
                                                                            uint32_t block_cols);

// 256 - round(256 R) per cell, R the mean resultant length of the doubled-angle
// unit vectors of its 3x3 neighbourhood (0 for a uniform field). Fields smaller
// than 3 x 3 are left unwritten.
void bal_irregularity(const uint8_t* orientation, uint32_t rows, uint32_t cols, uint8_t* out);
void bal_irregularity_dx_dy(const int16_t* dx, const int16_t* dy, uint32_t rows, uint32_t cols,
                            uint8_t* out);

// Approximate atan(num / den) in 1/256 turns for 0 <= num <= den (0 .. 32);
// den 0 gives 0 when num <= 0, else 32.
int32_t arctan45(int32_t den, int32_t num);
