// Block-wise filtering of 8-bit grey images in the frequency domain.
//
// The image is cut into overlapping B x B blocks (B = 16, 32, 64 or 128); each
// block is transformed with the 2-D fixed-point FFT pair, a spectrum callback
// modifies its half spectrum in place, and the block is transformed back and
// written so that neighbouring blocks meet in the middle of their overlap.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Modifies the half spectrum (B rows x B/2 + 1 columns) in place; BAL_OK goes
// on, anything else stops the filtering and is returned to the caller.
using bal_spectrum_callback = bal_status (*)(int32_t* real, int32_t* imag, uint32_t block,
                                             uint8_t* scratch, uint32_t scratch_size, void* context);

// Work area in bytes for one block size: the result block, the spatial block,
// the two spectrum arrays and the inverse transform's scratch, plus 4 bytes of
// alignment slack.
uint32_t bal_filter_fft_worksize(uint32_t block);

// Pads the image to at least one block (and by `pad` on every side), filters
// and crops back; allocates its own work area. dst may equal src.
[[nodiscard]] bal_status bal_filter_fft_blocks_simple(uint8_t* dst, const uint8_t* src, uint32_t rows,
                                                      uint32_t cols, uint32_t block, uint32_t overlap,
                                                      uint32_t pad, bal_spectrum_callback callback,
                                                      void* context);

// The tiling for any supported block size (BAL_UNSUPPORTED for another size).
// dst != src.
[[nodiscard]] bal_status bal_filter_fft_blocks(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t cols,
                                               uint32_t block, uint32_t overlap, uint8_t* work,
                                               uint32_t work_size, bal_spectrum_callback callback,
                                               void* context);

[[nodiscard]] bal_status bal_filter_fft16_blocks(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t cols,
                                                 uint32_t overlap, uint8_t* work, uint32_t work_size,
                                                 bal_spectrum_callback callback, void* context);
[[nodiscard]] bal_status bal_filter_fft32_blocks(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t cols,
                                                 uint32_t overlap, uint8_t* work, uint32_t work_size,
                                                 bal_spectrum_callback callback, void* context);
[[nodiscard]] bal_status bal_filter_fft64_blocks(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t cols,
                                                 uint32_t overlap, uint8_t* work, uint32_t work_size,
                                                 bal_spectrum_callback callback, void* context);
[[nodiscard]] bal_status bal_filter_fft128_blocks(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t cols,
                                                  uint32_t overlap, uint8_t* work, uint32_t work_size,
                                                  bal_spectrum_callback callback, void* context);

// Spectrum callbacks weighting every entry with an 8-bit frequency kernel in
// the spectrum's layout (context = kernel): k = 255 passes, k = 0 stops.
[[nodiscard]] bal_status bal_filter_fft_convolution(int32_t* real, int32_t* imag, uint32_t block, uint8_t* scratch,
                                                    uint32_t scratch_size, void* kernel);
[[nodiscard]] bal_status bal_filter_fft_convolution_new(int32_t* real, int32_t* imag, uint32_t block,
                                                        uint8_t* scratch, uint32_t scratch_size, void* kernel);
[[nodiscard]] bal_status bal_filter_fft_inverted_convolution(int32_t* real, int32_t* imag, uint32_t block,
                                                             uint8_t* scratch, uint32_t scratch_size,
                                                             void* kernel);
// Not supported: always BAL_UNSUPPORTED.
[[nodiscard]] bal_status highpass_filter_process(int32_t* real, int32_t* imag, uint32_t block, uint8_t* scratch,
                                                 uint32_t scratch_size, void* context);
[[nodiscard]] bal_status lowpass_filter_process(int32_t* real, int32_t* imag, uint32_t block, uint8_t* scratch,
                                                uint32_t scratch_size, void* context);

// Radial band-pass kernel of 64 x 33 bytes for 64-point blocks (malloc'd; the
// caller frees it), or null when memory runs out. Frequencies in 1/256 cycle
// per millimetre, resolution in dots per inch.
uint8_t* create_filter(int32_t resolution, int32_t low_cut, int32_t low_width, int32_t high_cut,
                       int32_t high_width);

// Draws the magnitude of a block's half spectrum as a B x B image, DC in the
// centre.
void bal_render_fft(uint8_t* dst, const int32_t* real, const int32_t* imag, uint32_t block);
