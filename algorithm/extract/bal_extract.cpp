#include "extract/bal_extract.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "extract/bal_minutiae_cleanup.h"
#include "extract/bal_minutiae_detect.h"
#include "extract/bal_singularities.h"
#include "imaging/bal_binarize.h"
#include "imaging/bal_crop_resize.h"
#include "imaging/bal_draw.h"
#include "imaging/bal_gabor.h"
#include "imaging/bal_ghost.h"
#include "imaging/bal_normalize.h"
#include "imaging/bal_orientation.h"
#include "imaging/bal_orientation_ops.h"
#include "imaging/bal_quality.h"
#include "imaging/bal_scale.h"
#include "imaging/bal_segment.h"
#include "imaging/bal_thin.h"
#include "imaging/bal_wavelength.h"

namespace {

// Fixed parameters of the pipeline.
constexpr uint32_t kBlock500Dpi = 12;
constexpr uint32_t kBlock250Dpi = 6;
constexpr uint32_t kMaxProcessedRows = 1125;
constexpr uint32_t kMaxProcessedCols = 804;
constexpr uint32_t kWorkBufferSlack = 64;
constexpr uint8_t kNormalizeMean = 150;
constexpr uint32_t kNormalizeSpread = 120;
constexpr uint32_t kMaxWavelength = 18;
constexpr uint32_t kMinWavelength = 5;
constexpr uint32_t kFineDivisions = 3;
constexpr uint8_t kBinarizePercent = 47;
constexpr uint32_t kEdgeWidth = 1;
constexpr uint32_t kMaxSingularities = 16;
constexpr uint8_t kValidPixel = 128;
constexpr uint8_t kRidgePeriodBase = 5;
constexpr uint8_t kPixelForeground = 255;
constexpr uint8_t kBinarizedBackground = 255;
constexpr int16_t kDrawOpaque = 256;
// Minutia coordinates are signed 16-bit values in 500 dpi pixels.
constexpr uint32_t kMaxSide500Dpi = 32767;

size_t area_of(uint32_t rows, uint32_t cols) { return size_t{rows} * cols; }

bal_extract_observer_fn g_observer = nullptr;
void* g_observer_context = nullptr;

void observe(const char* stage, const uint8_t* data, size_t bytes) {
    if (g_observer != nullptr) [[unlikely]]
        g_observer(g_observer_context, stage, data, bytes);
}

// A malloc'd buffer released when it goes out of scope.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { std::free(data_); }

    [[nodiscard]] bool allocate(size_t bytes) {
        reset(static_cast<uint8_t*>(std::malloc(std::max<size_t>(bytes, 1))));
        return data_ != nullptr;
    }
    void reset(uint8_t* data = nullptr) {
        std::free(data_);
        data_ = data;
    }
    uint8_t* release() {
        uint8_t* data = data_;
        data_ = nullptr;
        return data;
    }
    uint8_t* get() const { return data_; }
    int8_t* as_signed() const { return reinterpret_cast<int8_t*>(data_); }

private:
    uint8_t* data_ = nullptr;
};

// The caller's pixels, released exactly once when the extraction owns them.
class CallerPixels {
public:
    CallerPixels(uint8_t* pixels, bool owned) : pixels_(pixels), owned_(owned) {}
    CallerPixels(const CallerPixels&) = delete;
    CallerPixels& operator=(const CallerPixels&) = delete;
    ~CallerPixels() { release(); }
    void release() {
        if (owned_) std::free(pixels_);
        owned_ = false;
    }
    const uint8_t* get() const { return pixels_; }

private:
    uint8_t* pixels_;
    bool owned_;
};

bal_status status_of(uint32_t code) { return static_cast<bal_status>(code); }

// Working values derived from the container's flags.
struct Settings {
    uint32_t block;      // block size in pixels
    uint32_t scale;      // 1 at 500 dpi, 2 at 250 dpi
    uint32_t reduction;  // frequency estimation on a copy reduced by this factor
    bool full_quality;   // 32-point frequency and Gabor, oriented smoothing
};

Settings settings_for(uint32_t flags) {
    const bool dpi250 = flags & BAL_EXTRACT_250DPI;
    const bool half_frequency = flags & BAL_EXTRACT_HALF_FREQUENCY;
    return {dpi250 ? kBlock250Dpi : kBlock500Dpi, dpi250 ? 2u : 1u, half_frequency ? 2u : 1u,
            !dpi250 && !half_frequency};
}

// The processed region: the input brought to whole blocks and cropped to at
// most 1,125 x 804 pixels around the finger.
struct Region {
    Buffer image;
    uint32_t rows = 0;
    uint32_t cols = 0;
    uint32_t block_rows = 0;
    uint32_t block_cols = 0;
    int32_t row_offset = 0;  // input position of the region's pixel (0, 0)
    int32_t col_offset = 0;
    Buffer block_mask;       // 1 on the finger, 0 elsewhere
    uint32_t centre_row = 0;  // centre of the finger, region pixels
    uint32_t centre_col = 0;
    // The valid-pixel mask brought to whole blocks (not cropped) and the
    // position of the region inside it.
    Buffer valid_mask;
    uint32_t valid_cols = 0;
    uint32_t crop_row = 0;
    uint32_t crop_col = 0;
};

// The fields estimated on the region.
struct Fields {
    Buffer reduced;            // copy for frequency estimation
    Buffer orientation;        // block orientation, 64..191
    Buffer coherence;          // block coherence
    Buffer pixel_orientation;  // 64..191 a pixel
    Buffer quality_image;      // one byte a pixel
    Buffer smoothed;           // the image smoothed along the ridges
    Buffer pixel_mask;         // 255 in every pixel of a finger block
    Buffer wavelength;         // block ridge period in pixels
    Buffer ridge_period;       // ridge period a pixel
    uint8_t quality = 0;
    uint32_t area = 0;
};

// The two binarized images, thinned in place into skeletons (0 on the line).
struct Skeletons {
    Buffer ridge;
    Buffer valley;
    Buffer neighbour_map;
};

// Ghost removal into a padded work buffer, then whole blocks.
bal_status bring_to_blocks(CallerPixels& pixels, const uint8_t* valid_mask, uint32_t rows,
                           uint32_t cols, const Settings& s, Region& region) {
    const size_t work_size = size_t{bal_image_pad_bytes(rows, cols, s.block, s.scale)} +
                             area_of(cols / s.block + 1, rows / s.block + 1) + kWorkBufferSlack +
                             area_of(rows, cols);
    Buffer work;
    if (!work.allocate(work_size)) return BAL_NO_MEMORY;
    // Returns 1 when the filter changed the image, 0 for a plain copy.
    (void)bal_ghost_remove_bs(pixels.get(), rows, cols, work.get(), s.block);
    pixels.release();

    uint8_t* resized = nullptr;
    bal_status st = status_of(bal_resize_block_size(work.get(), rows, cols, s.block,
                                                    BAL_EXPAND_SMOOTH, &resized, &region.rows,
                                                    &region.cols, &region.row_offset,
                                                    &region.col_offset));
    region.image.reset(resized);
    if (st != BAL_OK) return st;
    if (valid_mask) {
        uint8_t* mask = nullptr;
        uint32_t mask_rows = 0;
        int32_t mask_row_offset = 0, mask_col_offset = 0;
        st = status_of(bal_resize_block_size(valid_mask, rows, cols, s.block, BAL_EXPAND_SMOOTH,
                                             &mask, &mask_rows, &region.valid_cols,
                                             &mask_row_offset, &mask_col_offset));
        region.valid_mask.reset(mask);
        if (st != BAL_OK) return st;
    }
    region.block_rows = region.rows / s.block;
    region.block_cols = region.cols / s.block;
    return BAL_OK;
}

// Block mask and the centre of the finger.
bal_status segment(const Settings& s, Region& region) {
    if (!region.block_mask.allocate(area_of(region.block_rows, region.block_cols)))
        return BAL_NO_MEMORY;
    if (bal_segment_image_scale(region.image.get(), region.rows, region.cols, region.block_rows,
                                region.block_cols, s.block, region.block_mask.get(),
                                int32_t(s.scale)) != BAL_OK)
        return BAL_NO_MEMORY;
    bal_segmentation_center(region.block_mask.get(), region.block_rows, region.block_cols, s.block,
                            region.rows, region.cols, &region.centre_row, &region.centre_col);
    observe("block_mask", region.block_mask.get(), area_of(region.block_rows, region.block_cols));
    return BAL_OK;
}

// Start of a crop window of `size` (whole blocks) in `total` pixels, centred
// on `centre` and kept inside.
uint32_t window_start(uint32_t centre, uint32_t size, uint32_t total, uint32_t block) {
    const uint32_t start = centre > size / 2 ? (centre - size / 2) / block * block : 0;
    return std::min(start, total - size);
}

// Large images are cropped around the centre.
bal_status crop_large(const Settings& s, Region& region) {
    if (region.rows <= kMaxProcessedRows && region.cols <= kMaxProcessedCols) return BAL_OK;
    const uint32_t rows = std::min(region.rows, kMaxProcessedRows) / s.block * s.block;
    const uint32_t cols = std::min(region.cols, kMaxProcessedCols) / s.block * s.block;
    const uint32_t top = window_start(region.centre_row, rows, region.rows, s.block);
    const uint32_t left = window_start(region.centre_col, cols, region.cols, s.block);

    Buffer image, mask;
    if (!image.allocate(area_of(rows, cols)) ||
        !mask.allocate(area_of(rows / s.block, cols / s.block)))
        return BAL_NO_MEMORY;
    bal_crop_image(region.image.get(), region.rows, region.cols, rows, cols, int32_t(top),
                   int32_t(left), image.get());
    bal_crop_image(region.block_mask.get(), region.block_rows, region.block_cols, rows / s.block,
                   cols / s.block, int32_t(top / s.block), int32_t(left / s.block), mask.get());
    region.image.reset(image.release());
    region.block_mask.reset(mask.release());
    region.rows = rows;
    region.cols = cols;
    region.block_rows = rows / s.block;
    region.block_cols = cols / s.block;
    region.row_offset += int32_t(top);
    region.col_offset += int32_t(left);
    region.crop_row = top;
    region.crop_col = left;
    // The centre stays in region pixels.
    region.centre_row -= std::min(region.centre_row, top);
    region.centre_col -= std::min(region.centre_col, left);
    return BAL_OK;
}

bool inside_mask(const Region& region, size_t block_index) {
    return region.block_mask.get()[block_index] != 0;
}

// Allocates a block field's values when it is enabled.
bal_status prepare_field(zr_block_field& field, const Region& region, const Settings& s) {
    if (!(field.flags & ZR_FEATURE_ENABLE)) return BAL_OK;
    std::free(field.values);
    field.values = static_cast<uint8_t*>(
        std::calloc(std::max<size_t>(area_of(region.block_rows, region.block_cols), 1), 1));
    if (!field.values) return BAL_NO_MEMORY;
    field.block_rows = uint8_t(region.block_rows);
    field.block_cols = uint8_t(region.block_cols);
    field.block_size = uint8_t(s.block);
    field.col_offset = 0;
    field.row_offset = 0;
    return BAL_OK;
}

// Reduced copy, normalisation, orientation, quality, smoothing.
bal_status estimate_orientation(const Settings& s, Region& region, zr_template_container& c,
                                uint32_t input_rows, uint32_t input_cols, Fields& f) {
    const size_t pixels = area_of(region.rows, region.cols);
    const size_t blocks = area_of(region.block_rows, region.block_cols);
    const uint32_t reduced_rows = region.rows / s.reduction, reduced_cols = region.cols / s.reduction;
    if (!f.reduced.allocate(area_of(reduced_rows, reduced_cols))) return BAL_NO_MEMORY;
    bal_scale_bilinear(region.image.get(), region.rows, region.cols, f.reduced.get(), reduced_rows,
                       reduced_cols);

    uint8_t* image = region.image.get();
    const uint8_t* mask = region.block_mask.get();
    bal_status st = status_of(bal_normalize_locally(image, region.rows, region.cols, mask, s.block,
                                                    region.block_rows, region.block_cols,
                                                    kNormalizeMean, kNormalizeSpread, image));
    if (st != BAL_OK) return st;
    observe("normalised", image, pixels);

    if ((st = prepare_field(c.orientation, region, s)) != BAL_OK) return st;
    if (!f.orientation.allocate(blocks) || !f.coherence.allocate(blocks)) return BAL_NO_MEMORY;
    st = status_of(bal_ridge_orientations_scale(
        image, region.rows, region.cols, mask, f.orientation.get(), f.coherence.get(),
        region.block_rows, region.block_cols, s.block,
        reinterpret_cast<int8_t*>(c.orientation.values), s.scale));
    if (st != BAL_OK) return st;
    observe("orientation", f.orientation.get(), blocks);
    observe("coherence", f.coherence.get(), blocks);

    if (!f.pixel_orientation.allocate(pixels)) return BAL_NO_MEMORY;
    st = status_of(bal_scale_up_orientation(f.orientation.get(), region.block_rows,
                                            region.block_cols, s.block, f.pixel_orientation.get(),
                                            region.rows, region.cols));
    if (st != BAL_OK) return st;
    observe("pixel_orientation", f.pixel_orientation.get(), pixels);

    st = status_of(bal_image_quality_qual(image, region.rows, region.cols, region.block_rows,
                                          region.block_cols, s.block, mask, f.coherence.get(),
                                          input_rows, input_cols, &f.quality, &f.area,
                                          int32_t(s.scale)));
    if (st != BAL_OK) return st;

    if (!f.quality_image.allocate(pixels)) return BAL_NO_MEMORY;
    st = status_of(bal_quality_from_reliability(f.coherence.get(), mask, region.block_rows,
                                                region.block_cols, s.block, f.quality_image.get(),
                                                region.rows, region.cols));
    if (st != BAL_OK) return st;
    observe("quality_image", f.quality_image.get(), pixels);

    if (!f.smoothed.allocate(pixels)) return BAL_NO_MEMORY;
    std::memcpy(f.smoothed.get(), image, pixels);
    if (s.full_quality) {
        uint8_t* smoothed = f.smoothed.get();
        st = status_of(bal_oriented_median(smoothed, region.rows, region.cols,
                                           f.pixel_orientation.get(), smoothed));
        if (st != BAL_OK) return st;
        st = status_of(bal_oriented_mean(smoothed, region.rows, region.cols,
                                         f.pixel_orientation.get(), smoothed));
    }
    if (st == BAL_OK) observe("smoothed", f.smoothed.get(), pixels);
    return st;
}

// The block mask expanded to pixels: 255 in every pixel of a finger block.
void expand_mask_to_pixels(const Region& region, uint32_t block, uint8_t* pixel_mask) {
    for (uint32_t y = 0; y < region.rows; ++y) {
        const uint8_t* mask_row = region.block_mask.get() + size_t(y / block) * region.block_cols;
        uint8_t* out = pixel_mask + size_t(y) * region.cols;
        for (uint32_t x = 0; x < region.cols; ++x)
            out[x] = mask_row[x / block] ? kPixelForeground : 0;
    }
}

// One ridge-period estimation on the reduced copy with a grid of
// grid_rows x grid_cols blocks of `block` full-resolution pixels.
bal_status estimate_periods(const Settings& s, const Region& region, Fields& f, uint32_t block,
                            uint32_t grid_rows, uint32_t grid_cols, uint8_t* quality,
                            uint8_t* wavelength, uint8_t* frequency, uint8_t* angle) {
    int8_t* signed_angle = reinterpret_cast<int8_t*>(angle);
    if (s.full_quality)
        return status_of(bal_ridge_wavelengths_fft(
            f.reduced.get(), f.pixel_mask.get(), int32_t(region.rows), int32_t(region.cols), block,
            kMaxWavelength, kMinWavelength, f.orientation.get(), int32_t(grid_rows), grid_cols,
            quality, wavelength, frequency, signed_angle));
    return status_of(bal_ridge_wavelengths_fft16(
        f.reduced.get(), int32_t(region.rows / s.reduction), int32_t(region.cols / s.reduction),
        block / s.reduction, kMaxWavelength, kMinWavelength, f.orientation.get(),
        int32_t(grid_rows), grid_cols, quality, wavelength, frequency, signed_angle));
}

// Blocks outside the mask hold 0 in both fields.
void clear_fields_outside_mask(const Region& region, const zr_template_container& c) {
    const size_t blocks = area_of(region.block_rows, region.block_cols);
    for (size_t i = 0; i < blocks; ++i) {
        if (inside_mask(region, i)) continue;
        if (c.orientation.values) c.orientation.values[i] = 0;
        if (c.frequency.values) c.frequency.values[i] = 0;
    }
}

// Whether the fine fields are asked for and have their coarse fields.
bool wants_fine_fields(const zr_template_container& c) {
    return (c.frequency.flags & ZR_FIELD_FINE) && c.frequency.values && c.orientation.values;
}

// The fine fields on a grid three times finer; frequency and angle hold
// them already measured when given, otherwise they are measured here.
bal_status estimate_fine_fields(const Settings& s, const Region& region, Fields& f, zr_template_container& c,
                                Buffer* measured_frequency = nullptr, Buffer* measured_angle = nullptr) {
    if (!wants_fine_fields(c)) return BAL_OK;
    const uint32_t fine_rows = kFineDivisions * region.block_rows;
    const uint32_t fine_cols = kFineDivisions * region.block_cols;
    const size_t cells = area_of(fine_rows, fine_cols);
    Buffer own_frequency, own_angle;
    Buffer& frequency = measured_frequency ? *measured_frequency : own_frequency;
    Buffer& angle = measured_angle ? *measured_angle : own_angle;
    if (!measured_frequency) {
        if (!frequency.allocate(cells) || !angle.allocate(cells)) return BAL_NO_MEMORY;
        std::memset(frequency.get(), 0, cells);
        std::memset(angle.get(), 0, cells);
        const bal_status st = estimate_periods(s, region, f, s.block / kFineDivisions, fine_rows,
                                               fine_cols, nullptr, nullptr, frequency.get(),
                                               angle.get());
        if (st != BAL_OK) return st;
    }
    for (uint32_t y = 0; y < fine_rows; ++y)
        for (uint32_t x = 0; x < fine_cols; ++x) {
            const size_t block = size_t(y / kFineDivisions) * region.block_cols + x / kFineDivisions;
            if (inside_mask(region, block)) continue;
            frequency.get()[size_t(y) * fine_cols + x] = 0;
            angle.get()[size_t(y) * fine_cols + x] = 0;
        }
    observe("fine_frequency", frequency.get(), cells);
    observe("fine_angle", angle.get(), cells);
    std::free(c.frequency.fine);
    std::free(c.orientation.fine);
    c.frequency.fine = frequency.release();
    c.orientation.fine = angle.release();
    return BAL_OK;
}

// Ridge period (block and pixel), frequency and fine fields.
bal_status estimate_frequency(const Settings& s, const Region& region, zr_template_container& c,
                              Fields& f) {
    bal_status st = prepare_field(c.frequency, region, s);
    if (st != BAL_OK) return st;
    if (s.full_quality) {
        if (!f.pixel_mask.allocate(area_of(region.rows, region.cols))) return BAL_NO_MEMORY;
        expand_mask_to_pixels(region, s.block, f.pixel_mask.get());
    }
    if (!f.wavelength.allocate(area_of(region.block_rows, region.block_cols)))
        return BAL_NO_MEMORY;
    // The coarse call takes the coherence field as its quality argument. At
    // full quality the fine fields are measured with it, sharing the windows
    // the two grids have in common.
    Buffer fine_frequency, fine_angle;
    const bool fine_now = s.full_quality && wants_fine_fields(c);
    if (fine_now) {
        const size_t cells = area_of(kFineDivisions * region.block_rows, kFineDivisions * region.block_cols);
        if (!fine_frequency.allocate(cells) || !fine_angle.allocate(cells)) return BAL_NO_MEMORY;
        std::memset(fine_frequency.get(), 0, cells);
        std::memset(fine_angle.get(), 0, cells);
        st = status_of(bal_ridge_wavelengths_fft_coarse_fine(
            f.reduced.get(), f.pixel_mask.get(), int32_t(region.rows), int32_t(region.cols), s.block,
            kFineDivisions, kMaxWavelength, kMinWavelength, int32_t(region.block_rows), region.block_cols,
            f.coherence.get(), f.wavelength.get(), c.frequency.values,
            reinterpret_cast<int8_t*>(c.orientation.values), fine_frequency.get(),
            fine_angle.as_signed()));
    } else {
        st = estimate_periods(s, region, f, s.block, region.block_rows, region.block_cols,
                              f.coherence.get(), f.wavelength.get(), c.frequency.values,
                              c.orientation.values);
    }
    if (st != BAL_OK) return st;
    if (!f.ridge_period.allocate(area_of(region.rows, region.cols))) return BAL_NO_MEMORY;
    bal_scale_up_bilinear_uint8(f.wavelength.get(), region.block_rows, region.block_cols,
                                int32_t(s.block), f.ridge_period.get(), int32_t(region.rows),
                                int32_t(region.cols));
    clear_fields_outside_mask(region, c);
    const size_t blocks = area_of(region.block_rows, region.block_cols);
    observe("wavelength", f.wavelength.get(), blocks);
    observe("ridge_period", f.ridge_period.get(), area_of(region.rows, region.cols));
    if (c.frequency.values) observe("frequency", c.frequency.values, blocks);
    if (c.orientation.values) observe("orientation_field", c.orientation.values, blocks);
    if (fine_now) return estimate_fine_fields(s, region, f, c, &fine_frequency, &fine_angle);
    return estimate_fine_fields(s, region, f, c);
}

// Gabor filtering and binarisation into ridges and valleys.
bal_status enhance_and_binarize(const Settings& s, const Region& region, Fields& f,
                                Skeletons& out) {
    f.reduced.reset();
    const size_t pixels = area_of(region.rows, region.cols);
    Buffer filtered;
    if (!filtered.allocate(pixels)) return BAL_NO_MEMORY;
    const uint8_t* mask = region.block_mask.get();
    bal_status st;
    if (s.full_quality)
        st = status_of(bal_gabor_filter_32(f.smoothed.get(), int32_t(region.rows), region.cols,
                                           f.ridge_period.get(), f.pixel_orientation.get(), mask,
                                           f.quality_image.get(), int32_t(region.block_rows),
                                           int32_t(region.block_cols), s.block,
                                           filtered.as_signed()));
    else
        st = status_of(bal_gabor_filter_16(f.smoothed.get(), region.rows, region.cols,
                                           f.ridge_period.get(), f.pixel_orientation.get(), mask,
                                           nullptr, int32_t(region.block_rows),
                                           int32_t(region.block_cols), s.block,
                                           filtered.as_signed(), uint16_t(s.reduction)));
    if (st != BAL_OK) return st;
    observe("enhanced", filtered.get(), pixels);

    if (!out.ridge.allocate(pixels) || !out.valley.allocate(pixels)) return BAL_NO_MEMORY;
    st = status_of(bal_binarize_local_histogram_threshold(
        filtered.as_signed(), nullptr, region.rows, region.cols, mask, s.block, kBinarizePercent,
        out.ridge.get(), out.valley.get()));
    if (st != BAL_OK) return st;
    bal_binarize_remove_edges(out.ridge.get(), out.valley.get(), region.rows, region.cols,
                              kEdgeWidth, kEdgeWidth + region.cols - region.block_cols * s.block,
                              kEdgeWidth, kEdgeWidth + region.rows - region.block_rows * s.block);
    if (s.scale == 1)
        bal_binarize_remove_dots(out.ridge.get(), out.valley.get(), f.quality_image.get(),
                                 region.rows, region.cols);
    observe("ridge_binary", out.ridge.get(), pixels);
    observe("valley_binary", out.valley.get(), pixels);
    return BAL_OK;
}

// Up to 4 cores and 4 deltas.
bal_status find_singular_points(const Region& region, const Fields& f, zr_template_container& c) {
    zr_reference_points* cores = (c.cores.enable & ZR_FEATURE_ENABLE) ? &c.cores : nullptr;
    zr_reference_points* deltas = (c.deltas.enable & ZR_FEATURE_ENABLE) ? &c.deltas : nullptr;
    if (!cores && !deltas) return BAL_OK;
    bal_singularity points[kMaxSingularities];
    uint32_t count = 0;
    const bal_status st = bal_find_singularities_poincare(
        f.pixel_orientation.get(), f.quality_image.get(), region.rows, region.cols, points, &count,
        kMaxSingularities);
    if (st != BAL_OK) return st;
    bal_convert_singularities(points, count, region.cols, cores, deltas);
    return BAL_OK;
}

// The zonal quality field, cells of one block.
bal_status build_zonal_quality(const Settings& s, const Region& region, const Fields& f,
                               uint32_t input_rows, uint32_t input_cols,
                               zr_template_container& c) {
    if (!(c.zonal_quality.enable & ZR_FEATURE_ENABLE)) return BAL_OK;
    return status_of(bal_quality_image_to_field(
        f.quality_image.get(), uint16_t(input_rows), uint16_t(input_cols), uint16_t(region.rows),
        region.cols, uint16_t(std::max(region.row_offset, 0)),
        uint16_t(std::max(region.col_offset, 0)), uint8_t(s.block), uint8_t(s.block),
        &c.zonal_quality));
}

// The binarized ridge image placed in an input-sized white frame.
bal_status keep_binarized(const Region& region, const Skeletons& sk, uint32_t input_rows,
                          uint32_t input_cols, zr_template_container& c) {
    if (!(c.binarized_flags & ZR_BINARIZED_KEEP)) return BAL_OK;
    Buffer frame;
    if (!frame.allocate(area_of(input_rows, input_cols))) return BAL_NO_MEMORY;
    std::memset(frame.get(), kBinarizedBackground, area_of(input_rows, input_cols));
    bal_image_draw_image(frame.get(), uint16_t(input_rows), uint16_t(input_cols), sk.ridge.get(),
                         uint16_t(region.rows), uint16_t(region.cols), region.col_offset,
                         region.row_offset, kDrawOpaque);
    c.binarized = frame.release();
    c.binarized_rows = uint16_t(input_rows);
    c.binarized_cols = uint16_t(input_cols);
    return BAL_OK;
}

// Both binarized images thinned in place.
bal_status thin(const Settings& s, const Region& region, Skeletons& sk) {
    Buffer row_pointers;
    if (!row_pointers.allocate(size_t{region.rows} * sizeof(uint8_t*))) return BAL_NO_MEMORY;
    auto** rows = reinterpret_cast<uint8_t**>(row_pointers.get());
    for (uint8_t* image : {sk.valley.get(), sk.ridge.get()}) {
        bal_images_1D_to_2D(image, region.rows, region.cols, rows);
        const bal_status st =
            status_of(bal_contour_thin_scale(rows, region.rows, region.cols, s.scale));
        if (st != BAL_OK) return st;
    }
    const size_t pixels = area_of(region.rows, region.cols);
    observe("valley_thinned", sk.valley.get(), pixels);
    observe("ridge_thinned", sk.ridge.get(), pixels);
    return BAL_OK;
}

// Detection on both skeletons, clean-up and ridge periods.
bal_status detect_minutiae(const Settings& s, const Region& region, const Fields& f,
                           zr_template_container& c, Skeletons& sk) {
    minutiastruct& m = c.minutiae;
    m.rows = uint16_t(region.rows);
    m.cols = uint16_t(region.cols);
    m.count = 0;
    m.resolution = ZR_EXTRACT_RESOLUTION_PPCM;
    if (!sk.neighbour_map.allocate(area_of(region.rows, region.cols))) return BAL_NO_MEMORY;

    uint32_t count = bal_extract_bifurcations(sk.valley.get(), f.pixel_orientation.get(),
                                              region.rows, region.cols, ZR_MINUTIA_ENDING,
                                              f.quality_image.get(), m.minutiae, 0,
                                              sk.neighbour_map.get(), s.scale);
    // The neighbour map now belongs to the ridge skeleton, as the edge filter needs.
    count = bal_extract_bifurcations(sk.ridge.get(), f.pixel_orientation.get(), region.rows,
                                     region.cols, ZR_MINUTIA_BIFURCATION, f.quality_image.get(),
                                     m.minutiae, count, sk.neighbour_map.get(), s.scale);
    count = bal_remove_duplicate_minutiae(m.minutiae, uint8_t(count), uint8_t(s.scale));
    count = bal_remove_edge_endpoints(m.minutiae, count, sk.ridge.get(), sk.neighbour_map.get(),
                                      f.ridge_period.get(), region.rows, region.cols,
                                      uint8_t(s.scale));
    if (s.scale == 2)
        count = bal_orientation_difference(m.minutiae, count, f.pixel_orientation.get(),
                                           region.rows, region.cols, uint8_t(s.scale));
    for (uint32_t i = 0; i < count; ++i) {
        minutia& p = m.minutiae[i];
        p.ridge_period = uint8_t(f.ridge_period.get()[size_t(p.row) * region.cols + size_t(p.col)] -
                                 kRidgePeriodBase);
    }
    m.count = uint8_t(count);
    observe("minutiae", reinterpret_cast<const uint8_t*>(m.minutiae), count * sizeof(minutia));
    return BAL_OK;
}

// The best minutiae up to the maximum, then only valid pixels.
void select_minutiae(const Region& region, minutiastruct& m) {
    if (m.count > m.max_minutiae) {
        bal_sort_minutiae(&m, BAL_ORDER_DESCENDING | BAL_ORDER_QUALITY, 0, 0);
        m.count = m.max_minutiae;
    }
    if (!region.valid_mask.get()) return;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < m.count; ++i) {
        const minutia& p = m.minutiae[i];
        const size_t at = (size_t(p.row) + region.crop_row) * region.valid_cols +
                          (size_t(p.col) + region.crop_col);
        if (region.valid_mask.get()[at] >= kValidPixel) m.minutiae[kept++] = p;
    }
    m.count = uint8_t(kept);
}

// One feature callback on one skeleton.
bal_status run_callback(bal_feature_callback callback, uint8_t* skeleton, uint32_t margin,
                        uint32_t slot_base, const Settings& s, const Region& region,
                        const Fields& f, uint32_t input_rows, uint32_t input_cols,
                        zr_template_container& c) {
    const bal_extraction_image image{region.image.get(), region.rows,     region.cols,
                                     ZR_EXTRACT_RESOLUTION_PPCM,          region.centre_row,
                                     region.centre_col,                   uint16_t(input_rows),
                                     uint16_t(input_cols),                f.quality,
                                     f.area};
    return callback(&image, skeleton, region.block_mask.get(), s.block, margin,
                    f.quality_image.get(), &c, slot_base);
}

// A coordinate of the region moved into the input image (negative gives 0).
int32_t to_input(int32_t value, int32_t offset) { return std::max(value + offset, 0); }

void map_points_to_input(zr_reference_points& points, const Region& region, uint32_t factor) {
    for (uint32_t i = 0; i < points.count && i < ZR_MAX_REFERENCE_POINTS; ++i) {
        zr_reference_point& p = points.points[i];
        p.row = uint16_t(uint32_t(to_input(p.row, region.row_offset)) * factor);
        p.col = uint16_t(uint32_t(to_input(p.col, region.col_offset)) * factor);
    }
}

void map_field_to_input(zr_block_field& field, const Region& region, uint32_t factor) {
    if (!(field.flags & ZR_FEATURE_ENABLE)) return;
    field.row_offset = int16_t(region.row_offset * int32_t(factor));
    field.col_offset = uint16_t(region.col_offset * int32_t(factor));
    field.block_size = uint8_t(field.block_size * factor);
}

// Everything in input coordinates (500 dpi), then the order.
void finish(const Settings& s, const Region& region, const Fields& f, uint32_t input_rows,
            uint32_t input_cols, zr_template_container& c) {
    const uint32_t factor = s.scale;  // 250 dpi results are doubled
    minutiastruct& m = c.minutiae;
    for (uint32_t i = 0; i < m.count; ++i) {
        minutia& p = m.minutiae[i];
        p.row = int16_t(to_input(p.row, region.row_offset) * int32_t(factor));
        p.col = int16_t(to_input(p.col, region.col_offset) * int32_t(factor));
    }
    map_points_to_input(c.cores, region, factor);
    map_points_to_input(c.deltas, region, factor);
    map_field_to_input(c.orientation, region, factor);
    map_field_to_input(c.frequency, region, factor);
    if (c.zonal_quality.enable & ZR_FEATURE_ENABLE) {
        c.zonal_quality.cell_rows = uint8_t(c.zonal_quality.cell_rows * factor);
        c.zonal_quality.cell_cols = uint8_t(c.zonal_quality.cell_cols * factor);
    }
    m.rows = uint16_t(input_rows * factor);
    m.cols = uint16_t(input_cols * factor);
    m.quality = f.quality;
    c.centre_row = uint32_t(to_input(int32_t(region.centre_row), region.row_offset)) * factor;
    c.centre_col = uint32_t(to_input(int32_t(region.centre_col), region.col_offset)) * factor;
    c.quality = f.quality;
    c.area = f.area * factor * factor;
    bal_sort_minutiae(&m, m.order, c.centre_row, c.centre_col);
}

void release_binarized(zr_template_container& c) {
    std::free(c.binarized);
    c.binarized = nullptr;
}

}  // namespace

bal_status bal_extract(uint8_t* pixels, const uint8_t* valid_mask, uint32_t rows, uint32_t cols,
                       zr_template_container* container, bal_feature_callback callback1,
                       bal_feature_callback callback2) {
    if (!container) return BAL_BAD_ARGUMENT;
    zr_template_container& c = *container;
    CallerPixels caller_pixels(pixels, c.flags & BAL_EXTRACT_TAKE_PIXELS);
    release_binarized(c);
    if ((c.flags & BAL_EXTRACT_HALF_FREQUENCY) && (c.flags & BAL_EXTRACT_250DPI))
        return BAL_UNSUPPORTED;
    const Settings s = settings_for(c.flags);
    if (!pixels || rows == 0 || cols == 0 || rows > kMaxSide500Dpi / s.scale ||
        cols > kMaxSide500Dpi / s.scale)
        return BAL_BAD_ARGUMENT;

    Region region;
    Fields fields;
    Skeletons skeletons;
    bal_status st = bring_to_blocks(caller_pixels, valid_mask, rows, cols, s, region);
    if (st == BAL_OK) st = segment(s, region);
    if (st == BAL_OK) st = crop_large(s, region);
    if (st == BAL_OK) st = estimate_orientation(s, region, c, rows, cols, fields);
    if (st == BAL_OK) st = estimate_frequency(s, region, c, fields);
    if (st == BAL_OK) st = enhance_and_binarize(s, region, fields, skeletons);
    if (st == BAL_OK) st = find_singular_points(region, fields, c);
    c.minutiae.quality = fields.quality;
    if (st == BAL_OK) st = build_zonal_quality(s, region, fields, rows, cols, c);
    if (st == BAL_OK) st = keep_binarized(region, skeletons, rows, cols, c);
    if (st == BAL_OK) st = thin(s, region, skeletons);
    if (st == BAL_OK) st = detect_minutiae(s, region, fields, c, skeletons);
    if (st != BAL_OK) return st;
    select_minutiae(region, c.minutiae);
    if ((c.flags & BAL_EXTRACT_FEATURE_CALLBACKS) && callback1) {
        st = run_callback(callback1, skeletons.ridge.get(), BAL_CALLBACK1_MARGIN,
                          BAL_CALLBACK1_SLOT_BASE, s, region, fields, rows, cols, c);
        if (st != BAL_OK) return st;
    }
    if ((c.flags & BAL_EXTRACT_FEATURE_CALLBACKS) && callback2)
        st = run_callback(callback2, skeletons.valley.get(), BAL_CALLBACK2_MARGIN,
                          BAL_CALLBACK2_SLOT_BASE, s, region, fields, rows, cols, c);
    finish(s, region, fields, rows, cols, c);
    return st;
}

void bal_extract_set_observer(bal_extract_observer_fn observer, void* context) {
    g_observer = observer;
    g_observer_context = context;
}
