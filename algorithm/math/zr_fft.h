// Fixed-point FFTs: complex 1-D transforms of 16, 32, 64 and 128 points and
// 2-D forward and inverse transforms of real N x N blocks of the same sizes.
//
// The 1-D transform computes X[k] = (1/N) sum_n x[n] e^(-2 pi i n k / N) with
// arithmetic shifts (rounding towards minus infinity) and twiddle constants
// rounded to 1/1024. The 2-D forward transform is the 2-D DFT divided by N^2,
// written as a half spectrum (N rows of N/2 + 1 columns, see fp_types.h);
// the 2-D inverse is the unnormalised inverse DFT divided by N^2.
// All arithmetic wraps in 32 bits; callers keep their values small enough.
#pragma once

#include <cstdint>

// 1-D transforms of N complex values given as separate real and imaginary
// arrays. The inputs are not changed; the outputs must not overlap them.
void zr_fftn16(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);
void zr_fftn32(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);
void zr_fftn64(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);
void zr_fftn128(const int32_t* in_re, const int32_t* in_im, int32_t* out_re, int32_t* out_im);

// 2-D forward transform of the real N x N block (row-major, not changed)
// into the half spectrum spec_re / spec_im (N x (N/2 + 1) each).
void zr_fftn2d16(const int32_t* block, int32_t* spec_re, int32_t* spec_im);
void zr_fftn2d32(const int32_t* block, int32_t* spec_re, int32_t* spec_im);
void zr_fftn2d64(const int32_t* block, int32_t* spec_re, int32_t* spec_im);
void zr_fftn2d128(const int32_t* block, int32_t* spec_re, int32_t* spec_im);

// 2-D inverse transform of the half spectrum (not changed) into the real
// N x N block. work holds N x (N/2 + 1) values; afterwards it holds the
// imaginary parts of the column pass.
void zr_fftni2d16(const int32_t* spec_re, const int32_t* spec_im, int32_t* block, int32_t* work);
void zr_fftni2d32(const int32_t* spec_re, const int32_t* spec_im, int32_t* block, int32_t* work);
void zr_fftni2d64(const int32_t* spec_re, const int32_t* spec_im, int32_t* block, int32_t* work);
void zr_fftni2d128(const int32_t* spec_re, const int32_t* spec_im, int32_t* block, int32_t* work);
