// Finalisation of an enrolment: the accepted captures and their match matrix
// go to a new multi-template manager, which selects and encodes them.
#pragma once

#include <cstdint>

#include "objects/zr_match.h"
#include "objects/zr_result.h"
#include "objects/zr_template.h"

struct zr_mte_selection_request {
    uint8_t max_templates;
    uint32_t max_template_size;  // 0: no limit
    uint32_t priority_class;     // template type of the one priority record
    uint8_t priority_level;      // its maximum count (0: no limit)
    uint32_t encode_mode;
    uint32_t flags;  // selection flags: 1 and 4 dynamic update, 2 extra enrol flag
};

// Selects among the first count templates with the match matrix whose cell
// [i][j] is matrix[i * stride + j] and encodes the result (type 80) into
// *out (none on failure). The templates and matches stay the caller's.
// ZR_BAD_ARGUMENT for missing arguments or count above stride; ZR_NO_MEMORY;
// the selection's and the encoder's failures.
[[nodiscard]] zr_status zr_mte_select_and_encode(const zr_mte_selection_request* request,
                                                 zr_template* const* templates, zr_match* const* matrix,
                                                 uint32_t stride, uint32_t count, zr_template** out);
