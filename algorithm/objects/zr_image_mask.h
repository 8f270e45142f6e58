// Per-pixel image mask: bit 7 set marks fingerprint, bits 0 to 6 are type
// flags. A mask may be static (no destroy function): it is then never counted.
#pragma once

#include <cstdint>

struct zr_image_mask {
    uint32_t ref_count;
    uint16_t rows;
    uint16_t cols;
    uint8_t* pixels;  // one byte a pixel, row-major
    void (*destroy)(zr_image_mask*);  // delete_image_mask; none for a static mask
};

// New mask of rows x cols bytes, all 128 (fingerprint, no type); none when out
// of memory.
zr_image_mask* zr_image_mask_create(uint16_t rows, uint16_t cols);
zr_image_mask* zr_image_mask_retain(zr_image_mask* mask);
void zr_image_mask_delete(zr_image_mask* mask);
uint16_t zr_image_mask_get_rows(const zr_image_mask* mask);
uint16_t zr_image_mask_get_cols(const zr_image_mask* mask);

void delete_image_mask(zr_image_mask* mask);
