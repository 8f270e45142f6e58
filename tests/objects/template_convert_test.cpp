#include <gtest/gtest.h>

#include <vector>

#include "ber_oracle.h"
#include "objects/zr_template_convert.h"
#include "objects/zr_template_generic.h"

namespace {

using bytes = std::vector<uint8_t>;
using ber_oracle::concat;
using ber_oracle::encode;

struct TemplateDeleter {
    void operator()(zr_template* t) const { zr_template_delete(t); }
};
using template_ptr = std::unique_ptr<zr_template, TemplateDeleter>;

template_ptr make(uint32_t type, const bytes& data) {
    return template_ptr(zr_template_create(type, data.data(), uint32_t(data.size())));
}

// A fusion-form EHM template: 0x7F2E { 0xA1 { 0x81 }, 0xA2 { parts } }.
bytes fusion(const bytes& parts) {
    return encode(0x7F2E, concat({encode(0xA1, encode(0x81, {1, 2, 3})), encode(0xA2, parts)}));
}

const bytes kParts = concat({encode(0xC1, {10, 11}), encode(0xC5, {20, 21, 22}),
                             encode(0xC6, {30}), encode(0xCA, {40, 41, 42, 43}),
                             encode(0xC9, {50, 51})});

struct View {
    zr_status status;
    bytes data;
    const uint8_t* pointer;
};

View convert(const zr_template* tmpl, uint32_t target) {
    const uint8_t* data = reinterpret_cast<const uint8_t*>(1);
    uint32_t size = 77;
    const zr_status status = zr_template_convert(tmpl, target, &data, &size);
    View view{status, {}, data};
    if (status == ZR_OK && data != nullptr) view.data.assign(data, data + size);
    if (status != ZR_OK) {
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(size, 0u);
    }
    return view;
}

TEST(TemplateConvert, PartsOfAFusionTemplateAreViews) {
    const bytes data = fusion(kParts);
    template_ptr ehm = make(67, data);
    struct Case {
        uint32_t target;
        bytes expected;
    };
    const Case cases[] = {
        {67, data}, {73, data}, {74, data}, {78, data}, {2, data}, {66, {10, 11}},
        {77, {20, 21, 22}}, {79, {30}}, {83, {40, 41, 42, 43}}, {85, {50, 51}},
    };
    for (const Case& c : cases) {
        const View view = convert(ehm.get(), c.target);
        EXPECT_EQ(view.status, ZR_OK) << c.target;
        EXPECT_EQ(view.data, c.expected) << c.target;
        EXPECT_GE(view.pointer, ehm->data);
        EXPECT_LE(view.pointer, ehm->data + ehm->size);
        EXPECT_EQ(zr_template_is_compatible(ehm.get(), c.target), 1) << c.target;
    }
    // The same conversions from a type-78 source.
    template_ptr neo = make(78, data);
    EXPECT_EQ(convert(neo.get(), 77).data, (bytes{20, 21, 22}));
    EXPECT_EQ(convert(neo.get(), 67).data, data);
}

TEST(TemplateConvert, UnavailableOrUnknownConversionsNeverSucceed) {
    template_ptr ehm = make(67, fusion(kParts));
    // Targets without converter.
    for (uint32_t target : {80u, 1u, 3u, 71u, 72u, 86u, 999u}) {
        EXPECT_EQ(convert(ehm.get(), target).status, ZR_WRONG_TYPE) << target;
        EXPECT_EQ(zr_template_is_compatible(ehm.get(), target), 0) << target;
    }
    // Sources that have no conversions.
    for (uint32_t source : {1u, 2u, 71u, 72u, 80u, 86u}) {
        template_ptr other = make(source, fusion(kParts));
        EXPECT_EQ(convert(other.get(), 77).status, ZR_WRONG_TYPE) << source;
        EXPECT_EQ(zr_template_is_compatible(other.get(), 77), 0) << source;
    }
    // Absent parts.
    template_ptr without_c5 = make(67, fusion(encode(0xC1, {1})));
    for (uint32_t target : {77u, 78u, 79u, 83u, 85u}) {
        EXPECT_EQ(convert(without_c5.get(), target).status, ZR_WRONG_TYPE) << target;
    }
    template_ptr without_c1 = make(67, fusion(encode(0xC5, {1})));
    EXPECT_EQ(convert(without_c1.get(), 66).status, ZR_WRONG_TYPE);
    // An EHM root (0xE1) holds its parts directly, not under 0x7F2E > 0xA2.
    template_ptr e1 = make(67, encode(0xE1, concat({encode(0x7F2E, encode(0x81, {1})),
                                                   encode(0xC5, {1})})));
    EXPECT_EQ(convert(e1.get(), 77).status, ZR_WRONG_TYPE);
    // The card and the spectral part are found under an EHM root too: the
    // card is its first child, whole.
    const bytes e1_card = encode(0x7F2E, encode(0x81, {1, 2, 3}));
    template_ptr e1_spectral = make(67, encode(0xE1, concat({e1_card, encode(0xC1, {7, 8})})));
    EXPECT_EQ(convert(e1_spectral.get(), 2).data, e1_card);
    EXPECT_EQ(convert(e1_spectral.get(), 66).data, (bytes{7, 8}));
    template_ptr e1_not_card_first = make(67, encode(0xE1, concat({encode(0xC1, {7}), e1_card})));
    EXPECT_EQ(convert(e1_not_card_first.get(), 2).status, ZR_WRONG_TYPE);
    // A present but empty part converts to empty data, which is not compatible.
    template_ptr empty_part = make(67, fusion(encode(0xC5, {})));
    const View view = convert(empty_part.get(), 77);
    EXPECT_EQ(view.status, ZR_OK);
    EXPECT_TRUE(view.data.empty());
    EXPECT_EQ(zr_template_is_compatible(empty_part.get(), 77), 0);
    EXPECT_EQ(zr_template_is_compatible(empty_part.get(), 78), 1);
}

TEST(TemplateConvert, TruncatedSourcesAreRefused) {
    const bytes data = fusion(kParts);
    for (size_t size = 0; size < data.size(); ++size) {
        template_ptr cut(zr_template_create(67, data.data(), uint32_t(size)));
        for (uint32_t target : {2u, 66u, 77u, 78u, 85u}) {
            EXPECT_EQ(convert(cut.get(), target).status, ZR_WRONG_TYPE) << size << " " << target;
        }
    }
}

TEST(TemplateConvert, AliasesAndArguments) {
    const bytes data = {9, 9};
    template_ptr stored74 = make(74, data);
    const View own = convert(stored74.get(), 67);
    EXPECT_EQ(own.status, ZR_OK);
    EXPECT_EQ(own.pointer, stored74->data);
    template_ptr iso = make(4, data);
    EXPECT_EQ(convert(iso.get(), 1).pointer, iso->data);
    const uint8_t* out = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(zr_template_convert(nullptr, 67, &out, &size), ZR_BAD_ARGUMENT);
    EXPECT_EQ(zr_template_convert(stored74.get(), 67, nullptr, &size), ZR_BAD_ARGUMENT);
    EXPECT_EQ(zr_template_convert(stored74.get(), 67, &out, nullptr), ZR_BAD_ARGUMENT);
    EXPECT_EQ(zr_template_is_compatible(nullptr, 67), 0);
    template_ptr empty = make(67, {});
    EXPECT_EQ(zr_template_is_compatible(empty.get(), 67), 0);
}

TEST(TemplateConvert, ContainersGiveEntriesOrConvertTheirEhmEntry) {
    const bytes ehm_bytes = fusion(kParts);
    const bytes meta = {0, 3, 0, 176, 0, 96, 0, 0, 0, 1, 244};
    template_ptr ehm = make(67, ehm_bytes);
    template_ptr container(zr_template_generic_insert(nullptr, 67, ehm_bytes.data(),
                                                      uint32_t(ehm_bytes.size())));
    ASSERT_NE(container, nullptr);
    container.reset(zr_template_generic_insert(container.get(), 86, meta.data(),
                                               uint32_t(meta.size())));
    ASSERT_NE(container, nullptr);

    const View entry = convert(container.get(), 86);
    EXPECT_EQ(entry.status, ZR_OK);
    EXPECT_EQ(entry.data, meta);
    EXPECT_GT(entry.pointer, container->data);  // inside the container's own bytes
    EXPECT_EQ(convert(container.get(), 77).data, (bytes{20, 21, 22}));
    EXPECT_EQ(convert(container.get(), 84).pointer, container->data);
    EXPECT_EQ(convert(container.get(), 2).data, ehm_bytes);
    EXPECT_EQ(convert(container.get(), 80).status, ZR_WRONG_TYPE);

    // Compatibility with a container asks for the entry only.
    EXPECT_EQ(zr_template_is_compatible(container.get(), 86), 1);
    EXPECT_EQ(zr_template_is_compatible(container.get(), 67), 1);
    EXPECT_EQ(zr_template_is_compatible(container.get(), 77), 0);
    EXPECT_EQ(zr_template_is_compatible(container.get(), 2), 0);

    // Without the target and without an EHM entry: not found.
    template_ptr meta_only(zr_template_generic_insert(nullptr, 86, meta.data(),
                                                      uint32_t(meta.size())));
    EXPECT_EQ(convert(meta_only.get(), 77).status, ZR_NOT_FOUND);
    template_ptr empty(zr_template_generic_convert(nullptr));
    EXPECT_EQ(convert(empty.get(), 77).status, ZR_NOT_FOUND);
    template_ptr broken = make(84, {'V', 'O', 'R'});
    EXPECT_EQ(convert(broken.get(), 77).status, ZR_WRONG_TYPE);
}

}  // namespace
