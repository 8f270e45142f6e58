// 8-bit grey fingerprint image object: geometry, resolutions, optional mask
// and owned or borrowed pixels.
#pragma once

#include <cstdint>

#include "objects/zr_image_mask.h"

struct zr_image {
    uint32_t ref_count;
    uint8_t* pixels;  // row-major rows x cols bytes, or none
    uint16_t rows;
    uint16_t cols;
    uint16_t vertical_resolution;    // dpi, rows direction
    uint16_t horizontal_resolution;  // dpi, columns direction
    zr_image_mask* mask;             // held reference or none
    uint32_t impression_type;
    uint16_t liveness_score;         // 0xFFFF: no score
    uint16_t class_id;
    uint8_t pixels_borrowed;         // 1 when the pixel buffer belongs to the caller
    uint32_t pixel_buffer_size;
    uint32_t not_const;              // 1 when the pixel memory may be shared or released early
    void (*release)(void* context);  // called with release_context when destroyed
    void* release_context;
    void (*destroy)(zr_image*);      // delete_image
};

// Impression type reported for a missing image.
constexpr uint32_t ZR_IMAGE_NO_IMPRESSION_TYPE = 29;

// New image owning a copy of rows x cols pixels (every pixel 255 when pixels
// is none); liveness 0xFFFF, class id 0, no mask. None when out of memory.
zr_image* zr_image_create(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                          uint16_t horizontal_dpi, const uint8_t* pixels,
                          uint32_t impression_type);
zr_image* zr_image_retain(zr_image* image);
void zr_image_delete(zr_image* image);
uint32_t zr_image_get_num_refs(const zr_image* image);

uint16_t zr_image_get_rows(const zr_image* image);
uint16_t zr_image_get_cols(const zr_image* image);
uint16_t zr_image_get_vertical_resolution(const zr_image* image);
uint16_t zr_image_get_horizontal_resolution(const zr_image* image);
// The common resolution when both are equal, else 0.
uint16_t zr_image_get_resolution(const zr_image* image);
uint32_t zr_image_get_impression_type(const zr_image* image);
uint8_t* zr_image_get_pixels(zr_image* image);

void delete_image(zr_image* image);
