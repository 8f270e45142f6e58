// Placing an image in a larger frame whose border is synthesised in the
// frequency domain.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Places the rows x cols source at (row_offset, col_offset) of the
// dst_rows x dst_cols frame and fills the border with ridge-like texture:
// a checkerboard around the source is filtered in 32 x 32 blocks (overlap
// 16) by process_border_block, the result is stretched from the border's
// own 20 % limits onto the source's 1 % limits (skipped when the frame has
// no border pixel), the source's inner part (all but a two-pixel rim) is
// put back unchanged and its two outer rows and columns are blended with
// the filtered values in quarter steps (truncating shifts).
//
// Returns BAL_OK; BAL_UNSUPPORTED (nothing allocated, dst untouched) unless
// rows and cols are at least 2, the source fits the frame at its offsets,
// the frame is at most 16 larger than the source on each axis and the
// working frame ((dst_rows + 16) x (dst_cols + 16)) has at most 2^31 - 1
// pixels; BAL_NO_MEMORY; or the status of the FFT block filter (which
// refuses a working frame below one 32 x 32 block). On failure dst is not
// written. src and dst must not overlap.
[[nodiscard]] bal_status bal_expand_image_fft(const uint8_t* src, uint32_t rows, uint32_t cols,
                                              uint32_t dst_rows, uint32_t dst_cols, uint32_t row_offset,
                                              uint32_t col_offset, uint8_t* dst);
