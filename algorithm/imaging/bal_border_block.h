// The spectrum callback with which the FFT border extension enhances the
// border blocks it synthesises (bal_expand_image_fft hands it to the FFT
// block filter).
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Spectrum callback (bal_spectrum_callback) for a block x block half
// spectrum (block 16, 32, 64 or 128; the layout of the 2-D FFTs): keeps the
// dominant ridge direction and clears every other direction.
//
// The magnitude image of bal_render_fft is summed per direction sector of a
// half turn, sector = (8-bit angle of (ky, kx) >> 3) & 15, over every
// frequency but DC. The strongest sector (the first on a tie) and its two
// neighbours (cyclic) keep their entries; every other entry is set to 0. The
// DC term is always kept. Modifies real and imag in place, reads nothing
// else (scratch and context are ignored) and always returns BAL_OK; a block
// size outside the four supported ones leaves the spectrum unchanged.
[[nodiscard]] bal_status process_border_block(int32_t* real, int32_t* imag, uint32_t block, uint8_t* scratch,
                                              uint32_t scratch_size, void* context);
