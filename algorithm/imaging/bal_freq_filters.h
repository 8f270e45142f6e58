// Whole-image frequency-domain and edge-preserving filters for 8-bit grey
// images: band-pass by resolution class or explicit cut frequencies, their
// band-stop twins, an adaptive band-pass, a dominant-period finder, and the
// bilateral and Wiener filters. dst may equal src for every filter here.
#pragma once

#include <cstdint>

#include "imaging/bal_status.h"

// Band-pass with the stored kernel of the resolution class (or a built one
// outside every class), 64-pixel blocks overlapping by 32, padded by 4.
[[nodiscard]] bal_status bal_bandpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols, int32_t resolution,
                                             uint8_t* dst);
// Band stop: keeps what the band-pass removes.
[[nodiscard]] bal_status bal_inverted_bandpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                      int32_t resolution, uint8_t* dst);

// Band-pass with a kernel built from cut frequencies (1/256 cycle per mm).
[[nodiscard]] bal_status bal_generic_bandpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                     int32_t resolution, int32_t low_cut, int32_t low_width,
                                                     int32_t high_cut, int32_t high_width, uint8_t* dst);
[[nodiscard]] bal_status bal_generic_inverted_bandpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                              int32_t resolution, int32_t low_cut,
                                                              int32_t low_width, int32_t high_cut,
                                                              int32_t high_width, uint8_t* dst);

// Not supported: always BAL_UNSUPPORTED, dst unchanged.
[[nodiscard]] bal_status bal_highpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t ignored,
                                             uint8_t option, uint8_t* dst);
[[nodiscard]] bal_status bal_lowpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t ignored,
                                            uint8_t option, uint8_t* dst);

// Keeps each 64-pixel block's dominant frequency band and directions;
// percentages = {low, high, angular}.
[[nodiscard]] bal_status bal_adaptive_bandpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                      uint32_t ignored, const uint32_t* percentages, uint8_t* dst);
// Its spectrum callback, for 64-point blocks; context = percentages.
[[nodiscard]] bal_status adaptive_bandpass_filter(int32_t* real, int32_t* imag, uint32_t block, uint8_t* scratch,
                                                  uint32_t scratch_size, void* context);

// Dominant period of n samples in 8.8 fixed point (samples per cycle x 256),
// searched over f_min..f_max cycles; 0 when none.
int32_t bal_SFT_8(const uint8_t* signal, int32_t f_min, int32_t f_max, uint32_t n);

// Edge-preserving smoothing weighted by distance and by grey-level difference
// in the guide image (the source when guide is null). BAL_OK or BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_bilateral_filter(const uint8_t* src, uint32_t rows, int32_t cols, uint32_t radius,
                                              const uint8_t* guide, uint8_t* dst);

// Local-statistics (Wiener) denoising; a negative noise level is estimated as
// the mean local variance.
[[nodiscard]] bal_status bal_wiener_filter(const uint8_t* src, uint32_t rows, uint32_t cols, int32_t noise,
                                           uint32_t radius, uint8_t* dst);
