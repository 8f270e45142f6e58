#include "objects/zr_template_metadata.h"

#include "objects/zr_byte_order.h"
#include "objects/zr_result.h"
#include "objects/zr_template_convert.h"
#include "objects/zr_template_generic.h"

namespace {

constexpr uint16_t kWrittenVersion = 3;
constexpr uint32_t kRecordSize[4] = {0, 8, 9, 11};

// Reads the record and reports its version (later versions read as 3).
zr_status read_metadata(const zr_template* tmpl, zr_template_metadata* out, uint16_t* out_version) {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    const zr_status status = zr_template_convert(tmpl, ZR_TEMPLATE_METADATA, &data, &size);
    if (status != ZR_OK) return status;
    if (size < 2) return ZR_BAD_FORMAT;
    uint16_t version = zr_get_be16(data);
    if (version == 0) return ZR_UNHANDLED_INPUT;
    if (version > kWrittenVersion) version = kWrittenVersion;
    if (size != kRecordSize[version]) return ZR_BAD_FORMAT;
    out->rows = zr_get_be16(data + 2);
    out->cols = zr_get_be16(data + 4);
    out->image_class = zr_get_be16(data + 6);
    if (version >= 2) out->enroll_type = data[8];
    if (version >= 3) out->resolution = zr_get_be16(data + 9);
    *out_version = version;
    return ZR_OK;
}

enum class metadata_field { enroll_type, image_class };

// A bare type-86 template holds metadata even when it has no bytes: merging
// the new record into it would keep the old one.
bool holds_metadata(const zr_template* tmpl) {
    return zr_template_is_compatible(tmpl, ZR_TEMPLATE_METADATA) ||
           zr_template_get_type(tmpl) == ZR_TEMPLATE_METADATA;
}

// The container without any type-86 entry (later duplicates included, which
// the merge would otherwise keep in place of the new record); none on failure.
zr_template* remove_all_metadata(const zr_template* tmpl) {
    zr_template* reduced = zr_template_remove_data_of_type(tmpl, ZR_TEMPLATE_METADATA);
    while (reduced != nullptr && zr_template_generic_has_data(reduced, ZR_TEMPLATE_METADATA)) {
        zr_template* smaller = zr_template_remove_data_of_type(reduced, ZR_TEMPLATE_METADATA);
        zr_template_delete(reduced);
        reduced = smaller;
    }
    return reduced;
}

zr_status set_field(metadata_field field, uint32_t value, zr_template** tmpl) {
    if (tmpl == nullptr) return ZR_BAD_ARGUMENT;
    zr_template_metadata metadata{};
    zr_template* reduced = nullptr;
    if (holds_metadata(*tmpl)) {
        uint16_t version = 0;
        const zr_status status = read_metadata(*tmpl, &metadata, &version);
        if (status != ZR_OK) return status;
        const uint32_t current =
            field == metadata_field::enroll_type ? metadata.enroll_type : metadata.image_class;
        if (current == value) return ZR_OK;
        reduced = remove_all_metadata(*tmpl);
        if (reduced == nullptr) return ZR_FAILURE;
    } else {
        reduced = zr_template_retain(*tmpl);
    }
    if (field == metadata_field::enroll_type) {
        metadata.enroll_type = value;
    } else {
        metadata.image_class = uint16_t(value);
    }
    zr_template* record = nullptr;
    zr_status status = zr_template_metadata_encode(nullptr, &metadata, &record);
    if (status == ZR_OK) {
        zr_template* merged = zr_template_merge(reduced, record);
        if (merged != nullptr) {
            zr_template_delete(*tmpl);
            *tmpl = merged;
        } else {
            status = ZR_NO_MEMORY;
        }
    }
    zr_template_delete(record);
    zr_template_delete(reduced);
    return status;
}

}  // namespace

zr_status zr_template_metadata_encode(void*, const zr_template_metadata* metadata,
                                      zr_template** out_template) {
    if (metadata == nullptr || out_template == nullptr) return ZR_BAD_ARGUMENT;
    uint8_t record[11];
    zr_put_be16(record, kWrittenVersion);
    zr_put_be16(record + 2, metadata->rows);
    zr_put_be16(record + 4, metadata->cols);
    zr_put_be16(record + 6, metadata->image_class);
    record[8] = uint8_t(metadata->enroll_type);
    zr_put_be16(record + 9, metadata->resolution);
    zr_template* tmpl = zr_template_create(ZR_TEMPLATE_METADATA, record, sizeof(record));
    if (tmpl == nullptr) return ZR_NO_MEMORY;
    *out_template = tmpl;
    return ZR_OK;
}

zr_status zr_template_metadata_extract(void* context, zr_image* image,
                                       zr_template_metadata_callback callback,
                                       zr_template** out_template) {
    if (image == nullptr || out_template == nullptr) return ZR_BAD_ARGUMENT;
    zr_template_metadata metadata{};
    metadata.rows = zr_image_get_rows(image);
    metadata.cols = zr_image_get_cols(image);
    if (callback != nullptr) {
        const zr_status status = callback(context, image, &metadata.image_class,
                                         &metadata.resolution, &metadata.enroll_type,
                                         out_template);
        if (status != ZR_OK) return status;
    }
    metadata.resolution = zr_image_get_resolution(image);
    return zr_template_metadata_encode(context, &metadata, out_template);
}

zr_status zr_template_metadata_get(void*, const zr_template* tmpl,
                                   zr_template_metadata* out_metadata) {
    if (out_metadata == nullptr) return ZR_BAD_ARGUMENT;
    uint16_t version = 0;
    return read_metadata(tmpl, out_metadata, &version);
}

uint32_t zr_template_metadata_enroll_type(const zr_template* tmpl) {
    if (!zr_template_is_compatible(tmpl, ZR_TEMPLATE_METADATA)) return 0;
    zr_template_metadata metadata{};
    uint16_t version = 0;
    if (read_metadata(tmpl, &metadata, &version) != ZR_OK) return ZR_WRONG_TYPE;
    return version == 1 ? 0 : metadata.enroll_type;
}

zr_status zr_template_metadata_set_enroll_type(uint32_t enroll_type, zr_template** tmpl) {
    return set_field(metadata_field::enroll_type, enroll_type, tmpl);
}

zr_status zr_template_metadata_set_image_class(uint16_t image_class, zr_template** tmpl) {
    return set_field(metadata_field::image_class, image_class, tmpl);
}
