#include "match/extractors/zr_embedded_extractor.h"

#include <cstdlib>

#include "extract/bal_extract_template.h"
#include "extract/bal_ridge_features.h"
#include "extract/zr_minutiae_settings.h"

namespace {

constexpr int64_t kBlock = 12;
constexpr int64_t kBlock250 = 6;
constexpr int64_t kTolerance = 8;
constexpr int64_t kTolerance250 = 4;
constexpr uint32_t kSensorSizeCallbacksFirst = 4;
constexpr uint32_t kSensorSizeCallbacksLast = 9;
constexpr uint32_t kAlwaysFlags = 0x42;
constexpr uint32_t kSpeedFlags = BAL_EXTRACT_HALF_FREQUENCY;
constexpr uint32_t kSpeedmemFlags = BAL_EXTRACT_250DPI;
constexpr uint32_t kHighestTemplateType = 75;

// Output format, added flags and created type of one template type.
struct type_entry {
    uint32_t format;
    uint32_t flags;
    uint32_t created_type;
};

bool lookup_type(uint32_t type, type_entry* out) {
    switch (type) {
    case 1: case 2: case 3: *out = {type, 0x400, type}; return true;
    case 4: case 5: case 6: *out = {type - 3, 0, type - 3}; return true;
    case 67: *out = {BAL_FORMAT_COMPACT_CARD, 0x430, 67}; return true;
    case 72: *out = {BAL_FORMAT_COMPACT_CARD, 0x630, 72}; return true;
    case 73: *out = {BAL_FORMAT_EHM, 0, 67}; return true;
    case 74: *out = {BAL_FORMAT_COMPACT_CARD, 0x4B0, 67}; return true;
    case 75: *out = {BAL_FORMAT_COMPACT_CARD, 0x6B0, 72}; return true;
    default: return false;
    }
}

// a / b rounded by adding half the divisor; b > 0, a >= 0.
int64_t round_div(int64_t a, int64_t b) { return (a + b / 2) / b; }

int64_t round_up(int64_t v, int64_t multiple) { return (v + multiple - 1) / multiple * multiple; }

int64_t abs64(int64_t v) { return v < 0 ? -v : v; }

int64_t working_dpi(const zr_session* session, bool half) {
    int64_t dpi = zr_session_get_int(session, "zr.extractor.dpi", ZR_EXTRACTOR_DEFAULT_DPI);
    return half ? dpi / 2 : dpi;
}

bool fits_u16(int64_t v) { return v >= 0 && v <= 0xFFFF; }

void pref_idim_at(zr_session* session, bool half, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                  uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                  uint16_t* out_cols) {
    // "Below 9" (below 5 on the 250-dpi path): within the extractor's tolerance.
    const int64_t tolerance = half ? kTolerance250 : kTolerance;
    const int64_t dpi = working_dpi(session, half);
    zr_extract_geometry g{};
    bool keep = !zr_extract_geometry_compute(dpi, half ? kBlock250 : kBlock, rows, cols, vertical_dpi,
                                             horizontal_dpi, &g);
    keep = keep || (abs64(vertical_dpi - dpi) <= tolerance && abs64(horizontal_dpi - dpi) <= tolerance) ||
           (abs64(vertical_dpi - g.vertical_dpi) <= tolerance && abs64(horizontal_dpi - g.horizontal_dpi) <= tolerance);
    if (out_vertical_dpi) *out_vertical_dpi = keep ? vertical_dpi : uint16_t(g.vertical_dpi);
    if (out_horizontal_dpi) *out_horizontal_dpi = keep ? horizontal_dpi : uint16_t(g.horizontal_dpi);
    if (out_rows) *out_rows = keep ? rows : uint16_t(g.rows);
    if (out_cols) *out_cols = keep ? cols : uint16_t(g.cols);
}

// Flags the session adds: per-block feature callbacks on small sensors with
// 360-degree matching, unless ridge curvature is switched off.
uint32_t session_flags(const zr_session* session) {
    const uint32_t sensor_size = uint32_t(zr_session_get_sensor_size(session));
    const bool small_sensor = sensor_size >= kSensorSizeCallbacksFirst && sensor_size <= kSensorSizeCallbacksLast;
    if (small_sensor && zr_session_get_int(session, "zr.ehm.no_ridge_curvature", 0) == 0 &&
        zr_session_get_360_state(session) != 0)
        return BAL_EXTRACT_FEATURE_CALLBACKS;
    return 0;
}

// The image extraction runs on: the caller's own (*out is the image itself,
// not retained) or a rescaled copy (*out owned by the caller).
zr_status working_image(zr_image* image, const zr_extract_geometry& g, int64_t dpi, int64_t tolerance,
                        zr_image** out) {
    const int64_t r = zr_image_get_vertical_resolution(image);
    const bool near_working = abs64(r - dpi) <= tolerance;
    const bool keeps_resolution = abs64(r - g.vertical_dpi) <= tolerance && abs64(r - g.horizontal_dpi) <= tolerance;
    if (near_working || keeps_resolution) {
        *out = image;
        return ZR_OK;
    }
    if (!fits_u16(g.rows) || !fits_u16(g.cols) || !fits_u16(g.horizontal_dpi)) return ZR_NO_MEMORY;
    const auto res = uint16_t(g.horizontal_dpi);
    *out = zr_image_scale_size_res(image, uint16_t(g.rows), uint16_t(g.cols), res, res);
    if (*out == nullptr) return ZR_NO_MEMORY;
    // The rescaled copy is ours alone: let the builder take its pixels over.
    zr_image_mr_weak(*out);
    return ZR_OK;
}

zr_status build_template(const type_entry& entry, uint8_t* buffer, uint32_t length, zr_template** out_template) {
    if (buffer == nullptr) return ZR_OK;
    *out_template = zr_template_create(entry.created_type, buffer, length);
    (void)bal_free_template(buffer);
    return *out_template ? ZR_OK : ZR_NO_MEMORY;
}

}  // namespace

bool zr_extract_geometry_compute(int64_t dpi, int64_t block, uint16_t rows, uint16_t cols, uint16_t vertical_dpi,
                                 uint16_t horizontal_dpi, zr_extract_geometry* out) {
    if (rows == 0 || cols == 0 || vertical_dpi == 0 || horizontal_dpi == 0 || block <= 0 || dpi <= 0) return false;
    int64_t r = round_div(dpi * rows, vertical_dpi);
    int64_t c = round_div(dpi * cols, horizontal_dpi);
    if (r <= c) {
        const bool equal = r == c;
        r = round_up(r, block);
        c = equal ? round_up(c, block) : round_div(int64_t(cols) * r, rows);
    } else {
        c = round_up(c, block);
        r = round_div(int64_t(rows) * c, cols);
    }
    out->rows = r;
    out->cols = c;
    out->vertical_dpi = round_div(int64_t(vertical_dpi) * r, rows);
    out->horizontal_dpi = round_div(int64_t(horizontal_dpi) * c, cols);
    return true;
}

zr_status embedded_extract_template_ext(zr_session* session, zr_image* image, zr_finger* finger,
                                        uint32_t template_type, zr_template** out_template,
                                        uint32_t extraction_flags, bal_feature_callback ridge_callback,
                                        bal_feature_callback second_callback) {
    if (out_template == nullptr) return ZR_BAD_ARGUMENT;
    *out_template = nullptr;
    if (image == nullptr) return ZR_BAD_ARGUMENT;
    const zr_minutiae_settings minutiae = zr_read_minutiae_settings(session);
    type_entry entry{};
    if (template_type > kHighestTemplateType || !lookup_type(template_type, &entry)) return ZR_UNHANDLED_INPUT;
    uint32_t flags = extraction_flags | entry.flags | session_flags(session);

    const bool half = (flags & BAL_EXTRACT_250DPI) != 0;
    const int64_t dpi = working_dpi(session, half);
    const uint16_t r = zr_image_get_vertical_resolution(image);
    zr_extract_geometry g{};
    // Extraction works at the vertical resolution in both directions.
    if (!zr_extract_geometry_compute(dpi, half ? kBlock250 : kBlock, zr_image_get_rows(image),
                                     zr_image_get_cols(image), r, r, &g))
        return ZR_BAD_ARGUMENT;

    zr_image* used = nullptr;
    zr_status rc = working_image(image, g, dpi, half ? kTolerance250 : kTolerance, &used);
    if (rc != ZR_OK) return rc;
    const bool rescaled = used != image;
    rc = zr_image_render(used);
    uint8_t* valid = nullptr;
    if (rc == ZR_OK && zr_image_get_mask(used) != nullptr) rc = zr_image_get_valid_pixels(used, &valid);
    if (rc != ZR_OK) {
        if (rescaled) zr_image_delete(used);
        return rc;
    }
    const uint16_t rows = zr_image_get_rows(used);
    const uint16_t cols = zr_image_get_cols(used);
    const auto impression = uint8_t(zr_image_get_impression_type(used));
    uint8_t* pixels = zr_image_get_pixels(used);
    // An image that releases its pixels hands the buffer to the builder,
    // which frees it; the image keeps no pointer to it.
    if (zr_image_mr_release(used, free) == 1) flags |= BAL_EXTRACT_TAKE_PIXELS;

    uint8_t* buffer = nullptr;
    uint32_t length = 0;
    const bal_status built = bal_extract_template_mask(
        pixels, valid, rows, cols, uint8_t(zr_finger_get_position(finger)), impression, 0, 0, minutiae.max_minutiae,
        minutiae.order, flags | kAlwaysFlags, entry.format, &buffer, &length, ridge_callback, second_callback);
    free(valid);
    if (rescaled) zr_image_delete(used);
    rc = zr_rc_convert_from_zri(built);
    if (rc != ZR_OK) {
        (void)bal_free_template(buffer);
        return rc;
    }
    return build_template(entry, buffer, length, out_template);
}

zr_status embedded_extract_template(zr_session* session, zr_image* image, zr_finger* finger, uint32_t template_type,
                                    zr_template** out_template) {
    return embedded_extract_template_ext(session, image, finger, template_type, out_template, 0,
                                         bal_extract_ridge_curvature, nullptr);
}

zr_status embedded_extract_template_speed(zr_session* session, zr_image* image, zr_finger* finger,
                                          uint32_t template_type, zr_template** out_template) {
    return embedded_extract_template_ext(session, image, finger, template_type, out_template, kSpeedFlags,
                                         bal_extract_ridge_curvature, nullptr);
}

zr_status embedded_extract_template_speedmem(zr_session* session, zr_image* image, zr_finger* finger,
                                             uint32_t template_type, zr_template** out_template) {
    return embedded_extract_template_ext(session, image, finger, template_type, out_template, kSpeedmemFlags,
                                         bal_extract_ridge_curvature, nullptr);
}

zr_status embedded_av_extract_template(zr_session* session, zr_image* image, zr_finger* finger,
                                       uint32_t template_type, zr_template** out_template) {
    return embedded_extract_template_ext(session, image, finger, template_type, out_template,
                                         BAL_EXTRACT_FEATURE_CALLBACKS, bal_extract_alignment_vectors,
                                         bal_extract_alignment_vectors);
}

zr_status embedded_av_extract_template_speed(zr_session* session, zr_image* image, zr_finger* finger,
                                             uint32_t template_type, zr_template** out_template) {
    return embedded_extract_template_ext(session, image, finger, template_type, out_template,
                                         BAL_EXTRACT_FEATURE_CALLBACKS | kSpeedFlags, bal_extract_alignment_vectors,
                                         bal_extract_alignment_vectors);
}

zr_status embedded_av_extract_template_speedmem(zr_session* session, zr_image* image, zr_finger* finger,
                                                uint32_t template_type, zr_template** out_template) {
    return embedded_extract_template_ext(session, image, finger, template_type, out_template,
                                         BAL_EXTRACT_FEATURE_CALLBACKS | kSpeedmemFlags,
                                         bal_extract_alignment_vectors, bal_extract_alignment_vectors);
}

void embedded_pref_idim(zr_session* session, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                        uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                        uint16_t* out_cols) {
    pref_idim_at(session, false, vertical_dpi, horizontal_dpi, rows, cols, out_vertical_dpi, out_horizontal_dpi,
                 out_rows, out_cols);
}

void embedded_pref_idim_speed(zr_session* session, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                              uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi,
                              uint16_t* out_rows, uint16_t* out_cols) {
    pref_idim_at(session, false, vertical_dpi, horizontal_dpi, rows, cols, out_vertical_dpi, out_horizontal_dpi,
                 out_rows, out_cols);
}

void embedded_pref_idim_speedmem(zr_session* session, uint16_t vertical_dpi, uint16_t horizontal_dpi,
                                 uint16_t rows, uint16_t cols, uint16_t* out_vertical_dpi,
                                 uint16_t* out_horizontal_dpi, uint16_t* out_rows, uint16_t* out_cols) {
    pref_idim_at(session, true, vertical_dpi, horizontal_dpi, rows, cols, out_vertical_dpi, out_horizontal_dpi,
                 out_rows, out_cols);
}

const zr_extractor_descriptor embedded_extractor = {embedded_extract_template, embedded_pref_idim};
const zr_extractor_descriptor embedded_speed_extractor = {embedded_extract_template_speed, embedded_pref_idim_speed};
const zr_extractor_descriptor embedded_speedmem_extractor = {embedded_extract_template_speedmem,
                                                             embedded_pref_idim_speedmem};
