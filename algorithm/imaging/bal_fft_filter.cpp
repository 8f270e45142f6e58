#include "imaging/bal_fft_filter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_crop_resize.h"
#include "imaging/bal_status.h"
#include "math/zr_fft.h"
#include "math/zr_roots.h"

namespace {

#include "imaging/bal_fft_filter_tables.inc"

using forward_fft = void (*)(const int32_t* block, int32_t* spec_re, int32_t* spec_im);
using inverse_fft = void (*)(const int32_t* spec_re, const int32_t* spec_im, int32_t* block,
                             int32_t* work);

struct fft_pair {
    uint32_t log2_block;
    forward_fft forward;
    inverse_fft inverse;
};

constexpr fft_pair kFft16{4, zr_fftn2d16, zr_fftni2d16};
constexpr fft_pair kFft32{5, zr_fftn2d32, zr_fftni2d32};
constexpr fft_pair kFft64{6, zr_fftn2d64, zr_fftni2d64};
constexpr fft_pair kFft128{7, zr_fftn2d128, zr_fftni2d128};

const fft_pair* fft_pair_for(uint32_t block) {
    switch (block) {
        case 16: return &kFft16;
        case 32: return &kFft32;
        case 64: return &kFft64;
        case 128: return &kFft128;
        default: return nullptr;
    }
}

// Number of blocks of size b, stepping b - ov, needed to cover n pixels, and
// the actual step that spreads them evenly with the last one flush.
struct tiling_axis {
    uint32_t count;
    uint32_t step;
    uint32_t skip;  // first row/column a block owns after its predecessor
};

tiling_axis plan_axis(uint32_t n, uint32_t b, uint32_t ov) {
    const uint32_t nominal_step = b - ov;
    tiling_axis axis{};
    axis.count = (n - ov + nominal_step - 1) / nominal_step;
    axis.step = axis.count > 1 ? (n - b + axis.count - 2) / (axis.count - 1) : 0;
    axis.skip = (b - axis.step) - (b - axis.step) / 2;
    return axis;
}

// Converts the inverse transform's output back to pixels. The forward and
// inverse pair divide by B^2, so (p - 128) * 4096 comes back as
// (p - 128) * 4096 / B^2: a right shift by 4 (B = 16), 2 (B = 32), none
// (B = 64) restores p - 128. For B = 128 the value is a quarter of p - 128: it
// is multiplied by 4 (plus half a step for the rounding) so that every block
// size has unit gain.
inline uint8_t block_value_to_pixel(int32_t v, uint32_t log2_block) {
    int32_t p;
    switch (log2_block) {
        case 4: p = (v + (128 << 4) + 8) >> 4; break;
        case 5: p = (v + (128 << 2) + 2) >> 2; break;
        case 6: p = v + 128; break;
        default: p = v * 4 + 128 + 2; break;
    }
    return static_cast<uint8_t>(std::clamp(p, 0, 255));
}

bal_status filter_tiles(const fft_pair& fft, uint8_t* dst, const uint8_t* src, uint32_t rows,
                        uint32_t cols, uint32_t overlap, uint8_t* work, uint32_t work_size,
                        bal_spectrum_callback callback, void* context) {
    const uint32_t b = 1u << fft.log2_block;
    if (b > rows || b > cols || dst == src) return BAL_BAD_ARGUMENT;
    const uint32_t align = static_cast<uint32_t>(-reinterpret_cast<uintptr_t>(work) & 3u);
    if (align > work_size || work_size - align < b * b) return BAL_FFT_WORK_TOO_SMALL;

    const uint32_t ov = std::min(overlap, b - 1);
    const tiling_axis vertical = plan_axis(rows, b, ov);
    const uint32_t after_result = work_size - align - b * b;
    const uint32_t spectrum_values = b * (b / 2 + 1);
    const uint64_t arrays_bytes = 4ull * (uint64_t{b} * b + 3ull * spectrum_values);
    const tiling_axis horizontal = plan_axis(cols, b, ov);

    uint8_t* result = work + align;
    int32_t* spatial = reinterpret_cast<int32_t*>(result + b * b);
    int32_t* spec_re = spatial + b * b;
    int32_t* spec_im = spec_re + spectrum_values;
    int32_t* inverse_work = spec_im + spectrum_values;
    uint8_t* scratch = reinterpret_cast<uint8_t*>(inverse_work + spectrum_values);
    const uint32_t scratch_size =
        after_result >= arrays_bytes ? static_cast<uint32_t>(after_result - arrays_bytes) : 0;

    for (uint32_t i = 0; i < vertical.count; ++i) {
        const uint32_t r0 = i + 1 == vertical.count ? rows - b : i * vertical.step;
        const uint32_t first_y = r0 == 0 ? 0 : vertical.skip;
        for (uint32_t j = 0; j < horizontal.count; ++j) {
            if (after_result < arrays_bytes) return BAL_FFT_WORK_TOO_SMALL;
            const uint32_t c0 = j + 1 == horizontal.count ? cols - b : j * horizontal.step;
            const uint32_t first_x = c0 == 0 ? 0 : horizontal.skip;

            for (uint32_t y = 0; y < b; ++y) {
                const uint8_t* row = src + static_cast<size_t>(r0 + y) * cols + c0;
                int32_t* out = spatial + y * b;
                for (uint32_t x = 0; x < b; ++x) out[x] = (int32_t{row[x]} << 12) - 0x80000;
            }
            fft.forward(spatial, spec_re, spec_im);
            const bal_status status = callback(spec_re, spec_im, b, scratch, scratch_size, context);
            if (status != BAL_OK) return status;
            fft.inverse(spec_re, spec_im, spatial, inverse_work);
            for (uint32_t k = 0; k < b * b; ++k)
                result[k] = block_value_to_pixel(spatial[k], fft.log2_block);

            for (uint32_t y = first_y; y < b; ++y)
                std::memcpy(dst + static_cast<size_t>(r0 + y) * cols + c0 + first_x,
                            result + y * b + first_x, b - first_x);
        }
    }
    return BAL_OK;
}

// Applies f(value, k) to every real and imaginary value of the half spectrum.
template <typename Weight>
bal_status weight_spectrum(int32_t* real, int32_t* imag, uint32_t block, const void* kernel,
                           Weight weight) {
    const uint8_t* k = static_cast<const uint8_t*>(kernel);
    const uint32_t n = block * (block / 2 + 1);
    for (uint32_t i = 0; i < n; ++i) {
        real[i] = weight(real[i], int32_t{k[i]});
        imag[i] = weight(imag[i], int32_t{k[i]});
    }
    return BAL_OK;
}

}  // namespace

uint32_t bal_filter_fft_worksize(uint32_t block) {
    return block * (block + 4 * (3 * (block / 2) + 3 + block)) + 4;
}

bal_status bal_filter_fft_blocks(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t cols,
                                 uint32_t block, uint32_t overlap, uint8_t* work,
                                 uint32_t work_size, bal_spectrum_callback callback,
                                 void* context) {
    const fft_pair* fft = fft_pair_for(block);
    if (!fft) return BAL_UNSUPPORTED;
    return filter_tiles(*fft, dst, src, rows, cols, overlap, work, work_size, callback, context);
}

bal_status bal_filter_fft16_blocks(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t cols,
                                   uint32_t overlap, uint8_t* work, uint32_t work_size,
                                   bal_spectrum_callback callback, void* context) {
    return filter_tiles(kFft16, dst, src, rows, cols, overlap, work, work_size, callback, context);
}

bal_status bal_filter_fft32_blocks(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t cols,
                                   uint32_t overlap, uint8_t* work, uint32_t work_size,
                                   bal_spectrum_callback callback, void* context) {
    return filter_tiles(kFft32, dst, src, rows, cols, overlap, work, work_size, callback, context);
}

bal_status bal_filter_fft64_blocks(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t cols,
                                   uint32_t overlap, uint8_t* work, uint32_t work_size,
                                   bal_spectrum_callback callback, void* context) {
    return filter_tiles(kFft64, dst, src, rows, cols, overlap, work, work_size, callback, context);
}

bal_status bal_filter_fft128_blocks(uint8_t* dst, const uint8_t* src, uint32_t rows, uint32_t cols,
                                    uint32_t overlap, uint8_t* work, uint32_t work_size,
                                    bal_spectrum_callback callback, void* context) {
    return filter_tiles(kFft128, dst, src, rows, cols, overlap, work, work_size, callback,
                        context);
}

bal_status bal_filter_fft_blocks_simple(uint8_t* dst, const uint8_t* src, uint32_t rows,
                                        uint32_t cols, uint32_t block, uint32_t overlap,
                                        uint32_t pad, bal_spectrum_callback callback,
                                        void* context) {
    // Checked first so that the sizes below cannot overflow; the tiling would
    // refuse the block size before writing anything in any case.
    if (!fft_pair_for(block)) return BAL_UNSUPPORTED;
    const uint64_t padded_rows64 = std::max<uint64_t>(uint64_t{rows} + 2ull * pad, block);
    const uint64_t padded_cols64 = std::max<uint64_t>(uint64_t{cols} + 2ull * pad, block);
    if (padded_rows64 * padded_cols64 > UINT32_MAX) return BAL_BAD_ARGUMENT;
    const uint32_t padded_rows = static_cast<uint32_t>(padded_rows64);
    const uint32_t padded_cols = static_cast<uint32_t>(padded_cols64);
    const uint32_t work_size = bal_filter_fft_worksize(block);

    if (padded_rows <= rows && padded_cols <= cols) {
        uint8_t* work = static_cast<uint8_t*>(std::malloc(work_size));
        uint8_t* copy = dst == src ? static_cast<uint8_t*>(std::malloc(size_t{rows} * cols))
                                   : nullptr;
        if (!work || (dst == src && !copy)) {
            std::free(work);
            std::free(copy);
            return BAL_NO_MEMORY;
        }
        const uint8_t* input = src;
        if (copy) {
            std::memcpy(copy, src, size_t{rows} * cols);
            input = copy;
        }
        const bal_status status = bal_filter_fft_blocks(dst, input, rows, cols, block, overlap,
                                                      work, work_size, callback, context);
        std::free(copy);
        std::free(work);
        return status;
    }

    const size_t padded_size = size_t{padded_rows} * padded_cols;
    uint8_t* expanded = static_cast<uint8_t*>(std::malloc(padded_size));
    uint8_t* work = static_cast<uint8_t*>(std::malloc(work_size));
    uint8_t* filtered = static_cast<uint8_t*>(std::malloc(padded_size));
    if (!expanded || !work || !filtered) {
        std::free(expanded);
        std::free(work);
        std::free(filtered);
        return BAL_NO_MEMORY;
    }
    bal_expand_image(src, rows, cols, padded_rows, padded_cols, (padded_rows - rows) / 2,
                     (padded_cols - cols) / 2, expanded);
    const bal_status status = bal_filter_fft_blocks(filtered, expanded, padded_rows, padded_cols,
                                                  block, overlap, work, work_size, callback,
                                                  context);
    if (status == BAL_OK) bal_crop_image_center(filtered, padded_rows, padded_cols, rows, cols, dst);
    std::free(expanded);
    std::free(work);
    std::free(filtered);
    return status;
}

bal_status bal_filter_fft_convolution(int32_t* real, int32_t* imag, uint32_t block, uint8_t*,
                                      uint32_t, void* kernel) {
    return weight_spectrum(real, imag, block, kernel,
                           [](int32_t v, int32_t k) { return (v * (k + 1)) >> 8; });
}

bal_status bal_filter_fft_convolution_new(int32_t* real, int32_t* imag, uint32_t block, uint8_t*,
                                          uint32_t, void* kernel) {
    return weight_spectrum(real, imag, block, kernel, [](int32_t v, int32_t k) {
        const int32_t p = v * k;
        return (p + (p >> 8) + 1) >> 8;
    });
}

bal_status bal_filter_fft_inverted_convolution(int32_t* real, int32_t* imag, uint32_t block,
                                               uint8_t*, uint32_t, void* kernel) {
    return weight_spectrum(real, imag, block, kernel,
                           [](int32_t v, int32_t k) { return (v * (256 - k)) >> 8; });
}

bal_status highpass_filter_process(int32_t*, int32_t*, uint32_t, uint8_t*, uint32_t, void*) {
    return BAL_UNSUPPORTED;
}

bal_status lowpass_filter_process(int32_t*, int32_t*, uint32_t, uint8_t*, uint32_t, void*) {
    return BAL_UNSUPPORTED;
}

namespace {

// (x * 127 +- half) / den, rounding half away from zero.
int32_t per_mm_to_per_inch(int32_t x, int32_t half, int32_t den) {
    return (x * 127 + (x >= 1 ? half : -half)) / den;
}

int32_t round_div(int32_t x, int32_t d) { return (x + d / 2) / d; }

// The raised-cosine ramp over the 2 x width bins from `start` (Q8, 256 at
// the first bin falling towards 0): each of those bins inside 0..255 becomes
// shape(its value, the ramp's). Nothing for a width of 0 or less.
template <typename Shape>
void apply_ramp(int32_t* profile, int32_t start, int32_t width, Shape shape) {
    for (int32_t i = 0; i < 2 * width; ++i) {
        const int32_t k = start + i;
        if (k >= 0 && k <= 255) profile[k] = shape(profile[k], kRaisedCosineRamp[63 - 32 * i / width]);
    }
}

// Raised-cosine or Gaussian low cut of the Q8 profile; cut16 in bins x 16.
void apply_low_cut(int32_t* profile, int32_t cut16, int32_t width) {
    if (cut16 == 0) return;
    if (width != 0) {
        const int32_t start = (cut16 >> 4) - width;
        if (start >= 0)
            for (int32_t k = 0; k <= std::min(start, 255); ++k) profile[k] = 0;
        apply_ramp(profile, start, width, [](int32_t, int32_t ramp) { return 256 - ramp; });
        return;
    }
    for (int32_t k = 0; k < 256; ++k) {
        const int32_t t = (k << 16) / cut16;  // k / cut in Q12
        if (t <= 14198) profile[k] = 256 - zr_exp_8((-t * t) >> 17);
    }
}

// Raised-cosine (or, with width 0, hard) high cut of the Q8 profile.
void apply_high_cut(int32_t* profile, int32_t cut, int32_t width) {
    if (cut < 0) return;
    if (cut + width < 256)
        for (int32_t k = cut + width; k < 256; ++k) profile[k] = 0;
    apply_ramp(profile, cut - width, width,
               [](int32_t value, int32_t ramp) { return (ramp * value) / 256; });
}

}  // namespace

uint8_t* create_filter(int32_t resolution, int32_t low_cut, int32_t low_width, int32_t high_cut,
                       int32_t high_width) {
    uint8_t* kernel = static_cast<uint8_t*>(std::malloc(64 * 33));
    int32_t* profile = static_cast<int32_t*>(std::malloc(256 * sizeof(int32_t)));
    if (!kernel || !profile) {
        std::free(kernel);
        std::free(profile);
        return nullptr;
    }
    const int32_t low_cut16_inch = per_mm_to_per_inch(low_cut, 40, 80);
    const int32_t low_width_inch = per_mm_to_per_inch(low_width, 640, 1280);
    const int32_t high_cut_inch = per_mm_to_per_inch(high_cut, 640, 1280);
    const int32_t high_width_inch = per_mm_to_per_inch(high_width, 640, 1280);

    const int32_t cut_lo16 = round_div(low_cut16_inch * 256, resolution);
    const int32_t w_lo = round_div(low_width_inch * 256, resolution);
    const int32_t cut_hi = high_cut_inch > 0 ? round_div(high_cut_inch * 256, resolution) : -1;
    const int32_t w_hi = round_div(high_width_inch * 256, resolution);

    for (int32_t k = 0; k < 256; ++k) profile[k] = 256;
    apply_low_cut(profile, cut_lo16, w_lo);
    apply_high_cut(profile, cut_hi, w_hi);

    for (uint32_t ky = 0; ky <= 32; ++ky) {
        for (uint32_t kx = 0; kx <= 32; ++kx) {
            const uint32_t bin = zr_sqrt_32((kx * kx + ky * ky) * 16);
            const uint8_t value = static_cast<uint8_t>(std::min(profile[bin], 255));
            if (ky < 32) kernel[ky * 33 + kx] = value;
            if (ky >= 1) kernel[(64 - ky) * 33 + kx] = value;
        }
    }
    std::free(profile);
    return kernel;
}

void bal_render_fft(uint8_t* dst, const int32_t* real, const int32_t* imag, uint32_t block) {
    const int32_t b = static_cast<int32_t>(block);
    const int32_t stride = b / 2 + 1;
    for (int32_t ky = -b / 2; ky < b / 2; ++ky) {
        for (int32_t kx = -b / 2; kx < b / 2; ++kx) {
            int32_t r = (ky + b) % b;
            int32_t c = (kx + b) % b;
            if (c > b / 2) {
                r = (b - r) % b;
                c = b - c;
            }
            const int64_t re = real[r * stride + c];
            const int64_t im = imag[r * stride + c];
            const int64_t magnitude = (((re < 0 ? -re : re) + (im < 0 ? -im : im)) * 4) >> 10;
            dst[(ky + b / 2) * b + (kx + b / 2)] =
                static_cast<uint8_t>(std::min<int64_t>(magnitude, 255));
        }
    }
}
