// Image quality and finger presence: the quality score that gates every
// capture, its coherence and condition halves, the pixel quality image and its
// zonal field, and the object layer's capture measures (signal-to-noise,
// dynamic range, sharpness, difference of two captures, part to white).
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"
#include "imaging/zr_zonal_quality_field.h"

// Quality 1..100 (0: no finger or not measured), finger area in pixels and
// condition (percentage of bright interior pixels). scale 1 = 500 dpi,
// 2 = 250 dpi.
[[nodiscard]] bal_status bal_image_quality_scale(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                 uint8_t* quality, uint32_t* area, uint8_t* condition,
                                                 int32_t scale);
[[nodiscard]] bal_status bal_image_quality(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* quality,
                                           uint32_t* area, uint8_t* condition);

// Quality from the coherence of the finger blocks (computed when null) and
// the finger area scaled to full_rows x full_cols.
[[nodiscard]] bal_status bal_image_quality_qual(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                uint32_t block_rows, uint32_t block_cols, uint32_t block,
                                                const uint8_t* block_mask, const uint8_t* coherence,
                                                uint32_t full_rows, uint32_t full_cols, uint8_t* quality,
                                                uint32_t* area, int32_t scale);

// Percentage of bright pixels in the interior finger blocks. BAL_OK or
// BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_image_quality_cond(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                uint32_t block_rows, uint32_t block_cols, uint32_t block,
                                                const uint8_t* block_mask, uint8_t* condition);

// 1 when the centre of the image holds enough texture for a finger.
uint32_t bal_finger_is_present_scale(const uint8_t* src, uint32_t rows, uint32_t cols,
                                     int32_t scale);
uint32_t bal_finger_is_present(const uint8_t* src, uint32_t rows, uint32_t cols);

[[nodiscard]] bal_status bal_image_quality_signal_to_noise_ratio(const uint8_t* src, uint32_t rows,
                                                                 uint32_t cols, uint32_t resolution,
                                                                 uint8_t* ratio, uint8_t* signal,
                                                                 uint8_t* noise);
[[nodiscard]] bal_status bal_image_dynamic_range(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                 uint32_t resolution, uint8_t* range);
[[nodiscard]] bal_status bal_image_sharpness(const uint8_t* src, uint32_t rows, uint32_t cols,
                                             uint32_t resolution, uint8_t* sharpness);

// Number of positions (in pixels of the image's own resolution) where two
// normalised captures differ by 33 grey levels or more, compared at 250 dpi.
uint32_t bal_image_difference_scale(const uint8_t* a, const uint8_t* b, uint32_t rows,
                                    uint32_t cols, int32_t scale);
uint32_t bal_image_difference(const uint8_t* a, const uint8_t* b, uint32_t rows, uint32_t cols);

// Pixel quality image (0 outside the finger, 1..99 inside) from the block
// reliability field.
[[nodiscard]] bal_status bal_quality_from_reliability(const uint8_t* reliability, const uint8_t* block_mask,
                                                      uint32_t block_rows, uint32_t block_cols, uint32_t block,
                                                      uint8_t* dst, uint32_t rows, uint32_t cols);

// Samples the pixel quality image, placed at (row_offset, col_offset) in a
// full_rows x full_cols frame, at the centres of cell_rows x cell_cols cells.
[[nodiscard]] bal_status bal_quality_image_to_field(const uint8_t* src, uint16_t full_rows, uint16_t full_cols,
                                                    uint16_t src_rows, uint32_t src_cols, uint16_t row_offset,
                                                    uint16_t col_offset, uint8_t cell_rows, uint8_t cell_cols,
                                                    zr_zonal_quality_field* field);

// Copy with all but about (100 - percent) % of the area, a centred
// rectangle, turned white behind a smoothed fade. dst may equal src.
[[nodiscard]] bal_status bal_image_set_part_to_white(const uint8_t* src, uint16_t rows, uint16_t cols,
                                                     uint8_t percent, uint8_t* dst);
