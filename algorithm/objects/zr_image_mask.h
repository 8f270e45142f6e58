// Per-pixel image mask: bit 7 (0x80) set marks fingerprint, clear background;
// bits 0 to 6 are type flags, type 64 marking a static pattern. "Valid"
// pixels are fingerprint pixels without type 64. A new mask is all 128. A
// mask may be static (no destroy function): it is then never counted.
//
// Byte arrays given to or filled by the operations below hold one byte a
// pixel, rows x cols bytes, row-major.
#pragma once

#include <cstdint>

#include "objects/zr_result.h"

struct zr_image_mask {
    uint32_t ref_count;
    uint16_t rows;
    uint16_t cols;
    uint8_t* pixels;  // one byte a pixel, row-major
    void (*destroy)(zr_image_mask*);  // delete_image_mask; none for a static mask
};

constexpr uint8_t ZR_MASK_FINGERPRINT = 0x80;
constexpr uint8_t ZR_MASK_TYPE_STATIC_PATTERN = 0x40;
constexpr uint8_t ZR_MASK_BACKGROUND_TYPE = 0;  // the type that names background

// Constructors return a new mask with one reference, or none when out of
// memory or an argument is missing.

// rows x cols bytes, all 128 (fingerprint, no type).
zr_image_mask* zr_image_mask_create(uint16_t rows, uint16_t cols);
zr_image_mask* zr_image_mask_retain(zr_image_mask* mask);
void zr_image_mask_delete(zr_image_mask* mask);
zr_image_mask* zr_image_mask_copy(const zr_image_mask* mask);
// The window of rows x cols at the offsets (image library crop) in a mask
// of 128: bytes outside the source stay 128.
zr_image_mask* zr_image_mask_crop(const zr_image_mask* mask, uint16_t rows, uint16_t cols,
                                  int32_t row_offset, int32_t col_offset);
// Copy of the destination with the source drawn at the offsets, every byte
// opaque; none when either is missing.
zr_image_mask* zr_image_mask_draw(const zr_image_mask* destination, const zr_image_mask* source,
                                  int32_t col_offset, int32_t row_offset);
// Image library flip (modes 4 and 5 exchange rows and columns).
zr_image_mask* zr_image_mask_flip(const zr_image_mask* mask, uint32_t mode);
// Image library nearest-neighbour rotation by an 8-bit angle; bytes without a
// source are 0 (background); the size follows the rotation.
zr_image_mask* zr_image_mask_rotate(const zr_image_mask* mask, uint8_t angle);
// Nearest-neighbour scaling to rows x cols.
zr_image_mask* zr_image_mask_scale(const zr_image_mask* mask, uint16_t rows, uint16_t cols);

uint16_t zr_image_mask_get_rows(const zr_image_mask* mask);
uint16_t zr_image_mask_get_cols(const zr_image_mask* mask);
// 1 when both exist with equal rows, columns and bytes.
uint32_t zr_image_mask_is_copy(const zr_image_mask* a, const zr_image_mask* b);
// Copies the raw bytes out; 2 for a missing mask or output.
[[nodiscard]] zr_status zr_image_mask_get_debug_image(const zr_image_mask* mask, uint8_t* out);

// Single pixels (index = row x cols + column, not checked against the size).
uint32_t zr_image_mask_pixel_is_fingerprint(const zr_image_mask* mask, uint32_t index);
uint32_t zr_image_mask_pixel_is_background(const zr_image_mask* mask, uint32_t index);
// Type 0: 1 for background; else the byte AND type.
uint32_t zr_image_mask_pixel_is_type(const zr_image_mask* mask, uint8_t type, uint32_t index);
// Type 0: clears bit 7; else ORs the type bits in.
void zr_image_mask_set_type_for_pixel(zr_image_mask* mask, uint8_t type, uint32_t index);

// Whole-mask updates from a byte array; each returns 2 for a missing mask or
// array, else 0.
// Bit 7 set where the byte is non-zero, cleared where it is 0.
[[nodiscard]] zr_status zr_image_mask_set_fingerprint(zr_image_mask* mask, const uint8_t* bytes);
// Bit 7 cleared where the byte is non-zero, set where it is 0.
[[nodiscard]] zr_status zr_image_mask_set_background(zr_image_mask* mask, const uint8_t* bytes);
// Only where the byte is non-zero: set bit 7 / clear bit 7.
[[nodiscard]] zr_status zr_image_mask_add_fingerprint(zr_image_mask* mask, const uint8_t* bytes);
[[nodiscard]] zr_status zr_image_mask_add_background(zr_image_mask* mask, const uint8_t* bytes);
// Type 0 as zr_image_mask_set_background; else the type bits set where the
// byte is non-zero and cleared where it is 0.
[[nodiscard]] zr_status zr_image_mask_set_type_mask(zr_image_mask* mask, uint8_t type,
                                                    const uint8_t* bytes);
// Only where the byte is non-zero: type 0 clears bit 7, else ORs the type bits.
[[nodiscard]] zr_status zr_image_mask_add_type_mask(zr_image_mask* mask, uint8_t type,
                                                    const uint8_t* bytes);
// Type 0: 1 for background bytes, 0 otherwise; else the byte AND type.
[[nodiscard]] zr_status zr_image_mask_get_type_mask(const zr_image_mask* mask, uint8_t type,
                                                    uint8_t* out);
// 255 for valid pixels, 0 for the others.
[[nodiscard]] zr_status zr_image_mask_get_valid_pixels(const zr_image_mask* mask, uint8_t* out);

// Percentage (count x 100 / pixels, truncating) of pixels of that type (type
// 0: background) / of valid pixels; 0 for a missing or empty mask.
uint32_t zr_image_mask_type_coverage(const zr_image_mask* mask, uint8_t type);
uint32_t zr_image_mask_valid_coverage(const zr_image_mask* mask);

// Sets to 0 every byte outside the ellipse centred at (rows / 2, cols / 2):
// with dr and dc the row and column distances from the centre, a pixel is
// outside when dc^2 row_radius^2 + dr^2 col_radius^2 > row_radius^2
// col_radius^2 (64-bit). Bytes inside are unchanged. Nothing for none.
void zr_image_mask_generate_elliptical(uint8_t* bytes, uint16_t rows, uint16_t cols,
                                       uint16_t row_radius, uint16_t col_radius);

void delete_image_mask(zr_image_mask* mask);
