#include "objects/zr_image_mask.h"

#include <cstdlib>
#include <cstring>

#include "objects/zr_object.h"

void delete_image_mask(zr_image_mask* mask) {
    std::free(mask->pixels);
    std::free(mask);
}

zr_image_mask* zr_image_mask_create(uint16_t rows, uint16_t cols) {
    auto* mask = static_cast<zr_image_mask*>(std::calloc(1, sizeof(zr_image_mask)));
    if (mask == nullptr) return nullptr;
    const size_t size = size_t(rows) * cols;
    if (size != 0) {
        mask->pixels = static_cast<uint8_t*>(std::malloc(size));
        if (mask->pixels == nullptr) {
            std::free(mask);
            return nullptr;
        }
        std::memset(mask->pixels, 128, size);
    }
    mask->ref_count = 1;
    mask->rows = rows;
    mask->cols = cols;
    mask->destroy = delete_image_mask;
    return mask;
}

zr_image_mask* zr_image_mask_retain(zr_image_mask* mask) {
    return zr_object_retain_unless_static(mask);
}

void zr_image_mask_delete(zr_image_mask* mask) { zr_object_delete_unless_static(mask); }

uint16_t zr_image_mask_get_rows(const zr_image_mask* mask) { return mask ? mask->rows : 0; }

uint16_t zr_image_mask_get_cols(const zr_image_mask* mask) { return mask ? mask->cols : 0; }
