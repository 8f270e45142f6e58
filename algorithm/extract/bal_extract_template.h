// Template building: one 8-bit grey image into a template of one of five
// formats in a single call (extraction, minimum-count check, format writer).
//
// Format codes (low byte of the format argument):
//   1  ISO/IEC 19794-2 record (2005; 2011 with BAL_TEMPLATE_V2011) with the
//      extended blocks the flags ask for
//   2  ISO compact card; with both BAL_TEMPLATE_ORIENTATION and
//      BAL_TEMPLATE_FREQUENCY the fusion template built on it
//   3  ANSI 378 record (version 2; version 3 with BAL_TEMPLATE_V2011)
//   4  EHM template built on the compact card (both block fields always made)
//   8  the extraction container itself (3,232 bytes)
//
// Results: BAL_OK; BAL_DUMMY_IMAGE when the image was the 16 x 16 dummy image
// (the output is then the dummy template, whatever the format);
// BAL_BAD_ARGUMENT; BAL_NO_MEMORY; BAL_UNSUPPORTED (BAL_EXTRACT_HALF_FREQUENCY
// with BAL_EXTRACT_250DPI, or a resolution the record writers refuse);
// BAL_TOO_FEW_MINUTIAE; BAL_BAD_FORMAT or BAL_BAD_DATA when a format writer
// refuses; any other extraction failure as bal_extract gives it. On failure
// the outputs are null and 0 and nothing is left allocated.
//
// Output buffers are released with bal_free_template.
#pragma once

#include <cstdint>

#include "formats/bal_template_container.h"
#include "imaging/bal_status.h"

// Format codes.
constexpr uint32_t BAL_FORMAT_ISO19794_2 = 1;
constexpr uint32_t BAL_FORMAT_COMPACT_CARD = 2;
constexpr uint32_t BAL_FORMAT_ANSI378 = 3;
constexpr uint32_t BAL_FORMAT_EHM = 4;
constexpr uint32_t BAL_FORMAT_CONTAINER = 8;

// Template flags (the low 16 bits are also the container's extraction flags,
// see bal_template_container.h for 0x0800 .. 0x4000).
constexpr uint32_t BAL_TEMPLATE_CORES = 0x0002;
constexpr uint32_t BAL_TEMPLATE_DELTAS = 0x0004;
constexpr uint32_t BAL_TEMPLATE_ZONAL_QUALITY = 0x0008;
constexpr uint32_t BAL_TEMPLATE_ORIENTATION = 0x0010;
constexpr uint32_t BAL_TEMPLATE_FREQUENCY = 0x0020;
constexpr uint32_t BAL_TEMPLATE_PROPRIETARY = 0x0040;
constexpr uint32_t BAL_TEMPLATE_FINE_FIELDS = 0x0080;
constexpr uint32_t BAL_TEMPLATE_BINARIZED = 0x0100;
constexpr uint32_t BAL_TEMPLATE_RAW_IMAGE = 0x0200;
constexpr uint32_t BAL_TEMPLATE_V2011 = 0x0400;

// Builds a template from a rows x cols image.
//
// pixels: row-major; with BAL_EXTRACT_TAKE_PIXELS a malloc() buffer that
// this call releases on every path (including argument failures), else only
// read. finger_position 0..10; impression_type 0, 1, 2, 3, 8 or 29; the
// reserved argument is ignored; only the low bytes of the minimum, the maximum
// and the format are used (a minimum of 256 acts as 0); order: high nibble 0
// (ascending) or 1 (descending), low nibble 1..5. out_length may be null for
// formats 1 and 8 only.
[[nodiscard]] bal_status bal_extract_template(uint8_t* pixels, uint16_t rows, uint16_t cols,
                                              uint8_t finger_position, uint8_t impression_type,
                                              uint64_t reserved, uint32_t min_minutiae,
                                              uint32_t max_minutiae, uint8_t order, uint32_t flags,
                                              uint32_t format, uint8_t** out_template,
                                              uint32_t* out_length);

// As bal_extract_template, with a valid-pixel mask (one byte a pixel, may be
// null) and the two feature callbacks (either may be null) that run with
// BAL_EXTRACT_FEATURE_CALLBACKS. The feature blocks the callbacks fill are
// released by this call for every format but 8 (whose caller gets them with
// the container and releases them with free()).
[[nodiscard]] bal_status bal_extract_template_mask(
    uint8_t* pixels, const uint8_t* valid_mask, uint16_t rows, uint16_t cols,
    uint8_t finger_position, uint8_t impression_type, uint64_t reserved, uint32_t min_minutiae,
    uint32_t max_minutiae, uint8_t order, uint32_t flags, uint32_t format, uint8_t** out_template,
    uint32_t* out_length, bal_feature_callback callback1, bal_feature_callback callback2);

// The compact card for match-on-card: at most 64 minutiae, best quality
// first, with the proprietary part; no minimum count. pixels are only read.
[[nodiscard]] bal_status BAL_EXTRACT_TEMPLATE_MOC(const uint8_t* pixels, uint16_t rows,
                                                  uint16_t cols, uint8_t** out_template,
                                                  uint32_t* out_length);

// Releases a buffer of the calls above (null is accepted); BAL_OK.
[[nodiscard]] bal_status bal_free_template(uint8_t* buffer);

// 1 when the image is the 16 x 16 dummy image, else 0.
int32_t bal_origin_is_dummy(const uint8_t* pixels, uint32_t rows, uint32_t cols);

// Writes the 103-byte dummy template into a new buffer; out_length may be
// null. BAL_OK; BAL_BAD_ARGUMENT for a missing output; BAL_NO_MEMORY.
[[nodiscard]] bal_status bal_origin_get_dummy_template(uint8_t** out_template,
                                                       uint32_t* out_length);
