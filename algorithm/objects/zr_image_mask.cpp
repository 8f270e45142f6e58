#include "objects/zr_image_mask.h"

#include <cstdlib>
#include <cstring>

#include "imaging/bal_crop_resize.h"
#include "imaging/bal_draw.h"
#include "imaging/bal_rotate.h"
#include "imaging/bal_scale.h"
#include "objects/zr_alloc.h"
#include "objects/zr_object.h"

namespace {

constexpr uint8_t kNewMaskByte = ZR_MASK_FINGERPRINT;
constexpr int16_t kNothingTransparent = 256;  // outside 0..255: every byte is drawn
constexpr uint8_t kRotationFill = 0;          // bytes without a source: background
constexpr uint8_t kValidByte = 255;

size_t mask_size(const zr_image_mask* mask) { return size_t(mask->rows) * mask->cols; }

// A counted mask record over a buffer from malloc (taken over; none may be
// given only for an empty mask).
zr_image_mask* adopt_mask(uint16_t rows, uint16_t cols, uint8_t* pixels) {
    auto* mask = static_cast<zr_image_mask*>(zr_calloc(1, sizeof(zr_image_mask)));
    if (mask == nullptr) return nullptr;
    mask->ref_count = 1;
    mask->rows = rows;
    mask->cols = cols;
    mask->pixels = pixels;
    mask->destroy = delete_image_mask;
    return mask;
}

// A new mask of rows x cols with uninitialised bytes.
zr_image_mask* allocate_mask(uint16_t rows, uint16_t cols) {
    const size_t size = size_t(rows) * cols;
    uint8_t* pixels = nullptr;
    if (size != 0) {
        pixels = static_cast<uint8_t*>(zr_malloc(size));
        if (pixels == nullptr) return nullptr;
    }
    zr_image_mask* mask = adopt_mask(rows, cols, pixels);
    if (mask == nullptr) std::free(pixels);
    return mask;
}

bool is_background(uint8_t byte) { return (byte & ZR_MASK_FINGERPRINT) == 0; }

bool is_valid(uint8_t byte) {
    return (byte & ZR_MASK_FINGERPRINT) != 0 && (byte & ZR_MASK_TYPE_STATIC_PATTERN) == 0;
}

// Applies op(mask byte, given byte) to every pixel.
template <class Op>
zr_status update_each(zr_image_mask* mask, const uint8_t* bytes, Op op) {
    if (mask == nullptr || bytes == nullptr) return ZR_BAD_ARGUMENT;
    const size_t size = mask_size(mask);
    for (size_t i = 0; i < size; ++i) op(mask->pixels[i], bytes[i]);
    return ZR_OK;
}

template <class Pred>
uint32_t coverage(const zr_image_mask* mask, Pred counts) {
    if (mask == nullptr) return 0;
    const size_t size = mask_size(mask);
    if (size == 0) return 0;
    size_t n = 0;
    for (size_t i = 0; i < size; ++i) n += counts(mask->pixels[i]) ? 1 : 0;
    return uint32_t(n * 100 / size);
}

}  // namespace

void delete_image_mask(zr_image_mask* mask) {
    std::free(mask->pixels);
    std::free(mask);
}

zr_image_mask* zr_image_mask_create(uint16_t rows, uint16_t cols) {
    zr_image_mask* mask = allocate_mask(rows, cols);
    if (mask != nullptr && mask->pixels != nullptr)
        std::memset(mask->pixels, kNewMaskByte, mask_size(mask));
    return mask;
}

zr_image_mask* zr_image_mask_retain(zr_image_mask* mask) {
    return zr_object_retain_unless_static(mask);
}

void zr_image_mask_delete(zr_image_mask* mask) { zr_object_delete_unless_static(mask); }

zr_image_mask* zr_image_mask_copy(const zr_image_mask* mask) {
    if (mask == nullptr) return nullptr;
    zr_image_mask* copy = allocate_mask(mask->rows, mask->cols);
    if (copy != nullptr && copy->pixels != nullptr)
        std::memcpy(copy->pixels, mask->pixels, mask_size(mask));
    return copy;
}

zr_image_mask* zr_image_mask_crop(const zr_image_mask* mask, uint16_t rows, uint16_t cols,
                                  int32_t row_offset, int32_t col_offset) {
    if (mask == nullptr) return nullptr;
    zr_image_mask* crop = zr_image_mask_create(rows, cols);
    if (crop != nullptr && crop->pixels != nullptr && mask->pixels != nullptr)
        bal_crop_image(mask->pixels, mask->rows, mask->cols, rows, cols, row_offset, col_offset,
                       crop->pixels);
    return crop;
}

zr_image_mask* zr_image_mask_draw(const zr_image_mask* destination, const zr_image_mask* source,
                                  int32_t col_offset, int32_t row_offset) {
    if (destination == nullptr || source == nullptr) return nullptr;
    zr_image_mask* drawn = zr_image_mask_copy(destination);
    if (drawn != nullptr && drawn->pixels != nullptr && source->pixels != nullptr)
        bal_image_draw_image(drawn->pixels, drawn->rows, drawn->cols, source->pixels,
                             source->rows, source->cols, col_offset, row_offset,
                             kNothingTransparent);
    return drawn;
}

zr_image_mask* zr_image_mask_flip(const zr_image_mask* mask, uint32_t mode) {
    if (mask == nullptr) return nullptr;
    const bool swaps = mode == BAL_FLIP_QUARTER_CW || mode == BAL_FLIP_QUARTER_CCW;
    zr_image_mask* flipped =
        allocate_mask(swaps ? mask->cols : mask->rows, swaps ? mask->rows : mask->cols);
    if (flipped != nullptr && flipped->pixels != nullptr)
        bal_image_flip(mask->pixels, mask->rows, mask->cols, mode, flipped->pixels);
    return flipped;
}

zr_image_mask* zr_image_mask_rotate(const zr_image_mask* mask, uint8_t angle) {
    if (mask == nullptr || mask->pixels == nullptr) return nullptr;
    uint8_t* pixels = nullptr;
    uint32_t rows = 0, cols = 0;
    int32_t row_offset = 0, col_offset = 0;
    if (bal_image_rotate_nearest_neighbour_uint8(mask->pixels, mask->rows, mask->cols, angle,
                                                 kRotationFill, &pixels, &rows, &cols,
                                                 &row_offset, &col_offset) != 0)
        return nullptr;
    zr_image_mask* rotated = nullptr;
    if (pixels != nullptr && rows <= UINT16_MAX && cols <= UINT16_MAX)
        rotated = adopt_mask(uint16_t(rows), uint16_t(cols), pixels);
    if (rotated == nullptr) std::free(pixels);
    return rotated;
}

zr_image_mask* zr_image_mask_scale(const zr_image_mask* mask, uint16_t rows, uint16_t cols) {
    if (mask == nullptr) return nullptr;
    zr_image_mask* scaled = allocate_mask(rows, cols);
    if (scaled != nullptr && scaled->pixels != nullptr) {
        if (mask_size(mask) != 0)
            bal_scale_nearest_neighbour_uint8(mask->pixels, mask->rows, mask->cols,
                                              scaled->pixels, rows, cols);
        else
            std::memset(scaled->pixels, kNewMaskByte, mask_size(scaled));
    }
    return scaled;
}

uint16_t zr_image_mask_get_rows(const zr_image_mask* mask) { return mask ? mask->rows : 0; }

uint16_t zr_image_mask_get_cols(const zr_image_mask* mask) { return mask ? mask->cols : 0; }

uint32_t zr_image_mask_is_copy(const zr_image_mask* a, const zr_image_mask* b) {
    if (a == nullptr || b == nullptr) return 0;
    if (a->rows != b->rows || a->cols != b->cols) return 0;
    const size_t size = mask_size(a);
    return size == 0 || std::memcmp(a->pixels, b->pixels, size) == 0 ? 1 : 0;
}

zr_status zr_image_mask_get_debug_image(const zr_image_mask* mask, uint8_t* out) {
    if (mask == nullptr || out == nullptr) return ZR_BAD_ARGUMENT;
    if (mask_size(mask) != 0) std::memcpy(out, mask->pixels, mask_size(mask));
    return ZR_OK;
}

uint32_t zr_image_mask_pixel_is_fingerprint(const zr_image_mask* mask, uint32_t index) {
    return mask != nullptr && !is_background(mask->pixels[index]) ? 1 : 0;
}

uint32_t zr_image_mask_pixel_is_background(const zr_image_mask* mask, uint32_t index) {
    return mask != nullptr && is_background(mask->pixels[index]) ? 1 : 0;
}

uint32_t zr_image_mask_pixel_is_type(const zr_image_mask* mask, uint8_t type, uint32_t index) {
    if (mask == nullptr) return 0;
    if (type == ZR_MASK_BACKGROUND_TYPE) return is_background(mask->pixels[index]) ? 1 : 0;
    return mask->pixels[index] & type;
}

void zr_image_mask_set_type_for_pixel(zr_image_mask* mask, uint8_t type, uint32_t index) {
    if (mask == nullptr) return;
    if (type == ZR_MASK_BACKGROUND_TYPE)
        mask->pixels[index] &= uint8_t(~ZR_MASK_FINGERPRINT);
    else
        mask->pixels[index] |= type;
}

zr_status zr_image_mask_set_fingerprint(zr_image_mask* mask, const uint8_t* bytes) {
    return update_each(mask, bytes, [](uint8_t& m, uint8_t b) {
        m = b != 0 ? uint8_t(m | ZR_MASK_FINGERPRINT) : uint8_t(m & ~ZR_MASK_FINGERPRINT);
    });
}

zr_status zr_image_mask_set_background(zr_image_mask* mask, const uint8_t* bytes) {
    return update_each(mask, bytes, [](uint8_t& m, uint8_t b) {
        m = b != 0 ? uint8_t(m & ~ZR_MASK_FINGERPRINT) : uint8_t(m | ZR_MASK_FINGERPRINT);
    });
}

zr_status zr_image_mask_add_fingerprint(zr_image_mask* mask, const uint8_t* bytes) {
    return update_each(mask, bytes, [](uint8_t& m, uint8_t b) {
        if (b != 0) m |= ZR_MASK_FINGERPRINT;
    });
}

zr_status zr_image_mask_add_background(zr_image_mask* mask, const uint8_t* bytes) {
    return update_each(mask, bytes, [](uint8_t& m, uint8_t b) {
        if (b != 0) m &= uint8_t(~ZR_MASK_FINGERPRINT);
    });
}

zr_status zr_image_mask_set_type_mask(zr_image_mask* mask, uint8_t type, const uint8_t* bytes) {
    if (type == ZR_MASK_BACKGROUND_TYPE) return zr_image_mask_set_background(mask, bytes);
    return update_each(mask, bytes, [type](uint8_t& m, uint8_t b) {
        m = b != 0 ? uint8_t(m | type) : uint8_t(m & ~type);
    });
}

zr_status zr_image_mask_add_type_mask(zr_image_mask* mask, uint8_t type, const uint8_t* bytes) {
    if (type == ZR_MASK_BACKGROUND_TYPE) return zr_image_mask_add_background(mask, bytes);
    return update_each(mask, bytes, [type](uint8_t& m, uint8_t b) {
        if (b != 0) m |= type;
    });
}

zr_status zr_image_mask_get_type_mask(const zr_image_mask* mask, uint8_t type, uint8_t* out) {
    if (mask == nullptr || out == nullptr) return ZR_BAD_ARGUMENT;
    const size_t size = mask_size(mask);
    for (size_t i = 0; i < size; ++i)
        out[i] = type == ZR_MASK_BACKGROUND_TYPE ? uint8_t(is_background(mask->pixels[i]) ? 1 : 0)
                                                 : uint8_t(mask->pixels[i] & type);
    return ZR_OK;
}

zr_status zr_image_mask_get_valid_pixels(const zr_image_mask* mask, uint8_t* out) {
    if (mask == nullptr || out == nullptr) return ZR_BAD_ARGUMENT;
    const size_t size = mask_size(mask);
    for (size_t i = 0; i < size; ++i) out[i] = is_valid(mask->pixels[i]) ? kValidByte : 0;
    return ZR_OK;
}

uint32_t zr_image_mask_type_coverage(const zr_image_mask* mask, uint8_t type) {
    if (type == ZR_MASK_BACKGROUND_TYPE) return coverage(mask, is_background);
    return coverage(mask, [type](uint8_t m) { return (m & type) != 0; });
}

uint32_t zr_image_mask_valid_coverage(const zr_image_mask* mask) { return coverage(mask, is_valid); }

void zr_image_mask_generate_elliptical(uint8_t* bytes, uint16_t rows, uint16_t cols,
                                       uint16_t row_radius, uint16_t col_radius) {
    if (bytes == nullptr) return;
    const uint64_t rr2 = uint64_t(row_radius) * row_radius;
    const uint64_t cr2 = uint64_t(col_radius) * col_radius;
    const uint64_t limit = rr2 * cr2;
    const int64_t centre_row = rows / 2, centre_col = cols / 2;
    for (int64_t r = 0; r < rows; ++r) {
        const uint64_t dr2 = uint64_t((r - centre_row) * (r - centre_row));
        for (int64_t c = 0; c < cols; ++c) {
            const uint64_t dc2 = uint64_t((c - centre_col) * (c - centre_col));
            if (dc2 * rr2 + dr2 * cr2 > limit) bytes[r * cols + c] = 0;
        }
    }
}
