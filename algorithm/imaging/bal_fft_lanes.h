// Forward 2-D transforms of eight real 32 x 32 blocks at once, one block a
// lane, with exactly the integer results of zr_fftn2d32 on each block.
//
// Layout ("by lane"): value v of block b is at [v * BAL_FFT_LANES + b], so
// block pixel (y, x) is in[(y * 32 + x) * 8 + b] and spectrum bin (u, v) is
// re[(u * columns + v) * 8 + b].
#pragma once

#include <cstdint>

constexpr uint32_t BAL_FFT_LANES = 8;
constexpr uint32_t BAL_FFT32_HALF_COLUMNS = 17;
constexpr uint32_t BAL_FFT_ALIGNMENT = 32;

// Implementation choice; the results are the same for all of them.
enum class bal_simd_path {
    automatic,  // AVX2 where the processor has it, else portable
    scalar,     // the reference: zr_fftn2d32 on each block
    portable,   // vector code for any x86-64 (SSE2)
    avx2,       // AVX2; the portable code where the processor lacks it
};

// True when the processor runs the AVX2 path.
bool bal_simd_has_avx2();

// Transforms the eight blocks of `in` (by lane; not changed) and writes the
// first `columns` columns (1..17) of each half spectrum (32 rows) to re and
// im (by lane, 32 * columns * 8 values each). Columns outside 1..17 are
// clamped. All three buffers are 32-byte aligned (BAL_FFT_ALIGNMENT); the
// outputs must not overlap the input.
void bal_fft2d32_lanes(const int32_t* in, uint32_t columns, int32_t* re, int32_t* im,
                       bal_simd_path path = bal_simd_path::automatic);

// Inverse 2-D transforms of eight half spectra at once, with exactly the
// integer results of zr_fftni2d32 on each: re and im (by lane, 32 x 17
// values each; not changed) into block (by lane, 32 x 32). Only the row pairs
// first_pair .. first_pair + pairs - 1 (rows 2 * first_pair onwards) are
// completed; the other rows of block hold intermediate values. work holds
// 32 x 17 x 8 values. All buffers are 32-byte aligned; pairs is clamped to
// the 16 pairs there are.
void bal_ifft2d32_lanes(const int32_t* re, const int32_t* im, uint32_t first_pair, uint32_t pairs,
                        int32_t* block, int32_t* work, bal_simd_path path = bal_simd_path::automatic);
