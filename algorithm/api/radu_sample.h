// The sensor sample as the exported interface wraps it.
#pragma once

#include <cstdint>

#include "api/fpmatch.h"
#include "objects/zr_image.h"

// A new image owning a copy of the sample's 176 x 96 pixels at the given
// resolution both ways, impression type 0; none for a missing sample or when
// memory runs out. (The image layer would turn a missing pixel buffer into a
// white image, which must not pass for a capture.)
inline zr_image* radu_wrap_sample_copy(const uint8_t* sample, uint16_t dpi) {
    if (sample == nullptr) return nullptr;
    return zr_image_create(RADU_SAMPLE_ROWS, RADU_SAMPLE_COLS, dpi, dpi, sample, 0);
}
