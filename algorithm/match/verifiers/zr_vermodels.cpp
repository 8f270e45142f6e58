#include "match/verifiers/zr_vermodels.h"

#include "match/verifiers/zr_ehm_verifier.h"

namespace {

#include "match/verifiers/zr_vermodel_h80.inc"

}  // namespace

const zr_verifier_descriptor vandrel_verifier = {zr_vandrel_extract_feature_scores, nullptr,
                                                  zr_vandrel_verify_feature_scores, nullptr};
const zr_verifier_descriptor ehm_verifier = {zr_ehm_extract_feature_scores, zr_ehm_extract_feature_scores,
                                             zr_ehm_verify_feature_scores, nullptr};
const zr_verifier_descriptor ehmhr_verifier = {zr_ehmhr_extract_feature_scores, zr_ehmhr_extract_feature_scores,
                                               zr_ehm_verify_feature_scores, nullptr};

const zr_vermodel zr_vermodel_h80_ehmhr = {
    &ehmhr_verifier,
    0,
    kH80EhmhrCoefficients,
    sizeof kH80EhmhrCoefficients,
    ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares,
    &kH80EhmhrThresholds,
};
static_assert(sizeof kH80EhmhrCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);

// Sets without trained models are empty.
const zr_vermodel* const zr_vermodels_e100[] = {nullptr};
const zr_vermodel* const zr_vermodels_e115[] = {nullptr};
const zr_vermodel* const zr_vermodels_e130[] = {nullptr};
const zr_vermodel* const zr_vermodels_e144[] = {nullptr};
const zr_vermodel* const zr_vermodels_e56[] = {nullptr};
const zr_vermodel* const zr_vermodels_e80[] = {nullptr};
const zr_vermodel* const zr_vermodels_e64[] = {nullptr};
const zr_vermodel* const zr_vermodels_h100[] = {nullptr};
const zr_vermodel* const zr_vermodels_h115[] = {nullptr};
const zr_vermodel* const zr_vermodels_h130[] = {nullptr};
const zr_vermodel* const zr_vermodels_h56[] = {nullptr};
const zr_vermodel* const zr_vermodels_h80[] = {&zr_vermodel_h80_ehmhr, nullptr};
const zr_vermodel* const zr_vermodels_p115[] = {nullptr};
const zr_vermodel* const zr_vermodels_p130[] = {nullptr};
const zr_vermodel* const zr_vermodels_l160[] = {nullptr};
const zr_vermodel* const zr_vermodels_l160m[] = {nullptr};
const zr_vermodel* const zr_vermodels_l192[] = {nullptr};
