// The strip geometry and the stitching of the slice extractor: how a tall
// image is cut into overlapping horizontal strips, and how the strips'
// extraction containers are merged into one minutiae structure with its
// orientation and frequency fields.
//
// Positions are pixels at 500 dpi (a 250 dpi working image counts double).
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"
#include "objects/zr_result.h"

// One row of the strip table, all in rows at 500 dpi.
struct slice_strip_params {
    int32_t strip_rows;         // height of one strip
    int32_t step;               // distance between the first rows of two strips
    int32_t margin;             // band at each strip edge left to the neighbour
    int32_t merge_distance_sq;  // two minutiae closer than this (squared) ...
    int32_t merge_angle;        // ... whose angles differ by less than this are one
};

constexpr uint32_t SLICE_TABLE_ROWS = 5;

// The strip-table row for the session's slice rows: R = slice rows when
// below 97, else 96; row (R - 48) / 12 for R in 48..96, otherwise row 4.
uint32_t slice_strip_table_index(int32_t slice_rows);
const slice_strip_params& slice_strip_table_row(uint32_t index);

// The working resolution for a resolution r: r when within tolerance of the
// target; else r / 2 (truncated), else 2r, when that is; else the target.
uint32_t slice_working_resolution(uint32_t r, uint32_t target, uint32_t tolerance);

// How one image is cut.
struct slice_geometry {
    uint32_t scale;         // k: 1 at 500 dpi, 2 at 250 dpi
    uint32_t resolution;    // r: the image's resolution
    uint32_t working;       // d: the resolution each strip is extracted at
    uint32_t rows;          // H: working rows, rows x d / r
    uint32_t cols;          // W: working columns, cols x d / r
    uint32_t strip_height;  // S: strip rows / k, working rows
    uint32_t strip_count;
    slice_strip_params table;
};

// Plans the strips of a rows x cols image at resolution r (not 0) with the
// extraction flags (BAL_EXTRACT_250DPI selects the 250 dpi target). One
// strip when H <= S, else (H - S - 1) / (step / k) + 2 strips. Returns
// ZR_OK, or ZR_BAD_ARGUMENT (too small) when H <= S and H < 24 / k.
[[nodiscard]] zr_status slice_plan(uint32_t rows, uint32_t cols, uint32_t r, uint32_t flags,
                                   int32_t slice_rows, slice_geometry* out);

// The image rows of strip j and how far its minutiae move down.
struct slice_strip_window {
    uint32_t first_row;  // y0 = j x (step / k) x r / d
    uint32_t rows;       // ceil(S x r / d), or what is left of the image
    uint32_t y_shift;    // (d x y0 x k + r / 2) / r, rows at 500 dpi
};
slice_strip_window slice_strip_window_of(const slice_geometry& g, uint32_t strip, uint32_t image_rows);

// The merged result under construction.
struct slice_merge {
    minutiastruct minutiae;
    bool fields;           // orientation and frequency fields requested
    uint8_t* orientation;  // capacity_rows x capacity_cols bytes
    uint8_t* frequency;
    uint32_t capacity_rows;  // ceil(k H / 12)
    uint32_t capacity_cols;  // ceil(k W / 12)
    uint32_t field_rows;     // block rows filled so far
    uint32_t field_cols;     // block columns (of strip 0); the row stride
    uint32_t block_size;     // pixels at 500 dpi (of strip 0)
    uint32_t quality_sum;    // non-zero strip qualities
    uint32_t quality_count;
};

// Clears the merge and, with fields, allocates both field buffers (zeroed).
// ZR_OK or ZR_NO_MEMORY (nothing left allocated).
[[nodiscard]] zr_status slice_merge_init(slice_merge* merge, const slice_geometry& g, bool fields);
// Releases the field buffers; the record may be initialised again.
void slice_merge_free(slice_merge* merge);

// Adds strip j's container: its minutiae move down by the window's shift and
// its field row offsets become j x step (both written into the container),
// then the minutiae are merged or appended (at most 255 in all) and, with
// fields, the strip's block rows are copied in (from block row 2 on for
// j > 0). ZR_FAILURE when the fields are missing, differ in size from each
// other or from strip 0's, or would not fit the buffers; the merge is then
// only fit for slice_merge_free.
[[nodiscard]] zr_status slice_merge_strip(slice_merge* merge, const slice_geometry& g, uint32_t strip,
                                          const slice_strip_window& window, zr_template_container* container);

// Size fields (k W x k H), the rounded mean of the counted qualities (0 when
// none was counted), and the minutiae sorted by the order around the centre.
void slice_merge_finish(slice_merge* merge, const slice_geometry& g, uint8_t order);
