#include "match/verify/zr_multitemplate_verify.h"

#include <cstdlib>

namespace {

constexpr const char* kForceModelKey = "zr.verifier.force_model_variant";
constexpr const char* kFilterModelKey = "zr.verifier.filter_model_variant";
constexpr uint32_t kWeightedUpTo = 35;

uint16_t select_model(const zr_model_choice* models, zr_session* session, zr_template* enrolled,
                      zr_template* probe) {
    uint16_t variant = 0;
    if (models == nullptr || models->selector == nullptr) return 0;
    return models->selector(session, enrolled, probe, &variant) == ZR_OK ? variant : 0;
}

const zr_vermodel* model_of_variant(const zr_model_choice* models, const zr_verifier_descriptor* verifier,
                                    uint16_t variant) {
    if (models == nullptr) return nullptr;
    const zr_vermodel* model = zr_verifierI_get_vermodel(models->vermodels, verifier, variant);
    return model ? model : zr_verifierI_get_vermodel(models->vermodels, verifier, 0);
}

void insert_descending(uint16_t* best, uint32_t* held, uint16_t score) {
    uint32_t at = *held;
    while (at > 0 && best[at - 1] < score) --at;
    if (at >= ZR_RAW_BEST_SCORES) return;
    const uint32_t last = *held < ZR_RAW_BEST_SCORES ? *held : ZR_RAW_BEST_SCORES - 1;
    for (uint32_t i = last; i > at; --i) best[i] = best[i - 1];
    best[at] = score;
    if (*held < ZR_RAW_BEST_SCORES) ++*held;
}

// The best template's comparison through the raw-path feature operation.
zr_status compare_best(zr_multitemplate_manager* manager, const zr_verifier_descriptor* verifier,
                       zr_session* session, zr_template* probe, zr_raw_result* out) {
    zr_alignment* stored = nullptr;
    zr_template* best = zr_multitemplate_manager_get_template(manager, out->best_index, &stored, nullptr);
    zr_alignment* comparison = zr_alignment_retain(stored);
    uint16_t* scores = nullptr;
    uint16_t count = 0;
    zr_status rc = verifier->extract_feature_scores_raw(session, best, probe, &scores, &count, &comparison);
    if (rc == ZR_OK && comparison != nullptr) {
        zr_alignment* inverse = zr_alignment_inverse(comparison);
        out->alignment = zr_alignment_multiply(stored, inverse);
        zr_alignment_delete(inverse);
        if (out->alignment == nullptr) rc = ZR_NO_MEMORY;
    } else if (rc == ZR_OK) {
        out->alignment = zr_alignment_retain(stored);
    }
    out->comparison_alignment = comparison;
    out->feature_scores = scores;
    out->feature_count = count;
    zr_alignment_delete(stored);
    zr_template_delete(best);
    return rc;
}

}  // namespace

void raw_result_deinit(zr_raw_result* record) {
    if (record == nullptr) return;
    zr_alignment_delete(record->alignment);
    zr_alignment_delete(record->comparison_alignment);
    free(record->feature_scores);
    *record = zr_raw_result{};
}

void raw_result_move(zr_raw_result* destination, zr_raw_result* source) {
    if (destination == nullptr || source == nullptr || destination == source) return;
    raw_result_deinit(destination);
    *destination = *source;
    *source = zr_raw_result{};
}

uint16_t zr_raw_combined_score(uint32_t n, uint16_t b0, uint16_t b1) {
    if (n <= 1) return b0;
    if (n <= kWeightedUpTo) {
        const uint32_t w = (3 * n + 30) / 28;
        return uint16_t((w * b1 + 10u * b0) / (w + 10));
    }
    return uint16_t((5u * b1 + 10u * b0) / 15);
}

zr_status zr_multitemplate_manager_verify_template(zr_multitemplate_manager* manager,
                                                   const zr_verifier_descriptor* verifier,
                                                   const zr_model_choice* models, zr_session* session,
                                                   zr_template* probe, zr_raw_result* out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    *out = zr_raw_result{};
    if (manager == nullptr || verifier == nullptr || probe == nullptr || verifier->extract_feature_scores_raw == nullptr)
        return ZR_BAD_ARGUMENT;
    const uint32_t n = zr_multitemplate_manager_get_nbr_of_templates(manager);
    if (n == 0) return ZR_UNHANDLED_INPUT;
    const int32_t filter = zr_session_get_int(session, kFilterModelKey, uint32_t(-1));
    uint16_t best[ZR_RAW_BEST_SCORES] = {};
    uint32_t held = 0;
    uint32_t scored = 0;
    int32_t best_score = -1;
    for (uint32_t i = 0; i < n; ++i) {
        zr_template* t = zr_multitemplate_manager_get_template(manager, i, nullptr, nullptr);
        if (t == nullptr) continue;
        const uint16_t model = select_model(models, session, t, probe);
        const auto variant = uint16_t(zr_session_get_int(session, kForceModelKey, model));
        const zr_vermodel* vermodel = model_of_variant(models, verifier, variant);
        uint16_t score = 0;
        const bool skip = filter >= 0 && filter != model;
        if (!skip && zr_verifier_get_raw_similarity_score(session, verifier, vermodel, t, probe, &score, nullptr) ==
                         ZR_OK) {
            ++scored;
            if (int32_t(score) > best_score) {
                best_score = score;
                out->best_index = uint8_t(i);
                out->model = model;
            }
            insert_descending(best, &held, score);
        }
        zr_template_delete(t);
    }
    if (scored == 0) return ZR_WRONG_TYPE;
    out->combined_score = zr_raw_combined_score(n, best[0], best[1]);
    const zr_status rc = compare_best(manager, verifier, session, probe, out);
    if (rc != ZR_OK) raw_result_deinit(out);
    return rc;
}

zr_status zr_multitemplate_verify_template(zr_template* stored, const zr_verifier_descriptor* verifier,
                                           const zr_model_choice* models, zr_session* session, zr_template* probe,
                                           zr_raw_result* out) {
    if (out) *out = zr_raw_result{};
    zr_multitemplate_manager* manager = zr_multitemplate_manager_create_with_template(stored);
    if (manager == nullptr) return ZR_WRONG_TYPE;
    const zr_status rc = zr_multitemplate_manager_verify_template(manager, verifier, models, session, probe, out);
    zr_multitemplate_manager_delete(manager);
    return rc;
}
