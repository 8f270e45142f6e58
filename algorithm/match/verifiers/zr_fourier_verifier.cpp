// The Fourier matcher as a verifier: matcher records of EHM-class templates
// and the feature-score extraction.
#include <cstdlib>

#include "match/fourier/zr_fourier.h"
#include "match/verifiers/zr_verifier.h"
#include "objects/zr_alloc.h"
#include "objects/zr_fusion_parts.h"
#include "objects/zr_template_convert.h"

namespace {

constexpr const char* kExtractorDpiKey = "zr.extractor.dpi";
constexpr uint32_t kDefaultDpi = 500;

// Finger quality of the template's `idim` part; 0 when there is none.
uint8_t template_quality(const zr_template* tmpl) {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (zr_template_convert(tmpl, ZR_TEMPLATE_EHM, &data, &size) != ZR_OK) return 0;
    zr_fusion_part idim{};
    if (zr_fusion_to_parts(data, size, nullptr, nullptr, nullptr, &idim) != ZR_OK) return 0;
    uint8_t quality = 0;
    if (idim.value == nullptr ||
        zr_fusion_idim_to_parts(idim.value, int32_t(idim.length), nullptr, nullptr, &quality) !=
            ZR_OK) {
        return 0;
    }
    return quality;
}

void release_input(zr_spectral_input* input) {
    std::free(input->release);
    *input = zr_spectral_input{};
}

void fail_feature_scores(uint16_t** out_scores, uint16_t* out_count,
                         zr_alignment** inout_alignment) {
    if (out_scores != nullptr) {
        std::free(*out_scores);
        *out_scores = nullptr;
    }
    if (out_count != nullptr) *out_count = 0;
    if (inout_alignment != nullptr) *inout_alignment = nullptr;
}

}  // namespace

zr_status convert_to_spectral_matcher_format(const zr_template* tmpl, zr_spectral_input* out) {
    if (out == nullptr) return ZR_BAD_ARGUMENT;
    *out = zr_spectral_input{};
    const uint8_t* part = nullptr;
    uint32_t part_size = 0;
    const zr_status status = zr_template_convert(tmpl, ZR_TEMPLATE_SPECTRAL, &part, &part_size);
    if (status != ZR_OK) return status;
    const uint8_t quality = template_quality(tmpl);
    uint8_t* record = nullptr;
    uint16_t record_length = 0;
    if (part_size <= INT32_MAX &&
        zr_fusion_spectral_to_matcher(part, int32_t(part_size), &record, &record_length, nullptr,
                                      nullptr, nullptr, nullptr, 1, &quality, nullptr) == ZR_OK) {
        *out = zr_spectral_input{record, record_length, record_length, record};
        return ZR_OK;
    }
    // Left unconverted: the matcher refuses it as a record.
    *out = zr_spectral_input{const_cast<uint8_t*>(part), part_size, part_size, nullptr};
    return ZR_OK;
}

zr_status zr_spectral_extract_feature_scores(zr_session* session, zr_template* probe,
                                             zr_template* reference, uint16_t** out_scores,
                                             uint16_t* out_count,
                                             zr_alignment** inout_alignment) {
    if (out_scores != nullptr) *out_scores = nullptr;
    if (out_count != nullptr) *out_count = 0;
    if (out_scores == nullptr || out_count == nullptr) return ZR_BAD_ARGUMENT;

    uint32_t flags = ZR_SPECTRAL_FEATURES;
    if (zr_session_get_360_state(session)) flags |= ZR_SPECTRAL_MODE_360;
    zr_spectral_alignment pose{};
    if (inout_alignment != nullptr && *inout_alignment != nullptr) {
        flags |= ZR_SPECTRAL_USE_ALIGNMENT;
        pose.rotation = int32_t(zr_alignment_get_rotation(*inout_alignment));
        pose.dx = zr_alignment_get_dx(*inout_alignment);
        pose.dy = zr_alignment_get_dy(*inout_alignment);
        zr_alignment_delete(*inout_alignment);
        *inout_alignment = nullptr;
    }

    zr_spectral_input probe_input{};
    zr_spectral_input reference_input{};
    zr_status status = convert_to_spectral_matcher_format(probe, &probe_input);
    if (status == ZR_OK) status = convert_to_spectral_matcher_format(reference, &reference_input);
    uint8_t* work = nullptr;
    uint16_t features[ZR_SPECTRAL_FEATURE_ARRAY_LENGTH] = {0, ZR_SPECTRAL_FEATURE_REQUEST, 0};
    if (status == ZR_OK) {
        const uint32_t work_size =
            zr_spectral_match_required_mem(probe_input.record, probe_input.length,
                                           reference_input.record, reference_input.length,
                                           uint8_t(flags));
        if (work_size == 0) {
            status = ZR_WRONG_TYPE;
        } else if ((work = static_cast<uint8_t*>(zr_malloc(work_size))) == nullptr) {
            status = ZR_NO_MEMORY;
        } else {
            const zr_status match = zr_spectral_match(
                work, uint16_t(work_size), probe_input.record, probe_input.length,
                reference_input.record, reference_input.length, 0, features, nullptr, &pose, flags);
            // The matcher reports in the image library's numbering.
            if (match != ZR_OK) status = zr_rc_convert_from_zri(uint32_t(match));
        }
    }
    if (status == ZR_OK) {
        *out_scores = static_cast<uint16_t*>(
            zr_malloc(ZR_SPECTRAL_FEATURE_SCORE_COUNT * sizeof(uint16_t)));
        if (*out_scores == nullptr) status = ZR_NO_MEMORY;
    }
    if (status == ZR_OK) {
        (*out_scores)[0] = features[0];
        for (uint32_t i = 1; i < ZR_SPECTRAL_FEATURE_SCORE_COUNT; ++i) {
            (*out_scores)[i] = features[2 + i];
        }
        *out_count = ZR_SPECTRAL_FEATURE_SCORE_COUNT;
        if (inout_alignment != nullptr) {
            const int32_t dpi = zr_session_get_int(session, kExtractorDpiKey, kDefaultDpi);
            *inout_alignment = zr_alignment_create_ex(int16_t(pose.dx), int16_t(pose.dy),
                                                      uint8_t(pose.rotation), int16_t(dpi));
            if (*inout_alignment == nullptr) status = ZR_NO_MEMORY;
        }
    }
    std::free(work);
    release_input(&probe_input);
    release_input(&reference_input);
    if (status != ZR_OK) fail_feature_scores(out_scores, out_count, inout_alignment);
    return status;
}

zr_status zr_spectral_verify_feature_scores(zr_session* session, zr_template*, zr_template*,
                                            const uint16_t* scores, uint16_t count,
                                            const zr_vermodel* model, uint16_t* out_score) {
    if (out_score != nullptr) *out_score = 0;
    if (count != ZR_SPECTRAL_FEATURE_SCORE_COUNT) return ZR_FAILURE;
    if (scores == nullptr || out_score == nullptr) return ZR_BAD_ARGUMENT;
    if (scores[0] == 0) return ZR_OK;
    return zr_verifier_verify_feature_scores(session, scores, count, model, out_score);
}

const zr_verifier_descriptor spectral_verifier = {
    zr_spectral_extract_feature_scores,
    zr_spectral_extract_feature_scores,
    zr_spectral_verify_feature_scores,
    nullptr,
};
