#include "objects/zr_template_convert.h"

#include "objects/tlv_codec.h"
#include "objects/zr_fusion_parts.h"
#include "objects/zr_result.h"
#include "objects/zr_template_generic.h"

namespace {

constexpr uint16_t kFusionRootTag = 0x7F2E;
constexpr uint16_t kFusionPartsTag = 0xA2;

using converter_fn = zr_status (*)(const uint8_t* data, uint32_t length, uint16_t tag,
                                   const uint8_t** out_data, uint32_t* out_length);

// The source bytes as they are.
zr_status zr_ehm_to_ehm(const uint8_t* data, uint32_t length, uint16_t,
                        const uint8_t** out_data, uint32_t* out_length) {
    *out_data = data;
    *out_length = length;
    return ZR_OK;
}

bool find_fusion_part(const uint8_t* data, uint32_t length, uint16_t tag, tlv_element* part) {
    const uint16_t path[3] = {kFusionRootTag, kFusionPartsTag, tag};
    return tlv_find_nested_tag(data, length, path, 3, part) == 1;
}

// The value under root 0x7F2E > parts 0xA2 > tag.
zr_status zr_ehm_to_tag(const uint8_t* data, uint32_t length, uint16_t tag,
                        const uint8_t** out_data, uint32_t* out_length) {
    tlv_element part{};
    if (!find_fusion_part(data, length, tag, &part)) return ZR_WRONG_TYPE;
    *out_data = part.value;
    *out_length = part.length;
    return ZR_OK;
}

// The whole source, provided it holds the part under the tag.
zr_status zr_ehm_to_neo(const uint8_t* data, uint32_t length, uint16_t tag,
                        const uint8_t** out_data, uint32_t* out_length) {
    tlv_element part{};
    if (!find_fusion_part(data, length, tag, &part)) return ZR_WRONG_TYPE;
    *out_data = data;
    *out_length = length;
    return ZR_OK;
}

struct converter {
    uint32_t target;
    converter_fn convert;
    uint16_t tag;
};

// Converters by target type.
constexpr converter kConverters[] = {
    {ZR_TEMPLATE_ISO_COMPACT_CARD, zr_ehm_to_iso_cc, 0},
    {ZR_TEMPLATE_SPECTRAL, zr_ehm_to_spectral, ZR_FUSION_SPECTRAL_TAG},
    {ZR_TEMPLATE_EHM, zr_ehm_to_ehm, 0},
    {ZR_TEMPLATE_EHM_RECORD, zr_ehm_to_ehm, 0},
    {ZR_TEMPLATE_EHM_PRESET, zr_ehm_to_ehm, 0},
    {ZR_TEMPLATE_EHM_NEO, zr_ehm_to_neo, 0xC5},
    {ZR_TEMPLATE_PART_C5, zr_ehm_to_tag, 0xC5},
    {ZR_TEMPLATE_PART_C6, zr_ehm_to_tag, 0xC6},
    {ZR_TEMPLATE_PART_CA, zr_ehm_to_tag, 0xCA},
    {ZR_TEMPLATE_PART_C9, zr_ehm_to_tag, 0xC9},
};

const converter* find_converter(uint32_t target) {
    for (const converter& c : kConverters) {
        if (c.target == target) return &c;
    }
    return nullptr;
}

zr_status run_converter(const uint8_t* data, uint32_t length, uint32_t target,
                        const uint8_t** out_data, uint32_t* out_length) {
    const converter* c = find_converter(target);
    if (c == nullptr) return ZR_WRONG_TYPE;
    const uint8_t* view = nullptr;
    uint32_t view_length = 0;
    const zr_status status = c->convert(data, length, c->tag, &view, &view_length);
    if (status != ZR_OK) return status;
    *out_data = view;
    *out_length = view_length;
    return ZR_OK;
}

bool is_ehm_source(uint32_t type) { return type == ZR_TEMPLATE_EHM || type == ZR_TEMPLATE_EHM_NEO; }

}  // namespace

zr_status zr_template_convert(const zr_template* tmpl, uint32_t target_type,
                              const uint8_t** out_data, uint32_t* out_size) {
    if (out_data != nullptr) *out_data = nullptr;
    if (out_size != nullptr) *out_size = 0;
    if (tmpl == nullptr || out_data == nullptr || out_size == nullptr) return ZR_BAD_ARGUMENT;
    const uint32_t source_type = zr_template_get_type(tmpl);
    if (target_type == source_type) {
        *out_data = tmpl->data;
        *out_size = tmpl->size;
        return ZR_OK;
    }
    if (source_type == ZR_TEMPLATE_GENERIC) {
        zr_generic_container container{};
        if (!zr_template_generic_parse(tmpl, &container)) return ZR_WRONG_TYPE;
        const zr_generic_entry* ehm = nullptr;
        zr_status status = ZR_NOT_FOUND;
        for (uint32_t i = 0; i < container.count; ++i) {
            const zr_generic_entry& entry = container.entries[i];
            if (entry.type == target_type) {
                *out_data = entry.data;
                *out_size = entry.size;
                status = ZR_OK;
                break;
            }
            if (entry.type == ZR_TEMPLATE_EHM && ehm == nullptr) ehm = &entry;
        }
        if (status != ZR_OK && ehm != nullptr) {
            status = run_converter(ehm->data, ehm->size, target_type, out_data, out_size);
        }
        return status;
    }
    if (!is_ehm_source(source_type)) return ZR_WRONG_TYPE;
    return run_converter(tmpl->data, tmpl->size, target_type, out_data, out_size);
}

int32_t zr_template_is_compatible(const zr_template* tmpl, uint32_t target_type) {
    if (tmpl == nullptr) return 0;
    const uint32_t source_type = zr_template_get_type(tmpl);
    if (source_type == ZR_TEMPLATE_GENERIC) return zr_template_generic_has_data(tmpl, target_type);
    if (source_type == target_type) return tmpl->data != nullptr && tmpl->size != 0;
    if (!is_ehm_source(source_type)) return 0;
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    if (run_converter(tmpl->data, tmpl->size, target_type, &data, &size) != ZR_OK) return 0;
    return data != nullptr && size != 0;
}
