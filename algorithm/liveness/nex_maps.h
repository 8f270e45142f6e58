// Block orientation, coherence and ridge-period maps of the liveness mask.
//
// Blocks are 16 x 16 pixels, block (bi, bj) covering rows 16 bi .. 16 bi + 15
// and columns 16 bj .. 16 bj + 15, clipped at the image edge; maps are u8,
// block rows x block columns, row-major. Angles are 8-bit (256 a turn) from
// the column axis towards the row axis. An orientation code is the ridge
// direction over a half turn, 1..128 (128 stands for 0); 0 means none.
// Period codes are the ridge period in 1/16 pixel. Integer arithmetic only
// (Q14 trigonometry); no allocation and no reported failure.
#pragma once

#include <cstdint>

constexpr int32_t kNexBlockSize = 16;
constexpr uint8_t kNexNoPeriod = 160;  // 10 pixels, for blocks without orientation

// Normalises the grey levels of every usable block in place (mean 128,
// deviation 80), estimates its ridge orientation and coherence from smoothed
// gradients, then smooths the orientations by a coherence-weighted average
// of doubled angles over 3 x 3 or 5 x 5 blocks. Blocks are visited in
// row-major order and each normalised block is visible to the gradient
// windows of later blocks. The three maps must hold 0 on entry: a block whose
// mean is below 16 or 254 and above, or whose variance is below 30, is not
// written. On return `raw` holds the unsmoothed codes, `coherence` the
// coherences (0..255) after a 3 x 3 binomial smoothing (none when the grid is
// below 3 x 3), `smoothed` the smoothed codes. Nothing for block_rows < 1.
void compute_orientation(uint8_t* work, int32_t rows, int32_t cols, uint8_t* smoothed, uint8_t* coherence,
                         uint8_t* raw, int32_t block_rows, int32_t block_cols);

// Fills the whole period map: 160 for blocks without orientation, otherwise
// the code of the strongest frequency (2..16 cycles over 32 pixels, the
// lowest on a tie) of a 32-sample profile across the ridges; then a 3 x 3
// binomial smoothing of the map (none when the grid is below 3 x 3).
void compute_frequency(uint8_t* work, int32_t rows, int32_t cols, const uint8_t* orientation, uint8_t* period,
                       int32_t block_rows, int32_t block_cols);

// Pass 2 of compute_orientation on its own: the smoothed code of every block
// from the raw codes and the unsmoothed coherences (0 where the raw code is
// 0). Radius 1 when the neighbourhood's histogram of 8 orientation bins is
// spread (sum * 256 / peak above 899), else 2; the average is that of the
// doubled angles weighted by coherence, in Q14 sums of at most
// 25 x 255 x 16384.
void smooth_orientations(const uint8_t* raw, const uint8_t* coherence, uint8_t* smoothed, int32_t block_rows,
                         int32_t block_cols);

// The 32-entry profile across the ridges of block (bi, bj) with orientation
// code o: entry k is the mean of the up to 16 samples along the ridge that
// lie inside the image (integer division), or the block mean (low 8 bits)
// when none does.
void block_ridge_profile(const uint8_t* work, int32_t rows, int32_t cols, int32_t bi, int32_t bj, uint8_t o,
                         int32_t* profile);

// The period code of the strongest of frequencies 2..16 of a 32-entry
// profile, by an integer radix-2 DFT with Q14 twiddles rounded at each stage.
uint8_t profile_period_code(const int32_t* profile);
