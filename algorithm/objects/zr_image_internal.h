// Construction helpers shared by the image object's source files.
#pragma once

#include <cstdint>

#include "objects/zr_image.h"

// copy_pixels 1: owned copy of pixels (255 when none); 0: the given buffer,
// borrowed, with release(context) called when the image is destroyed.
zr_image* image_create_hlp(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                           uint16_t horizontal_dpi, uint8_t* pixels, uint32_t impression_type,
                           uint32_t not_const, void (*release)(void*), void* context,
                           uint32_t copy_pixels);

// New image taking over a rows x cols buffer from malloc as its owned pixels
// (none may be given only for an empty image). None when out of memory; the
// buffer is then freed.
zr_image* image_adopt_pixels(uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                             uint16_t horizontal_dpi, uint8_t* pixels, uint32_t impression_type);

// New owned buffer of rows x cols bytes from zr_malloc, filled with value;
// none when out of memory or empty.
uint8_t* image_allocate_filled(uint32_t rows, uint32_t cols, uint8_t value);

// Gives the result a copy of the source's quality record and its liveness
// score; false when the copy runs out of memory.
bool image_copy_quality_and_liveness(const zr_image* source, zr_image* result);
