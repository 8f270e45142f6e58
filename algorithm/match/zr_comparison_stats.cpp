#include "match/zr_comparison_stats.h"

#include <cstdlib>
#include <cstring>

#include "math/zr_sort.h"
#include "objects/zr_alloc.h"

namespace {

// 1-2-5 series of FAR denominators by level.
constexpr uint32_t kFarDenominators[ZR_FAR_LEVELS] = {
    1,       2,       5,        10,       20,       50,        100,       200,       500,       1000,
    2000,    5000,    10000,    20000,    50000,    100000,    200000,    500000,    1000000,   2000000,
    5000000, 10000000, 20000000, 50000000, 100000000, 200000000, 500000000, 1000000000,
};

}  // namespace

zr_status zr_comparison_mode_stats_reset(uint32_t* histogram) {
    if (histogram == nullptr) return ZR_BAD_ARGUMENT;
    memset(histogram, 0, ZR_SCORE_BINS * sizeof(uint32_t));
    return ZR_OK;
}

zr_status zr_comparison_mode_stats_update(zr_algorithm* algorithm, zr_template* const* templates, uint8_t count,
                                          zr_template* probe, zr_image* image, uint32_t* histogram) {
    if ((probe == nullptr && image == nullptr) || algorithm == nullptr || templates == nullptr || count == 0 ||
        histogram == nullptr)
        return ZR_BAD_ARGUMENT;
    zr_match_result* result = zr_match_result_create(count);
    if (result == nullptr) return ZR_NO_MEMORY;
    const zr_status rc = zr_algorithm_get_match_decision_ex(algorithm, templates, count, probe,
                                                            probe ? nullptr : image, ZR_FAR_NO_DECISION, result);
    if (rc == ZR_OK) ++histogram[result->raw_score];
    zr_match_result_delete(result);
    return rc;
}

zr_status pef_histogram_to_array(const uint32_t* histogram, uint32_t bins, uint32_t** out_array,
                                 uint32_t* out_count) {
    if (histogram == nullptr || out_array == nullptr || out_count == nullptr) return ZR_BAD_ARGUMENT;
    *out_count = 0;
    *out_array = nullptr;
    uint64_t total = 0;
    for (uint32_t i = 0; i < bins; ++i) total += histogram[i];
    if (total == 0) return ZR_UNHANDLED_INPUT;
    // The count is handed out as a u32.
    if (total > UINT32_MAX / sizeof(uint32_t)) return ZR_NO_MEMORY;
    auto* array = static_cast<uint32_t*>(zr_malloc(size_t(total) * sizeof(uint32_t)));
    if (array == nullptr) return ZR_NO_MEMORY;
    uint32_t at = 0;
    for (uint32_t bin = bins; bin-- > 0;)
        for (uint32_t n = 0; n < histogram[bin]; ++n) array[at++] = bin;
    *out_array = array;
    *out_count = uint32_t(total);
    return ZR_OK;
}

zr_status pef_sort_scores(uint32_t* array, uint32_t count, int32_t ascending) {
    if (array == nullptr) return ZR_BAD_ARGUMENT;
    const zr_compare_fn compare = ascending ? &sort_score_ascending : &sort_score_descending;
    zr_sort(array, count, sizeof(uint32_t), compare);
    return ZR_OK;
}

uint32_t zr_comparison_mode_stats_get_frr_at_far(const uint32_t* genuine, const uint32_t* impostor,
                                                 int32_t far_level) {
    if (far_level < 0 || uint32_t(far_level) >= ZR_FAR_LEVELS) return ZR_RATE_NONE;
    uint32_t* a_scores = nullptr;
    uint32_t* b_scores = nullptr;
    uint32_t a = 0;
    uint32_t b = 0;
    uint32_t rate = ZR_RATE_NONE;
    if (pef_histogram_to_array(genuine, ZR_SCORE_BINS, &a_scores, &a) == ZR_OK &&
        pef_histogram_to_array(impostor, ZR_SCORE_BINS, &b_scores, &b) == ZR_OK &&
        pef_sort_scores(a_scores, a, 1) == ZR_OK) {
        // The impostor scores are expanded highest first: index k leaves the
        // k highest impostor scores above the threshold.
        uint32_t k = b / kFarDenominators[far_level];
        if (k > b - 1) k = b - 1;
        const uint32_t t = b_scores[k];
        uint32_t below = 0;
        while (below < a && a_scores[below] < t) ++below;
        rate = uint32_t(uint64_t(below) * ZR_RATE_SCALE / a);
    }
    free(a_scores);
    free(b_scores);
    return rate;
}

uint32_t zr_comparison_mode_stats_print_score_table() { return 1; }
