#include "imaging/bal_freq_filters.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_blur.h"
#include "imaging/bal_fft_filter.h"
#include "imaging/bal_statistics.h"
#include "imaging/bal_status.h"
#include "math/lib_memory.h"
#include "math/zr_roots.h"
#include "math/zr_trig.h"

namespace {

#include "imaging/bal_freq_filter_tables.inc"

constexpr uint32_t kBandpassBlock = 64;
constexpr uint32_t kBandpassOverlap = 32;
constexpr uint32_t kBandpassPad = 4;
constexpr int32_t kClassHalfWidth = 16;

// The stored kernel of the first class whose centre lies within 16 dpi.
const uint8_t* stored_kernel_for(int32_t resolution) {
    for (int i = 0; i < 9; ++i)
        if (resolution >= kBandpassClassCentres[i] - kClassHalfWidth &&
            resolution <= kBandpassClassCentres[i] + kClassHalfWidth)
            return kBandpassKernels[i];
    return nullptr;
}

bal_status filter_with_kernel(const uint8_t* src, uint32_t rows, uint32_t cols, const uint8_t* kernel,
                              bal_spectrum_callback callback, uint8_t* dst) {
    return bal_filter_fft_blocks_simple(dst, src, rows, cols, kBandpassBlock, kBandpassOverlap,
                                        kBandpassPad, callback, const_cast<uint8_t*>(kernel));
}

bal_status filter_with_built_kernel(const uint8_t* src, uint32_t rows, uint32_t cols,
                                    int32_t resolution, int32_t low_cut, int32_t low_width,
                                    int32_t high_cut, int32_t high_width,
                                    bal_spectrum_callback callback, uint8_t* dst) {
    uint8_t* kernel = create_filter(resolution, low_cut, low_width, high_cut, high_width);
    if (!kernel) return BAL_UNSUPPORTED;
    const bal_status status = filter_with_kernel(src, rows, cols, kernel, callback, dst);
    std::free(kernel);
    return status;
}

bal_status resolution_bandpass(const uint8_t* src, uint32_t rows, uint32_t cols, int32_t resolution,
                               bal_spectrum_callback stored_callback,
                               bal_spectrum_callback built_callback, uint8_t* dst) {
    if (const uint8_t* kernel = stored_kernel_for(resolution))
        return filter_with_kernel(src, rows, cols, kernel, stored_callback, dst);
    return filter_with_built_kernel(src, rows, cols, resolution, 201, 0, 1280, 512, built_callback,
                                    dst);
}

}  // namespace

bal_status bal_bandpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols, int32_t resolution,
                               uint8_t* dst) {
    return resolution_bandpass(src, rows, cols, resolution, bal_filter_fft_convolution,
                               bal_filter_fft_convolution_new, dst);
}

bal_status bal_inverted_bandpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols,
                                        int32_t resolution, uint8_t* dst) {
    return resolution_bandpass(src, rows, cols, resolution, bal_filter_fft_inverted_convolution,
                               bal_filter_fft_inverted_convolution, dst);
}

bal_status bal_generic_bandpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols,
                                       int32_t resolution, int32_t low_cut, int32_t low_width,
                                       int32_t high_cut, int32_t high_width, uint8_t* dst) {
    return filter_with_built_kernel(src, rows, cols, resolution, low_cut, low_width, high_cut,
                                    high_width, bal_filter_fft_convolution_new, dst);
}

bal_status bal_generic_inverted_bandpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols,
                                                int32_t resolution, int32_t low_cut,
                                                int32_t low_width, int32_t high_cut,
                                                int32_t high_width, uint8_t* dst) {
    return filter_with_built_kernel(src, rows, cols, resolution, low_cut, low_width, high_cut,
                                    high_width, bal_filter_fft_inverted_convolution, dst);
}

bal_status bal_highpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t,
                               uint8_t option, uint8_t* dst) {
    return bal_filter_fft_blocks_simple(dst, src, rows, cols, kBandpassBlock, kBandpassOverlap,
                                        kBandpassPad, highpass_filter_process, &option);
}

bal_status bal_lowpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t,
                              uint8_t option, uint8_t* dst) {
    return bal_filter_fft_blocks_simple(dst, src, rows, cols, kBandpassBlock, kBandpassOverlap,
                                        kBandpassPad, lowpass_filter_process, &option);
}

bal_status bal_adaptive_bandpass_filter(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t,
                                        const uint32_t* percentages, uint8_t* dst) {
    return bal_filter_fft_blocks_simple(dst, src, rows, cols, kBandpassBlock, 16, kBandpassPad,
                                        adaptive_bandpass_filter,
                                        const_cast<uint32_t*>(percentages));
}

namespace {

constexpr int32_t kN = 64;
constexpr int32_t kHalf = kN / 2;
constexpr int32_t kSectors = 16;

uint32_t sector_of(int32_t y, int32_t x) {
    return (static_cast<uint8_t>(zr_atan2_(y, x)) >> 3) & 15u;
}

// Radius (from the low end) where the cumulative radial energy passes bound.
uint32_t low_radius(const uint32_t* radial, uint32_t bound) {
    uint32_t sum = radial[0];
    if (sum > bound) return 0;
    for (uint32_t r = 1; r <= kHalf; ++r) {
        sum += radial[r];
        if (sum > bound) return r;
    }
    return 0;
}

// Radius (from the high end) where the tail energy passes bound.
uint32_t high_radius(const uint32_t* radial, uint32_t bound) {
    if (radial[kHalf] > bound) return kHalf;
    uint32_t tail = radial[kHalf];
    for (uint32_t r = kHalf - 1; r >= 1; --r) {
        tail += radial[r];
        if (tail > bound) return r;
    }
    return 0;
}

// Mean magnitude per direction sector inside the ring, gaps filled from the
// neighbours.
void sector_means(const uint8_t* magnitude, uint32_t r_lo, uint32_t r_hi, uint32_t* energy) {
    uint32_t count[kSectors] = {};
    std::fill(energy, energy + kSectors, 0u);
    for (int32_t y = kN / 4; y < 3 * kN / 4; ++y) {
        for (int32_t x = kN / 4; x < 3 * kN / 4; ++x) {
            const uint32_t d2 = uint32_t((x - kHalf) * (x - kHalf) + (y - kHalf) * (y - kHalf));
            if (d2 < r_lo * r_lo || d2 > r_hi * r_hi) continue;
            const uint32_t s = sector_of(y - kHalf, x - kHalf);
            energy[s] += magnitude[y * kN + x];
            ++count[s];
        }
    }
    for (int s = 0; s < kSectors; ++s)
        if (count[s] != 0) energy[s] /= count[s];
    for (int s = 0; s < kSectors; ++s)
        if (count[s] == 0)
            energy[s] = (energy[(s + 1) % kSectors] + energy[(s + kSectors - 1) % kSectors]) >> 1;
}

// Grows a cyclic interval of sectors around the strongest until its energy
// passes the angular share; returns the passing sectors as a bit set.
uint32_t passing_sectors(const uint32_t* energy, uint32_t percent) {
    uint32_t peak = 0, total = 0;
    for (uint32_t s = 0; s < kSectors; ++s) {
        total += energy[s];
        if (energy[s] > energy[peak]) peak = s;
    }
    const uint32_t bound = total * percent / 100;
    uint32_t left = peak, right = peak, sum = energy[peak];
    for (int step = 0; step < kSectors && sum <= bound; ++step) {
        const uint32_t l = (left + kSectors - 1) % kSectors;
        const uint32_t r = (right + 1) % kSectors;
        if (energy[l] > energy[r]) {
            left = l;
            sum += energy[l];
        } else {
            right = r;
            sum += energy[r];
        }
    }
    if (left == right) return 0xFFFFu;
    uint32_t set = 0;
    for (uint32_t s = left;; s = (s + 1) % kSectors) {
        set |= 1u << s;
        if (s == right) break;
    }
    return set;
}

}  // namespace

bal_status adaptive_bandpass_filter(int32_t* real, int32_t* imag, uint32_t, uint8_t*, uint32_t,
                                    void* context) {
    const uint32_t* percentages = static_cast<const uint32_t*>(context);
    uint8_t magnitude[kN * kN];
    bal_render_fft(magnitude, real, imag, kN);

    uint32_t radial[kHalf + 1] = {};
    for (int32_t y = kN / 4; y < 3 * kN / 4; ++y) {
        for (int32_t x = kN / 4; x < 3 * kN / 4; ++x) {
            const uint32_t d2 = uint32_t((x - kHalf) * (x - kHalf) + (y - kHalf) * (y - kHalf));
            if (d2 > 0 && d2 < uint32_t(kN / 4) * (kN / 4)) radial[zr_sqrt_(d2)] += magnitude[y * kN + x];
        }
    }
    uint32_t total = 0;
    for (uint32_t r = 0; r <= kHalf; ++r) total += radial[r];
    const uint32_t r_lo = low_radius(radial, percentages[0] * total / 100);
    const uint32_t r_hi = high_radius(radial, percentages[1] * total / 100);

    uint32_t energy[kSectors];
    sector_means(magnitude, r_lo, r_hi, energy);
    const uint32_t passing = passing_sectors(energy, percentages[2]);

    const int32_t stride = kHalf + 1;
    for (int32_t ky = -kHalf; ky < kHalf; ++ky) {
        for (int32_t kx = -kHalf; kx < kHalf; ++kx) {
            if (ky == 0 && kx == 0) continue;
            const uint32_t d2 = uint32_t(kx * kx + ky * ky);
            const bool keep = d2 >= r_lo * r_lo && d2 <= r_hi * r_hi &&
                              (passing >> sector_of(ky, kx) & 1u) != 0;
            if (keep) continue;
            int32_t r = (ky + kN) % kN, c = (kx + kN) % kN;
            if (c > kHalf) {
                r = (kN - r) % kN;
                c = kN - c;
            }
            real[r * stride + c] = 0;
            imag[r * stride + c] = 0;
        }
    }
    return BAL_OK;
}

int32_t bal_SFT_8(const uint8_t* signal, int32_t f_min, int32_t f_max, uint32_t n) {
    if (f_min > f_max) return 0;
    int32_t best = 0;
    int64_t best_power = 0;
    // The angle, the sums and the power are kept in 64 bits: in 32 bits they
    // wrap already for 64 samples at full contrast.
    for (int32_t f = f_min; f <= f_max; ++f) {
        const int64_t step = -411774ll * f;  // -2 pi f in Q16 radians
        int64_t angle = 0, re = 0, im = 0;
        for (uint32_t k = 0; k < n; ++k) {
            const int32_t theta = static_cast<int32_t>(angle / int64_t{n});
            angle += step;
            re += int64_t{signal[k]} * zr_cos_14(theta);
            im += int64_t{signal[k]} * zr_sin_14(theta);
        }
        const int64_t power = (re >> 8) * (re >> 8) + (im >> 8) * (im >> 8);
        if (power > best_power) {
            best_power = power;
            best = f;
        }
    }
    if (best == 0) return 0;
    return static_cast<int32_t>((int64_t{n} << 8) / best);
}

bal_status bal_bilateral_filter(const uint8_t* src, uint32_t rows, int32_t cols_signed,
                                uint32_t radius, const uint8_t* guide, uint8_t* dst) {
    if (cols_signed <= 0 || rows == 0 || radius == 0) return BAL_OK;
    const uint32_t cols = static_cast<uint32_t>(cols_signed);
    const size_t size = size_t{rows} * cols;
    const uint8_t* const source = src;
    uint8_t* copy = nullptr;
    if (src == dst) {
        copy = static_cast<uint8_t*>(std::malloc(size));
        if (!copy) return BAL_NO_MEMORY;
        std::memcpy(copy, src, size);
        src = copy;
    }
    // Without a guide, or with the source as guide, read the guide from the
    // (possibly copied) source so that writing dst cannot change it.
    if (!guide || guide == source) guide = src;

    const uint32_t range = std::min<uint32_t>(6 * bal_image_std(guide, rows, cols, nullptr), 255);
    const int32_t r = static_cast<int32_t>(radius);
    const uint32_t r2 = radius * radius;
    for (int32_t y = 0; y < static_cast<int32_t>(rows); ++y) {
        for (int32_t x = 0; x < static_cast<int32_t>(cols); ++x) {
            const int32_t centre = guide[size_t(y) * cols + x];
            uint64_t weight_sum = 0, weighted = 0;
            for (int32_t dy = -r; dy <= r; ++dy) {
                const int32_t yy = y + dy;
                if (yy < 0 || yy >= static_cast<int32_t>(rows)) continue;
                for (int32_t dx = -r; dx <= r; ++dx) {
                    const int32_t xx = x + dx;
                    if (xx < 0 || xx >= static_cast<int32_t>(cols)) continue;
                    const uint32_t delta = uint32_t(std::abs(guide[size_t(yy) * cols + xx] - centre));
                    const uint32_t dist2 = uint32_t(dx * dx + dy * dy);
                    if (delta > range || dist2 > r2) continue;
                    const uint32_t spatial = zr_sqrt_((dist2 * 65025 + r2 / 2) / r2);
                    // A flat guide (range 0) admits only equal grey levels.
                    const uint32_t tonal = range == 0 ? 0 : (delta * 255 + range / 2) / range;
                    const uint32_t w = uint32_t{kBilateralWeights[spatial]} * kBilateralWeights[tonal];
                    weight_sum += w;
                    weighted += uint64_t{w} * src[size_t(yy) * cols + xx];
                }
            }
            const size_t i = size_t(y) * cols + x;
            dst[i] = weight_sum != 0 ? static_cast<uint8_t>(weighted / weight_sum) : src[i];
        }
    }
    std::free(copy);
    return BAL_OK;
}

bal_status bal_wiener_filter(const uint8_t* src, uint32_t rows, uint32_t cols, int32_t noise,
                             uint32_t radius, uint8_t* dst) {
    const size_t size = size_t{rows} * cols;
    if (size == 0) return BAL_OK;
    uint8_t* mean = static_cast<uint8_t*>(std::malloc(size));
    uint16_t* variance = static_cast<uint16_t*>(std::malloc(size * sizeof(uint16_t)));
    if (lib_memory_check(mean, variance, nullptr, nullptr, nullptr, nullptr, nullptr, 2) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    std::memcpy(mean, src, size);
    bal_status status = BAL_OK;
    for (uint32_t i = 0; i < radius && status == BAL_OK; ++i)
        status = bal_blur_uint8(mean, rows, cols, mean);
    if (status == BAL_OK) status = bal_var_local_uint8(src, rows, cols, radius, variance);
    if (status != BAL_OK) {
        std::free(mean);
        std::free(variance);
        return status;
    }
    int32_t level = noise;
    if (level < 0) {
        uint64_t sum = 0;
        for (size_t i = 0; i < size; ++i) sum += variance[i];
        level = static_cast<uint16_t>(sum / size);
    }
    for (size_t i = 0; i < size; ++i) {
        const int32_t v = variance[i];
        const int32_t d = std::max(level, v);
        const int32_t s = src[i];
        if (d == 0) {
            dst[i] = static_cast<uint8_t>(s);
            continue;
        }
        const int32_t m = mean[i];
        const int32_t out = m + ((s - m) * std::max(v - level, 0)) / d;
        dst[i] = static_cast<uint8_t>(std::clamp(out, 0, 255));
    }
    std::free(mean);
    std::free(variance);
    return BAL_OK;
}
