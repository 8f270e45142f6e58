#include "liveness/zr_pad_stages.h"

// The mask generation and the feature extraction are filled in here as they
// land; until then the pipeline skips them.
const zr_pad_stages zr_pad_default_stages = {
    nullptr,  // maskgen
    nullptr,  // features_extract
};

namespace {

const zr_pad_stages* g_stages = &zr_pad_default_stages;

}  // namespace

const zr_pad_stages* zr_pad_get_stages() { return g_stages; }

const zr_pad_stages* zr_pad_set_stages(const zr_pad_stages* stages) {
    const zr_pad_stages* previous = g_stages;
    g_stages = stages != nullptr ? stages : &zr_pad_default_stages;
    return previous;
}
