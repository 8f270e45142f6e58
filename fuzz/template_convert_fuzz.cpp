// Template conversion and compatibility. The first input byte picks the
// template's stored type, the rest are its bytes. Every view lies inside the
// template's bytes, statuses are from the documented set, and the
// compatibility answer agrees with the conversion.
#include "fuzz_support.h"
#include "objects/zr_result.h"
#include "objects/zr_template.h"
#include "objects/zr_template_convert.h"
#include "objects/zr_template_generic.h"

namespace {

constexpr uint32_t kTypes[] = {
    ZR_TEMPLATE_ISO19794_2, ZR_TEMPLATE_ISO_COMPACT_CARD, ZR_TEMPLATE_ANSI378, ZR_TEMPLATE_ISO_COMPACT_CARD_ALIAS,
    ZR_TEMPLATE_SPECTRAL, ZR_TEMPLATE_EHM, ZR_TEMPLATE_RAW_IMAGE, ZR_TEMPLATE_EHM_IMAGE, ZR_TEMPLATE_EHM_RECORD,
    ZR_TEMPLATE_EHM_PRESET, ZR_TEMPLATE_EHM_PRESET_IMAGE, ZR_TEMPLATE_PART_C5, ZR_TEMPLATE_EHM_NEO,
    ZR_TEMPLATE_PART_C6, ZR_TEMPLATE_MULTI, ZR_TEMPLATE_PART_CA, ZR_TEMPLATE_GENERIC, ZR_TEMPLATE_PART_C9,
    ZR_TEMPLATE_METADATA,
};

struct TemplateDeleter {
    void operator()(zr_template* t) const { zr_template_delete(t); }
};
using template_ptr = std::unique_ptr<zr_template, TemplateDeleter>;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint32_t source_type = kTypes[data[0] % std::size(kTypes)];
    const fuzz::ExactCopy input(data + 1, size - 1);
    template_ptr tmpl(zr_template_create_mr(source_type, input.data(), input.size()));
    FUZZ_CHECK(tmpl != nullptr);
    const bool is_container = zr_template_get_type(tmpl.get()) == ZR_TEMPLATE_GENERIC;

    for (uint32_t target : kTypes) {
        const uint8_t* view = nullptr;
        uint32_t view_size = 0;
        const uint32_t status = zr_template_convert(tmpl.get(), target, &view, &view_size);
        FUZZ_CHECK(status == ZR_OK || status == ZR_WRONG_TYPE || status == ZR_NOT_FOUND);
        if (status == ZR_OK) {
            FUZZ_CHECK(fuzz::span_inside(view, view_size, input.data(), input.size()));
        } else {
            FUZZ_CHECK(view == nullptr && view_size == 0);
        }
        const int32_t compatible = zr_template_is_compatible(tmpl.get(), target);
        FUZZ_CHECK(compatible == 0 || compatible == 1);
        if (is_container) {
            // A container answers from its entries without converting.
            FUZZ_CHECK(compatible == zr_template_generic_has_data(tmpl.get(), target));
            if (compatible) FUZZ_CHECK(status == ZR_OK);
        } else {
            FUZZ_CHECK(compatible == (status == ZR_OK && view != nullptr && view_size != 0));
        }
    }

    // Wrapped in a container, the template's bytes come back under its type.
    template_ptr wrapped(zr_template_generic_convert(tmpl.get()));
    FUZZ_CHECK(wrapped != nullptr);
    if (!is_container) {
        const uint8_t* entry = nullptr;
        uint32_t entry_size = 0;
        FUZZ_CHECK(zr_template_generic_extract(wrapped.get(), zr_template_get_type(tmpl.get()), &entry,
                                               &entry_size) == ZR_OK);
        FUZZ_CHECK(entry_size == input.size());
        FUZZ_CHECK(entry_size == 0 || std::memcmp(entry, input.data(), entry_size) == 0);
        FUZZ_CHECK(zr_template_generic_verify_integrity(wrapped.get(), 2) == 1);
    }
    return 0;
}
