#include "match/verifiers/zr_ehm_verifier.h"

#include <cstdlib>
#include <utility>

#include "match/linked_cluster/lc_compact_card_match.h"
#include "match/linked_cluster/lc_matcher.h"
#include "match/verifiers/zr_far_table.h"
#include "match/fourier/zr_fourier.h"
#include "match/verifiers/zr_verifier.h"
#include "math/zr_roots.h"
#include "math/zr_trig.h"
#include "objects/zr_alloc.h"
#include "objects/zr_fusion_parts.h"
#include "objects/zr_template_convert.h"

namespace {

constexpr uint16_t kDefaultImageSide = 192;
constexpr uint32_t kDirectionHintType = 83;
constexpr uint32_t kDirectionHintLength = 4;
constexpr uint8_t kMinNormalisedQuality = 60;
constexpr uint32_t kSpectralScoreScale = 232;
constexpr uint32_t kQualityFeatureScale = 64;
constexpr int32_t kTenthMmToPixelNum = 197;  // 0.1 mm at 500 dpi: x 197 / 100
constexpr int32_t kTenthMmToPixelDen = 100;
constexpr int32_t kTrigShift = 14;
constexpr uint16_t kLcStatusOk[2] = {1, 9};
constexpr uint16_t kSpectralStatusOk[2] = {1, 17};
constexpr uint8_t kLcCoarseRotationLimit = 7;  // fifth linked-cluster value above this: search around its pose
constexpr int32_t kDefaultDpi = 500;

// Spectral flags chosen from the session.
constexpr uint32_t kFlagsBase = ZR_SPECTRAL_FEATURES | ZR_SPECTRAL_RAW_SCORE;

struct converted {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
};

zr_status convert(const zr_template* tmpl, uint32_t type, converted* out) {
    return zr_template_convert(tmpl, type, &out->data, &out->size);
}

zr_status from_image_library(zr_status status) { return zr_rc_convert_from_zri(uint32_t(status)); }

// A matcher input made from a spectral part, or the part itself when it
// cannot be made (the vandrel path).
struct matcher_input {
    uint8_t* owned = nullptr;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    uint32_t y_offset = 0;
    uint32_t x_offset = 0;
    ~matcher_input() { std::free(owned); }
};

zr_status make_matcher_input(const converted& part, int32_t skip_fine_grid, const uint8_t* hint, matcher_input* out) {
    uint16_t length = 0;
    const zr_status status = zr_fusion_spectral_to_matcher(part.data, int32_t(part.size), &out->owned, &length,
                                                           &out->y_offset, &out->x_offset, nullptr, nullptr,
                                                           skip_fine_grid, nullptr, hint);
    out->data = out->owned;
    out->length = length;
    return status;
}

void release_alignment(zr_alignment** alignment) {
    if (alignment == nullptr) return;
    zr_alignment_delete(*alignment);
    *alignment = nullptr;
}

uint16_t* new_features(uint16_t count) {
    return static_cast<uint16_t*>(zr_malloc(sizeof(uint16_t) * count));
}

bool is_one_of(uint16_t v, const uint16_t (&allowed)[2]) { return v == allowed[0] || v == allowed[1]; }

uint8_t clamp_quality(uint8_t q) { return q > ZR_EHM_MAX_QUALITY ? ZR_EHM_MAX_QUALITY : q; }

uint32_t saturating_square_sum(int32_t a, int32_t b) {
    const uint64_t sum = uint64_t(int64_t(a) * a) + uint64_t(int64_t(b) * b);
    return sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(sum);
}

// Moves a pose between the enrolled record's frame and the matcher's frame:
// the rotated enrolled offset (ey, ex) and the probe offset (py, px).
struct record_offsets {
    int32_t ey, ex, py, px;
};

int32_t rotated_x(uint8_t r, const record_offsets& o) {
    const int32_t c = int16_t(zr_cos_(r)), s = int16_t(zr_sin_(r));
    return (c * o.ex - s * o.ey) >> kTrigShift;
}

int32_t rotated_y(uint8_t r, const record_offsets& o) {
    const int32_t c = int16_t(zr_cos_(r)), s = int16_t(zr_sin_(r));
    return (c * o.ey + s * o.ex) >> kTrigShift;
}

zr_spectral_alignment to_matcher_frame(const zr_ehm_pose& start, const record_offsets& o) {
    return {start.rotation, start.dx + rotated_x(start.rotation, o) - o.px,
            start.dy + rotated_y(start.rotation, o) - o.py};
}

zr_ehm_pose from_matcher_frame(const zr_spectral_alignment& a, const record_offsets& o) {
    const uint8_t r = uint8_t(a.rotation);
    return {o.px + a.dx - rotated_x(r, o), o.py + a.dy - rotated_y(r, o), r};
}

struct ehm_mode {
    bool lite;
    int32_t skip_fine_grid;
};

// The spectral flags of step "search" (bit 0 may already be set by lite).
uint32_t spectral_flags(const zr_session* session, int32_t sensor_size, bool state_360, bool search_around) {
    uint32_t flags = search_around ? ZR_SPECTRAL_USE_ALIGNMENT : 0;
    if (sensor_size != 1 && sensor_size != 2) flags |= ZR_SPECTRAL_NO_PROGRESSIVE;
    if (zr_session_get_int(session, "zr.ehm.spectral_increase_hr_search_range", 1) != 0)
        flags |= ZR_SPECTRAL_WIDE_FINE_WINDOW;
    if (state_360) {
        if ((sensor_size == 8 || sensor_size == 9) && !search_around) flags |= ZR_SPECTRAL_SQUARE_CANVAS;
        flags |= ZR_SPECTRAL_MODE_360;
    }
    flags |= kFlagsBase;
    if (zr_session_get_int(session, "zr.ehm.spectral_low_latency", 0) != 0) flags |= ZR_SPECTRAL_LOW_LATENCY;
    return flags;
}

zr_status ehm_extract(zr_session* session, zr_template* enrolled, zr_template* probe, uint16_t** out_features,
                      uint16_t* out_count, zr_alignment** inout_alignment, const ehm_mode& mode) {
    if (out_features == nullptr || out_count == nullptr) return ZR_BAD_ARGUMENT;
    *out_features = nullptr;
    *out_count = 0;
    const int32_t sensor_size = zr_session_get_sensor_size(session);
    const bool state_360 = zr_session_get_360_state(session) != 0;
    zr_ehm_pose start{0, 0, 0};
    if (inout_alignment != nullptr) {
        if (*inout_alignment != nullptr)
            start = {zr_alignment_get_dx(*inout_alignment), zr_alignment_get_dy(*inout_alignment),
                     uint8_t(zr_alignment_get_rotation(*inout_alignment))};
        release_alignment(inout_alignment);
    } else if (mode.lite) {
        return ZR_BAD_ARGUMENT;
    }
    if (sensor_size == 0) return ZR_BAD_ARGUMENT;

    converted enrolled_card, probe_card, enrolled_spectral, probe_spectral, enrolled_hint, probe_hint;
    zr_status status = convert(enrolled, ZR_TEMPLATE_ISO_COMPACT_CARD, &enrolled_card);
    if (status == ZR_OK) status = convert(probe, ZR_TEMPLATE_ISO_COMPACT_CARD, &probe_card);
    if (status == ZR_OK) status = convert(enrolled, ZR_TEMPLATE_SPECTRAL, &enrolled_spectral);
    if (status == ZR_OK) status = convert(probe, ZR_TEMPLATE_SPECTRAL, &probe_spectral);
    if (status != ZR_OK) return status;
    bool use_hints = false;
    if (zr_template_is_compatible(enrolled, kDirectionHintType) && zr_template_is_compatible(probe, kDirectionHintType) &&
        convert(enrolled, kDirectionHintType, &enrolled_hint) == ZR_OK &&
        convert(probe, kDirectionHintType, &probe_hint) == ZR_OK)
        use_hints = enrolled_hint.size == kDirectionHintLength && probe_hint.size == kDirectionHintLength;

    zr_ehm_comparison comparison{};
    comparison.linked_cluster[1] = LC_STATISTICS_MARK;
    comparison.linked_cluster[2] = LC_STATISTICS_IDLE;
    zr_moc_alignment lc_alignment{};
    const uint8_t lc_flags = state_360 ? (LC_FLAG_FULL_ROTATION | LC_FLAG_STATISTICS) : LC_FLAG_STATISTICS;
    status = linked_cluster_match_iso_compact_card(enrolled_card.data, enrolled_card.size, probe_card.data,
                                                   probe_card.size, comparison.linked_cluster, 0, nullptr,
                                                   &lc_alignment, lc_flags);
    if (status != ZR_OK) return from_image_library(status);
    comparison.linked_cluster_pose = {lc_alignment.x_shift * kTenthMmToPixelNum / kTenthMmToPixelDen,
                                      lc_alignment.y_shift * kTenthMmToPixelNum / kTenthMmToPixelDen,
                                      lc_alignment.rotation};

    matcher_input enrolled_input, probe_input;
    status = make_matcher_input(enrolled_spectral, mode.skip_fine_grid, use_hints ? enrolled_hint.data : nullptr,
                                &enrolled_input);
    if (status == ZR_OK)
        status = make_matcher_input(probe_spectral, mode.skip_fine_grid, use_hints ? probe_hint.data : nullptr,
                                    &probe_input);
    if (status != ZR_OK) return from_image_library(status);

    const bool full_search_asked = zr_session_get_int(session, "ehm.fsearch", 0) != 0 ||
                                   zr_session_get_int(session, "zr.ehm.spectral_fullsearch", 0) != 0;
    const bool around_lc = ((sensor_size < 4 || sensor_size > 9) && !full_search_asked) ||
                           comparison.linked_cluster[4] > kLcCoarseRotationLimit;
    const bool search_around = mode.lite || around_lc;
    if (around_lc) start = comparison.linked_cluster_pose;
    const uint32_t flags = spectral_flags(session, sensor_size, state_360, search_around);

    const uint32_t work_size = zr_spectral_match_required_mem(enrolled_input.data, enrolled_input.length,
                                                              probe_input.data, probe_input.length,
                                                              uint8_t(flags));
    if (work_size == 0) return ZR_FAILURE;
    auto* work = static_cast<uint8_t*>(zr_malloc(work_size));
    if (work == nullptr) return ZR_NO_MEMORY;
    const record_offsets offsets{int32_t(enrolled_input.y_offset), int32_t(enrolled_input.x_offset),
                                 int32_t(probe_input.y_offset), int32_t(probe_input.x_offset)};
    zr_spectral_alignment pose = to_matcher_frame(start, offsets);
    comparison.spectral[1] = ZR_SPECTRAL_FEATURE_REQUEST;
    comparison.spectral[2] = 0;
    status = zr_spectral_match(work, uint16_t(work_size), enrolled_input.data, enrolled_input.length,
                               probe_input.data, probe_input.length, 0, comparison.spectral, nullptr, &pose, flags);
    std::free(work);
    if (status != ZR_OK) return status;
    comparison.spectral_pose = from_matcher_frame(pose, offsets);

    uint16_t rows = 0, cols = 0;
    status = zr_ehm_get_image_quality(probe, &rows, &cols, &comparison.probe_quality);
    if (status == ZR_OK) status = zr_ehm_get_image_quality(enrolled, nullptr, nullptr, &comparison.enrolled_quality);
    if (status != ZR_OK) return status;
    if (!is_one_of(comparison.linked_cluster[2], kLcStatusOk) || !is_one_of(comparison.spectral[2], kSpectralStatusOk))
        return ZR_FAILURE;

    zr_alignment* alignment = nullptr;
    if (inout_alignment != nullptr) {
        const zr_ehm_pose& chosen = search_around ? comparison.linked_cluster_pose : comparison.spectral_pose;
        const int32_t dpi = zr_session_get_int(session, "zr.extractor.dpi", kDefaultDpi);
        alignment = zr_alignment_create_ex(int16_t(chosen.dx), int16_t(chosen.dy), chosen.rotation, int16_t(dpi));
        if (alignment == nullptr) return ZR_NO_MEMORY;
    }
    *out_count = ZR_EHM_FEATURES;
    uint16_t* features = new_features(ZR_EHM_FEATURES);
    if (features == nullptr) {
        zr_alignment_delete(alignment);
        return ZR_NO_MEMORY;
    }
    zr_ehm_feature_vector(comparison, features);
    *out_features = features;
    if (inout_alignment != nullptr) *inout_alignment = alignment;
    return ZR_OK;
}

}  // namespace

void zr_ehm_feature_vector(const zr_ehm_comparison& c, uint16_t out[30]) {
    const uint8_t q_p = clamp_quality(c.probe_quality), q_e = clamp_quality(c.enrolled_quality);
    const uint8_t q_max = q_p > q_e ? q_p : q_e;
    const uint32_t normaliser = zr_quality_normaliser[q_max < kMinNormalisedQuality ? kMinNormalisedQuality : q_max];
    out[0] = c.linked_cluster[0];
    for (uint32_t i = 0; i < 8; ++i) out[1 + i] = c.linked_cluster[3 + i];
    out[9] = uint16_t(uint32_t(c.spectral[0]) * kSpectralScoreScale / normaliser);
    for (uint32_t i = 0; i < 16; ++i) out[10 + i] = c.spectral[3 + i];
    const bool both_scored = out[0] != 0 && out[9] != 0;
    const int32_t ddx = c.linked_cluster_pose.dx - c.spectral_pose.dx;
    const int32_t ddy = c.linked_cluster_pose.dy - c.spectral_pose.dy;
    const int8_t turn = int8_t(uint8_t(c.linked_cluster_pose.rotation - c.spectral_pose.rotation));
    out[26] = both_scored ? uint16_t(zr_sqrt_32(saturating_square_sum(ddx, ddy))) : 0;
    out[27] = both_scored ? uint16_t(turn < 0 ? -turn : turn) : 0;
    out[28] = uint16_t(q_p > q_e ? q_p - q_e : q_e - q_p);
    out[29] = uint16_t(zr_sqrt_32(uint32_t(ZR_EHM_MAX_QUALITY - q_max) * kQualityFeatureScale));
}

zr_status zr_ehm_get_image_quality(const zr_template* tmpl, uint16_t* out_rows, uint16_t* out_cols,
                                   uint8_t* out_quality) {
    if (out_rows) *out_rows = kDefaultImageSide;
    if (out_cols) *out_cols = kDefaultImageSide;
    if (out_quality) *out_quality = 0;
    if (tmpl == nullptr) return ZR_BAD_ARGUMENT;
    converted bytes{zr_template_get_data(tmpl), zr_template_get_data_size(tmpl)};
    if (zr_template_get_type(tmpl) == ZR_TEMPLATE_GENERIC) {
        const zr_status status = convert(tmpl, ZR_TEMPLATE_EHM, &bytes);
        if (status != ZR_OK) return status;
    }
    zr_fusion_part idim{};
    zr_status status = zr_fusion_to_parts(bytes.data, bytes.size, nullptr, nullptr, nullptr, &idim);
    if (status != ZR_OK) return status;
    uint16_t rows = 0, cols = 0;
    uint8_t quality = 0;
    status = zr_fusion_idim_to_parts(idim.value, int32_t(idim.length), &rows, &cols, &quality);
    if (status != ZR_OK) return status;
    if (out_rows) *out_rows = rows;
    if (out_cols) *out_cols = cols;
    if (out_quality) *out_quality = quality;
    return ZR_OK;
}

zr_status zr_vandrel_extract_feature_scores(zr_session*, zr_template* enrolled, zr_template* probe,
                                            uint16_t** out_features, uint16_t* out_count,
                                            zr_alignment** inout_alignment) {
    release_alignment(inout_alignment);
    if (out_features == nullptr || out_count == nullptr) return ZR_BAD_ARGUMENT;
    *out_features = nullptr;
    *out_count = 0;
    converted enrolled_part, probe_part;
    zr_status status = convert(enrolled, ZR_TEMPLATE_SPECTRAL, &enrolled_part);
    if (status == ZR_OK) status = convert(probe, ZR_TEMPLATE_SPECTRAL, &probe_part);
    if (status != ZR_OK) return status;
    matcher_input enrolled_input, probe_input;
    for (auto [part, input] : {std::pair{&enrolled_part, &enrolled_input}, std::pair{&probe_part, &probe_input}}) {
        if (make_matcher_input(*part, 1, nullptr, input) != ZR_OK) {
            std::free(input->owned);
            input->owned = nullptr;
            input->data = part->data;
            input->length = part->size;
        }
    }
    zr_spectral_quick_scores quick{};
    status = zr_spectral_quick_match(enrolled_input.data, enrolled_input.length, probe_input.data,
                                     uint16_t(probe_input.length), &quick);
    if (status != ZR_OK) return from_image_library(status);
    // Sizes that differ by more than the agreement range agree not at all.
    uint16_t size_agreement = 0;
    if (enrolled_input.length == probe_input.length) {
        const uint32_t difference = enrolled_part.size > probe_part.size ? enrolled_part.size - probe_part.size
                                                                         : probe_part.size - enrolled_part.size;
        size_agreement = difference >= ZR_VANDREL_SIZE_AGREEMENT ? 0 : uint16_t(ZR_VANDREL_SIZE_AGREEMENT - difference);
    }
    uint16_t* features = new_features(ZR_VANDREL_FEATURES);
    if (features == nullptr) return ZR_NO_MEMORY;
    features[0] = quick.orientation_agreement;
    features[1] = quick.frequency_agreement;
    features[2] = size_agreement;
    *out_features = features;
    *out_count = ZR_VANDREL_FEATURES;
    return ZR_OK;
}

zr_status zr_ehm_extract_feature_scores(zr_session* session, zr_template* enrolled, zr_template* probe,
                                        uint16_t** out_features, uint16_t* out_count,
                                        zr_alignment** inout_alignment) {
    return ehm_extract(session, enrolled, probe, out_features, out_count, inout_alignment, {false, 1});
}

zr_status zr_ehmhr_extract_feature_scores(zr_session* session, zr_template* enrolled, zr_template* probe,
                                          uint16_t** out_features, uint16_t* out_count,
                                          zr_alignment** inout_alignment) {
    return ehm_extract(session, enrolled, probe, out_features, out_count, inout_alignment, {false, 0});
}

zr_status ehm_lite_extract_feature_scores(zr_session* session, zr_template* enrolled, zr_template* probe,
                                          uint16_t** out_features, uint16_t* out_count,
                                          zr_alignment** inout_alignment) {
    return ehm_extract(session, enrolled, probe, out_features, out_count, inout_alignment, {true, 1});
}
