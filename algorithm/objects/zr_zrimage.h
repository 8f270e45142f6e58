// Raw-image record "ZRIT": one 8-bit grey image with its geometry.
//
//   0  4  magic "ZRIT"          8  2  columns
//   4  1  0x00                  10 2  vertical resolution (dpi)
//   5  1  version 0x01          12 2  horizontal resolution (dpi)
//   6  2  rows                  14 1  impression type (low 8 bits)
//   15 rows x columns pixels, row-major
//
// Multi-byte fields are big-endian; the record is exactly rows x cols + 15 bytes.
#pragma once

#include <cstdint>

#include "objects/zr_image.h"
#include "objects/zr_result.h"
#include "objects/zr_template.h"

constexpr uint32_t ZR_ZRIMAGE_HEADER_SIZE = 15;

// Writes the record into a new buffer (freed by the caller with free()).
// Clears both outputs first; ZR_BAD_ARGUMENT for a missing output or missing
// pixels of a non-empty image, ZR_NO_MEMORY when out of memory, else ZR_OK.
[[nodiscard]] zr_status zr_fusion_zrimage_encode(const uint8_t* pixels, uint16_t rows, uint16_t cols,
                                                 uint16_t horizontal_dpi, uint16_t vertical_dpi,
                                                 uint8_t impression_type, uint8_t** out_buffer,
                                                 uint32_t* out_size);

// Reads a record. Clears pixels, rows and columns; ZR_BAD_DATA for a short
// record, a wrong magic or version bytes; otherwise stores rows, columns and
// each requested optional field, then ZR_BAD_DATA when the size is not rows x
// cols + 15 (pixels stay none); else *out_pixels points into the record and the
// result is ZR_OK. ZR_BAD_ARGUMENT for a missing record or missing pixels, rows
// or columns output.
[[nodiscard]] zr_status zr_fusion_zrimage_to_parts(const uint8_t* record, uint32_t record_size,
                                                   const uint8_t** out_pixels, uint16_t* out_rows,
                                                   uint16_t* out_cols, uint16_t* out_horizontal_dpi,
                                                   uint16_t* out_vertical_dpi, uint8_t* out_impression_type);

// ---------------------------------------------------------------------------
// The record of an image object, as a template of type 71

// 2 without output; 3 for a missing image, one with no pixels or of zero
// size; 9 when out of memory; else 0 with *out_template a new template.
[[nodiscard]] zr_status zr_image_encode(zr_image* image, zr_template** out_template);
// Sets *out_image to none first; 2 without output; 1 when the template is not
// of type 71; 3 when its record does not parse; 9 when out of memory; else 0
// with a new image owning a copy of the pixels.
[[nodiscard]] zr_status zr_image_decode(const zr_template* tmpl, zr_image** out_image);
