// Grey-level histograms, the statistics read from a 256-bin histogram, the
// search for stretch limits that cut a percentage of the pixels at each end,
// and linear contrast stretches onto the full output range.
//
// Images are row-major; an image with rows <= 0 or cols <= 0 is empty.
// Histograms belong to the caller and are cleared first. Every stretch may
// write into its source (each output pixel depends only on the source pixel
// at the same place and on limits found before the first write).
#pragma once

#include <cstdint>

// hist[256]: bin i counts the grey value i.
void bal_image_histogram(const uint8_t* src, int32_t rows, int32_t cols, uint32_t* hist);
// hist[256]: bin v + 128 counts the value v.
void bal_image_histogram_int8(const int8_t* src, int32_t rows, int32_t cols, uint32_t* hist);
// hist[2^bits], bits 1..8: pixel p counts in bin p >> (8 - bits). Other bit
// counts leave hist alone.
void bal_image_histogram_n(const uint8_t* src, int32_t rows, int32_t cols, uint32_t bits, uint32_t* hist);

// Statistics of a 256-bin histogram counting n pixels, with 32-bit sums;
// n = 0 gives 0. S below is the sum over i of (i - mean)^2 * hist[i].
// Sum of i * hist[i], divided by n.
uint32_t bal_hist_mean(const uint32_t* hist, uint32_t n);
// S / n.
uint32_t bal_hist_var(const uint32_t* hist, uint8_t mean, uint32_t n);
// Variance in steps of 1/16: (16 S) / n while S < 2^28, else S / (n >> 4); low 16 bits.
uint16_t bal_hist_var_4(const uint32_t* hist, uint8_t mean, uint32_t n);
// floor(sqrt(S / n)) (exactly while S / n < 16384).
uint32_t bal_hist_std(const uint32_t* hist, uint8_t mean, uint32_t n);
// Deviation in quarter steps: the rounded root of bal_hist_var_4's value.
uint32_t bal_hist_std_2(const uint32_t* hist, uint8_t mean, uint32_t n);

// Limits that cut `percent` (0..99) of the pixels at each end: lo is the first
// bin at which the running count from 0 exceeds total * percent / 100, hi the
// first such bin counting down from 255 to 1 (0 when none); equal limits
// become (lo - 1, lo), or (0, 1) at 0. A percent above 99 leaves both alone.
void bal_find_stretch_limits(const uint8_t* src, int32_t rows, int32_t cols, uint32_t percent, uint8_t* lo,
                             uint8_t* hi);
void bal_find_stretch_limits_from_hist(const uint32_t* hist, uint32_t percent, uint8_t* lo, uint8_t* hi);

// p <= lo gives 0, else min(255, ((p - lo) * 255) / (hi - lo)), the range an
// unsigned 32-bit value (hi < lo maps everything to 0; hi = lo maps p > lo to 255).
void bal_stretch_from_limits(const uint8_t* src, int32_t rows, int32_t cols, uint8_t lo, uint8_t hi, uint8_t* dst);
// Stretch with the image's own limits at percent (above 99: a copy).
void bal_stretch_uint8(const uint8_t* src, int32_t rows, int32_t cols, uint32_t percent, uint8_t* dst);
// Limits from the histogram without the bins white..255; above 99 percent
// lo = 0 and the range is 255. All pixels are mapped.
void bal_stretch_ignore_white(const uint8_t* src, int32_t rows, int32_t cols, uint32_t percent, uint8_t white,
                              uint8_t* dst);
// Limits from the pixels of the blocks whose mask byte is non-zero (block b
// covers the block x block square at row (b / block_cols) * block, column
// (b % block_cols) * block, clipped to the image); then as
// bal_stretch_ignore_white without the white cut, over (rows & 0xFFFF) *
// (cols & 0xFFFF) pixels.
void bal_stretch_segmented(const uint8_t* src, uint32_t rows, int32_t cols, uint32_t percent,
                           const uint8_t* block_mask, uint16_t block_rows, uint16_t block_cols, uint16_t block,
                           uint8_t* dst);
// v = p - lo when p > lo, else low_value; dst = min(out_max, (v * out_max) / (hi - lo)).
void bal_stretch_from_limits_to(const uint8_t* src, int32_t rows, int32_t cols, uint8_t lo, uint8_t hi,
                                uint8_t low_value, uint8_t out_max, uint8_t* dst);

// Full-range stretches from the image's own minimum m and maximum M; a flat
// or empty image is copied unchanged.
// ((p - m) * 255) / (M - m) - 128.
void bal_stretch_int8(const int8_t* src, int32_t rows, int32_t cols, int8_t* dst);
// ((p - m) * 65535) / (M - m) - 32768.
void bal_stretch_int16(const int16_t* src, int32_t rows, int32_t cols, int16_t* dst);
// ((p - m) * 65535) / (M - m).
void bal_stretch_uint16(const uint16_t* src, int32_t rows, int32_t cols, uint16_t* dst);
