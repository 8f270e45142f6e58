#include "extract/slice_extract.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "extract/bal_extract_template.h"
#include "formats/bal_template_container.h"
#include "extract/slice_geometry.h"
#include "formats/zr_ansi378.h"
#include "formats/zr_fusion.h"
#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso_compactcard.h"
#include "extract/zr_minutiae_settings.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"

namespace {

constexpr uint32_t kTarget500 = 500;
constexpr uint32_t kTolerance500 = 8;
constexpr uint32_t kTarget250 = 250;
constexpr uint32_t kTolerance250 = 4;
constexpr uint32_t kMaxSide = 0xFFFF;

constexpr uint32_t kFieldFlags = BAL_TEMPLATE_ORIENTATION | BAL_TEMPLATE_FREQUENCY;
constexpr uint32_t kCardMinutiaeLimit = 128;
constexpr uint32_t kIso2005EmptyBytes = 30;  // a written record without minutiae
constexpr uint32_t kIso2011EmptyBytes = 54;
constexpr zr_status kUnsupportedTemplateType = ZR_IMAGE_LIB_CODE_6;  // 13

// One record from the merged minutiae, in the buffer and length given back;
// the template type it is created as.
struct written_template {
    uint8_t* data = nullptr;
    uint32_t length = 0;
    uint32_t created_type = 0;
};

// The merged fields as block-field records over the merge's buffers.
void merged_fields(const slice_merge& merge, zr_block_field* orientation, zr_block_field* frequency) {
    for (zr_block_field* f : {orientation, frequency}) {
        *f = zr_block_field{};
        f->flags = ZR_FEATURE_ENABLE;
        f->block_rows = static_cast<uint8_t>(merge.field_rows);
        f->block_cols = static_cast<uint8_t>(merge.field_cols);
        f->block_size = static_cast<uint8_t>(merge.block_size);
    }
    orientation->values = merge.orientation;
    frequency->values = merge.frequency;
}

zr_status write_iso(const minutiastruct& m, bool edition_2011, written_template* out) {
    uint8_t* record = nullptr;
    const zr_status st = edition_2011 ? zr_minutiastruct_to_iso19794_2_v3(&m, &record)
                                      : zr_minutiastruct_to_iso19794_2_v2(&m, &record);
    if (st != ZR_OK) return st;
    out->data = record;
    // The record is at least its empty size long; its length field gives the rest.
    out->length = zr_iso19794_2_get_length(record, edition_2011 ? kIso2011EmptyBytes : kIso2005EmptyBytes);
    out->created_type = ZR_TEMPLATE_ISO19794_2;
    return ZR_OK;
}

zr_status write_ansi(const minutiastruct& m, bool version3, written_template* out) {
    const zr_status st = version3 ? zr_minutiastruct_to_ansi378_v3(&m, &out->data, &out->length)
                                  : zr_minutiastruct_to_ansi378_v2(&m, &out->data, &out->length);
    if (st == ZR_OK) out->created_type = ZR_TEMPLATE_ANSI378;
    return st;
}

zr_status write_card(const minutiastruct& m, bool edition_2011, written_template* out) {
    zr_status st = edition_2011 ? zr_convert_minutiastruct_to_iso_compactcard_v3(&m, kCardMinutiaeLimit,
                                                                                 &out->data, &out->length)
                                : zr_convert_minutiastruct_to_iso_compactcard_v2(&m, kCardMinutiaeLimit,
                                                                                 &out->data, &out->length);
    if (st == ZR_OK) st = zr_iso_compactcard_extend_proprietary_data(&out->data, &out->length, &m);
    if (st == ZR_OK) out->created_type = ZR_TEMPLATE_ISO_COMPACT_CARD;
    return st;
}

// The compact card wrapped with the merged fields: the fusion form (2011
// card, image size and finger quality) or the plain EHM form (2005 card).
zr_status write_ehm(const slice_merge& merge, const slice_geometry& g, bool fusion, written_template* out) {
    if (merge.field_rows > UINT8_MAX || merge.field_cols > UINT8_MAX) return ZR_FAILURE;
    written_template card;
    zr_status st = write_card(merge.minutiae, fusion, &card);
    if (st != ZR_OK) {
        std::free(card.data);
        return st;
    }
    zr_block_field orientation, frequency;
    merged_fields(merge, &orientation, &frequency);
    st = fusion
             ? zr_iso_compactcard_to_iso_ehm(
                   card.data, card.length, &orientation, &frequency, static_cast<uint16_t>(g.scale * g.rows),
                   static_cast<uint16_t>(g.scale * g.cols), merge.minutiae.quality, &out->data, &out->length)
             : zr_iso_compactcard_to_ehm(card.data, card.length, &orientation, &frequency, &out->data,
                                         &out->length);
    std::free(card.data);
    if (st == ZR_OK) out->created_type = ZR_TEMPLATE_EHM;
    return st;
}

zr_status write_record(const slice_merge& merge, const slice_geometry& g, uint32_t template_type,
                       written_template* out) {
    const minutiastruct& m = merge.minutiae;
    switch (template_type) {
        case ZR_TEMPLATE_ISO19794_2:
            return write_iso(m, true, out);
        case ZR_TEMPLATE_ISO19794_2_ALIAS:
            return write_iso(m, false, out);
        case ZR_TEMPLATE_ANSI378:
            return write_ansi(m, true, out);
        case ZR_TEMPLATE_ANSI378_ALIAS:
            return write_ansi(m, false, out);
        case ZR_TEMPLATE_ISO_COMPACT_CARD:
            return write_card(m, true, out);
        case ZR_TEMPLATE_ISO_COMPACT_CARD_ALIAS:
            return write_card(m, false, out);
        case ZR_TEMPLATE_EHM:
            return write_ehm(merge, g, true, out);
        case ZR_TEMPLATE_EHM_RECORD:
            return write_ehm(merge, g, false, out);
        default:
            return kUnsupportedTemplateType;
    }
}

// The template takes over the written buffer.
zr_status write_merged_template(const slice_merge& merge, const slice_geometry& g, uint32_t template_type,
                                zr_template** out_template) {
    written_template record;
    zr_status st = write_record(merge, g, template_type, &record);
    if (st == ZR_OK) {
        *out_template = zr_template_adopt(record.created_type, record.data, record.length);
        if (*out_template != nullptr) return ZR_OK;
        st = ZR_NO_MEMORY;
    }
    std::free(record.data);
    return st;
}

bool wants_fields(uint32_t template_type) {
    return template_type == ZR_TEMPLATE_EHM || template_type == ZR_TEMPLATE_EHM_RECORD;
}

// Strip j: cropped, brought to the working resolution, extracted into a raw
// container and merged.
zr_status extract_strip(zr_image* image, const zr_finger* finger, const slice_geometry& g, uint32_t strip,
                        const zr_minutiae_settings& settings, uint32_t flags, slice_merge* merge) {
    const slice_strip_window window = slice_strip_window_of(g, strip, zr_image_get_rows(image));
    zr_image* part = zr_image_crop(image, static_cast<uint16_t>(window.rows), zr_image_get_cols(image),
                                   static_cast<int32_t>(window.first_row), 0);
    if (part == nullptr) return ZR_NO_MEMORY;
    if (g.working != g.resolution) {
        const uint16_t d = static_cast<uint16_t>(g.working);
        zr_image* scaled = zr_image_scale_res(part, d, d);
        zr_image_delete(part);
        if (scaled == nullptr) return ZR_NO_MEMORY;
        part = scaled;
    }
    uint8_t* pixels = zr_image_get_pixels(part);
    if (pixels == nullptr) {
        zr_image_delete(part);
        return ZR_NO_MEMORY;
    }
    uint8_t* buffer = nullptr;
    uint32_t length = 0;
    // Out-of-range codes stay out of range in a byte, so template building refuses them.
    const uint8_t position =
        static_cast<uint8_t>(std::min<uint32_t>(zr_finger_get_position(finger), UINT8_MAX));
    const uint8_t impression =
        static_cast<uint8_t>(std::min<uint32_t>(zr_image_get_impression_type(image), UINT8_MAX));
    const bal_status built = bal_extract_template(
        pixels, zr_image_get_rows(part), zr_image_get_cols(part), position, impression, 0, 0,
        settings.max_minutiae, settings.order, flags, BAL_FORMAT_CONTAINER, &buffer, &length);
    zr_image_delete(part);
    if (built != BAL_OK) return zr_rc_convert_from_zri(built);  // nothing was left allocated
    auto* container = reinterpret_cast<zr_template_container*>(buffer);
    const zr_status merged = slice_merge_strip(merge, g, strip, window, container);
    zr_template_container_free(container);
    return merged;
}

uint16_t rescaled(uint32_t size, uint32_t to, uint32_t from) {
    return static_cast<uint16_t>(std::min<uint64_t>(uint64_t(size) * to / from, kMaxSide));
}

zr_status preferred_geometry(uint32_t target, uint32_t tolerance, uint16_t vertical_dpi,
                             uint16_t horizontal_dpi, uint16_t rows, uint16_t cols,
                             uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                             uint16_t* out_cols) {
    if (vertical_dpi == 0 || horizontal_dpi == 0) {  // nothing to scale from
        *out_vertical_dpi = vertical_dpi;
        *out_horizontal_dpi = horizontal_dpi;
        *out_rows = rows;
        *out_cols = cols;
        return ZR_OK;
    }
    const uint32_t d = slice_working_resolution(vertical_dpi, target, tolerance);
    *out_vertical_dpi = static_cast<uint16_t>(d);
    *out_horizontal_dpi = static_cast<uint16_t>(d);
    *out_rows = rescaled(rows, d, vertical_dpi);
    *out_cols = rescaled(cols, d, horizontal_dpi);
    return ZR_OK;
}

}  // namespace

zr_status slice_extract_pref_idim(zr_session*, uint16_t vertical_dpi, uint16_t horizontal_dpi, uint16_t rows,
                                  uint16_t cols, uint16_t* out_vertical_dpi, uint16_t* out_horizontal_dpi,
                                  uint16_t* out_rows, uint16_t* out_cols) {
    return preferred_geometry(kTarget500, kTolerance500, vertical_dpi, horizontal_dpi, rows, cols,
                              out_vertical_dpi, out_horizontal_dpi, out_rows, out_cols);
}

zr_status slice_extract_pref_idim_speed(zr_session*, uint16_t vertical_dpi, uint16_t horizontal_dpi,
                                        uint16_t rows, uint16_t cols, uint16_t* out_vertical_dpi,
                                        uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                                        uint16_t* out_cols) {
    return preferred_geometry(kTarget500, kTolerance500, vertical_dpi, horizontal_dpi, rows, cols,
                              out_vertical_dpi, out_horizontal_dpi, out_rows, out_cols);
}

zr_status slice_extract_pref_idim_speedmem(zr_session*, uint16_t vertical_dpi, uint16_t horizontal_dpi,
                                           uint16_t rows, uint16_t cols, uint16_t* out_vertical_dpi,
                                           uint16_t* out_horizontal_dpi, uint16_t* out_rows,
                                           uint16_t* out_cols) {
    return preferred_geometry(kTarget250, kTolerance250, vertical_dpi, horizontal_dpi, rows, cols,
                              out_vertical_dpi, out_horizontal_dpi, out_rows, out_cols);
}

zr_status slice_extract_template_ext(zr_session* session, zr_image* image, zr_finger* finger,
                                     uint32_t template_type, zr_template** out_template, uint16_t flags) {
    if (out_template == nullptr || image == nullptr) return ZR_BAD_ARGUMENT;
    *out_template = nullptr;
    const uint16_t r = zr_image_get_vertical_resolution(image);
    if (r == 0 || zr_image_get_horizontal_resolution(image) != r) return ZR_UNHANDLED_INPUT;
    slice_geometry g{};
    zr_status st = slice_plan(zr_image_get_rows(image), zr_image_get_cols(image), r, flags,
                              zr_session_get_slice_rows(session), &g);
    if (st != ZR_OK) return st;
    const zr_minutiae_settings settings = zr_read_minutiae_settings(session);
    const bool fields = wants_fields(template_type);
    const uint32_t extract_flags = flags | (fields ? kFieldFlags : 0u);

    slice_merge merge;
    st = slice_merge_init(&merge, g, fields);
    if (st != ZR_OK) return st;
    for (uint32_t j = 0; j < g.strip_count && st == ZR_OK; ++j)
        st = extract_strip(image, finger, g, j, settings, extract_flags, &merge);
    if (st == ZR_OK) {
        slice_merge_finish(&merge, g, settings.order);
        st = write_merged_template(merge, g, template_type, out_template);
    }
    slice_merge_free(&merge);
    return st;
}

zr_status slice_extract_template(zr_session* session, zr_image* image, zr_finger* finger,
                                 uint32_t template_type, zr_template** out_template) {
    return slice_extract_template_ext(session, image, finger, template_type, out_template, 0);
}

zr_status slice_extract_template_speed(zr_session* session, zr_image* image, zr_finger* finger,
                                       uint32_t template_type, zr_template** out_template) {
    return slice_extract_template_ext(session, image, finger, template_type, out_template,
                                      BAL_EXTRACT_HALF_FREQUENCY);
}

zr_status slice_extract_template_speedmem(zr_session* session, zr_image* image, zr_finger* finger,
                                          uint32_t template_type, zr_template** out_template) {
    return slice_extract_template_ext(session, image, finger, template_type, out_template,
                                      BAL_EXTRACT_250DPI);
}
