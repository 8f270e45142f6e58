// The generic container "VORTANE": parse, write back, integrity levels,
// extraction, removal and the metadata read through it. Parsing and writing
// agree: a parsed container writes to bytes that parse to the same entries,
// and a version-1 container whose table CRC holds is written back unchanged.
#include <cstdlib>

#include "fuzz_support.h"
#include "objects/zr_result.h"
#include "objects/zr_template_generic.h"
#include "objects/zr_template_metadata.h"

namespace {

// Entry types worth asking for besides those present.
constexpr uint32_t kTypes[] = {ZR_TEMPLATE_EHM, ZR_TEMPLATE_MULTI, ZR_TEMPLATE_GENERIC,
                               ZR_TEMPLATE_METADATA, 0};

struct TemplateDeleter {
    void operator()(zr_template* t) const { zr_template_delete(t); }
};
using template_ptr = std::unique_ptr<zr_template, TemplateDeleter>;

bool same_entries(const zr_generic_container& a, const zr_generic_container& b) {
    if (a.count != b.count) return false;
    for (uint32_t i = 0; i < a.count; ++i) {
        const zr_generic_entry& x = a.entries[i];
        const zr_generic_entry& y = b.entries[i];
        if (x.type != y.type || x.size != y.size || x.crc != y.crc) return false;
        if (x.size != 0 && std::memcmp(x.data, y.data, x.size) != 0) return false;
    }
    return true;
}

const zr_generic_entry* first_entry(const zr_generic_container& c, uint32_t type) {
    for (uint32_t i = 0; i < c.count; ++i)
        if (c.entries[i].type == type) return &c.entries[i];
    return nullptr;
}

void check_write_back(const zr_generic_container& parsed, const fuzz::ExactCopy& input, bool table_crc_holds) {
    zr_generic_container as_v1 = parsed;
    as_v1.version = 1;
    template_ptr written(serialize_template(&as_v1));
    FUZZ_CHECK(written != nullptr);
    FUZZ_CHECK(zr_template_generic_verify_integrity(written.get(), 1) == 1);
    zr_generic_container again{};
    FUZZ_CHECK(zr_template_generic_parse(written.get(), &again));
    FUZZ_CHECK(again.version == 1 && same_entries(parsed, again));
    FUZZ_CHECK(zr_template_generic_table_crc(&again) == again.table_crc);
    if (parsed.version == 1 && table_crc_holds) {
        FUZZ_CHECK(written->size == input.size() && std::memcmp(written->data, input.data(), input.size()) == 0);
    }
}

void check_integrity_levels(const zr_template* tmpl, bool parses) {
    int32_t result[4];
    for (int32_t level = -1; level <= 2; ++level) {
        result[level + 1] = zr_template_generic_verify_integrity(tmpl, level);
        FUZZ_CHECK(result[level + 1] == 0 || result[level + 1] == 1);
    }
    const bool has_bytes = tmpl->size != 0;
    FUZZ_CHECK(result[0] == (parses && has_bytes));  // level -1: it parses
    FUZZ_CHECK(result[3] <= result[2]);               // each level includes the one below
    FUZZ_CHECK(result[2] <= result[1] && result[2] <= result[0]);
}

void check_lookups(const zr_template* tmpl, const zr_generic_container* parsed) {
    uint32_t types[ZR_GENERIC_MAX_ENTRIES + std::size(kTypes)];
    uint32_t type_count = 0;
    for (uint32_t t : kTypes) types[type_count++] = t;
    if (parsed != nullptr)
        for (uint32_t i = 0; i < parsed->count; ++i) types[type_count++] = parsed->entries[i].type;

    for (uint32_t i = 0; i < type_count; ++i) {
        const uint32_t type = types[i];
        const uint8_t* data = nullptr;
        uint32_t size = 0;
        const uint32_t status = zr_template_generic_extract(tmpl, type, &data, &size);
        const zr_generic_entry* entry = parsed != nullptr ? first_entry(*parsed, type) : nullptr;
        if (parsed == nullptr) {
            FUZZ_CHECK(status == ZR_WRONG_TYPE && data == nullptr && size == 0);
        } else if (entry == nullptr) {
            FUZZ_CHECK(status == ZR_NOT_FOUND && data == nullptr && size == 0);
        } else {
            FUZZ_CHECK(status == ZR_OK && data == entry->data && size == entry->size);
        }
        FUZZ_CHECK(zr_template_generic_has_data(tmpl, type) == (entry != nullptr));

        const uint8_t* removed = nullptr;
        uint32_t removed_size = 0;
        template_ptr rest(zr_template_generic_remove(tmpl, type, &removed, &removed_size));
        FUZZ_CHECK((rest != nullptr) == (entry != nullptr));
        if (rest != nullptr) {
            FUZZ_CHECK(removed == entry->data && removed_size == entry->size);
            zr_generic_container reduced{};
            FUZZ_CHECK(zr_template_generic_parse(rest.get(), &reduced));
            FUZZ_CHECK(reduced.count + 1 == parsed->count);
        }
    }
    FUZZ_CHECK(zr_template_generic_is_empty(tmpl) == (parsed == nullptr || parsed->count == 0));

    zr_template_metadata metadata{};
    const uint32_t status = zr_template_metadata_get(nullptr, tmpl, &metadata);
    FUZZ_CHECK(status == ZR_OK || status == ZR_UNHANDLED_INPUT || status == ZR_WRONG_TYPE ||
               status == ZR_BAD_FORMAT || status == ZR_NOT_FOUND);
    const uint32_t enroll_type = zr_template_metadata_enroll_type(tmpl);
    if (status == ZR_OK) FUZZ_CHECK(enroll_type <= 0xFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz::ExactCopy input(data, size);
    template_ptr tmpl(zr_template_create_mr(ZR_TEMPLATE_GENERIC, input.data(), input.size()));
    FUZZ_CHECK(tmpl != nullptr);

    zr_generic_container* parsed = deserialize_template(tmpl.get());
    if (parsed != nullptr) {
        FUZZ_CHECK(parsed->count <= ZR_GENERIC_MAX_ENTRIES);
        for (uint32_t i = 0; i < parsed->count; ++i) {
            const zr_generic_entry& entry = parsed->entries[i];
            FUZZ_CHECK(entry.type != 0);
            FUZZ_CHECK(fuzz::span_inside(entry.data, entry.size, input.data(), input.size()));
        }
        const bool table_crc_holds = zr_template_generic_table_crc(parsed) == parsed->table_crc;
        if (input.size() != 0) {
            FUZZ_CHECK(zr_template_generic_verify_integrity(tmpl.get(), 1) ==
                       (zr_template_generic_verify_integrity(tmpl.get(), 0) && table_crc_holds));
        }
        check_write_back(*parsed, input, table_crc_holds);
    }
    check_integrity_levels(tmpl.get(), parsed != nullptr);
    check_lookups(tmpl.get(), parsed);
    std::free(parsed);
    return 0;
}
