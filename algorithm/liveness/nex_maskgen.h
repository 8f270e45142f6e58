// Liveness mask generation: turns a grey fingerprint image into a label image
// of the same size whose main fingerprint region carries thinned skeletons of
// the dark and the bright lines.
//
// Labels (one byte a pixel): 0 background (outside the main region, a block
// without orientation, or the one-pixel border of the processed image), 1
// inside the region and thinned away, 3 dark skeleton (bit 1 set), 5 bright
// skeleton (bit 2 set).
#pragma once

#include <cstdint>

// Mask labels.
constexpr uint8_t kNexMaskBackground = 0;
constexpr uint8_t kNexMaskRegion = 1;
constexpr uint8_t kNexMaskDark = 3;
constexpr uint8_t kNexMaskBright = 5;

// Highest processing resolution; above it the image is decimated by
// k = (dpi + 400) / 500 and the mask expanded back.
constexpr int32_t kNexMaxMaskDpi = 600;

// Rewrites `work` (rows x cols grey bytes) in place into the liveness mask.
// The three block maps hold at least ceil(rows / 16) x ceil(cols / 16) bytes
// each; their content on entry does not matter and on return they hold
// working values (smoothed orientation of the main region, ridge-period
// codes, smoothed coherence of the processed grid). block_rows and
// block_cols are ceil(rows / 16) and ceil(cols / 16); above 600 dpi they are
// recomputed for the decimated image. Steps: decimation, orientation and
// coherence maps, foreground blocks (orientation and coherence 30 or more),
// connected labelling with at most 99 labels (a block that would need a
// 100th becomes background) and union by rank, the largest region (lowest
// label on ties), period map, directional filter, 3 x 3 smoothing, border,
// labels, thinning of both planes, expansion by nearest neighbour and a
// second thinning at full size. No allocation, no reported failure, the
// liveness error word is not touched. Returns at once when rows or cols is
// below 1 or the block grid does not cover the (processed) image.
void maskgen(uint8_t* work, int32_t rows, int32_t cols, uint8_t* orientation_map, uint8_t* region_period_map,
             uint8_t* coherence_map, int32_t block_rows, int32_t block_cols, int32_t dpi);

// The block segmentation of maskgen on its own: `region` holds 1 for
// foreground blocks and 0 elsewhere on entry, and on return 1 for the blocks
// of the largest connected region (4-connected, labels 1..99 given in
// row-major order, a block needing label 100 or above dropped; the lowest
// resolved label wins a tie) and 0 elsewhere.
void nex_mask_main_region(uint8_t* region, int32_t block_rows, int32_t block_cols);

// Decimation factor of a processing resolution: 1 up to 600 dpi, otherwise
// (dpi + 400) / 500 (601..1099 give 2, 1100..1599 give 3, ...).
[[nodiscard]] int32_t nex_mask_scale(int32_t dpi);

// In place: processed pixel (r, c) of the rs x cs result, packed row after
// row, is input pixel (r k, c k) of the image of `cols` columns.
void nex_mask_decimate(uint8_t* work, int32_t cols, int32_t k, int32_t rs, int32_t cs);

// In place: full-size pixel (y, x) of the rows x cols result takes processed
// pixel (y / k, x / k) of the packed image of cs columns at the start of the
// buffer (nearest neighbour).
void nex_mask_expand(uint8_t* work, int32_t rows, int32_t cols, int32_t k, int32_t cs);
