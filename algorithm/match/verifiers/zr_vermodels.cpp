#include "match/verifiers/zr_vermodels.h"

#include <cstddef>

#include "match/fourier/zr_fourier.h"
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

// A variant-0 model over the coefficient entries of its features.
template <uint32_t Features, std::size_t Bytes>
constexpr zr_vermodel variant0_model(const zr_verifier_descriptor& verifier, const uint8_t (&coefficients)[Bytes],
                                     zr_score_model_fn compute, const zr_threshold_table& thresholds) {
    static_assert(Bytes == Features * ZR_COEFFICIENT_ENTRY_SIZE, "one coefficient entry a feature");
    return zr_vermodel{&verifier, 0, coefficients, Bytes, Features, compute, &thresholds};
}

// The EHM and EHM-HR models score 30 features, the spectral ones 17.
template <std::size_t Bytes>
constexpr zr_vermodel ehm_class_model(const zr_verifier_descriptor& verifier, const uint8_t (&coefficients)[Bytes],
                                      zr_score_model_fn compute, const zr_threshold_table& thresholds) {
    return variant0_model<ZR_EHM_FEATURES>(verifier, coefficients, compute, thresholds);
}
template <std::size_t Bytes>
constexpr zr_vermodel spectral_model(const zr_verifier_descriptor& verifier, const uint8_t (&coefficients)[Bytes],
                                     zr_score_model_fn compute, const zr_threshold_table& thresholds) {
    return variant0_model<ZR_SPECTRAL_FEATURE_SCORE_COUNT>(verifier, coefficients, compute, thresholds);
}

constexpr zr_score_model_fn kSquares = zr_ml_compute_score_linear_squares;
constexpr zr_score_model_fn kLinear = zr_ml_compute_score_linear;

}  // namespace

const zr_verifier_descriptor vandrel_verifier = {zr_vandrel_extract_feature_scores, nullptr,
                                                  zr_vandrel_verify_feature_scores, nullptr};
const zr_verifier_descriptor ehm_verifier = {zr_ehm_extract_feature_scores, zr_ehm_extract_feature_scores,
                                             zr_ehm_verify_feature_scores, nullptr};
const zr_verifier_descriptor ehmhr_verifier = {zr_ehmhr_extract_feature_scores, zr_ehmhr_extract_feature_scores,
                                               zr_ehm_verify_feature_scores, nullptr};

constinit const zr_vermodel zr_vermodel_h80_ehmhr =
    ehm_class_model(ehmhr_verifier, kH80EhmhrCoefficients, kSquares, kH80EhmhrThresholds);

// Trained models, one per verifier and sensor family (tools/train_models.cpp).
constinit const zr_vermodel zr_vermodel_e100_ehm =
    ehm_class_model(ehm_verifier, kE100EhmCoefficients, kSquares, kE100EhmThresholds);
constinit const zr_vermodel zr_vermodel_e115_ehm =
    ehm_class_model(ehm_verifier, kE115EhmCoefficients, kSquares, kE115EhmThresholds);
constinit const zr_vermodel zr_vermodel_e130_ehm =
    ehm_class_model(ehm_verifier, kE130EhmCoefficients, kSquares, kE130EhmThresholds);
constinit const zr_vermodel zr_vermodel_e144_ehm =
    ehm_class_model(ehm_verifier, kE144EhmCoefficients, kSquares, kE144EhmThresholds);
constinit const zr_vermodel zr_vermodel_e56_ehm =
    ehm_class_model(ehm_verifier, kE56EhmCoefficients, kSquares, kE56EhmThresholds);
constinit const zr_vermodel zr_vermodel_e64_ehm =
    ehm_class_model(ehm_verifier, kE64EhmCoefficients, kSquares, kE64EhmThresholds);
constinit const zr_vermodel zr_vermodel_e80_ehm =
    ehm_class_model(ehm_verifier, kE80EhmCoefficients, kSquares, kE80EhmThresholds);
constinit const zr_vermodel zr_vermodel_h100_ehmhr =
    ehm_class_model(ehmhr_verifier, kH100EhmhrCoefficients, kSquares, kH100EhmhrThresholds);
constinit const zr_vermodel zr_vermodel_h115_ehmhr =
    ehm_class_model(ehmhr_verifier, kH115EhmhrCoefficients, kSquares, kH115EhmhrThresholds);
constinit const zr_vermodel zr_vermodel_h130_ehmhr =
    ehm_class_model(ehmhr_verifier, kH130EhmhrCoefficients, kSquares, kH130EhmhrThresholds);
constinit const zr_vermodel zr_vermodel_h56_ehmhr =
    ehm_class_model(ehmhr_verifier, kH56EhmhrCoefficients, kSquares, kH56EhmhrThresholds);
constinit const zr_vermodel zr_vermodel_p115_spectral =
    spectral_model(spectral_verifier, kP115SpectralCoefficients, kSquares, kP115SpectralThresholds);
constinit const zr_vermodel zr_vermodel_p130_spectral =
    spectral_model(spectral_verifier, kP130SpectralCoefficients, kSquares, kP130SpectralThresholds);
constinit const zr_vermodel zr_vermodel_l160_ehm =
    ehm_class_model(ehm_verifier, kL160EhmCoefficients, kLinear, kL160EhmThresholds);
constinit const zr_vermodel zr_vermodel_l160m_ehm =
    ehm_class_model(ehm_verifier, kL160mEhmCoefficients, kLinear, kL160mEhmThresholds);
constinit const zr_vermodel zr_vermodel_l192_ehm =
    ehm_class_model(ehm_verifier, kL192EhmCoefficients, kLinear, kL192EhmThresholds);

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
