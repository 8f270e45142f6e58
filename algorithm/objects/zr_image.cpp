#include "objects/zr_image.h"

#include <cstdlib>
#include <cstring>

#include "objects/zr_object.h"

void delete_image(zr_image* image) {
    if (image->release != nullptr) image->release(image->release_context);
    if (!image->pixels_borrowed) std::free(image->pixels);
    zr_image_mask_delete(image->mask);
    std::free(image);
}

zr_image* zr_image_create(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                          uint16_t horizontal_dpi, const uint8_t* pixels,
                          uint32_t impression_type) {
    auto* image = static_cast<zr_image*>(std::calloc(1, sizeof(zr_image)));
    if (image == nullptr) return nullptr;
    const uint32_t size = uint32_t(rows) * cols;
    if (size != 0) {
        image->pixels = static_cast<uint8_t*>(std::malloc(size));
        if (image->pixels == nullptr) {
            std::free(image);
            return nullptr;
        }
        if (pixels != nullptr) {
            std::memcpy(image->pixels, pixels, size);
        } else {
            std::memset(image->pixels, 255, size);
        }
    }
    image->ref_count = 1;
    image->rows = rows;
    image->cols = cols;
    image->vertical_resolution = vertical_dpi;
    image->horizontal_resolution = horizontal_dpi;
    image->impression_type = impression_type;
    image->liveness_score = 0xFFFF;
    image->pixel_buffer_size = size;
    image->destroy = delete_image;
    return image;
}

zr_image* zr_image_retain(zr_image* image) { return zr_object_retain(image); }

void zr_image_delete(zr_image* image) { zr_object_delete(image); }

uint32_t zr_image_get_num_refs(const zr_image* image) { return image ? image->ref_count : 0; }

uint16_t zr_image_get_rows(const zr_image* image) { return image ? image->rows : 0; }

uint16_t zr_image_get_cols(const zr_image* image) { return image ? image->cols : 0; }

uint16_t zr_image_get_vertical_resolution(const zr_image* image) {
    return image ? image->vertical_resolution : 0;
}

uint16_t zr_image_get_horizontal_resolution(const zr_image* image) {
    return image ? image->horizontal_resolution : 0;
}

uint16_t zr_image_get_resolution(const zr_image* image) {
    if (image == nullptr || image->vertical_resolution != image->horizontal_resolution) return 0;
    return image->vertical_resolution;
}

uint32_t zr_image_get_impression_type(const zr_image* image) {
    return image ? image->impression_type : ZR_IMAGE_NO_IMPRESSION_TYPE;
}

uint8_t* zr_image_get_pixels(zr_image* image) { return image ? image->pixels : nullptr; }
