// Removal of latent prints (ghosts) left on the sensor by an earlier finger.
#pragma once

#include <cstdint>

// Looks at the grey-level histogram of the blocks that are not near-white and,
// when it shows a second, fainter print after the dark ridge mode, pushes the
// pixels brighter than the valley after that mode towards white
// (bal_filter_ghost). dst receives the result; it may be src. Returns 1 when
// the filter was applied, 0 when dst is an unchanged copy of src. block >= 1.
uint32_t bal_ghost_remove_bs(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst, uint32_t block);

// bal_ghost_remove_bs with 12 x 12 blocks.
uint32_t bal_ghost_remove(const uint8_t* src, uint32_t rows, uint32_t cols, uint8_t* dst);

// In place: every interior pixel above the threshold moves towards white by
// one eighth of its distance for each of its 8 neighbours that is above the
// threshold as well; border pixels above the threshold become white. All tests
// read the values the image had on entry. rows, cols >= 1. When its two row
// buffers cannot be allocated the image is left unchanged.
void bal_filter_ghost(uint8_t* img, uint32_t rows, uint32_t cols, uint8_t threshold);
