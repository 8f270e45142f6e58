#include "objects/zr_image.h"

#include <cstdlib>
#include <cstring>

#include "imaging/bal_rotate.h"
#include "objects/zr_alloc.h"
#include "objects/zr_image_internal.h"
#include "objects/zr_object.h"

namespace {

constexpr uint8_t kBlankPixel = 255;

zr_image* allocate_image(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                         uint16_t horizontal_dpi, uint32_t impression_type) {
    auto* image = static_cast<zr_image*>(zr_calloc(1, sizeof(zr_image)));
    if (image == nullptr) return nullptr;
    image->ref_count = 1;
    image->rows = rows;
    image->cols = cols;
    image->vertical_resolution = vertical_dpi;
    image->horizontal_resolution = horizontal_dpi;
    image->impression_type = impression_type;
    image->liveness_score = ZR_IMAGE_NO_LIVENESS_SCORE;
    image->pixel_buffer_size = uint32_t(rows) * cols;
    image->destroy = delete_image;
    return image;
}

void release_decoder(zr_image* image) {
    if (image->decoder != nullptr && image->decoder->release != nullptr)
        image->decoder->release(image->decoder_handle);
    image->decoder = nullptr;
    image->decoder_handle = nullptr;
}

bool swaps_sides(uint32_t mode) {
    return mode == BAL_FLIP_QUARTER_CW || mode == BAL_FLIP_QUARTER_CCW;
}

void (*const kFree)(void*) = std::free;

}  // namespace

// ---------------------------------------------------------------------------
// Helpers shared with the other image sources

uint8_t* image_allocate_filled(uint32_t rows, uint32_t cols, uint8_t value) {
    const size_t size = size_t(rows) * cols;
    if (size == 0) return nullptr;
    auto* pixels = static_cast<uint8_t*>(zr_malloc(size));
    if (pixels != nullptr) std::memset(pixels, value, size);
    return pixels;
}

zr_image* image_adopt_pixels(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                             uint16_t horizontal_dpi, uint8_t* pixels, uint32_t impression_type) {
    zr_image* image = allocate_image(rows, cols, vertical_dpi, horizontal_dpi, impression_type);
    if (image == nullptr) {
        std::free(pixels);
        return nullptr;
    }
    image->pixels = pixels;
    return image;
}

zr_image* image_create_hlp(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                           uint16_t horizontal_dpi, uint8_t* pixels, uint32_t impression_type,
                           uint32_t not_const, void (*release)(void*), void* context,
                           uint32_t copy_pixels) {
    zr_image* image = nullptr;
    if (copy_pixels) {
        const uint32_t size = uint32_t(rows) * cols;
        uint8_t* owned = nullptr;
        if (size != 0) {
            owned = image_allocate_filled(rows, cols, kBlankPixel);
            if (owned == nullptr) return nullptr;
            if (pixels != nullptr) std::memcpy(owned, pixels, size);
        }
        image = image_adopt_pixels(rows, cols, vertical_dpi, horizontal_dpi, owned,
                                   impression_type);
    } else {
        image = allocate_image(rows, cols, vertical_dpi, horizontal_dpi, impression_type);
        if (image != nullptr) {
            image->pixels = pixels;
            image->pixels_borrowed = 1;
        }
    }
    if (image == nullptr) return nullptr;
    image->not_const = not_const;
    image->release = release;
    image->release_context = context;
    return image;
}

bool image_copy_quality_and_liveness(const zr_image* source, zr_image* result) {
    result->liveness_score = source->liveness_score;
    if (source->quality == nullptr) return true;
    result->quality = zr_quality_copy(source->quality);
    return result->quality != nullptr;
}

// ---------------------------------------------------------------------------
// Creation

void delete_image(zr_image* image) {
    if (image->release != nullptr) image->release(image->release_context);
    if (!image->pixels_borrowed) std::free(image->pixels);
    release_decoder(image);
    zr_quality_delete(image->quality);
    zr_image_mask_delete(image->mask);
    std::free(image);
}

zr_image* zr_image_create(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                          uint16_t horizontal_dpi, const uint8_t* pixels,
                          uint32_t impression_type) {
    return image_create_hlp(rows, cols, vertical_dpi, horizontal_dpi,
                            const_cast<uint8_t*>(pixels), impression_type, 0, nullptr, nullptr,
                            1);
}

zr_image* zr_image_create_mr(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                             uint16_t horizontal_dpi, uint8_t* pixels, uint32_t impression_type) {
    return zr_image_create_mre(rows, cols, vertical_dpi, horizontal_dpi, pixels, impression_type,
                               0, 0, nullptr, nullptr);
}

zr_image* zr_image_create_mre(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                              uint16_t horizontal_dpi, uint8_t* pixels, uint32_t impression_type,
                              uint32_t buffer_size, uint32_t const_flag,
                              void (*release)(void* context), void* context) {
    const uint32_t size = uint32_t(rows) * cols;
    if (buffer_size == 0) buffer_size = size;
    if (size > buffer_size || (pixels == nullptr && size != 0)) return nullptr;
    zr_image* image = image_create_hlp(rows, cols, vertical_dpi, horizontal_dpi, pixels,
                                       impression_type, const_flag ? 0 : 1, release, context, 0);
    if (image != nullptr) image->pixel_buffer_size = buffer_size;
    return image;
}

zr_image* zr_image_create_render(const zr_image_decoder* decoder, void* source,
                                 uint32_t argument1, uint32_t argument2, uint64_t argument3) {
    if (decoder == nullptr || decoder->open == nullptr || decoder->read == nullptr)
        return nullptr;
    zr_image* image = allocate_image(0, 0, 0, 0, 0);
    if (image == nullptr) return nullptr;
    if (decoder->open(source, argument1, argument2, argument3, &image->decoder_handle,
                      &image->rows, &image->cols, &image->vertical_resolution,
                      &image->horizontal_resolution, &image->impression_type) != 0) {
        std::free(image);
        return nullptr;
    }
    image->decoder = decoder;
    image->pixel_buffer_size = uint32_t(image->rows) * image->cols;
    return image;
}

zr_image* zr_image_create_mask(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                               uint16_t horizontal_dpi, const uint8_t* pixels,
                               uint32_t impression_type, zr_image_mask* mask) {
    zr_image* image =
        zr_image_create(rows, cols, vertical_dpi, horizontal_dpi, pixels, impression_type);
    if (image != nullptr) image->mask = zr_image_mask_retain(mask);
    return image;
}

zr_image* zr_image_create_flip(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                               uint16_t horizontal_dpi, const uint8_t* pixels,
                               uint32_t impression_type, uint32_t mode) {
    const bool swap = swaps_sides(mode);
    zr_image* image = zr_image_create(swap ? cols : rows, swap ? rows : cols,
                                      swap ? horizontal_dpi : vertical_dpi,
                                      swap ? vertical_dpi : horizontal_dpi, nullptr,
                                      impression_type);
    if (image != nullptr && pixels != nullptr && image->pixels != nullptr)
        bal_image_flip(pixels, rows, cols, mode, image->pixels);
    return image;
}

zr_image* zr_image_copy(zr_image* image) {
    if (image == nullptr) return nullptr;
    zr_image* copy = zr_image_create(image->rows, image->cols, image->vertical_resolution,
                                     image->horizontal_resolution, zr_image_get_pixels(image),
                                     image->impression_type);
    if (copy == nullptr) return nullptr;
    if (!image_copy_quality_and_liveness(image, copy)) {
        zr_image_delete(copy);
        return nullptr;
    }
    copy->mask = zr_image_mask_copy(image->mask);
    copy->class_id = image->class_id;
    return copy;
}

zr_image* zr_image_retain(zr_image* image) { return zr_object_retain(image); }

void zr_image_delete(zr_image* image) { zr_object_delete(image); }

uint32_t zr_image_get_num_refs(const zr_image* image) { return image ? image->ref_count : 0; }

// ---------------------------------------------------------------------------
// Accessors

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

uint32_t zr_image_get_nbr_of_pixels(const zr_image* image) {
    return image ? uint32_t(image->rows) * image->cols : 0;
}

uint16_t zr_image_get_liveness_score(const zr_image* image) {
    return image ? image->liveness_score : 0;
}

void zr_image_set_liveness_score(zr_image* image, uint16_t score) {
    if (image != nullptr) image->liveness_score = score;
}

uint16_t zr_image_get_class_id(const zr_image* image) { return image ? image->class_id : 0; }

zr_status zr_image_set_class_id(zr_image* image, uint16_t class_id) {
    if (image == nullptr) return ZR_BAD_ARGUMENT;
    image->class_id = class_id;
    return ZR_OK;
}

zr_image_mask* zr_image_get_mask(const zr_image* image) { return image ? image->mask : nullptr; }

zr_image_mask* zr_image_get_mask_create_if_na(zr_image* image) {
    if (image == nullptr) return nullptr;
    if (image->mask == nullptr) image->mask = zr_image_mask_create(image->rows, image->cols);
    return image->mask;
}

void zr_image_set_mask(zr_image* image, zr_image_mask* mask) {
    if (image == nullptr || image->mask == mask) return;
    zr_image_mask_delete(image->mask);
    image->mask = zr_image_mask_retain(mask);
}

uint8_t zr_image_get_quality(const zr_image* image) {
    return image ? zr_quality_get_image_quality(image->quality) : 0;
}

zr_quality* zr_image_get_quality_values(const zr_image* image) {
    return image ? image->quality : nullptr;
}

void zr_image_set_quality_values(zr_image* image, zr_quality* quality) {
    if (image == nullptr || image->quality == quality) return;
    zr_quality_delete(image->quality);
    image->quality = zr_quality_retain(quality);
}

uint16_t zr_image_get_fingerprint_area(const zr_image* image) {
    return image ? zr_quality_get_area(image->quality) : 0;
}

uint8_t zr_image_get_fingerprint_area_percentage(const zr_image* image) {
    return image ? zr_quality_get_area_percentage(image->quality) : 0;
}

uint8_t zr_image_get_fingerprint_condition(const zr_image* image) {
    return image ? zr_quality_get_condition(image->quality) : 0;
}

uint32_t zr_image_get_mr_const(const zr_image* image) {
    return image ? (image->not_const ? 0 : 1) : 0;
}

void zr_image_set_mr_const(zr_image* image, uint32_t const_flag) {
    if (image != nullptr) image->not_const = const_flag ? 0 : 1;
}

uint32_t zr_image_get_mr_size(const zr_image* image) {
    if (image == nullptr) return 0;
    return image->pixel_buffer_size != 0 ? image->pixel_buffer_size
                                         : uint32_t(image->rows) * image->cols;
}

uint32_t zr_image_is_mr_weak(const zr_image* image) {
    return image != nullptr && image->mr_state == ZR_IMAGE_MR_WEAK ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Pixels

zr_status zr_image_render(zr_image* image) {
    if (image == nullptr) return ZR_BAD_ARGUMENT;
    if (image->pixels != nullptr) return ZR_OK;
    const uint32_t size = uint32_t(image->rows) * image->cols;
    if (image->decoder == nullptr) return size == 0 ? ZR_OK : ZR_WRONG_TYPE;
    if (size == 0) {
        release_decoder(image);
        return ZR_OK;
    }
    auto* pixels = static_cast<uint8_t*>(zr_malloc(size));
    if (pixels == nullptr) return ZR_NO_MEMORY;  // the decoder stays for a later attempt
    image->decoder->read(image->decoder_handle, 0, 0, image->rows, image->cols, image->cols,
                         pixels);
    release_decoder(image);
    image->pixels = pixels;
    image->pixels_borrowed = 0;
    image->pixel_buffer_size = size;
    return ZR_OK;
}

uint8_t* zr_image_get_pixels(zr_image* image) {
    if (image == nullptr) return nullptr;
    (void)zr_image_render(image);  // pixels stay none when rendering fails
    return image->pixels;
}

// ---------------------------------------------------------------------------
// Memory references

uint32_t zr_image_mr_soft(zr_image* image) {
    if (image == nullptr) return 0;
    const uint32_t previous = image->mr_state;
    if (previous == ZR_IMAGE_MR_NONE) image->mr_state = ZR_IMAGE_MR_SOFT;
    return previous;
}

void zr_image_mr_weak(zr_image* image) {
    if (image != nullptr) image->mr_state = ZR_IMAGE_MR_WEAK;
}

void zr_image_mr_weakify(zr_image* image) {
    if (image != nullptr && image->mr_state == ZR_IMAGE_MR_SOFT) image->mr_state = ZR_IMAGE_MR_WEAK;
}

uint32_t zr_image_mr_release(zr_image* image, void (*release)(void*)) {
    if (image == nullptr || image->ref_count != 1 || image->mr_state != ZR_IMAGE_MR_WEAK) return 0;
    zr_image_mask_delete(image->mask);
    image->mask = nullptr;
    if (release == nullptr) {
        if (image->decoder != nullptr) {
            release_decoder(image);
        } else if (image->pixels != nullptr && !image->pixels_borrowed) {
            std::free(image->pixels);
        } else if (image->pixels != nullptr && image->release != nullptr) {
            image->release(image->release_context);
            image->release = nullptr;
            image->release_context = nullptr;
        } else {
            return 0;
        }
        image->pixels = nullptr;
        return 1;
    }
    if (image->pixels == nullptr || image->decoder != nullptr) return 0;
    if (image->pixels_borrowed) {
        if (release != image->release || image->pixels != image->release_context) return 0;
        image->release = nullptr;
        image->release_context = nullptr;
    } else if (release != kFree) {
        return 0;
    }
    image->pixels = nullptr;
    return 1;
}
