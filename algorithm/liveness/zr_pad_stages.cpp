#include "liveness/zr_pad_stages.h"

#include "liveness/nex_features.h"
#include "liveness/nex_maskgen.h"

const zr_pad_stages zr_pad_default_stages = {
    maskgen,
    nex_features_extract,
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
