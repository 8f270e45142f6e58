// Image operations of the liveness mask generation: the directional filter
// of oriented 16 x 16 blocks, the one-dimensional integer Gaussian kernels,
// the 3 x 3 binomial smoothing, the Otsu threshold, the two-sub-pass thinning
// of one bit plane, union-find on byte labels, and four small geometric and
// image operations. Images are u8, row-major, rows x cols, rows directly
// behind each other. No function allocates or reports failure; all work on
// the caller's buffers and are re-entrant.
#pragma once

#include <cstdint>

// Number of kernels of gaussian_filter_1d; larger indices select the last.
constexpr uint32_t NEX_GAUSS_KERNELS = 8;
// Values read and written by gaussian_filter_1d.
constexpr int32_t NEX_GAUSS_LINE = 34;
constexpr int32_t NEX_GAUSS_OUT = 20;

// Kernel index of a ridge-period code (period in 1/16 pixel):
// (max(code >> 4, 2) - 1) >> 1, 0..7.
[[nodiscard]] uint32_t nex_gauss_kernel_index(uint8_t period_code);
// 128 x the sum of a kernel's weights: the filtered value of a constant
// line of 128 (index 7 and above: kernel 7).
[[nodiscard]] uint32_t nex_gauss_flat_128(uint32_t kernel_index);

// Replaces each 16 x 16 block whose orientation code (1..128, ridge
// direction; 0 none) is non-zero by a block of only 0 and 255: an oriented
// second derivative across the ridges at the scale of the block's period
// code, bytes scaled by the mean absolute deviation, 3 x 3 smoothing and an
// Otsu threshold (255 above it). Bright lines become 255 and dark lines 0.
// Blocks go in row-major order and each is written at once, so later blocks'
// windows (34 x 34 around the block; outside the image 128) see the output
// of earlier ones. A block whose derivative is constant keeps its pixels.
// The maps hold block_rows x block_cols bytes.
void directional_filter(uint8_t* work, int32_t rows, int32_t cols, const uint8_t* orientation_map,
                        const uint8_t* period_map, int32_t block_rows, int32_t block_cols);

// out[i] = sum over k of weight[k] x line[i + 7 - h + k] for i = 0..19, h
// the kernel's half length: each output centred on line[i + 7]. line holds
// 34 values; unnormalised u32 sums.
void gaussian_filter_1d(const uint32_t* line, uint32_t kernel_index, uint32_t* out);

// In-place binomial smoothing: every row, then every column, each pass from
// the values before it: (previous + 2 current + next) >> 2 inside, (3 first
// + second) >> 2 and (second-to-last + 3 last) >> 2 at the ends
// (truncating). Nothing unless rows and cols are both 3 or more.
void gaussian_filter_3x3(uint8_t* image, int32_t rows, int32_t cols);

// Otsu threshold of n bytes: the level t maximising (m1 - m0)^2 w0 w1 over
// t = 0..254, the later level on ties; 0 for all-equal values. The upper
// class's sum leaves out the samples at 255 (their weight counts). The
// criterion is evaluated in 64 bits.
[[nodiscard]] uint8_t otsu_thresh(const uint8_t* values, int32_t n);

// Thins, in place, the pixels whose value has the plane bit (one bit, not
// bit 7) set, by two-sub-pass iterations until one removes nothing. Pixels
// in the outermost rows and columns are never removed; a removed pixel loses
// the plane bit (a mask value 3 with plane 2 becomes 1). Bit 7 is used as a
// removal mark during a sub-pass and must be clear on entry. Nothing for
// images of fewer than 3 rows or columns.
void thinning(uint8_t* image, int32_t rows, int32_t cols, uint8_t plane);

// Root of the set of label x; every label on the path is then linked
// directly to the root. parent[r] == r marks a root.
[[nodiscard]] uint8_t find_set(uint8_t x, uint8_t* parent);
// Joins the sets of a and b by rank: the root of lower or equal rank goes
// under the other (equal ranks: a's root under b's, b's rank raised).
void Union(uint8_t a, uint8_t b, uint8_t* parent, uint8_t* rank);

// Operations without a caller in the library.

// Half the number of changes of (value & mask) going round the eight
// neighbours of (row, col) (NW, N, NE, E, SE, S, SW, W, back to NW). The
// pixel must have all eight neighbours inside the image.
[[nodiscard]] int32_t crossing_number(const uint8_t* image, int32_t cols, int32_t row, int32_t col,
                                      uint8_t mask);
// nex_arctan(y1 - y0, x1 - x0): 1/256 turns from the +y axis towards +x
// (0..256, 0 for equal points). Differences wrap at 32 bits.
[[nodiscard]] int32_t direction(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// Rounded square root of (x0 - x1)^2 + (y0 - y1)^2 by the digit-by-digit
// method (root + 1 when the remainder exceeds it), in 64 bits: exact while
// each difference is below 2^31 in magnitude.
[[nodiscard]] uint32_t euclidean_distance(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
// Mirrors the image top to bottom in place; nothing for fewer than 2 rows or
// no pixels.
void flipud(uint8_t* image, int32_t rows, int32_t cols);
