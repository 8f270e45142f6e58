// Measures of an image object: sensor-size code, quality record, mask
// coverage, and the segmentation kept in its mask.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imaging/bal_quality.h"
#include "objects/zr_alloc.h"
#include "objects/zr_image.h"

namespace {

constexpr uint32_t kReferenceDpi = 500;
constexpr uint32_t kNarrowAspectLimit = 60;  // short side x 100 / long side
constexpr uint32_t kSensorTableSize = 7;
constexpr uint32_t kNarrowAreas[kSensorTableSize] = {87320, 0, 0, 15524, 11643, 0, 0};
constexpr uint32_t kNarrowCodes[kSensorTableSize] = {1, 0, 0, 8, 9, 0, 0};
constexpr uint32_t kWideAreas[kSensorTableSize] = {87320, 38809, 24838, 16397, 13055, 9702, 6209};
constexpr uint32_t kWideCodes[kSensorTableSize] = {1, 2, 3, 4, 5, 6, 7};
constexpr uint8_t kValidByte = 255;

// Resolution band of a quality measure: the target resolution, how far from
// it an image is measured as it is, and the image library's scale mode.
struct quality_band {
    uint32_t dpi;
    uint32_t tolerance;
    int32_t scale_mode;
};

constexpr quality_band kBand500{500, 8, 1};
constexpr quality_band kBand250{250, 4, 2};

uint32_t distance(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

// The resolution to measure at: r itself near the band, else half or twice
// it when that falls in the band, else the band's own.
uint32_t measuring_dpi(uint32_t r, const quality_band& band) {
    if (distance(r, band.dpi) <= band.tolerance) return r;
    if (distance(r / 2, band.dpi) <= band.tolerance) return r / 2;
    if (distance(2 * r, band.dpi) <= band.tolerance) return 2 * r;
    return band.dpi;
}

// Fingerprint area in square millimetres of area_pixels at t dpi.
uint32_t area_mm2(uint32_t area_pixels, uint32_t t, const quality_band& band) {
    if (band.scale_mode == kBand500.scale_mode)
        return (((250000u / t) * area_pixels / 4) / 97) / t;
    return (((4 * (62500u / t)) * area_pixels / 4) / 97) / t;
}

zr_status compute_quality(zr_image* image, zr_quality** out_quality, const quality_band& band) {
    if (image == nullptr || out_quality == nullptr) return ZR_BAD_ARGUMENT;
    const uint32_t r = image->vertical_resolution;
    if (r == 0 || r != image->horizontal_resolution) return ZR_UNHANDLED_INPUT;
    const uint32_t t = measuring_dpi(r, band);
    zr_image* measured = image;
    if (t != r) {
        measured = zr_image_scale_res(image, uint16_t(t), uint16_t(t));
        if (measured == nullptr) return ZR_NO_MEMORY;
    }
    zr_status status = zr_image_render(measured);
    uint8_t image_quality = 0, condition = 0;
    uint32_t area_pixels = 0;
    if (status == ZR_OK) {
        status = static_cast<zr_status>(zr_rc_convert_from_zri(bal_image_quality_scale(
            measured->pixels, measured->rows, measured->cols, &image_quality, &area_pixels,
            &condition, band.scale_mode)));
    }
    const uint32_t pixel_count = zr_image_get_nbr_of_pixels(measured);
    if (measured != image) zr_image_delete(measured);
    if (status != ZR_OK) return status;
    area_pixels = std::min(area_pixels, pixel_count);
    const uint32_t percentage = pixel_count != 0 ? area_pixels * 100 / pixel_count : 0;
    zr_quality* quality = zr_quality_create(image_quality, uint16_t(area_mm2(area_pixels, t, band)),
                                            uint8_t(percentage), condition);
    if (quality == nullptr) return ZR_NO_MEMORY;
    zr_image_set_quality_values(image, quality);
    *out_quality = quality;
    return ZR_OK;
}

// The image's pixels and resolution for an image-library measure.
zr_status measure_input(zr_image* image, const void* out) {
    if (image == nullptr || out == nullptr) return ZR_BAD_ARGUMENT;
    return zr_image_render(image);
}

bool mask_fits(const zr_image* image) {
    return image->mask->rows == image->rows && image->mask->cols == image->cols;
}

}  // namespace

// ---------------------------------------------------------------------------
// Sensor size

uint32_t zr_image_size_to_sensor_size(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                                      uint16_t horizontal_dpi) {
    if (vertical_dpi == 0 || horizontal_dpi == 0) return 0;
    const uint32_t r = uint32_t(rows) * kReferenceDpi / vertical_dpi;
    const uint32_t c = uint32_t(cols) * kReferenceDpi / horizontal_dpi;
    const uint32_t short_side = std::min(r, c) & 0xFFFF;
    const uint32_t long_side = std::max(r, c) & 0xFFFF;
    const uint32_t area = short_side * long_side;
    const uint32_t aspect = long_side != 0 ? short_side * 100 / long_side : 0;
    const bool narrow = aspect <= kNarrowAspectLimit;
    const uint32_t* areas = narrow ? kNarrowAreas : kWideAreas;
    const uint32_t* codes = narrow ? kNarrowCodes : kWideCodes;
    uint32_t best = 0;
    for (uint32_t i = 1; i < kSensorTableSize; ++i)
        if (distance(area, areas[i]) < distance(area, areas[best])) best = i;
    return codes[best];
}

uint32_t zr_image_get_sensor_size(const zr_image* image) {
    if (image == nullptr) return 0;
    return zr_image_size_to_sensor_size(image->rows, image->cols, image->vertical_resolution,
                                        image->horizontal_resolution);
}

// ---------------------------------------------------------------------------
// Quality

zr_status zr_compute_quality_500(void*, zr_image* image, zr_quality** out_quality) {
    return compute_quality(image, out_quality, kBand500);
}

zr_status zr_compute_quality_250(void*, zr_image* image, zr_quality** out_quality) {
    return compute_quality(image, out_quality, kBand250);
}

zr_status zr_quality_compute_dynamic_range(zr_image* image, uint8_t* out_range) {
    const zr_status status = measure_input(image, out_range);
    if (status != ZR_OK) return status;
    return static_cast<zr_status>(zr_rc_convert_from_zri(bal_image_dynamic_range(
        image->pixels, image->rows, image->cols, zr_image_get_resolution(image), out_range)));
}

zr_status zr_quality_compute_sharpness(zr_image* image, uint8_t* out_sharpness) {
    const zr_status status = measure_input(image, out_sharpness);
    if (status != ZR_OK) return status;
    return static_cast<zr_status>(zr_rc_convert_from_zri(bal_image_sharpness(
        image->pixels, image->rows, image->cols, zr_image_get_resolution(image), out_sharpness)));
}

zr_status zr_quality_compute_signal_to_noise_ratio(zr_image* image, uint8_t* out_ratio,
                                                   uint8_t* out_signal, uint8_t* out_noise) {
    zr_status status = measure_input(image, out_ratio);
    if (status == ZR_OK && (out_signal == nullptr || out_noise == nullptr))
        status = ZR_BAD_ARGUMENT;
    if (status != ZR_OK) return status;
    return static_cast<zr_status>(zr_rc_convert_from_zri(bal_image_quality_signal_to_noise_ratio(
        image->pixels, image->rows, image->cols, zr_image_get_resolution(image), out_ratio,
        out_signal, out_noise)));
}

// ---------------------------------------------------------------------------
// Coverage

uint32_t zr_image_background_coverage(const zr_image* image) {
    return zr_image_mask_type_coverage(zr_image_get_mask(image), ZR_MASK_BACKGROUND_TYPE);
}

uint32_t zr_image_static_pattern_coverage(const zr_image* image) {
    return zr_image_mask_type_coverage(zr_image_get_mask(image), ZR_MASK_TYPE_STATIC_PATTERN);
}

uint32_t zr_image_valid_coverage(const zr_image* image) {
    return zr_image_mask_valid_coverage(zr_image_get_mask(image));
}

// ---------------------------------------------------------------------------
// Segmentation

zr_status zr_image_set_segmentation(zr_image* image, const uint8_t* segmentation) {
    if (image == nullptr || segmentation == nullptr) return ZR_BAD_ARGUMENT;
    if (image->mask != nullptr && !mask_fits(image)) return ZR_BAD_DATA;
    zr_image_mask* mask = zr_image_get_mask_create_if_na(image);
    if (mask == nullptr) return ZR_NO_MEMORY;
    return zr_image_mask_set_fingerprint(mask, segmentation);
}

zr_status zr_image_intersect_segmentation(zr_image* image, const uint8_t* segmentation) {
    if (image == nullptr || segmentation == nullptr) return ZR_BAD_ARGUMENT;
    if (image->mask == nullptr) return zr_image_set_segmentation(image, segmentation);
    if (!mask_fits(image)) return ZR_BAD_DATA;
    const uint32_t size = zr_image_get_nbr_of_pixels(image);
    for (uint32_t i = 0; i < size; ++i)
        if (segmentation[i] == 0) zr_image_mask_set_type_for_pixel(image->mask, ZR_MASK_BACKGROUND_TYPE, i);
    return ZR_OK;
}

zr_status zr_image_get_valid_pixels(const zr_image* image, uint8_t** out_buffer) {
    if (image == nullptr || out_buffer == nullptr) return ZR_BAD_ARGUMENT;
    if (image->mask != nullptr && !mask_fits(image)) return ZR_BAD_DATA;
    const size_t size = zr_image_get_nbr_of_pixels(image);
    auto* buffer = static_cast<uint8_t*>(zr_malloc(std::max<size_t>(size, 1)));
    if (buffer == nullptr) return ZR_NO_MEMORY;
    zr_status status = ZR_OK;
    if (image->mask != nullptr)
        status = zr_image_mask_get_valid_pixels(image->mask, buffer);
    else
        std::memset(buffer, kValidByte, size);
    if (status != ZR_OK) {
        std::free(buffer);
        return status;
    }
    *out_buffer = buffer;
    return ZR_OK;
}
