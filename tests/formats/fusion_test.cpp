#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "ber_oracle.h"
#include "formats/zr_fusion.h"
#include "formats/zr_fourier_part.h"
#include "objects/zr_alloc.h"

namespace {

using bytes = std::vector<uint8_t>;
using ber_oracle::concat;
using ber_oracle::encode;

const bytes kMinutiae = {10, 20, 0x41, 30, 40, 0x82};
const bytes kCores = {0x01, 0x40, 0x10, 0x00, 0x20, 0x33};
const bytes kDeltas = {0x00};
const bytes kCells = {40, 3, 5, 2, 0x12, 0x34, 0x56, 0x78};
const bytes kProprietary = {0x98, 0xEC, 0x15, 0xE1, 0xF5, 0xA5};

// Card of a 2011 record (elements directly under 0x7F2E, deliberately out of
// order) and of a 2005 record (under 0xA1); the proprietary part at the root.
const bytes kCard2011 = encode(0x7F2E, concat({encode(0x94, kCells), encode(0x92, kCores),
                                               encode(0x81, kMinutiae), encode(0x82, kProprietary)}));
const bytes kCard2005 = encode(0x7F2E, concat({encode(0xA1, concat({encode(0x90, kMinutiae),
                                                                    encode(0x92, kCores),
                                                                    encode(0x93, kDeltas)})),
                                               encode(0x82, kProprietary)}));

struct Field {
    bytes values, fine;
    zr_block_field field{};
    Field(uint8_t rows, uint8_t cols, uint8_t base, bool with_fine) {
        values.resize(size_t(rows) * cols);
        for (size_t i = 0; i < values.size(); ++i) values[i] = uint8_t(base + 7 * i);
        field.flags = ZR_FEATURE_ENABLE;
        field.block_rows = rows;
        field.block_cols = cols;
        field.block_size = 12;
        field.row_offset = -2;
        field.col_offset = 4;
        field.values = values.data();
        if (with_fine) {
            fine.assign(values.size() * 9, base);
            field.flags |= ZR_FIELD_FINE;
            field.fine = fine.data();
        }
    }
};

struct Out {
    zr_status status;
    bytes data;
};

Out take(zr_status status, uint8_t* buffer, uint32_t length) {
    Out out{status, {}};
    if (buffer != nullptr) out.data.assign(buffer, buffer + length);
    if (status != ZR_OK) {
        EXPECT_EQ(nullptr, buffer);
        EXPECT_EQ(0u, length);
    }
    std::free(buffer);
    return out;
}

Out fusion(const bytes& card, const zr_block_field* o, const zr_block_field* f,
           const uint8_t* pixels, uint16_t rows, uint16_t cols) {
    uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
    uint32_t length = 99;
    const zr_status status = zr_iso_compactcard_to_iso_fusion(
        card.data(), uint32_t(card.size()), o, f, pixels, rows, cols, 3, 61, &buffer, &length);
    return take(status, buffer, length);
}

Out ehm(const bytes& card, const zr_block_field* o, const zr_block_field* f) {
    uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
    uint32_t length = 99;
    const zr_status status =
        zr_iso_compactcard_to_ehm(card.data(), uint32_t(card.size()), o, f, &buffer, &length);
    return take(status, buffer, length);
}

bytes spectral_of(const Field& o, const Field& f, bool record_form) {
    uint8_t* part = nullptr;
    uint32_t length = 0;
    EXPECT_EQ(ZR_OK, zr_spectral_part_write(&o.field, &f.field, record_form, &part, &length));
    bytes out(part, part + length);
    std::free(part);
    return out;
}

// The tags of the children of the 0xA2 node of a written fusion template.
std::vector<uint16_t> part_tags(const bytes& data) {
    ber_oracle::Node root;
    EXPECT_TRUE(ber_oracle::decode_first(data.data(), data.size(), {}, &root));
    std::vector<uint16_t> tags;
    for (const auto& child : root.children)
        if (child.tag == 0xA2)
            for (const auto& part : child.children) tags.push_back(part.tag);
    return tags;
}

TEST(FusionWriter, BothCardLayoutsGiveTheCardGroupInFixedOrder) {
    const Field o(2, 3, 10, false), f(2, 3, 90, false);
    const bytes spectral = spectral_of(o, f, false);
    const bytes idim = {1, 176, 0, 96, 0, 61};
    const uint8_t pixels[4] = {1, 2, 3, 4};
    const bytes zrit = {'Z', 'R', 'I', 'T', 0, 1, 0, 2, 0, 2, 0x01, 0xF4, 0x01, 0xF4, 3, 1, 2, 3, 4};

    const Out from2011 = fusion(kCard2011, &o.field, &f.field, nullptr, 176, 96);
    ASSERT_EQ(ZR_OK, from2011.status);
    EXPECT_EQ(encode(0x7F2E, concat({encode(0xA1, concat({encode(0x81, kMinutiae),
                                                          encode(0x92, kCores),
                                                          encode(0x94, kCells)})),
                                     encode(0xA2, concat({encode(0x82, kProprietary),
                                                          encode(0xC1, spectral),
                                                          encode(0xC3, idim)}))})),
              from2011.data);

    const bytes idim_2x2 = {1, 2, 0, 2, 0, 61};
    const Out from2005 = fusion(kCard2005, &o.field, &f.field, pixels, 2, 2);
    ASSERT_EQ(ZR_OK, from2005.status);
    EXPECT_EQ(encode(0x7F2E, concat({encode(0xA1, concat({encode(0x90, kMinutiae),
                                                          encode(0x92, kCores),
                                                          encode(0x93, kDeltas)})),
                                     encode(0xA2, concat({encode(0x82, kProprietary),
                                                          encode(0xC1, spectral),
                                                          encode(0xC2, zrit),
                                                          encode(0xC3, idim_2x2)}))})),
              from2005.data);
}

TEST(FusionWriter, OptionalPartsFollowTheirInputs) {
    const Field o(2, 3, 10, true), f(2, 3, 90, true), f_plain(2, 3, 90, false),
        f_other(3, 2, 90, false);
    const uint8_t pixels[4] = {};
    struct Case {
        const char* name;
        const zr_block_field* frequency;
        const uint8_t* pixels;
        uint16_t rows, cols;
        std::vector<uint16_t> tags;
    };
    const Case cases[] = {
        {"no frequency field", nullptr, nullptr, 176, 96, {0x82, 0xC3}},
        {"fields disagree", &f_other.field, nullptr, 176, 96, {0x82, 0xC3}},
        {"pixels of zero size", &f_plain.field, pixels, 0, 96, {0x82, 0xC1}},
        {"no pixels, a size", &f_plain.field, nullptr, 2, 2, {0x82, 0xC1, 0xC3}},
        {"pixels and size", &f.field, pixels, 2, 2, {0x82, 0xC1, 0xC2, 0xC3}},
    };
    for (const Case& c : cases) {
        const Out out = fusion(kCard2011, &o.field, c.frequency, c.pixels, c.rows, c.cols);
        ASSERT_EQ(ZR_OK, out.status) << c.name;
        EXPECT_EQ(c.tags, part_tags(out.data)) << c.name;
    }
    // Fine grids in both fields select the record form, else the plain form.
    zr_fusion_part part{};
    const Out record = fusion(kCard2011, &o.field, &f.field, nullptr, 2, 2);
    ASSERT_EQ(ZR_OK, zr_fusion_to_parts(record.data.data(), uint32_t(record.data.size()), nullptr,
                                        &part, nullptr, nullptr));
    EXPECT_EQ(spectral_of(o, f, true), bytes(part.value, part.value + part.length));
    const Out plain = fusion(kCard2011, &o.field, &f_plain.field, nullptr, 2, 2);
    ASSERT_EQ(ZR_OK, zr_fusion_to_parts(plain.data.data(), uint32_t(plain.data.size()), nullptr,
                                        &part, nullptr, nullptr));
    EXPECT_EQ(spectral_of(o, f_plain, false), bytes(part.value, part.value + part.length));
}

// The fusion writer tells a card that is not one (4) from one without
// minutiae (5); the EHM writer refuses every unusable card as unparsable (5),
// before it looks at the block fields.
TEST(FusionWriter, RefusesCardsItsReadersWouldRefuse) {
    const Field o(2, 3, 10, false), f(2, 3, 90, false), other(3, 2, 90, false);
    const bytes cut(kCard2011.begin(), kCard2011.end() - 1);
    struct Case {
        const char* name;
        bytes card;
        zr_status fusion;
        zr_status ehm;
    };
    const Case cases[] = {
        {"not a card", encode(0x7F2F, encode(0x81, kMinutiae)), ZR_BAD_FORMAT, ZR_BAD_DATA},
        {"length past the buffer", cut, ZR_BAD_FORMAT, ZR_BAD_DATA},
        {"garbage", {0xFF, 0xFF, 0xFF}, ZR_BAD_FORMAT, ZR_BAD_DATA},
        {"no minutiae part", encode(0x7F2E, encode(0x92, kCores)), ZR_BAD_DATA, ZR_BAD_DATA},
        {"minutiae under 0xA2 only", encode(0x7F2E, encode(0xA2, encode(0x81, kMinutiae))), ZR_BAD_DATA,
         ZR_BAD_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.fusion, fusion(c.card, &o.field, &f.field, nullptr, 2, 2).status);
        EXPECT_EQ(c.ehm, ehm(c.card, &o.field, &f.field).status);
        EXPECT_EQ(c.ehm, ehm(c.card, &o.field, &other.field).status);
    }
    // A card whose minutiae are found but whose tree does not parse (a nested
    // element runs past its parent) is unparsable for the EHM writer too.
    const bytes nested_cut = encode(0x7F2E, concat({encode(0x81, kMinutiae), bytes{0xA1, 0x05, 0x90, 0x01}}));
    EXPECT_EQ(ZR_BAD_DATA, ehm(nested_cut, &o.field, &f.field).status);
    EXPECT_EQ(ZR_BAD_DATA, ehm(nested_cut, &o.field, &other.field).status);
    // A longer buffer holding a card is fine.
    EXPECT_EQ(ZR_OK, fusion(concat({kCard2011, {0, 0, 0}}), &o.field, &f.field, nullptr, 2, 2).status);
    EXPECT_EQ(ZR_OK, ehm(concat({kCard2011, {0, 0, 0}}), &o.field, &f.field).status);
    EXPECT_EQ(ZR_BAD_ARGUMENT, fusion(kCard2011, nullptr, &f.field, nullptr, 2, 2).status);
}

TEST(FusionWriter, ReportsMemoryShortForTheRawImageAndTheSpectralPart) {
    const Field o(2, 3, 10, false), f(2, 3, 90, false);
    const uint8_t pixels[4] = {};
    zr_alloc_fail_after(1);  // the spectral part is made, the raw image is not
    EXPECT_EQ(ZR_NO_MEMORY, fusion(kCard2011, &o.field, &f.field, pixels, 2, 2).status);
    zr_alloc_fail_after(0);
    EXPECT_EQ(ZR_NO_MEMORY, fusion(kCard2011, &o.field, &f.field, pixels, 2, 2).status);
    EXPECT_EQ(ZR_NO_MEMORY, ehm(kCard2011, &o.field, &f.field).status);
    zr_alloc_fail_after(-1);
}

TEST(FusionWriter, RecordFormOverflowIsRefusedNotWritten) {
    const Field o(255, 255, 10, true), f(255, 255, 90, true);
    EXPECT_EQ(ZR_BAD_DATA, fusion(kCard2011, &o.field, &f.field, nullptr, 2, 2).status);
}

TEST(EhmWriter, PutsTheCardFirstAndThePlainSpectralPart) {
    const Field o(2, 3, 10, true), f(2, 3, 90, true);
    const Out out = ehm(kCard2005, &o.field, &f.field);
    ASSERT_EQ(ZR_OK, out.status);
    EXPECT_EQ(encode(0xE1, concat({kCard2005, encode(0xC1, spectral_of(o, f, false))})), out.data);

    const Field other(3, 2, 90, false), none(0, 3, 90, false);
    EXPECT_EQ(ZR_WRONG_TYPE, ehm(kCard2005, &o.field, &other.field).status);
    EXPECT_EQ(ZR_WRONG_TYPE, ehm(kCard2005, &none.field, &none.field).status);
    EXPECT_EQ(ZR_BAD_ARGUMENT, ehm(kCard2005, &o.field, nullptr).status);
}

TEST(FusionInsert, AppendsToTheFirstPartsGroup) {
    const bytes tmpl = encode(0x7F2E, concat({encode(0xA1, encode(0x81, kMinutiae)),
                                              encode(0xA2, encode(0xC1, {1, 2}))}));
    const uint8_t summary[4] = {5, 6, 7, 8};
    uint8_t* buffer = nullptr;
    uint32_t length = 0;
    zr_status status = zr_iso_fusion_insert(tmpl.data(), uint32_t(tmpl.size()), 0xCA, summary, 4,
                                            &buffer, &length);
    Out out = take(status, buffer, length);
    ASSERT_EQ(ZR_OK, out.status);
    EXPECT_EQ(encode(0x7F2E, concat({encode(0xA1, encode(0x81, kMinutiae)),
                                     encode(0xA2, concat({encode(0xC1, {1, 2}),
                                                          encode(0xCA, {5, 6, 7, 8})}))})),
              out.data);

    const bytes no_parts = encode(0x7F2E, encode(0xA1, encode(0x81, kMinutiae)));
    status = zr_iso_fusion_insert(no_parts.data(), uint32_t(no_parts.size()), 0xCA, summary, 4,
                                  &buffer, &length);
    out = take(status, buffer, length);
    EXPECT_EQ(ZR_NOT_ALLOWED, out.status);
    const bytes cut(tmpl.begin(), tmpl.end() - 1);
    status = zr_iso_fusion_insert(cut.data(), uint32_t(cut.size()), 0xCA, summary, 4, &buffer,
                                  &length);
    out = take(status, buffer, length);
    EXPECT_EQ(ZR_BAD_DATA, out.status);
}

TEST(FusionToEhm, RemovesTheRawImageUnderEitherRoot) {
    const bytes card = encode(0x7F2E, encode(0x81, kMinutiae));
    struct Case {
        const char* name;
        bytes input;
        zr_status status;
        bytes expected;
    };
    const Case cases[] = {
        {"fusion",
         encode(0x7F2E, concat({encode(0xA1, encode(0x81, kMinutiae)),
                                encode(0xA2, concat({encode(0xC1, {1}), encode(0xC2, {2, 2}),
                                                     encode(0xC3, {3})}))})),
         ZR_OK,
         encode(0x7F2E, concat({encode(0xA1, encode(0x81, kMinutiae)),
                                encode(0xA2, concat({encode(0xC1, {1}), encode(0xC3, {3})}))}))},
        {"EHM", encode(0xE1, concat({card, encode(0xC2, {2}), encode(0xC1, {1})})), ZR_OK,
         encode(0xE1, concat({card, encode(0xC1, {1})}))},
        {"without image", encode(0xE1, concat({card, encode(0xC1, {1})})), ZR_BAD_DATA, {}},
        {"trailing byte",
         concat({encode(0xE1, concat({card, encode(0xC2, {2})})), {0}}), ZR_BAD_DATA, {}},
        {"image outside 0xA2",
         encode(0x7F2E, concat({encode(0xA1, encode(0x81, kMinutiae)), encode(0xC2, {2})})),
         ZR_BAD_DATA, {}},
        // An element of the image's tag inside the card is card data: it stays,
        // and the image part itself goes.
        {"EHM card holding a 0xC2 element",
         encode(0xE1, concat({encode(0x7F2E, encode(0xC2, {})), encode(0xC2, {0x6E})})), ZR_OK,
         encode(0xE1, encode(0x7F2E, encode(0xC2, {})))},
        {"fusion card group holding a 0xC2 element",
         encode(0x7F2E, concat({encode(0xA1, encode(0xC2, {})), encode(0xA2, encode(0xC2, {0x6E}))})),
         ZR_OK, encode(0x7F2E, concat({encode(0xA1, encode(0xC2, {})), encode(0xA2, {})}))},
        // Removing one of two image parts would hand out a template with an image.
        {"two image parts",
         encode(0xE1, concat({encode(0x7F2E, {}), encode(0xC2, {0x6E}), encode(0xC2, {0x6F})})),
         ZR_BAD_DATA, {}},
    };
    for (const Case& c : cases) {
        uint8_t* buffer = nullptr;
        uint32_t length = 0;
        const zr_status status =
            zr_fusion_to_ehm(c.input.data(), uint32_t(c.input.size()), &buffer, &length);
        const Out out = take(status, buffer, length);
        EXPECT_EQ(c.status, out.status) << c.name;
        EXPECT_EQ(c.expected, out.data) << c.name;
    }
}

}  // namespace

namespace {

TEST(FusionReader, MinutiaeComeFromTheCardUnderEitherRoot) {
    const Field o(2, 3, 10, false), f(2, 3, 90, false);
    const Out fusion_template = fusion(kCard2011, &o.field, &f.field, nullptr, 176, 96);
    const Out ehm_template = ehm(kCard2005, &o.field, &f.field);
    for (const Out* t : {&fusion_template, &ehm_template}) {
        ASSERT_EQ(ZR_OK, t->status);
        minutiastruct read{};
        ASSERT_EQ(ZR_OK, zr_fusion_to_minutiastruct(t->data.data(), uint32_t(t->data.size()), &read));
        ASSERT_EQ(2, read.count);
        // 0.1 mm back to pixels: (c * 1576 / 100 + 4) >> 3; angle = 6-bit angle x 4.
        EXPECT_EQ((10 * 1576 / 100 + 4) >> 3, read.minutiae[0].col);
        EXPECT_EQ((20 * 1576 / 100 + 4) >> 3, read.minutiae[0].row);
        EXPECT_EQ(4, read.minutiae[0].angle);
        EXPECT_EQ(8, read.minutiae[1].angle);
        const bytes trailing = concat({t->data, {0}});
        EXPECT_EQ(ZR_BAD_DATA, zr_ehm_to_minutiastruct(trailing.data(), uint32_t(trailing.size()), &read));
    }
    // A fusion template whose card group is empty has no minutiae to give.
    const bytes empty_group = encode(0x7F2E, concat({encode(0xA1, {}), encode(0xA2, {})}));
    minutiastruct read{};
    EXPECT_EQ(ZR_BAD_FORMAT,
              zr_fusion_to_minutiastruct(empty_group.data(), uint32_t(empty_group.size()), &read));
}

}  // namespace
