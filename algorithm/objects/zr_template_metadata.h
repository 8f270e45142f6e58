// Template metadata record (template type 86), kept in generic containers.
//
//   0 2 version (3 written)   6 2 image class
//   2 2 image rows            8 1 enrol type (versions 2 and later)
//   4 2 image columns         9 2 resolution in dpi (versions 3 and later)
//
// Big-endian; versions 1, 2 and 3 are 8, 9 and 11 bytes; later versions read
// as version 3; version 0 is refused.
#pragma once

#include <cstdint>

#include "objects/zr_image.h"
#include "objects/zr_result.h"
#include "objects/zr_template.h"

struct zr_template_metadata {
    uint16_t cols;
    uint16_t rows;
    uint16_t image_class;
    uint16_t resolution;
    uint32_t enroll_type;
};

// Called by zr_template_metadata_extract; may fill the class and enrol type.
using zr_template_metadata_callback = zr_status (*)(void* context, zr_image* image,
                                                    uint16_t* image_class, uint16_t* resolution,
                                                    uint32_t* enroll_type,
                                                    zr_template** out_template);

// New 11-byte type-86 template; ZR_BAD_ARGUMENT for a missing record or output,
// ZR_NO_MEMORY when out of memory.
[[nodiscard]] zr_status zr_template_metadata_encode(void* context, const zr_template_metadata* metadata,
                                                    zr_template** out_template);
// Metadata of an image (rows, columns, resolution; class and enrol type from
// the callback when given); ZR_BAD_ARGUMENT for a missing image or output.
[[nodiscard]] zr_status zr_template_metadata_extract(void* context, zr_image* image,
                                                     zr_template_metadata_callback callback,
                                                     zr_template** out_template);
// Reads the type-86 data of a template; the conversion's failure code,
// ZR_UNHANDLED_INPUT for version 0, ZR_BAD_FORMAT for a size not matching the
// version.
[[nodiscard]] zr_status zr_template_metadata_get(void* context, const zr_template* tmpl,
                                                 zr_template_metadata* out_metadata);
// The enrol type byte; 0 without metadata or for a version-1 record, 3 when
// the metadata cannot be read.
uint32_t zr_template_metadata_enroll_type(const zr_template* tmpl);
// Replace *tmpl by a container whose metadata holds the new value (every
// older type-86 entry removed); *tmpl is unchanged on failure. 0 (also when the
// field already holds the value); 2 for a missing output; the read's failure
// code when the template holds metadata that cannot be read (a bare type-86
// template without bytes gives 4); 17 when its metadata cannot be removed (a
// bare record); 9 when the merge fails.
[[nodiscard]] zr_status zr_template_metadata_set_enroll_type(uint32_t enroll_type, zr_template** tmpl);
[[nodiscard]] zr_status zr_template_metadata_set_image_class(uint16_t image_class, zr_template** tmpl);
