// Feature extraction of the vandrel and EHM verifiers (descriptor slots 1 and
// 2): the pair of templates compared by the spectral and linked-cluster
// matchers and turned into a feature vector, and the image quality of an
// EHM-class template.
//
// The feature array is allocated with zr_malloc and freed by the caller with
// free(). On failure the array output is none and the alignment output none.
#pragma once

#include <cstdint>

#include "objects/zr_alignment.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

// Largest agreement of the vandrel size feature: 300 minus the size
// difference of the two spectral parts, 0 when they differ by more.
inline constexpr uint16_t ZR_VANDREL_SIZE_AGREEMENT = 300;
// Image qualities are read as 0..100; larger stored values count as 100.
inline constexpr uint8_t ZR_EHM_MAX_QUALITY = 100;

// Three features: the spectral quick-match agreements of orientation and
// frequency, and the size agreement.
[[nodiscard]] zr_status zr_vandrel_extract_feature_scores(zr_session* session, zr_template* enrolled,
                                                          zr_template* probe, uint16_t** out_features,
                                                          uint16_t* out_count, zr_alignment** inout_alignment);

// Thirty features from the linked-cluster and spectral matches (standard grid,
// high-resolution grid, or lite: a search around the given alignment).
[[nodiscard]] zr_status zr_ehm_extract_feature_scores(zr_session* session, zr_template* enrolled, zr_template* probe,
                                                      uint16_t** out_features, uint16_t* out_count,
                                                      zr_alignment** inout_alignment);
[[nodiscard]] zr_status zr_ehmhr_extract_feature_scores(zr_session* session, zr_template* enrolled,
                                                        zr_template* probe, uint16_t** out_features,
                                                        uint16_t* out_count, zr_alignment** inout_alignment);
[[nodiscard]] zr_status ehm_lite_extract_feature_scores(zr_session* session, zr_template* enrolled,
                                                        zr_template* probe, uint16_t** out_features,
                                                        uint16_t* out_count, zr_alignment** inout_alignment);

// The image rows, columns and quality of an EHM-class template's `idim` part
// (a generic container is read through its EHM entry). Rows and columns
// default to 192 and the quality to 0; each output optional. The quality is
// the stored byte (0..255). ZR_BAD_ARGUMENT without template; the conversion's
// or the part readers' failure codes.
[[nodiscard]] zr_status zr_ehm_get_image_quality(const zr_template* tmpl, uint16_t* out_rows, uint16_t* out_cols,
                                                 uint8_t* out_quality);

// The pieces of one EHM comparison that make the feature vector.
struct zr_ehm_pose {
    int32_t dx;  // pixels
    int32_t dy;
    uint8_t rotation;  // 256 a turn
};

struct zr_ehm_comparison {
    uint16_t linked_cluster[11];  // score, mark, status, eight statistics
    uint16_t spectral[19];        // score, request, status, sixteen features
    zr_ehm_pose linked_cluster_pose;
    zr_ehm_pose spectral_pose;
    uint8_t probe_quality;     // as stored; clamped to 100 here
    uint8_t enrolled_quality;
};

// The 30 features in their order: [0] linked-cluster score, [1..8] its
// statistics, [9] spectral score x 232 / Q(max quality, at least 60), [10..25]
// the spectral features, [26] pose distance and [27] |rotation difference| as
// a signed 8-bit angle (both 0 when [0] or [9] is 0), [28] quality difference,
// [29] sqrt((100 - max quality) x 64). Values are kept to 16 bits.
void zr_ehm_feature_vector(const zr_ehm_comparison& comparison, uint16_t out[30]);
