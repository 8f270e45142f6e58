#include "imaging/bal_border_block.h"

#include "imaging/bal_fft_filter.h"
#include "math/zr_trig.h"

namespace {

constexpr uint32_t kSectors = 16;
constexpr uint32_t kMaxBlock = 128;

bool supported_block(uint32_t block) { return block == 16 || block == 32 || block == 64 || block == 128; }

// Direction sector of the frequency (ky, kx): 16 sectors of a half turn, so
// opposite frequencies (conjugate entries) share a sector.
uint32_t sector_of(int32_t ky, int32_t kx) {
    return (static_cast<uint8_t>(zr_atan2_(ky, kx)) >> 3) & (kSectors - 1);
}

// The strongest sector, the first one on a tie.
uint32_t strongest_sector(const uint32_t* energy) {
    uint32_t peak = 0;
    for (uint32_t s = 1; s < kSectors; ++s)
        if (energy[s] > energy[peak]) peak = s;
    return peak;
}

}  // namespace

bal_status process_border_block(int32_t* real, int32_t* imag, uint32_t block, uint8_t*, uint32_t, void*) {
    if (!supported_block(block)) return BAL_OK;
    const int32_t n = static_cast<int32_t>(block);
    const int32_t half = n / 2;

    uint8_t magnitude[kMaxBlock * kMaxBlock];
    bal_render_fft(magnitude, real, imag, block);

    // Magnitude image row y, column x shows the frequency (y - half, x - half).
    uint32_t energy[kSectors] = {};
    for (int32_t ky = -half; ky < half; ++ky)
        for (int32_t kx = -half; kx < half; ++kx)
            if (ky != 0 || kx != 0) energy[sector_of(ky, kx)] += magnitude[(ky + half) * n + (kx + half)];

    const uint32_t peak = strongest_sector(energy);
    const uint32_t kept =
        (1u << peak) | (1u << ((peak + 1) % kSectors)) | (1u << ((peak + kSectors - 1) % kSectors));

    // Every half-spectrum entry: row r holds ky = r (r <= half) or r - n, and
    // column c holds kx = c.
    const int32_t stride = half + 1;
    for (int32_t r = 0; r < n; ++r) {
        const int32_t ky = r <= half ? r : r - n;
        for (int32_t c = 0; c <= half; ++c) {
            if (r == 0 && c == 0) continue;
            if ((kept >> sector_of(ky, c) & 1u) != 0) continue;
            real[r * stride + c] = 0;
            imag[r * stride + c] = 0;
        }
    }
    return BAL_OK;
}
