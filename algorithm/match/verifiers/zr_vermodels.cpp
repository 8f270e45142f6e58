#include "match/verifiers/zr_vermodels.h"

#include "match/spectral/zr_spectral.h"
#include "match/verifiers/zr_ehm_verifier.h"

namespace {

#include "match/verifiers/zr_vermodel_h80.inc"

// Trained by tools/train_models.cpp.
#include "match/verifiers/zr_vermodel_e100.inc"
#include "match/verifiers/zr_vermodel_e115.inc"
#include "match/verifiers/zr_vermodel_e130.inc"
#include "match/verifiers/zr_vermodel_e144.inc"
#include "match/verifiers/zr_vermodel_e56.inc"
#include "match/verifiers/zr_vermodel_e64.inc"
#include "match/verifiers/zr_vermodel_e80.inc"
#include "match/verifiers/zr_vermodel_h100.inc"
#include "match/verifiers/zr_vermodel_h115.inc"
#include "match/verifiers/zr_vermodel_h130.inc"
#include "match/verifiers/zr_vermodel_h56.inc"
#include "match/verifiers/zr_vermodel_p115.inc"
#include "match/verifiers/zr_vermodel_p130.inc"
#include "match/verifiers/zr_vermodel_l160.inc"
#include "match/verifiers/zr_vermodel_l160m.inc"
#include "match/verifiers/zr_vermodel_l192.inc"

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

// Trained models, one per verifier and sensor family (tools/train_models.cpp).
const zr_vermodel zr_vermodel_e100_ehm = {
    &ehm_verifier, 0, kE100EhmCoefficients, sizeof kE100EhmCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kE100EhmThresholds,
};
static_assert(sizeof kE100EhmCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_e115_ehm = {
    &ehm_verifier, 0, kE115EhmCoefficients, sizeof kE115EhmCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kE115EhmThresholds,
};
static_assert(sizeof kE115EhmCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_e130_ehm = {
    &ehm_verifier, 0, kE130EhmCoefficients, sizeof kE130EhmCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kE130EhmThresholds,
};
static_assert(sizeof kE130EhmCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_e144_ehm = {
    &ehm_verifier, 0, kE144EhmCoefficients, sizeof kE144EhmCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kE144EhmThresholds,
};
static_assert(sizeof kE144EhmCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_e56_ehm = {
    &ehm_verifier, 0, kE56EhmCoefficients, sizeof kE56EhmCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kE56EhmThresholds,
};
static_assert(sizeof kE56EhmCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_e64_ehm = {
    &ehm_verifier, 0, kE64EhmCoefficients, sizeof kE64EhmCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kE64EhmThresholds,
};
static_assert(sizeof kE64EhmCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_e80_ehm = {
    &ehm_verifier, 0, kE80EhmCoefficients, sizeof kE80EhmCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kE80EhmThresholds,
};
static_assert(sizeof kE80EhmCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_h100_ehmhr = {
    &ehmhr_verifier, 0, kH100EhmhrCoefficients, sizeof kH100EhmhrCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kH100EhmhrThresholds,
};
static_assert(sizeof kH100EhmhrCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_h115_ehmhr = {
    &ehmhr_verifier, 0, kH115EhmhrCoefficients, sizeof kH115EhmhrCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kH115EhmhrThresholds,
};
static_assert(sizeof kH115EhmhrCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_h130_ehmhr = {
    &ehmhr_verifier, 0, kH130EhmhrCoefficients, sizeof kH130EhmhrCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kH130EhmhrThresholds,
};
static_assert(sizeof kH130EhmhrCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_h56_ehmhr = {
    &ehmhr_verifier, 0, kH56EhmhrCoefficients, sizeof kH56EhmhrCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear_squares, &kH56EhmhrThresholds,
};
static_assert(sizeof kH56EhmhrCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_p115_spectral = {
    &spectral_verifier, 0, kP115SpectralCoefficients, sizeof kP115SpectralCoefficients, ZR_SPECTRAL_FEATURE_SCORE_COUNT,
    zr_ml_compute_score_linear_squares, &kP115SpectralThresholds,
};
static_assert(sizeof kP115SpectralCoefficients == ZR_SPECTRAL_FEATURE_SCORE_COUNT * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_p130_spectral = {
    &spectral_verifier, 0, kP130SpectralCoefficients, sizeof kP130SpectralCoefficients, ZR_SPECTRAL_FEATURE_SCORE_COUNT,
    zr_ml_compute_score_linear_squares, &kP130SpectralThresholds,
};
static_assert(sizeof kP130SpectralCoefficients == ZR_SPECTRAL_FEATURE_SCORE_COUNT * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_l160_ehm = {
    &ehm_verifier, 0, kL160EhmCoefficients, sizeof kL160EhmCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear, &kL160EhmThresholds,
};
static_assert(sizeof kL160EhmCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_l160m_ehm = {
    &ehm_verifier, 0, kL160mEhmCoefficients, sizeof kL160mEhmCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear, &kL160mEhmThresholds,
};
static_assert(sizeof kL160mEhmCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);
const zr_vermodel zr_vermodel_l192_ehm = {
    &ehm_verifier, 0, kL192EhmCoefficients, sizeof kL192EhmCoefficients, ZR_EHM_FEATURES,
    zr_ml_compute_score_linear, &kL192EhmThresholds,
};
static_assert(sizeof kL192EhmCoefficients == ZR_EHM_FEATURES * ZR_COEFFICIENT_ENTRY_SIZE);

// The sets in the order the presets list their models.
const zr_vermodel* const zr_vermodels_e100[] = {&zr_vermodel_e100_ehm, nullptr};
const zr_vermodel* const zr_vermodels_e115[] = {&zr_vermodel_e115_ehm, nullptr};
const zr_vermodel* const zr_vermodels_e130[] = {&zr_vermodel_e130_ehm, nullptr};
const zr_vermodel* const zr_vermodels_e144[] = {&zr_vermodel_e144_ehm, nullptr};
const zr_vermodel* const zr_vermodels_e56[] = {&zr_vermodel_e56_ehm, nullptr};
const zr_vermodel* const zr_vermodels_e80[] = {&zr_vermodel_e80_ehm, nullptr};
const zr_vermodel* const zr_vermodels_e64[] = {&zr_vermodel_e64_ehm, nullptr};
const zr_vermodel* const zr_vermodels_h100[] = {&zr_vermodel_h100_ehmhr, nullptr};
const zr_vermodel* const zr_vermodels_h115[] = {&zr_vermodel_h115_ehmhr, nullptr};
const zr_vermodel* const zr_vermodels_h130[] = {&zr_vermodel_h130_ehmhr, nullptr};
const zr_vermodel* const zr_vermodels_h56[] = {&zr_vermodel_h56_ehmhr, &zr_vermodel_e56_ehm, nullptr};
const zr_vermodel* const zr_vermodels_h80[] = {&zr_vermodel_h80_ehmhr, &zr_vermodel_e80_ehm, nullptr};
const zr_vermodel* const zr_vermodels_p115[] = {&zr_vermodel_e115_ehm, &zr_vermodel_p115_spectral,
                                                &zr_vermodel_h115_ehmhr, nullptr};
const zr_vermodel* const zr_vermodels_p130[] = {&zr_vermodel_e130_ehm, &zr_vermodel_p130_spectral,
                                                &zr_vermodel_h130_ehmhr, nullptr};
const zr_vermodel* const zr_vermodels_l160[] = {&zr_vermodel_l160_ehm, nullptr};
const zr_vermodel* const zr_vermodels_l160m[] = {&zr_vermodel_l160m_ehm, nullptr};
const zr_vermodel* const zr_vermodels_l192[] = {&zr_vermodel_l192_ehm, nullptr};
