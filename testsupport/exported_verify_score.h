// The score behind the exported verification: a sample against a stored
// record through the algorithm object the exported call builds (its preset,
// the sample as a 500 dpi image), shared by the tests and the evaluation tool.
#pragma once

#include <cstdint>
#include <vector>

#include "api/fpmatch.h"
#include "match/verifiers/zr_verifier.h"
#include "match/zr_algorithm.h"
#include "match/zr_presets.h"
#include "objects/zr_image.h"
#include "objects/zr_match_result.h"
#include "objects/zr_template.h"

namespace fp_test {

// The best log2 score of the walk at no decision level, so that no
// acceptance ends it early; -1 when an object cannot be built or the
// comparison fails.
inline int32_t exported_verify_score(const std::vector<uint8_t>& sample, const std::vector<uint8_t>& blob) {
    constexpr uint16_t kVerifyDpi = 500;
    zr_algorithm* algorithm = gen_192x80_hybridhr_create(nullptr);
    zr_template* stored = zr_template_create(ZR_TEMPLATE_MULTI, blob.data(), uint32_t(blob.size()));
    zr_image* image =
        zr_image_create(RADU_SAMPLE_ROWS, RADU_SAMPLE_COLS, kVerifyDpi, kVerifyDpi, sample.data(), 0);
    int32_t score = -1;
    if (algorithm != nullptr && stored != nullptr && image != nullptr) {
        zr_template* const list[1] = {stored};
        zr_match_result* result = nullptr;
        if (zr_algorithm_verify_image_ex(algorithm, list, 1, image, ZR_FAR_NO_DECISION, &result) == ZR_OK)
            score = zr_match_result_get_far_score(result);
        zr_match_result_delete(result);
    }
    zr_image_delete(image);
    zr_template_delete(stored);
    zr_algorithm_delete(algorithm);
    return score;
}

}  // namespace fp_test
