// Internal operations of the Fourier matcher, shared by the record code and
// the search and open to the tests. Canvases are rows of (columns + 8) cells
// of 2 bytes {orientation, frequency}; the 8 trailing cells of a row are 0.
#pragma once

#include <cstdint>

#include "objects/zr_result.h"

// Parsed matcher record; pointers into the record's bytes.
struct spectral_record_view {
    uint8_t cols;
    uint8_t rows;
    uint8_t block_size;
    uint16_t resolution;
    const uint8_t* cells;
    const uint8_t* fine_grid;       // none when absent
    const uint8_t* direction_hint;  // none when absent
    uint8_t quality;                // 0 when absent
};

// Validates and splits a record (lengths above 65535 are refused).
// ZR_UNHANDLED_INPUT on any fault; the view is then zeroed.
[[nodiscard]] zr_status spectral_read_record(const uint8_t* record, uint32_t length,
                                             spectral_record_view* view);

// Canvas geometry of a pair at the level the work size is counted in (fine
// cells when the probe has a fine grid).
struct spectral_pair_geometry {
    uint32_t scale;          // 32 = same block pitch
    uint32_t canvas_cols;    // W
    uint32_t canvas_rows;    // H
    uint32_t required_bytes; // H x (2W + 16) + ref rows x (2 ref cols + 16), at least 48
};

// Scale, canvas sides and work bytes of the pair (64-bit throughout). False
// when a grid or canvas is wider than 119 or deeper than 255 cells or the
// requirement passes 65535.
bool spectral_pair_geometry_of(const spectral_record_view& probe,
                               const spectral_record_view& reference, uint32_t flags,
                               spectral_pair_geometry* out);

// Number of cells in a 12-bin orientation histogram.
constexpr uint32_t kSpectralOrientationBins = 12;

// Orientation bin of a cell: (orientation + 10) / 21, 0 from 12 on.
inline uint32_t spectral_orientation_bin(uint8_t orientation) {
    const uint32_t bin = (uint32_t(orientation) + 10) / 21;
    return bin >= kSpectralOrientationBins ? 0 : bin;
}

// Bounding box of the valid cells of a canvas.
struct spectral_box {
    uint16_t left;
    uint16_t top;
    uint16_t right;
    uint16_t bottom;
};

// Zeroes (cols + 8) x 2 x rows bytes of the canvas and copies each row of
// cols cells to the start of its canvas row. Returns the canvas bytes.
uint32_t align8_feature_canvas(const uint8_t* cells, uint8_t cols, uint8_t rows, uint8_t* canvas);

// Adds each valid cell of rows x row_length cells to its orientation bin
// (out is cleared first). Returns the number of valid cells.
uint32_t hist_ori(const uint8_t* cells, uint8_t row_length, uint8_t rows,
                  uint16_t out[kSpectralOrientationBins]);

// Agreement of two orientation histograms with the reference turned by
// `shift` bins: the sum over bins b of min(probe[b], reference[(b + shift)
// mod bins]).
uint32_t hist_ori_agreement(const uint16_t probe[kSpectralOrientationBins],
                            const uint16_t reference[kSpectralOrientationBins], uint32_t shift);

// Fills a W x H canvas (row stride W + 8 cells, zeroed first) by sampling the
// source (source_cols x source_rows packed cells) turned by angle (512 a
// turn; Q14 cosine and sine of angle x 128) and scaled (32 = one source cell
// a canvas cell). Positions are in 1/4096 cell: one canvas column moves the
// source position by (8c / scale_x, -8s / scale_y), one canvas row by
// (8s / scale_x, 8c / scale_y) (quotients truncated); the canvas centre
// ((W - 1) / 2, (H - 1) / 2) shifted by (dx, dy) in 1/32 cell maps to the
// source centre. A cell takes the source cell nearest its position (halves
// up), or 0 outside; its orientation is increased by the angle (mod 256).
void transform_features(const uint8_t* source, uint8_t source_cols, uint8_t source_rows,
                        uint8_t* canvas, uint8_t canvas_cols, uint8_t canvas_rows, int16_t angle,
                        int32_t dx, int32_t dy, int32_t scale_x, int32_t scale_y);

// Smallest box of the valid cells among the first `cols` cells of each row.
// Returns its area, or 0 when there is no valid cell, the bottom row is past
// 79 or the box is a single cell.
uint32_t get_bounding_box(const uint8_t* canvas, uint32_t cols, uint8_t rows, spectral_box* box);

// Rows shared by the reference box and the probe box moved down by
// row_offset: a negative count (disjoint rows) as it is, otherwise 1.
int32_t refine_bounding_boxes(const spectral_box* reference, const spectral_box* probe,
                              int32_t row_offset);

// Correlation of the probe canvas placed with its column 0 at reference
// column dx and row 0 at reference row dy, over the intersection of the
// reference box and the moved probe box. Each pair of valid cells adds
// max(21 - |d_o|, 0) x max(21 - |d_f|, 0) (d_o the orientation difference as
// a signed byte). Progressive mode visits a 2 x 2 lattice in up to four passes
// and stops once more than 31 pairs were counted and 4 x count reaches
// passes x min_overlap, estimating the count as ceil(4 x count / passes).
// Score S = (sum << 15) / (max(pairs, 20) x 441) (64-bit), then
// S x isqrt(isqrt(estimate << 12) x block_factor) >> 8, 32767 when the product
// passes 0x7FFFFF. Score 0 when the canvases overlap in fewer than
// min_overlap cells. Returns the estimate (the count in full mode).
uint32_t xcorr_features(const uint8_t* reference, uint8_t cols, uint8_t rows,
                        const spectral_box* reference_box, const uint8_t* probe,
                        uint8_t canvas_cols, uint8_t canvas_rows, const spectral_box* probe_box,
                        int32_t dx, int32_t dy, uint32_t* out_score, uint32_t* out_zero,
                        uint32_t min_overlap, int32_t progressive, uint32_t block_factor);

// A lattice of the intersection of two canvases: every `step`-th (1 or 2)
// row and column from (top, left) to (bottom, right) of the reference, the
// probe cell at (y - dy, x - dx); canvases with `*_stride` bytes a row.
struct spectral_lattice {
    const uint8_t* reference;
    uint32_t ref_stride;
    const uint8_t* probe;
    uint32_t probe_stride;
    int32_t dx;
    int32_t dy;
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    int32_t step;
};

// The sums behind xcorr_features over a lattice. `vector` picks the SSE2
// path (the same sums) over the scalar reference.
struct spectral_correlation {
    uint64_t sum = 0;
    uint32_t pairs = 0;
};
spectral_correlation spectral_correlate_lattice(const spectral_lattice& lattice, bool vector);

// Score scaling of a pair count: isqrt(isqrt(count << 12) x block_factor),
// the square-root input saturated at 2^32 - 1.
uint32_t spectral_overlap_factor(uint32_t count, uint32_t block_factor);

// Score from a correlation sum: see xcorr_features.
uint32_t spectral_score(uint64_t sum, uint32_t pairs, uint32_t estimate, uint32_t block_factor);

// Entropy of a histogram of `bins` bins in 1/100 bit: sum of -p log2(p) with
// p = 1000 x bin / total (total 0 counts as 1) and log2 by linear
// interpolation between fixed points, in integer steps; at most 65535.
uint16_t calculate_entropy_score(const uint32_t* histogram, uint32_t bins);

// Decision thresholds, index = FAR level 0..12 (index 0 above every score).
extern const uint16_t kSpectralThresholds[13];
extern const uint16_t kSpectralThresholds360[13];
