#include "objects/zr_zrimage.h"

#include <cstdlib>
#include <cstring>

#include "objects/zr_alloc.h"
#include "objects/zr_byte_order.h"
#include "objects/zr_image_internal.h"
#include "objects/zr_result.h"

namespace {
constexpr uint8_t kMagic[4] = {'Z', 'R', 'I', 'T'};
constexpr uint8_t kVersion = 1;
}  // namespace

zr_status zr_fusion_zrimage_encode(const uint8_t* pixels, uint16_t rows, uint16_t cols,
                                   uint16_t horizontal_dpi, uint16_t vertical_dpi,
                                   uint8_t impression_type, uint8_t** out_buffer,
                                   uint32_t* out_size) {
    if (out_buffer != nullptr) *out_buffer = nullptr;
    if (out_size != nullptr) *out_size = 0;
    const uint32_t pixel_count = uint32_t(rows) * cols;
    if (out_buffer == nullptr || out_size == nullptr) return ZR_BAD_ARGUMENT;
    if (pixels == nullptr && pixel_count != 0) return ZR_BAD_ARGUMENT;
    const uint32_t size = pixel_count + ZR_ZRIMAGE_HEADER_SIZE;
    auto* record = static_cast<uint8_t*>(zr_malloc(size));
    if (record == nullptr) return ZR_NO_MEMORY;
    std::memcpy(record, kMagic, sizeof(kMagic));
    record[4] = 0;
    record[5] = kVersion;
    zr_put_be16(record + 6, rows);
    zr_put_be16(record + 8, cols);
    zr_put_be16(record + 10, vertical_dpi);
    zr_put_be16(record + 12, horizontal_dpi);
    record[14] = impression_type;
    if (pixel_count != 0) std::memcpy(record + ZR_ZRIMAGE_HEADER_SIZE, pixels, pixel_count);
    *out_buffer = record;
    *out_size = size;
    return ZR_OK;
}

zr_status zr_fusion_zrimage_to_parts(const uint8_t* record, uint32_t record_size,
                                     const uint8_t** out_pixels, uint16_t* out_rows,
                                     uint16_t* out_cols, uint16_t* out_horizontal_dpi,
                                     uint16_t* out_vertical_dpi, uint8_t* out_impression_type) {
    if (out_pixels != nullptr) *out_pixels = nullptr;
    if (out_rows != nullptr) *out_rows = 0;
    if (out_cols != nullptr) *out_cols = 0;
    if (out_pixels == nullptr || out_rows == nullptr || out_cols == nullptr) {
        return ZR_BAD_ARGUMENT;
    }
    if (record == nullptr) return ZR_BAD_ARGUMENT;
    if (record_size < ZR_ZRIMAGE_HEADER_SIZE || std::memcmp(record, kMagic, sizeof(kMagic)) != 0 ||
        record[4] != 0 || record[5] != kVersion) {
        return ZR_BAD_DATA;
    }
    const uint16_t rows = zr_get_be16(record + 6);
    const uint16_t cols = zr_get_be16(record + 8);
    *out_rows = rows;
    *out_cols = cols;
    if (out_vertical_dpi != nullptr) *out_vertical_dpi = zr_get_be16(record + 10);
    if (out_horizontal_dpi != nullptr) *out_horizontal_dpi = zr_get_be16(record + 12);
    if (out_impression_type != nullptr) *out_impression_type = record[14];
    if (record_size != uint32_t(rows) * cols + ZR_ZRIMAGE_HEADER_SIZE) return ZR_BAD_DATA;
    *out_pixels = record + ZR_ZRIMAGE_HEADER_SIZE;
    return ZR_OK;
}

// ---------------------------------------------------------------------------
// The record of an image object

zr_status zr_image_encode(zr_image* image, zr_template** out_template) {
    if (out_template == nullptr) return ZR_BAD_ARGUMENT;
    if (image == nullptr || image->rows == 0 || image->cols == 0) return ZR_WRONG_TYPE;
    const uint8_t* pixels = zr_image_get_pixels(image);
    if (pixels == nullptr) return ZR_WRONG_TYPE;
    uint8_t* record = nullptr;
    uint32_t size = 0;
    const uint32_t status = zr_fusion_zrimage_encode(
        pixels, image->rows, image->cols, image->horizontal_resolution,
        image->vertical_resolution, uint8_t(image->impression_type), &record, &size);
    if (status != ZR_OK) return static_cast<zr_status>(status);
    zr_template* tmpl = zr_template_adopt(ZR_TEMPLATE_RAW_IMAGE, record, size);
    if (tmpl == nullptr) {
        std::free(record);
        return ZR_NO_MEMORY;
    }
    *out_template = tmpl;
    return ZR_OK;
}

zr_status zr_image_decode(const zr_template* tmpl, zr_image** out_image) {
    if (out_image == nullptr) return ZR_BAD_ARGUMENT;
    *out_image = nullptr;
    if (zr_template_get_type(tmpl) != ZR_TEMPLATE_RAW_IMAGE) return ZR_UNHANDLED_INPUT;
    const uint8_t* pixels = nullptr;
    uint16_t rows = 0, cols = 0, horizontal = 0, vertical = 0;
    uint8_t impression = 0;
    if (zr_fusion_zrimage_to_parts(zr_template_get_data(tmpl), zr_template_get_data_size(tmpl),
                                   &pixels, &rows, &cols, &horizontal, &vertical,
                                   &impression) != ZR_OK)
        return ZR_WRONG_TYPE;
    zr_image* image = zr_image_create(rows, cols, vertical, horizontal, pixels, impression);
    if (image == nullptr) return ZR_NO_MEMORY;
    *out_image = image;
    return ZR_OK;
}
