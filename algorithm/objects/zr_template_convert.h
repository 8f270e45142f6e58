// Conversion of a template to another type by taking a view of part of its
// bytes (no copy, no allocation).
#pragma once

#include <cstdint>

#include "objects/zr_result.h"
#include "objects/zr_template.h"

// Points *out_data into the template's own bytes (valid while it lives).
// ZR_OK; ZR_BAD_ARGUMENT for a missing template or output; ZR_WRONG_TYPE when
// the source type has no conversion, the container does not parse, the target
// has no converter or the converter does not find its part; ZR_NOT_FOUND
// when a container holds neither the target type nor an EHM entry to convert.
[[nodiscard]] zr_status zr_template_convert(const zr_template* tmpl, uint32_t target_type,
                                            const uint8_t** out_data, uint32_t* out_size);
// 1 when zr_template_convert would give non-empty data of that type.
int32_t zr_template_is_compatible(const zr_template* tmpl, uint32_t target_type);
