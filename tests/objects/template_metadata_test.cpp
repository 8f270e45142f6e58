#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objects/zr_result.h"
#include "objects/zr_template_convert.h"
#include "objects/zr_template_generic.h"
#include "objects/zr_template_metadata.h"

namespace {

using bytes = std::vector<uint8_t>;

struct TemplateDeleter {
    void operator()(zr_template* t) const { zr_template_delete(t); }
};
using template_ptr = std::unique_ptr<zr_template, TemplateDeleter>;

template_ptr make(uint32_t type, const bytes& data) {
    return template_ptr(zr_template_create(type, data.data(), uint32_t(data.size())));
}

bytes metadata_bytes(const zr_template* tmpl) {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(zr_template_convert(tmpl, 86, &data, &size), ZR_OK);
    return bytes(data, data + size);
}

TEST(TemplateMetadata, EncodeWritesVersion3BigEndian) {
    const zr_template_metadata metadata{96, 176, 0x0102, 508, 0x1FF};
    zr_template* out = nullptr;
    ASSERT_EQ(zr_template_metadata_encode(nullptr, &metadata, &out), ZR_OK);
    template_ptr tmpl(out);
    EXPECT_EQ(tmpl->type, 86u);
    EXPECT_EQ(bytes(tmpl->data, tmpl->data + tmpl->size),
              (bytes{0, 3, 0, 176, 0, 96, 1, 2, 0xFF, 0x01, 0xFC}));
    zr_template_metadata back{};
    ASSERT_EQ(zr_template_metadata_get(nullptr, tmpl.get(), &back), ZR_OK);
    EXPECT_EQ(back.rows, 176);
    EXPECT_EQ(back.cols, 96);
    EXPECT_EQ(back.image_class, 0x0102);
    EXPECT_EQ(back.resolution, 508);
    EXPECT_EQ(back.enroll_type, 0xFFu);
    EXPECT_EQ(zr_template_metadata_encode(nullptr, nullptr, &out), ZR_BAD_ARGUMENT);
    EXPECT_EQ(zr_template_metadata_encode(nullptr, &metadata, nullptr), ZR_BAD_ARGUMENT);
}

TEST(TemplateMetadata, ReadsEachVersionBySize) {
    const zr_template_metadata untouched{7, 7, 7, 7, 7};
    struct Case {
        bytes data;
        zr_status status;
        zr_template_metadata expected;
    };
    const Case cases[] = {
        {{0, 1, 0, 10, 0, 20, 0, 30}, ZR_OK, {20, 10, 30, 7, 7}},
        {{0, 2, 0, 10, 0, 20, 0, 30, 4}, ZR_OK, {20, 10, 30, 7, 4}},
        {{0, 3, 0, 10, 0, 20, 0, 30, 4, 1, 244}, ZR_OK, {20, 10, 30, 500, 4}},
        {{0, 9, 0, 10, 0, 20, 0, 30, 4, 1, 244}, ZR_OK, {20, 10, 30, 500, 4}},  // later: as 3
        {{0, 3, 0, 10, 0, 20, 0, 30, 4}, ZR_BAD_FORMAT, untouched},   // 9 bytes claiming version 3
        {{0, 1, 0, 10, 0, 20, 0, 30, 0}, ZR_BAD_FORMAT, untouched},
        {{0, 0, 0, 10, 0, 20, 0, 30}, ZR_UNHANDLED_INPUT, untouched},      // version 0
        {{0}, ZR_BAD_FORMAT, untouched},
    };
    for (const Case& c : cases) {
        template_ptr tmpl = make(86, c.data);
        zr_template_metadata out = untouched;
        EXPECT_EQ(zr_template_metadata_get(nullptr, tmpl.get(), &out), c.status)
            << ::testing::PrintToString(c.data);
        EXPECT_EQ(out.rows, c.expected.rows);
        EXPECT_EQ(out.cols, c.expected.cols);
        EXPECT_EQ(out.image_class, c.expected.image_class);
        EXPECT_EQ(out.resolution, c.expected.resolution);
        EXPECT_EQ(out.enroll_type, c.expected.enroll_type);
    }
    zr_template_metadata out{};
    template_ptr ehm = make(67, {1, 2});
    EXPECT_EQ(zr_template_metadata_get(nullptr, ehm.get(), &out), ZR_WRONG_TYPE);  // no conversion to 86
    EXPECT_EQ(zr_template_metadata_get(nullptr, nullptr, &out), ZR_BAD_ARGUMENT);
}

TEST(TemplateMetadata, EnrollType) {
    EXPECT_EQ(zr_template_metadata_enroll_type(make(67, {1}).get()), 0u);
    EXPECT_EQ(zr_template_metadata_enroll_type(make(86, {0, 1, 0, 1, 0, 1, 0, 1}).get()), 0u);
    EXPECT_EQ(zr_template_metadata_enroll_type(make(86, {0, 2, 0, 1, 0, 1, 0, 1, 9}).get()), 9u);
    EXPECT_EQ(zr_template_metadata_enroll_type(make(86, {0, 3, 0, 1, 0, 1, 0, 1, 9}).get()), 3u);
    EXPECT_EQ(zr_template_metadata_enroll_type(make(86, {0, 0, 0, 1, 0, 1, 0, 1}).get()), 3u);
    EXPECT_EQ(zr_template_metadata_enroll_type(nullptr), 0u);
}

TEST(TemplateMetadata, SettingTheEnrollTypeBuildsANewContainer) {
    zr_template* tmpl = zr_template_create(67, reinterpret_cast<const uint8_t*>("ehm"), 3);
    zr_template* original = tmpl;
    zr_template_retain(original);  // watch the caller's old reference go
    ASSERT_EQ(zr_template_metadata_set_enroll_type(5, &tmpl), ZR_OK);
    EXPECT_NE(tmpl, original);
    EXPECT_EQ(original->ref_count, 1u);
    zr_template_delete(original);
    EXPECT_EQ(tmpl->type, 84u);
    EXPECT_EQ(zr_template_generic_has_data(tmpl, 67), 1);
    EXPECT_EQ(metadata_bytes(tmpl), (bytes{0, 3, 0, 0, 0, 0, 0, 0, 5, 0, 0}));
    EXPECT_EQ(zr_template_metadata_enroll_type(tmpl), 5u);

    // The same value again changes nothing.
    zr_template* before = tmpl;
    ASSERT_EQ(zr_template_metadata_set_enroll_type(5, &tmpl), ZR_OK);
    EXPECT_EQ(tmpl, before);
    // A new class keeps the enrol type and the other fields.
    ASSERT_EQ(zr_template_metadata_set_image_class(0x0A0B, &tmpl), ZR_OK);
    EXPECT_EQ(metadata_bytes(tmpl), (bytes{0, 3, 0, 0, 0, 0, 0x0A, 0x0B, 5, 0, 0}));
    EXPECT_EQ(zr_template_generic_verify_integrity(tmpl, 2), 1);
    zr_template_delete(tmpl);
}

TEST(TemplateMetadata, OldRecordsAreUpgradedAndOddCasesReported) {
    const bytes v1 = {0, 1, 0, 176, 0, 96, 0, 4};
    zr_template* tmpl = zr_template_generic_insert(nullptr, 86, v1.data(), uint32_t(v1.size()));
    ASSERT_EQ(zr_template_metadata_set_enroll_type(2, &tmpl), ZR_OK);
    EXPECT_EQ(metadata_bytes(tmpl), (bytes{0, 3, 0, 176, 0, 96, 0, 4, 2, 0, 0}));
    zr_template_delete(tmpl);

    // No template yet: the result is the bare metadata record.
    zr_template* none = nullptr;
    ASSERT_EQ(zr_template_metadata_set_image_class(3, &none), ZR_OK);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->type, 86u);
    EXPECT_EQ(none->ref_count, 1u);
    // A bare record cannot have its entry removed.
    zr_template* bare = none;
    EXPECT_EQ(zr_template_metadata_set_image_class(4, &bare), ZR_FAILURE);
    EXPECT_EQ(bare, none);
    zr_template_delete(none);

    const bytes broken = {0, 3, 0, 1};
    zr_template* wrong_size = zr_template_generic_insert(nullptr, 86, broken.data(), 4);
    zr_template* kept = wrong_size;
    EXPECT_EQ(zr_template_metadata_set_enroll_type(1, &wrong_size), ZR_BAD_FORMAT);
    EXPECT_EQ(wrong_size, kept);
    zr_template_delete(wrong_size);
    EXPECT_EQ(zr_template_metadata_set_enroll_type(1, nullptr), ZR_BAD_ARGUMENT);
}

bytes from_hex(const char* hex) {
    bytes out;
    for (const char* p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
        out.push_back(uint8_t(std::stoi(std::string(p, 2), nullptr, 16)));
    }
    return out;
}

// A setter that reports success has stored the value; a template it cannot
// update is left as it was with a failure code.
TEST(TemplateMetadata, SettersStoreTheValueOrFail) {
    // Two type-86 entries (version-3 record of zeros, then an empty one); the
    // table CRC is not checked by the setters.
    const bytes two_records = from_hex(
        "564f5254414e450001020000000000560000000b00000000000300000000000000000000"
        "560000000000000000464f4f46");
    struct Case {
        const char* name;
        uint32_t type;
        bytes data;
        zr_status status;  // of both setters
    };
    const Case cases[] = {
        {"bare type-86 template without bytes", 86, {}, ZR_BAD_FORMAT},
        {"container with a second, empty type-86 entry", 84, two_records, ZR_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool set_class : {false, true}) {
            SCOPED_TRACE(set_class ? "image class" : "enrol type");
            zr_template* tmpl = zr_template_create(c.type, c.data.data(), uint32_t(c.data.size()));
            zr_template* original = tmpl;
            const zr_status status = set_class ? zr_template_metadata_set_image_class(5, &tmpl)
                                               : zr_template_metadata_set_enroll_type(5, &tmpl);
            EXPECT_EQ(c.status, status);
            if (status == ZR_OK) {
                zr_template_metadata read{};
                ASSERT_EQ(ZR_OK, zr_template_metadata_get(nullptr, tmpl, &read));
                EXPECT_EQ(5u, set_class ? read.image_class : read.enroll_type);
                EXPECT_EQ(set_class ? 0u : 5u, zr_template_metadata_enroll_type(tmpl));
                // Exactly one metadata entry remains.
                zr_template* rest = zr_template_remove_data_of_type(tmpl, 86);
                ASSERT_NE(rest, nullptr);
                EXPECT_EQ(0, zr_template_generic_has_data(rest, 86));
                zr_template_delete(rest);
            } else {
                EXPECT_EQ(tmpl, original);
            }
            zr_template_delete(tmpl);
        }
    }
}

zr_status fill_class(void*, zr_image*, uint16_t* image_class, uint16_t*, uint32_t* enroll_type,
                     zr_template**) {
    *image_class = 12;
    *enroll_type = 3;
    return ZR_OK;
}

zr_status refuse(void*, zr_image*, uint16_t*, uint16_t*, uint32_t*, zr_template**) { return ZR_PART_MISSING; }

TEST(TemplateMetadata, ExtractFromAnImage) {
    zr_image* image = zr_image_create(176, 96, 500, 500, nullptr, 0);
    zr_template* out = nullptr;
    ASSERT_EQ(zr_template_metadata_extract(nullptr, image, fill_class, &out), ZR_OK);
    EXPECT_EQ(bytes(out->data, out->data + out->size),
              (bytes{0, 3, 0, 176, 0, 96, 0, 12, 3, 0x01, 0xF4}));
    zr_template_delete(out);
    out = nullptr;
    ASSERT_EQ(zr_template_metadata_extract(nullptr, image, nullptr, &out), ZR_OK);
    EXPECT_EQ(bytes(out->data, out->data + out->size),
              (bytes{0, 3, 0, 176, 0, 96, 0, 0, 0, 0x01, 0xF4}));
    zr_template_delete(out);
    out = nullptr;
    EXPECT_EQ(zr_template_metadata_extract(nullptr, image, refuse, &out), ZR_PART_MISSING);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(zr_template_metadata_extract(nullptr, nullptr, nullptr, &out), ZR_BAD_ARGUMENT);
    zr_image_delete(image);
}

}  // namespace
