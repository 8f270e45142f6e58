// Configuration record of an algorithm: how it builds and handles
// multi-templates, and the optional hook of the verification walk. Copied by
// value; the walk reads only the link hook.
#pragma once

#include <cstdint>

#include "match/chain/zr_algorithm_chain.h"
#include "objects/zr_image.h"
#include "objects/zr_result.h"

// Called by the verification walk with the current link after every
// comparison; a non-zero result ends the walk with that result.
using zr_link_hook_fn = zr_status (*)(zr_algorithm_link* link);

struct zr_algorithm_config {
    uint8_t max_templates;
    uint8_t priority_level;
    uint32_t priority_class;
    uint32_t encode_mode;
    uint32_t dynamic_update;
    uint32_t max_template_size;
    uint8_t max_captures;
    uint32_t capture_veto;
    uint32_t extra_enroll_flag;
    uint32_t preset_value_a;
    uint32_t preset_value_b;
    uint8_t preset_value_c;
    zr_link_hook_fn link_hook;  // none in every preset
    zr_image_split_spec image_split;
};
