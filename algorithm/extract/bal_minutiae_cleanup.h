// Clean-up of the raw minutiae list of the extraction (merge of near
// duplicates, removal of ridge endings at the border of the print, a mask
// filter) and the skeleton edit that keeps a neighbour-count map consistent.
//
// Lists are arrays of `minutia` with a count; a removal moves the later
// entries one place forward, so the survivors keep their order. Each
// function returns the new count.
//
// Skeleton: one byte a pixel, 0 for a skeleton pixel, anything else
// background (a deleted pixel becomes 1). Neighbour-count map: one byte a
// pixel, the number of skeleton pixels among the 8 neighbours of a skeleton
// pixel (1 end, 2 line, 3 junction), 0 for background. Positions outside the
// image count as background everywhere.
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"

// Merges pairs of minutiae of which the later one lies at or after the first
// entry whose type differs from the first entry's: a pair whose directions
// differ by less than 14 steps and whose squared distance times
// (scale^2 mod 256) is below 64 becomes one bifurcation at the truncated mean
// position with the mean direction, in the earlier entry's place. Lists with
// fewer than 2 entries or of a single type, and scale 0, are returned as they
// are.
uint32_t bal_remove_duplicate_minutiae(minutia* minutiae, uint8_t count, uint8_t scale);

// Removes ridge endings (type 1) that have no neighbouring skeleton line on
// both sides near the skeleton end point they belong to, probing at the end
// point and 10 / scale and 30 / scale pixels back along the ridge; the search
// distance runs from 3 / scale to 3 x (ridge period at the end point) /
// scale pixels. Bifurcations always stay; an ending whose end point is not
// found within 51 pixels stays. skeleton and counts are the ridge skeleton
// and its neighbour-count map, ridge_period one byte a pixel; all rows x cols.
// Scale 0, an empty image or a null pointer return the count unchanged.
uint32_t bal_remove_edge_endpoints(minutia* minutiae, uint32_t count, const uint8_t* skeleton,
                                   const uint8_t* counts, const uint8_t* ridge_period,
                                   uint32_t rows, uint32_t cols, uint8_t scale);

// Keeps the minutiae whose byte in `image` (rows x cols) at their position is
// non-zero; minutiae outside the image are removed. A null image keeps all.
uint32_t bal_remove_low_variance_minutiae(minutia* minutiae, uint32_t count, const uint8_t* image,
                                          uint32_t rows, uint32_t cols);

// Deletes the skeleton pixel (row, col): it becomes background (1) with
// count 0; every skeleton pixel of the surrounding 3 x 3 block with a
// non-zero count has a count of 2 recounted from its 8 neighbours and any
// other count decreased by 1. A position outside the image changes nothing.
void bal_remove_skeleton_pixel(uint8_t* skeleton, uint8_t* counts, uint32_t rows, uint32_t cols,
                               uint32_t row, uint32_t col);
