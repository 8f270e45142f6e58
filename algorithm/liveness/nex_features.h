// Texture features of the liveness detector: 190 integers measured on a grey
// image under its liveness mask.
//
// Image: 8-bit grey, row-major, rows x cols. Mask: one byte a pixel, non-zero
// inside the usable area; bit 1 (value 2) marks ridge skeleton pixels and bit
// 2 (value 4) valley skeleton pixels. The ridge and valley walks clear the bit
// of every pixel they visit; nothing else of the inputs changes.
//
// Layout of the record (all i32):
//   0-35    LBP histogram, radius 1 (36 rotation classes)
//   36-71   LBP histogram, radius 2
//   72-141  LPQ histogram (70 classes)
//   142-155 grey-level and wavelet statistics along ridges
//   156-165 pore contrast histogram
//   166-174 pore spacing histogram
//   175     pore density
//   176-189 grey-level and wavelet statistics along valleys
// The LBP and LPQ histograms are normalised to sum to about 2^20: with N the
// pixels counted, each bin becomes (count * (0x7FFFFFFF / N)) >> 11; N = 0
// leaves them 0. All arithmetic is integer; wrapping is 32-bit two's
// complement where a sum can overflow.
#pragma once

#include <cstdint>

constexpr int32_t kNexFeatureCount = 190;
constexpr int32_t kNexLbpClasses = 36;
constexpr int32_t kNexLpqClasses = 70;

// Offsets of the feature groups in the record.
constexpr int32_t kNexLbpRadius1 = 0;
constexpr int32_t kNexLbpRadius2 = 36;
constexpr int32_t kNexLpq = 72;
constexpr int32_t kNexRidgeStats = 142;
constexpr int32_t kNexPoreContrast = 156;
constexpr int32_t kNexPoreSpacing = 166;
constexpr int32_t kNexPoreDensity = 175;
constexpr int32_t kNexValleyStats = 176;

constexpr int32_t kNexPoreContrastBins = 10;
constexpr int32_t kNexPoreSpacingBins = 9;

// Mask bits of the skeleton classes.
constexpr uint8_t kNexRidgeBit = 2;
constexpr uint8_t kNexValleyBit = 4;

// Zeroes the 190 features, then fills them: LBP radius 1 and 2, LPQ, ridge
// and pore statistics, valley statistics, in that order. Clears the ridge and
// valley bits of the mask pixels that the walks visit. Never fails; rows or
// cols below 1 leave the record zeroed.
void nex_features_extract(const uint8_t* image, uint8_t* mask, int32_t rows, int32_t cols, int32_t* record);

// Rotation-invariant LBP histogram of radius 1 or 2 (other radii up to 5 use
// the diagonal offset round(r / sqrt 2)) over the masked pixels at least r
// from every edge, written as 36 normalised classes to out[0..35]. Nothing is
// written when no pixel is counted.
void extract_lbp_features(int32_t* out, const uint8_t* image, const uint8_t* mask, int32_t radius, int32_t rows,
                          int32_t cols);

// Writes the bins of the 36 rotation-minimal codes of an already folded
// 256-bin histogram over `pixels` counted pixels, normalised, to out[0..35].
// Nothing is written when pixels is 0.
void transfer_lbp_features(const uint32_t* histogram, uint32_t pixels, int32_t* out);

// LPQ histogram (70 classes folded under rotation by 45 degree steps) over the
// masked pixels at least 2 from every edge, to out[0..69]. Nothing is written
// for fewer than 5 rows or when no pixel is counted.
void lpq_features(const uint8_t* image, const uint8_t* mask, int32_t rows, int32_t cols, int32_t* out);

// Walks the ridge skeleton (mask bit 1) from every ridge end, clearing the
// bits it visits, and adds to record[142..175]: grey-level and wavelet sums,
// pore contrast, spacing and density, each divided by its count at the end.
// Positions outside the image count as unmasked and are never read.
void ridge_pore_features(const uint8_t* image, uint8_t* mask, int32_t rows, int32_t cols, int32_t* record);

// The same walk over the valley skeleton (mask bit 2) without the pore
// detector, into record[176..189].
void valley_features(const uint8_t* image, uint8_t* mask, int32_t rows, int32_t cols, int32_t* record);

// State of the wavelet cascade that one walk function keeps over all its
// walks: six circular buffers of 16 values (levels 0 to 5) with the position
// of their newest value, the toggles that halve the rate from level to level,
// the previous detail of each level, the previous approximation and seven
// sample counts (count 0 is the caller's: every walked pixel).
struct nex_wavelet_state {
    static constexpr int32_t kLevels = 5;
    static constexpr int32_t kTaps = 16;
    int32_t buffer[kLevels + 1][kTaps];
    int32_t position[kLevels + 1];
    int32_t toggle[kLevels];
    int32_t previous_detail[kLevels];
    int32_t previous_approximation;
    int32_t count[kLevels + 2];
};

// The cascade's initial state: buffers 0, positions 15 (the first value goes
// to entry 0), toggles 1, previous values and counts 0.
void nex_wavelet_reset(nex_wavelet_state* state);

// Puts s into the level-0 buffer and counts it in count 0 (the caller's part
// of the cascade).
void nex_wavelet_push(nex_wavelet_state* state, int32_t s);

// One step of the cascade after a value entered the level-0 buffer: level k
// runs on every 2^(k+1)-th sample, filters its 16 newest values with the db8
// detail and approximation kernels (Q18, halved coefficients, 32-bit sums
// shifted right arithmetically by 18), adds |d| to out[2k] and the change of
// d to out[2k+1], and passes the approximation to level k + 1; after level 4
// adds |a| and its change to out[10] and out[11]. Adds wrap at 32 bits.
void filter_WT_scales(int32_t* out, nex_wavelet_state* state);

// a / b rounded half away from zero; 0 when b is 0 (no caller divides by 0).
// Computed in 64 bits, so INT32_MIN / -1 wraps instead of trapping.
int32_t int_div(int32_t a, int32_t b);

// v clamped to 0..255.
uint8_t int2uchar(int32_t v);

// Index of the centre nearest to value, the first on ties; 0 when n < 2.
int32_t hist_mapping(int32_t value, const int32_t* centres, int32_t n);

// Histogram equalisation in place: each value v becomes 255 * (number of
// values <= v) / n (truncating). Nothing for n < 1.
void hist_eq(uint8_t* bytes, int32_t n);

// Zeroes the k counts, then counts each of the n values in the bin of its
// nearest centre (as hist_mapping).
void hist_int(const int32_t* values, int32_t n, int32_t* counts, const int32_t* centres, int32_t k);

// Variance: 0 for n < 1; otherwise m = int_div(sum, n) and the result is
// (sum of (x - m)^2 + n / 2) / n, sums wrapping at 32 bits.
int32_t var_array(const int32_t* values, int32_t n);
int32_t var_array_uchar(const uint8_t* values, int32_t n);
