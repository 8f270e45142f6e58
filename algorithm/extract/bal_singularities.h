// Singular points (cores and deltas) of a ridge-orientation image: the
// Poincare-index classification of one pixel, the search over a whole image
// with a direction for each point, and the transfer of the points found into
// the reference-point blocks of the extraction container.
//
// Orientation image: one byte a pixel, o in 64..191 as the pixel orientation
// image of the image library holds it (o - 64 is the ridge direction, 128
// steps a half turn); any byte is accepted, differences are taken modulo 128.
// Point directions are 8-bit angles (256 steps a full turn) on the circle of
// the minutia directions.
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"
#include "imaging/bal_draw.h"
#include "imaging/bal_status.h"

// Classes of a pixel by its Poincare sum over the 8-neighbour loop, in
// orientation steps.
constexpr uint8_t BAL_SINGULARITY_UNDETERMINED = 0;  // any other sum
constexpr uint8_t BAL_SINGULARITY_ORDINARY = 1;      // -1 .. 1
constexpr uint8_t BAL_SINGULARITY_CORE = 253;        // 127 .. 129
constexpr uint8_t BAL_SINGULARITY_WHORL = 254;       // 255 .. 257, a core
constexpr uint8_t BAL_SINGULARITY_DELTA = 255;       // -129 .. -127

// Points searched for by the extraction.
constexpr uint32_t BAL_SINGULARITY_SEARCH_MAX = 16;

// True for the classes that count as cores (253, 254).
constexpr bool bal_singularity_is_core(uint8_t kind) {
    return kind == BAL_SINGULARITY_CORE || kind == BAL_SINGULARITY_WHORL;
}

// Class of the pixel at `index` (row * cols + column): the 8 folded
// differences (into -64..64) of the orientation bytes around the loop
// up-left, up, up-right, right, down-right, down, down-left, left, up-left,
// summed. The pixel must be interior (all 8 neighbours inside the image);
// nothing is checked.
uint8_t bal_classify_singularity(const uint8_t* orientation, uint32_t cols, uint32_t index);

// Poincare search: every interior pixel with quality above 40 whose class is
// a core or a delta, scanning rows top to bottom and each row left to right;
// a point found masks its right neighbour and the three pixels below it.
// Each point gets a direction from the orientation of its 9 x 9 window
// (integer divisions truncating). Writes at most max_count points, sorted by
// the quality at their position, highest first (stable), and their number
// into *count. Images with fewer than 3 rows or columns give no points.
// Returns BAL_OK, BAL_BAD_ARGUMENT for a null pointer (nothing written), or
// BAL_NO_MEMORY (count 0).
[[nodiscard]] bal_status bal_find_singularities_poincare(const uint8_t* orientation,
                                                         const uint8_t* quality, uint32_t rows,
                                                         uint32_t cols, bal_singularity* points,
                                                         uint32_t* count, uint32_t max_count);
// The same search classifying every searched pixel on its own, without the
// vector pre-pass that flags a row's cores and deltas eight pixels at a time:
// the reference the pre-pass is held to.
[[nodiscard]] bal_status bal_find_singularities_poincare_reference(const uint8_t* orientation,
                                                                   const uint8_t* quality, uint32_t rows,
                                                                   uint32_t cols, bal_singularity* points,
                                                                   uint32_t* count, uint32_t max_count);

// Alternative search (not used by the extraction): every interior pixel
// whose strength is at least 129 and not below any of its 8 neighbours and
// whose class is a core or delta, in raster order, up to max_count; class
// and index only, direction 0. Fewer than 3 rows or columns give no points.
// Returns BAL_OK or BAL_BAD_ARGUMENT for a null pointer.
[[nodiscard]] bal_status bal_find_singularities(const uint8_t* strength, const uint8_t* orientation,
                                                uint32_t rows, uint32_t cols,
                                                bal_singularity* points, uint32_t* count,
                                                uint32_t max_count);

// Stores the points, in order, into the blocks: the first 4 cores into
// `cores` (direction as the first angle), the first 4 deltas into `deltas`
// (angles a, a + 85, a - 86 modulo 256); each stored point gets its row and
// column from the index and valid 1. Both counts are reset to 0 first; later
// points of a full block are dropped. Either block may be null (its kind is
// dropped); cols 0 stores nothing. Enable flags are not touched.
void bal_convert_singularities(const bal_singularity* points, uint32_t count, uint32_t cols,
                               zr_reference_points* cores, zr_reference_points* deltas);
