// Metadata setters and getters. The input is a template (a stored-type
// selector, a size and that many bytes) followed by operations of five bytes
// (kind, then a big-endian value). A setter that reports success has stored
// the value, kept the other fields and left one metadata record; a setter
// that fails leaves the caller's template as it was.
#include "fuzz_support.h"
#include "objects/zr_result.h"
#include "objects/zr_template.h"
#include "objects/zr_template_convert.h"
#include "objects/zr_template_generic.h"
#include "objects/zr_template_metadata.h"

namespace {

constexpr uint32_t kTypes[] = {ZR_TEMPLATE_GENERIC, ZR_TEMPLATE_METADATA, ZR_TEMPLATE_EHM, ZR_TEMPLATE_EHM_NEO,
                               ZR_TEMPLATE_MULTI, 0};
constexpr uint32_t kMaxOperations = 8;

// The conversion's codes (2 for no template, 3, 6), 1 for version 0, 4 for a
// wrong size.
bool getter_status_documented(uint32_t status) {
    return status == ZR_OK || status == ZR_BAD_ARGUMENT || status == ZR_UNHANDLED_INPUT || status == ZR_WRONG_TYPE ||
           status == ZR_BAD_FORMAT || status == ZR_NOT_FOUND;
}

bool setter_status_documented(uint32_t status) {
    return getter_status_documented(status) || status == ZR_NO_MEMORY || status == ZR_FAILURE;
}

// The metadata the template holds, or a failure status.
uint32_t read(const zr_template* tmpl, zr_template_metadata* out) {
    *out = zr_template_metadata{};
    const uint32_t status = zr_template_metadata_get(nullptr, tmpl, out);
    FUZZ_CHECK(getter_status_documented(status));
    return status;
}

// Number of type-86 entries of a container (1 for a bare record).
uint32_t metadata_records(const zr_template* tmpl) {
    if (zr_template_get_type(tmpl) == ZR_TEMPLATE_METADATA) return 1;
    zr_generic_container parsed{};
    if (!zr_template_generic_parse(tmpl, &parsed)) return 0;
    uint32_t count = 0;
    for (uint32_t i = 0; i < parsed.count; ++i) count += parsed.entries[i].type == ZR_TEMPLATE_METADATA;
    return count;
}

void apply(zr_template** tmpl, uint8_t kind, uint32_t value) {
    const bool set_class = (kind & 1) != 0;
    zr_template_metadata before{};
    read(*tmpl, &before);  // zeros when there is no readable record
    zr_template* const old = *tmpl;
    const uint32_t status = set_class ? zr_template_metadata_set_image_class(uint16_t(value), tmpl)
                                      : zr_template_metadata_set_enroll_type(value, tmpl);
    FUZZ_CHECK(setter_status_documented(status));
    if (status != ZR_OK) {
        FUZZ_CHECK(*tmpl == old);
        return;
    }
    FUZZ_CHECK(*tmpl != nullptr);
    zr_template_metadata after{};
    FUZZ_CHECK(read(*tmpl, &after) == ZR_OK);
    if (set_class) {
        FUZZ_CHECK(after.image_class == uint16_t(value));
    } else {
        // The record holds the enrol type in one byte.
        FUZZ_CHECK(after.enroll_type == (value & 0xFF));
        FUZZ_CHECK(zr_template_metadata_enroll_type(*tmpl) == (value & 0xFF));
    }
    // Fields the old record held are kept; without one they are 0.
    FUZZ_CHECK(after.rows == before.rows && after.cols == before.cols);
    if (set_class) FUZZ_CHECK(after.enroll_type == before.enroll_type);
    if (!set_class) FUZZ_CHECK(after.image_class == before.image_class);
    // A new template holds exactly one record (an unchanged one may keep
    // later duplicates, which no reader sees).
    if (*tmpl != old) FUZZ_CHECK(metadata_records(*tmpl) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FieldReader fields(data, size);
    const uint8_t selector = fields.u8();
    const uint16_t template_size = fields.u16();
    const uint8_t* template_bytes = nullptr;
    const size_t taken = fields.take(template_size, &template_bytes);
    const fuzz::ExactCopy bytes(template_bytes, taken);

    // Selector bit 7: no template at all (the setters start from nothing).
    zr_template* tmpl = nullptr;
    if ((selector & 0x80) == 0) {
        tmpl = zr_template_create(kTypes[selector % std::size(kTypes)], bytes.data(), bytes.size());
        FUZZ_CHECK(tmpl != nullptr);
    }
    zr_template_metadata metadata{};
    read(tmpl, &metadata);
    const uint32_t enroll_type = zr_template_metadata_enroll_type(tmpl);
    FUZZ_CHECK(enroll_type <= 0xFF || enroll_type == ZR_WRONG_TYPE);

    for (uint32_t i = 0; i < kMaxOperations && fields.rest_size() != 0; ++i) {
        const uint8_t kind = fields.u8();
        apply(&tmpl, kind, fields.u32());
    }
    zr_template_delete(tmpl);
    return 0;
}
