#include "imaging/bal_gabor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_blur.h"
#include "imaging/bal_crop_resize.h"
#include "imaging/bal_fft_lanes.h"
#include "imaging/bal_median.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_segment.h"
#include "imaging/bal_statistics.h"
#include "imaging/bal_status.h"
#include "math/fp_types.h"
#include "math/lib_memory.h"
#include "math/zr_fft.h"

namespace {

#include "imaging/bal_gabor_kernels.inc"

constexpr uint16_t kListEnd = 0xFFFF;
constexpr uint32_t kOrientationClasses = 16;
constexpr uint32_t kWavelengthClasses = 11;
constexpr uint32_t kFoldedOrientationClasses = 9;
constexpr uint32_t kQualityBands = 3;

// Orientation class 0..15: o' = o for o <= 128, else o - 128; (o' + 4) >> 3,
// with 16 folded back to 0.
uint32_t orientation_class(uint8_t o) {
    const uint32_t folded = o <= 128 ? o : o - 128u;
    return ((folded + 4) >> 3) & 15;
}

uint32_t wavelength_class(uint8_t wavelength) {
    return wavelength <= 5 ? 0 : std::min<uint32_t>(wavelength - 5u, kWavelengthClasses - 1);
}

uint32_t quality_band(uint8_t quality) { return quality >= 76 ? 0 : (quality >= 31 ? 1 : 2); }

// The fixed shape of one form: an N x N window of samples `step` pixels
// apart around a tile of N/2 x N/2 samples, its transforms and kernels.
struct GaborForm {
    uint32_t n;
    uint32_t step;
    int32_t output_divisor;
    bool uses_quality;
    const uint8_t* kernels;
    const uint16_t* kernel_offsets;
    void (*forward)(const int32_t*, int32_t*, int32_t*);
    void (*inverse)(const int32_t*, const int32_t*, int32_t*, int32_t*);

    uint32_t tile_samples() const { return n / 2; }
    uint32_t margin_samples() const { return n / 4; }
    uint32_t tile_pixels() const { return tile_samples() * step; }
    uint32_t spectrum_size() const { return bal_half_spectrum_size(n); }
    uint32_t key_count() const {
        return kOrientationClasses * kWavelengthClasses * (uses_quality ? kQualityBands : 1);
    }
};

// Caller's inputs that do not change from tile to tile.
struct GaborInputs {
    const uint8_t* image;
    uint32_t rows;
    uint32_t cols;
    const uint8_t* wavelength;
    const uint8_t* orientation;
    const uint8_t* quality;
    const uint8_t* block_mask;
    uint32_t block_rows;
    uint32_t block_cols;
    uint32_t block;
};

// The 32-point form filters eight classes at a time, one a lane of the lane
// inverse transform.
struct alignas(BAL_FFT_ALIGNMENT) GaborLanes {
    // Forward transforms of up to eight tiles' windows.
    int32_t windows[32 * 32 * BAL_FFT_LANES];
    int32_t spectra_re[32 * BAL_FFT32_HALF_COLUMNS * BAL_FFT_LANES];
    int32_t spectra_im[32 * BAL_FFT32_HALF_COLUMNS * BAL_FFT_LANES];
    uint32_t tile_top[BAL_FFT_LANES];
    uint32_t tile_left[BAL_FFT_LANES];
    // Inverse transforms of up to eight classes of one tile.
    int32_t re[32 * BAL_FFT32_HALF_COLUMNS * BAL_FFT_LANES];
    int32_t im[32 * BAL_FFT32_HALF_COLUMNS * BAL_FFT_LANES];
    int32_t block[32 * 32 * BAL_FFT_LANES];
    int32_t work[32 * BAL_FFT32_HALF_COLUMNS * BAL_FFT_LANES];
    uint32_t keys[BAL_FFT_LANES];
    uint32_t key_tile[BAL_FFT_LANES];  // the queued tile each class belongs to
};

// Scratch of the tile loop: per-key list heads, the per-sample next links,
// the window (reused for every inverse result), the spectrum of the window
// and the filtered spectrum with the inverse transform's work area. With the
// lanes, heads and next hold one set of lists for each queued tile.
struct GaborScratch {
    uint16_t* heads;
    uint16_t* next;
    int32_t* window;
    int32_t* spectrum;
    int32_t* filtered;
    GaborLanes* lanes;  // the 32-point form only
};

bool pixel_in_mask(const GaborInputs& in, uint32_t y, uint32_t x) {
    const uint32_t by = y / in.block, bx = x / in.block;
    return by < in.block_rows && bx < in.block_cols && in.block_mask[size_t(by) * in.block_cols + bx] != 0;
}

bool tile_is_processed(const GaborInputs& in, uint32_t top, uint32_t left, uint32_t size) {
    const uint32_t last = size - 1, half = size / 2;
    return pixel_in_mask(in, top, left) || pixel_in_mask(in, top, left + last) ||
           pixel_in_mask(in, top + last, left) || pixel_in_mask(in, top + last, left + last) ||
           pixel_in_mask(in, top + half, left + half);
}

// Window sample (i, j) is pixel (top + (i - margin) * step, left + (j - margin) * step),
// as (pixel - 128) << 13, or 0 outside the image.
// The samples are written `stride` values apart (8 for one lane of the lane
// layout).
void fill_window(const GaborForm& form, const GaborInputs& in, uint32_t top, uint32_t left, int32_t* window,
                 size_t stride = 1) {
    const int64_t margin = form.margin_samples(), step = form.step;
    for (uint32_t i = 0; i < form.n; ++i) {
        const int64_t y = int64_t(top) + (int64_t(i) - margin) * step;
        int32_t* out = window + size_t(i) * form.n * stride;
        if (y < 0 || y >= int64_t(in.rows)) {
            for (uint32_t j = 0; j < form.n; ++j) out[j * stride] = 0;
            continue;
        }
        const uint8_t* row = in.image + size_t(y) * in.cols;
        for (uint32_t j = 0; j < form.n; ++j) {
            const int64_t x = int64_t(left) + (int64_t(j) - margin) * step;
            out[j * stride] = (x < 0 || x >= int64_t(in.cols)) ? 0 : (int32_t(row[x]) - 128) * 8192;
        }
    }
}

uint32_t class_key(const GaborForm& form, const GaborInputs& in, size_t pixel) {
    uint32_t key = orientation_class(in.orientation[pixel]) +
                   kOrientationClasses * wavelength_class(in.wavelength[pixel]);
    if (form.uses_quality)
        key += kOrientationClasses * kWavelengthClasses * quality_band(in.quality[pixel]);
    return key;
}

// Multiplies the half spectrum by the run-length coded kernel of `key`,
// decoding it on the way. Classes 9..15 use the kernel of 16 - class with its
// row t applied to spectrum row (N - t) mod N. Each gain is applied
// (band + 1) times as (gain * value) >> 8. The outputs are written `stride`
// values apart (8 for one lane of the lane layout). With zeros_in_place the
// outputs hold 0 beforehand and the kernel's runs of zeros are skipped.
void apply_kernel(const GaborForm& form, uint32_t key, const int32_t* re, const int32_t* im, int32_t* out_re,
                  int32_t* out_im, size_t stride = 1, bool zeros_in_place = false) {
    const uint32_t oc = key % kOrientationClasses;
    const uint32_t wc = (key / kOrientationClasses) % kWavelengthClasses;
    const uint32_t passes = 1 + key / (kOrientationClasses * kWavelengthClasses);
    const bool mirrored = oc >= kFoldedOrientationClasses;
    const uint32_t folded = mirrored ? kOrientationClasses - oc : oc;
    const uint8_t* code = form.kernels + form.kernel_offsets[wc * kFoldedOrientationClasses + folded];

    const uint32_t cols = bal_half_spectrum_cols(form.n), mask = form.n - 1;
    uint32_t t = 0, v = 0, row_start = 0;
    auto advance = [&]() {
        if (++v == cols) {
            v = 0;
            ++t;
            row_start = (mirrored ? (form.n - t) & mask : t) * cols;
        }
    };
    for (uint8_t h = *code++; h != 0; h = *code++) {
        const uint32_t count = h & 127u;
        if (h & 0x80) {
            for (uint32_t k = 0; k < count; ++k, advance()) {
                const int32_t gain = *code++;
                int32_t r = re[row_start + v], i = im[row_start + v];
                for (uint32_t p = 0; p < passes; ++p) {
                    r = (gain * r) >> 8;
                    i = (gain * i) >> 8;
                }
                out_re[(row_start + v) * stride] = r;
                out_im[(row_start + v) * stride] = i;
            }
        } else if (zeros_in_place) {
            const uint32_t next = t * cols + v + count;
            t = next / cols;
            v = next % cols;
            row_start = (mirrored ? (form.n - t) & mask : t) * cols;
        } else {
            for (uint32_t k = 0; k < count; ++k, advance()) {
                out_re[(row_start + v) * stride] = 0;
                out_im[(row_start + v) * stride] = 0;
            }
        }
    }
}

int8_t saturate_to_int8(int32_t value) { return static_cast<int8_t>(std::clamp(value, -128, 127)); }

// The class lists of one tile: heads[key] starts the samples of each key,
// linked through next; the smallest and largest key present (smallest >
// largest when the tile has no sample inside the image).
struct TileClasses {
    uint16_t* heads;
    uint16_t* next;
    uint32_t smallest, largest;
};

void collect_classes(const GaborForm& form, const GaborInputs& in, uint32_t top, uint32_t left, TileClasses& c) {
    const uint32_t samples = form.tile_samples();
    c.smallest = form.key_count();
    c.largest = 0;
    for (uint32_t i = 0; i < samples; ++i) {
        const uint32_t y = top + i * form.step;
        if (y >= in.rows) break;
        for (uint32_t j = 0; j < samples; ++j) {
            const uint32_t x = left + j * form.step;
            if (x >= in.cols) break;
            const uint32_t key = class_key(form, in, size_t(y) * in.cols + x);
            const uint16_t id = static_cast<uint16_t>(i * samples + j);
            c.next[id] = c.heads[key];
            c.heads[key] = id;
            c.smallest = std::min(c.smallest, key);
            c.largest = std::max(c.largest, key);
        }
    }
}

// The output pixels of one class from the lane's inverse transform; the
// class's list is emptied.
void write_class(const GaborForm& form, const GaborInputs& in, uint32_t top, uint32_t left, uint32_t key,
                 uint32_t lane, const TileClasses& c, const GaborLanes& l, int8_t* dst) {
    const uint32_t samples = form.tile_samples(), margin = form.margin_samples();
    for (uint16_t id = c.heads[key]; id != kListEnd; id = c.next[id]) {
        const uint32_t i = id / samples, j = id % samples;
        const size_t at = (size_t(i + margin) * form.n + j + margin) * BAL_FFT_LANES + lane;
        const int32_t value = l.block[at] / form.output_divisor;
        dst[size_t(top + i * form.step) * in.cols + left + j * form.step] = saturate_to_int8(value);
    }
    c.heads[key] = kListEnd;
}

// The class loop of the 32-point form over the queued tiles, whose forward
// transforms the lanes hold: the kernels of up to eight classes (of any of
// the tiles) applied into the lanes, one inverse transform of the rows a tile
// reads, then each class's pixels. Each lane's inverse depends on its own
// class alone, and the tiles' pixels do not overlap, so the batches may mix
// tiles.
void filter_queued_tiles_by_lanes(const GaborForm& form, const GaborInputs& in, uint32_t queued,
                                  const GaborScratch& s, int8_t* dst) {
    const uint32_t spectrum = form.spectrum_size(), keys = form.key_count();
    const uint32_t samples = form.tile_samples();
    GaborLanes& l = *s.lanes;
    // Output rows margin .. margin + N/2 - 1: row pairs N/8 .. 3N/8 - 1.
    const uint32_t first_pair = form.margin_samples() / 2, pairs = form.tile_samples() / 2;
    TileClasses classes[BAL_FFT_LANES];
    for (uint32_t b = 0; b < queued; ++b) {
        classes[b] = {s.heads + size_t(b) * keys, s.next + size_t(b) * samples * samples, 0, 0};
        collect_classes(form, in, l.tile_top[b], l.tile_left[b], classes[b]);
    }
    uint32_t used = 0;
    const auto flush = [&]() {
        bal_ifft2d32_lanes(l.re, l.im, first_pair, pairs, l.block, l.work);
        for (uint32_t lane = 0; lane < used; ++lane) {
            const uint32_t b = l.key_tile[lane];
            write_class(form, in, l.tile_top[b], l.tile_left[b], l.keys[lane], lane, classes[b], l, dst);
        }
        used = 0;
    };
    for (uint32_t b = 0; b < queued; ++b) {
        const TileClasses& c = classes[b];
        if (c.smallest > c.largest) continue;
        for (uint32_t k = 0; k < spectrum; ++k) {
            s.spectrum[k] = l.spectra_re[k * BAL_FFT_LANES + b];
            s.spectrum[spectrum + k] = l.spectra_im[k * BAL_FFT_LANES + b];
        }
        for (uint32_t key = c.smallest; key <= c.largest; ++key) {
            if (c.heads[key] == kListEnd) continue;
            // A new batch starts from cleared lanes (whole vectors at once), so
            // that the kernels need not write their zeros one lane at a time.
            if (used == 0) {
                std::memset(l.re, 0, sizeof l.re);
                std::memset(l.im, 0, sizeof l.im);
            }
            apply_kernel(form, key, s.spectrum, s.spectrum + spectrum, l.re + used, l.im + used, BAL_FFT_LANES,
                         true);
            l.keys[used] = key;
            l.key_tile[used++] = b;
            if (used == BAL_FFT_LANES) flush();
        }
    }
    if (used != 0) flush();
}

// One tile of the 16-point forms, transform by transform.
void filter_tile(const GaborForm& form, const GaborInputs& in, uint32_t top, uint32_t left,
                 const GaborScratch& s, int8_t* dst) {
    const uint32_t samples = form.tile_samples();
    TileClasses c{s.heads, s.next, 0, 0};
    collect_classes(form, in, top, left, c);
    if (c.smallest > c.largest) return;

    const uint32_t spectrum = form.spectrum_size();
    fill_window(form, in, top, left, s.window);
    form.forward(s.window, s.spectrum, s.spectrum + spectrum);
    const uint32_t margin = form.margin_samples();
    for (uint32_t key = c.smallest; key <= c.largest; ++key) {
        if (s.heads[key] == kListEnd) continue;
        apply_kernel(form, key, s.spectrum, s.spectrum + spectrum, s.filtered, s.filtered + spectrum);
        form.inverse(s.filtered, s.filtered + spectrum, s.window, s.filtered + 2 * spectrum);
        for (uint16_t id = s.heads[key]; id != kListEnd; id = s.next[id]) {
            const uint32_t i = id / samples, j = id % samples;
            const int32_t value = s.window[(i + margin) * form.n + j + margin] / form.output_divisor;
            dst[size_t(top + i * form.step) * in.cols + left + j * form.step] = saturate_to_int8(value);
        }
        s.heads[key] = kListEnd;
    }
}

bal_status filter_tiles(const GaborForm& form, const GaborInputs& in, int8_t* dst) {
    const uint32_t spectrum = form.spectrum_size(), samples = form.tile_samples();
    GaborScratch s{};
    const bool by_lanes = form.n == 32;
    const size_t tiles = by_lanes ? BAL_FFT_LANES : 1;
    s.heads = static_cast<uint16_t*>(std::malloc(tiles * form.key_count() * sizeof(uint16_t)));
    s.next = static_cast<uint16_t*>(std::malloc(tiles * samples * samples * sizeof(uint16_t)));
    s.window = static_cast<int32_t*>(std::malloc(form.n * form.n * sizeof(int32_t)));
    s.spectrum = static_cast<int32_t*>(std::malloc(2 * spectrum * sizeof(int32_t)));
    s.filtered = static_cast<int32_t*>(std::malloc(3 * spectrum * sizeof(int32_t)));
    if (by_lanes) s.lanes = static_cast<GaborLanes*>(std::aligned_alloc(alignof(GaborLanes), sizeof(GaborLanes)));
    if (lib_memory_check(s.heads, s.next, s.window, s.spectrum, s.filtered, s.lanes, nullptr, by_lanes ? 6 : 5) !=
        lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    // Lanes left over in a class batch are transformed too: keep them defined.
    if (by_lanes) std::memset(static_cast<void*>(s.lanes), 0, sizeof(GaborLanes));
    std::fill(s.heads, s.heads + tiles * form.key_count(), kListEnd);

    const uint32_t tile = form.tile_pixels();
    if (by_lanes) {
        // The forward transforms of the tiles (which read only the source)
        // are made eight at a time, then their classes filtered together.
        GaborLanes& l = *s.lanes;
        uint32_t queued = 0;
        const auto flush = [&]() {
            bal_fft2d32_lanes(l.windows, BAL_FFT32_HALF_COLUMNS, l.spectra_re, l.spectra_im);
            filter_queued_tiles_by_lanes(form, in, queued, s, dst);
            queued = 0;
        };
        for (uint32_t top = 0; top < in.rows; top += tile)
            for (uint32_t left = 0; left < in.cols; left += tile) {
                if (!tile_is_processed(in, top, left, tile)) continue;
                fill_window(form, in, top, left, l.windows + queued, BAL_FFT_LANES);
                l.tile_top[queued] = top;
                l.tile_left[queued] = left;
                if (++queued == BAL_FFT_LANES) flush();
            }
        if (queued != 0) flush();
    } else {
        for (uint32_t top = 0; top < in.rows; top += tile)
            for (uint32_t left = 0; left < in.cols; left += tile)
                if (tile_is_processed(in, top, left, tile)) filter_tile(form, in, top, left, s, dst);
    }

    std::free(s.heads);
    std::free(s.next);
    std::free(s.window);
    std::free(s.spectrum);
    std::free(s.filtered);
    std::free(s.lanes);
    return BAL_OK;
}

bool valid_grid(int32_t block_rows, int32_t block_cols, uint32_t block) {
    return block_rows >= 0 && block_cols >= 0 && block > 0;
}

// Finger presence on the centre of the block-cropped image: the mean 16 x 16
// block variance after a median and two box blurs must exceed 20.
constexpr uint32_t kPresenceBlock = 16;
constexpr uint32_t kPresenceVarianceThreshold = 20;

bal_status centre_shows_finger(const uint8_t* image, uint32_t rows, uint32_t cols, bool* present) {
    *present = false;
    const uint32_t h = std::min(rows, 256u), w = std::min(cols, 192u);
    if (h < kPresenceBlock || w < kPresenceBlock) return BAL_OK;
    const uint32_t block_rows = h / kPresenceBlock, block_cols = w / kPresenceBlock;
    const uint32_t blocks = block_rows * block_cols;
    uint8_t* centre = static_cast<uint8_t*>(std::malloc(size_t(h) * w));
    uint8_t* means = static_cast<uint8_t*>(std::malloc(blocks));
    uint16_t* variances = static_cast<uint16_t*>(std::malloc(blocks * sizeof(uint16_t)));
    if (lib_memory_check(centre, means, variances, nullptr, nullptr, nullptr, nullptr, 3) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    bal_crop_image(image, rows, cols, h, w, static_cast<int32_t>((rows - h) / 2),
                   static_cast<int32_t>((cols - w) / 2), centre);
    bal_status status =
        bal_median_uint8(centre, static_cast<int32_t>(h), static_cast<int32_t>(w), centre);
    if (status == BAL_OK) status = bal_blur_uint8(centre, h, w, centre);
    if (status == BAL_OK) status = bal_blur_uint8(centre, h, w, centre);
    if (status == BAL_OK) {
        bal_mean_blockwise_uint8(centre, h, w, kPresenceBlock, block_rows, block_cols, means);
        bal_var_blockwise_uint8(centre, h, w, means, kPresenceBlock, block_rows, block_cols, variances);
        uint32_t sum = 0;
        for (uint32_t b = 0; b < blocks; ++b) sum += variances[b];
        *present = sum / blocks > kPresenceVarianceThreshold;
    }
    std::free(centre);
    std::free(means);
    std::free(variances);
    return status;
}

// Segment, blur, normalise the block-cropped image in place and scale it into dst.
bal_status enhance_finger(uint8_t* image, uint32_t rows, uint32_t cols, uint32_t dst_rows, uint32_t dst_cols,
                          uint8_t* dst) {
    constexpr uint32_t block = 12;
    const uint32_t block_rows = rows / block, block_cols = cols / block;
    uint8_t* mask = static_cast<uint8_t*>(std::malloc(std::max<size_t>(size_t(block_rows) * block_cols, 1)));
    if (lib_memory_check(mask, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1) != lib_memory_result::all_present)
        return BAL_NO_MEMORY;
    bal_status status = bal_segment_image(image, rows, cols, block_rows, block_cols, block, mask);
    if (status == BAL_OK) status = bal_blur_uint8(image, rows, cols, image);
    if (status == BAL_OK)
        status = bal_normalize_globally(image, rows, cols, mask, block, block_rows, block_cols, 150, 300, image);
    if (status == BAL_OK) bal_scale_bilinear(image, rows, cols, dst, dst_rows, dst_cols);
    std::free(mask);
    return status;
}

const GaborForm kForm16Step1{16, 1, 32, false, kGaborKernels16, kGaborKernelOffsets16, zr_fftn2d16, zr_fftni2d16};
const GaborForm kForm16Step2{16, 2, 32, false, kGaborKernels16, kGaborKernelOffsets16, zr_fftn2d16, zr_fftni2d16};
const GaborForm kForm32{32, 1, 8, true, kGaborKernels32, kGaborKernelOffsets32, zr_fftn2d32, zr_fftni2d32};

}  // namespace

bal_status bal_gabor_filter_16(const uint8_t* src, uint32_t rows, uint32_t cols, const uint8_t* wavelength,
                               const uint8_t* orientation, const uint8_t* block_mask, const void* /*quality*/,
                               int32_t block_rows, int32_t block_cols, uint32_t block, int8_t* dst, uint16_t step) {
    if (!src || !wavelength || !orientation || !block_mask || !dst) return BAL_BAD_ARGUMENT;
    if ((step != 1 && step != 2) || !valid_grid(block_rows, block_cols, block)) return BAL_BAD_ARGUMENT;
    const size_t pixels = size_t(rows) * cols;
    if (pixels == 0) return BAL_OK;

    uint8_t* smoothed = nullptr;
    if (step == 2) {
        smoothed = static_cast<uint8_t*>(std::malloc(pixels));
        if (lib_memory_check(smoothed, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1) != lib_memory_result::all_present)
            return BAL_NO_MEMORY;
        const bal_status status = bal_blur_weighted_uint8(src, rows, cols, smoothed);
        if (status != BAL_OK) {
            std::free(smoothed);
            return status;
        }
    }
    std::memset(dst, 0, pixels);
    const GaborInputs in{smoothed ? smoothed : src,   rows,         cols,
                         wavelength, orientation, nullptr, block_mask, uint32_t(block_rows),
                         uint32_t(block_cols), block};
    bal_status status = filter_tiles(step == 2 ? kForm16Step2 : kForm16Step1, in, dst);
    std::free(smoothed);
    if (status == BAL_OK && step == 2) status = bal_blur_weighted_int8_upsample(dst, rows, cols, dst);
    return status;
}

bal_status bal_gabor_filter_32(const uint8_t* src, int32_t rows, uint32_t cols, const uint8_t* wavelength,
                               const uint8_t* orientation, const uint8_t* block_mask, const uint8_t* quality,
                               int32_t block_rows, int32_t block_cols, uint32_t block, int8_t* dst) {
    if (!src || !wavelength || !orientation || !block_mask || !quality || !dst) return BAL_BAD_ARGUMENT;
    if (rows < 0 || !valid_grid(block_rows, block_cols, block)) return BAL_BAD_ARGUMENT;
    const size_t pixels = size_t(rows) * cols;
    if (pixels == 0) return BAL_OK;
    std::memset(dst, 0, pixels);
    const GaborInputs in{src,        uint32_t(rows),       cols,  wavelength, orientation, quality,
                         block_mask, uint32_t(block_rows), uint32_t(block_cols), block};
    return filter_tiles(kForm32, in, dst);
}

bal_status bal_enhance_quality(const uint8_t* src, uint32_t rows, uint32_t cols, uint32_t dst_rows,
                               uint32_t dst_cols, uint8_t* dst) {
    constexpr uint32_t block = 12;
    uint8_t* image = nullptr;
    uint32_t crop_rows = 0, crop_cols = 0, row_offset = 0, col_offset = 0;
    bal_status status =
        bal_crop_block_size(src, rows, cols, block, &image, &crop_rows, &crop_cols, &row_offset, &col_offset);
    if (status != BAL_OK) return status;

    bool present = false;
    status = centre_shows_finger(image, crop_rows, crop_cols, &present);
    if (status == BAL_OK) {
        if (present)
            status = enhance_finger(image, crop_rows, crop_cols, dst_rows, dst_cols, dst);
        else
            std::memset(dst, 255, size_t(dst_rows) * dst_cols);
    }
    std::free(image);
    return status;
}
