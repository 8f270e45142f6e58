// Template building: arguments, the dummy image, and every format on real
// captures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "ber_oracle.h"
#include "extract/bal_dummy_template.h"
#include "extract/bal_extract_template.h"
#include "extract/bal_ridge_features.h"
#include "formats/zr_ansi378.h"
#include "formats/zr_fusion.h"
#include "formats/zr_iso19794_2.h"
#include "formats/zr_iso_compactcard.h"
#include "fp_test_data.h"
#include "objects/tlv_codec.h"
#include "objects/zr_zrimage.h"

namespace {

using bytes = std::vector<uint8_t>;
using ber_oracle::encode;

constexpr uint32_t kMainRoadFlags = 0x04F2;
constexpr uint8_t kQualityDescending = 0x15;

const bytes kDummy(BAL_DUMMY_IMAGE_PIXELS, BAL_DUMMY_IMAGE_PIXELS + 256);

struct Built {
    bal_status status;
    bytes data;
};

struct Call {
    const bytes* image = &kDummy;
    uint16_t rows = 16, cols = 16;
    uint8_t finger = 0, impression = 0;
    uint32_t min = 0, max = 64;
    uint8_t order = kQualityDescending;
    uint32_t flags = 0;
    uint32_t format = BAL_FORMAT_COMPACT_CARD;
    bool with_length = true;
    bal_feature_callback callback1 = nullptr, callback2 = nullptr;
};

// Runs the builder; with BAL_EXTRACT_TAKE_PIXELS on a malloc() copy that the
// call must release (the leak checker of the sanitizer build sees it if not).
Built build(const Call& c) {
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(c.image->size()));
    std::memcpy(pixels, c.image->data(), c.image->size());
    uint8_t* out = reinterpret_cast<uint8_t*>(1);
    uint32_t length = 77;
    const bal_status status = bal_extract_template_mask(
        pixels, nullptr, c.rows, c.cols, c.finger, c.impression, 0, c.min, c.max, c.order, c.flags,
        c.format, &out, c.with_length ? &length : nullptr, c.callback1, c.callback2);
    if (!(c.flags & BAL_EXTRACT_TAKE_PIXELS)) std::free(pixels);
    Built b{status, {}};
    if (out != nullptr) {
        const uint32_t size = c.with_length ? length : 0;
        b.data.assign(out, out + size);
    }
    if (status != BAL_OK && status != BAL_DUMMY_IMAGE) {
        EXPECT_EQ(nullptr, out);
        if (c.with_length) {
            EXPECT_EQ(0u, length);
        }
    }
    (void)bal_free_template(out);
    return b;
}

const bytes kDummyTemplate =
    encode(0x7F2E, encode(0xA1, encode(0x90, bytes(BAL_DUMMY_MINUTIAE,
                                                   BAL_DUMMY_MINUTIAE + BAL_DUMMY_MINUTIAE_SIZE))));

TEST(TemplateBuild, DummyImageGivesTheDummyTemplateInEveryFormat) {
    ASSERT_EQ(BAL_DUMMY_TEMPLATE_SIZE, kDummyTemplate.size());
    for (uint32_t format : {1u, 2u, 3u, 4u, 8u, 0x108u}) {
        for (uint32_t flags : {0u, uint32_t(BAL_EXTRACT_TAKE_PIXELS)}) {
            Call c;
            c.format = format;
            c.flags = flags;
            const Built b = build(c);
            EXPECT_EQ(BAL_DUMMY_IMAGE, b.status) << format;
            EXPECT_EQ(kDummyTemplate, b.data) << format;
        }
    }
    uint8_t* out = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(BAL_DUMMY_IMAGE, BAL_EXTRACT_TEMPLATE_MOC(kDummy.data(), 16, 16, &out, &length));
    EXPECT_EQ(kDummyTemplate, bytes(out, out + length));
    (void)bal_free_template(out);
    // One byte off is not the dummy image.
    bytes almost = kDummy;
    almost[3 * 16 + 13] = 0x63;
    EXPECT_EQ(0, bal_origin_is_dummy(almost.data(), 16, 16));
    EXPECT_EQ(1, bal_origin_is_dummy(kDummy.data(), 16, 16));
    EXPECT_EQ(0, bal_origin_is_dummy(kDummy.data(), 8, 32));
}

TEST(TemplateBuild, ArgumentsAreCheckedBeforeAnythingElse) {
    struct Case {
        const char* name;
        Call call;
        bal_status expected;
    };
    auto with = [](auto edit) {
        Call c;
        edit(c);
        return c;
    };
    const Case cases[] = {
        {"order 0x25", with([](Call& c) { c.order = 0x25; }), BAL_BAD_ARGUMENT},
        {"order key 0", with([](Call& c) { c.order = 0x10; }), BAL_BAD_ARGUMENT},
        {"order key 6", with([](Call& c) { c.order = 0x06; }), BAL_BAD_ARGUMENT},
        {"order 0x01", with([](Call& c) { c.order = 0x01; }), BAL_DUMMY_IMAGE},
        {"finger 11", with([](Call& c) { c.finger = 11; }), BAL_BAD_ARGUMENT},
        {"finger 10", with([](Call& c) { c.finger = 10; }), BAL_DUMMY_IMAGE},
        {"impression 4", with([](Call& c) { c.impression = 4; }), BAL_BAD_ARGUMENT},
        {"impression 30", with([](Call& c) { c.impression = 30; }), BAL_BAD_ARGUMENT},
        {"impression 29", with([](Call& c) { c.impression = 29; }), BAL_DUMMY_IMAGE},
        {"impression 8", with([](Call& c) { c.impression = 8; }), BAL_DUMMY_IMAGE},
        {"format 5", with([](Call& c) { c.format = 5; }), BAL_BAD_ARGUMENT},
        {"format 0", with([](Call& c) { c.format = 0; }), BAL_BAD_ARGUMENT},
        {"format 0x102", with([](Call& c) { c.format = 0x102; }), BAL_DUMMY_IMAGE},
        {"format 2 without length", with([](Call& c) { c.with_length = false; }), BAL_BAD_ARGUMENT},
        {"format 3 without length",
         with([](Call& c) { c.format = 3, c.with_length = false; }), BAL_BAD_ARGUMENT},
        {"format 4 without length",
         with([](Call& c) { c.format = 4, c.with_length = false; }), BAL_BAD_ARGUMENT},
        {"format 1 without length",
         with([](Call& c) { c.format = 1, c.with_length = false; }), BAL_DUMMY_IMAGE},
        {"format 8 without length",
         with([](Call& c) { c.format = 8, c.with_length = false; }), BAL_DUMMY_IMAGE},
    };
    for (const Case& c : cases) {
        for (uint32_t flags : {0u, uint32_t(BAL_EXTRACT_TAKE_PIXELS)}) {
            Call call = c.call;
            call.flags = flags;
            const Built b = build(call);
            EXPECT_EQ(c.expected, b.status) << c.name;
            if (c.expected == BAL_BAD_ARGUMENT) {
                EXPECT_TRUE(b.data.empty()) << c.name;
            }
        }
    }
    // A missing output buffer still releases handed-over pixels.
    uint8_t* pixels = static_cast<uint8_t*>(std::malloc(256));
    uint32_t length = 5;
    EXPECT_EQ(BAL_BAD_ARGUMENT,
              bal_extract_template(pixels, 16, 16, 0, 0, 0, 0, 64, 0x15, BAL_EXTRACT_TAKE_PIXELS, 2,
                                   nullptr, &length));
    EXPECT_EQ(0u, length);
}

// --- Real captures ----------------------------------------------------------

// A capture with enough minutiae to exercise the limits.
const bytes& rich_capture() {
    static const bytes image = [] {
        bytes best;
        uint32_t best_count = 0;
        for (const auto& path : fp_test::capture_paths()) {
            fp_test::GreyImage img = fp_test::read_pgm(path);
            if (img.rows != fp_test::kSensorRows || img.cols != fp_test::kSensorCols) continue;
            Call c;
            c.image = &img.pixels;
            c.rows = 176, c.cols = 96, c.format = 8, c.max = 255;
            const Built b = build(c);
            if (b.status != BAL_OK) continue;
            const auto* container = reinterpret_cast<const zr_template_container*>(b.data.data());
            if (container->minutiae.count > best_count) {
                best_count = container->minutiae.count;
                best = img.pixels;
            }
            if (best_count >= 20) break;
        }
        return best;
    }();
    return image;
}

Call real_call(const bytes& image, uint32_t format, uint32_t flags) {
    Call c;
    c.image = &image;
    c.rows = 176, c.cols = 96;
    c.format = format;
    c.flags = flags;
    return c;
}

TEST(TemplateBuildReal, MinimumAndMaximumBoundTheMinutiae) {
    FP_REQUIRE_CAPTURES();
    const bytes& image = rich_capture();
    ASSERT_FALSE(image.empty());
    struct Case {
        uint32_t min, max;
        bal_status expected;
    };
    for (const Case& c : {Case{0, 5, BAL_OK}, Case{256, 5, BAL_OK}, Case{6, 5, BAL_TOO_FEW_MINUTIAE},
                          Case{255, 255, BAL_TOO_FEW_MINUTIAE}, Case{0x105, 0x10A, BAL_OK}}) {
        Call call = real_call(image, BAL_FORMAT_CONTAINER, 0);
        call.min = c.min, call.max = c.max;
        const Built b = build(call);
        ASSERT_EQ(c.expected, b.status) << c.min << " " << c.max;
        if (b.status != BAL_OK) continue;
        ASSERT_EQ(sizeof(zr_template_container), b.data.size());
        EXPECT_LE(reinterpret_cast<const zr_template_container*>(b.data.data())->minutiae.count,
                  c.max & 0xFF);
    }
}

TEST(TemplateBuildReal, RecordFormatsReadBackToTheContainersMinutiae) {
    FP_REQUIRE_CAPTURES();
    const bytes& image = rich_capture();
    Call call = real_call(image, BAL_FORMAT_CONTAINER, 0);
    const Built container_bytes = build(call);
    ASSERT_EQ(BAL_OK, container_bytes.status);
    const auto* container = reinterpret_cast<const zr_template_container*>(container_bytes.data.data());
    const minutiastruct& expected = container->minutiae;

    for (uint32_t flags : {0u, 0x400u, 0x43Eu}) {
        const Built iso = build(real_call(image, BAL_FORMAT_ISO19794_2, flags));
        ASSERT_EQ(BAL_OK, iso.status) << flags;
        EXPECT_EQ(ZR_OK, zr_is_iso19794_2(iso.data.data(), uint32_t(iso.data.size()))) << flags;
        minutiastruct read{};
        ASSERT_EQ(ZR_OK, zr_iso19794_2_to_minutiastruct(iso.data.data(), uint32_t(iso.data.size()), &read));
        ASSERT_EQ(expected.count, read.count);
        for (uint32_t i = 0; i < read.count; ++i) {
            EXPECT_EQ(expected.minutiae[i].row, read.minutiae[i].row);
            EXPECT_EQ(expected.minutiae[i].col, read.minutiae[i].col);
        }
        const Built ansi = build(real_call(image, BAL_FORMAT_ANSI378, flags));
        ASSERT_EQ(BAL_OK, ansi.status);
        ASSERT_EQ(ZR_OK, zr_ansi378_to_minutiastruct(ansi.data.data(), uint32_t(ansi.data.size()), &read));
        EXPECT_EQ(expected.count, read.count);
    }
    // The ISO record carries the blocks that the flags ask for.
    const Built iso = build(real_call(image, BAL_FORMAT_ISO19794_2, 0x30));
    zr_block_field orientation{};
    ASSERT_EQ(ZR_OK, zr_iso19794_2_to_orientation_field(iso.data.data(), uint32_t(iso.data.size()),
                                                        &orientation));
    EXPECT_GT(orientation.block_rows, 0);
    std::free(orientation.values);
}

// The tags of a template's 0xA1 and 0xA2 groups (independent BER decoder).
std::vector<uint16_t> group_tags(const bytes& data, uint16_t group) {
    ber_oracle::Node root;
    EXPECT_TRUE(ber_oracle::decode_first(data.data(), data.size(), {}, &root));
    std::vector<uint16_t> tags;
    for (const auto& child : root.children)
        if (child.tag == group)
            for (const auto& part : child.children) tags.push_back(part.tag);
    return tags;
}

TEST(TemplateBuildReal, MainRoadFusionTemplateHasTheExpectedParts) {
    FP_REQUIRE_CAPTURES();
    uint32_t with_core = 0, runs = 0;
    for (const auto& path : fp_test::capture_paths()) {
        fp_test::GreyImage img = fp_test::read_pgm(path);
        if (img.rows != fp_test::kSensorRows || img.cols != fp_test::kSensorCols) continue;
        if (++runs > 24) break;
        Call call = real_call(img.pixels, BAL_FORMAT_COMPACT_CARD,
                              kMainRoadFlags | BAL_EXTRACT_FEATURE_CALLBACKS);
        call.callback1 = bal_extract_ridge_curvature;
        const Built b = build(call);
        ASSERT_EQ(BAL_OK, b.status) << path;
        ASSERT_EQ(0x7F, b.data[0]);
        const std::vector<uint16_t> card = group_tags(b.data, 0xA1);
        ASSERT_FALSE(card.empty());
        EXPECT_EQ(0x81, card[0]);
        if (card.size() > 1) {
            EXPECT_EQ((std::vector<uint16_t>{0x81, 0x92}), card);
            ++with_core;
        }
        EXPECT_EQ((std::vector<uint16_t>{0x82, 0xC1, 0xC3, 0xCA}), group_tags(b.data, 0xA2)) << path;

        // One proprietary byte a card minutia; the spectral part in record form.
        zr_fusion_part spectral{};
        ASSERT_EQ(ZR_OK, zr_fusion_to_parts(b.data.data(), uint32_t(b.data.size()), nullptr,
                                            &spectral, nullptr, nullptr));
        EXPECT_EQ(0, spectral.value[0]);
        tlv_element minutiae{}, proprietary{};
        ASSERT_EQ(ZR_OK, zr_cc_read_minutiae_data(b.data.data(), uint32_t(b.data.size()), &minutiae));
        ASSERT_EQ(ZR_OK, zr_cc_read_extended_data(b.data.data(), uint32_t(b.data.size()), 0, 0x82,
                                                  &proprietary));
        EXPECT_EQ(minutiae.length / 3 + 4, proprietary.length);
        // Read back through the fusion reader: as many minutiae as the card.
        minutiastruct read{};
        ASSERT_EQ(ZR_OK, zr_fusion_to_minutiastruct(b.data.data(), uint32_t(b.data.size()), &read));
        EXPECT_EQ(minutiae.length / 3, read.count);
        EXPECT_LE(read.count, 64u);
    }
    EXPECT_GT(with_core, 0u);
}

TEST(TemplateBuildReal, EhmAndFusionVariantsFollowTheFlags) {
    FP_REQUIRE_CAPTURES();
    const bytes& image = rich_capture();
    // Format 4 makes both block fields itself.
    const Built ehm = build(real_call(image, BAL_FORMAT_EHM, 0));
    ASSERT_EQ(BAL_OK, ehm.status);
    EXPECT_EQ(0xE1, ehm.data[0]);
    zr_fusion_part card{}, spectral{};
    ASSERT_EQ(ZR_OK, zr_fusion_to_parts(ehm.data.data(), uint32_t(ehm.data.size()), &card,
                                        &spectral, nullptr, nullptr));
    EXPECT_NE(0, spectral.value[0]);  // plain form
    minutiastruct read{};
    EXPECT_EQ(ZR_OK, zr_ehm_to_minutiastruct(ehm.data.data(), uint32_t(ehm.data.size()), &read));

    // Format 2 without both field flags is the card itself.
    const Built plain_card = build(real_call(image, BAL_FORMAT_COMPACT_CARD, 0x10));
    ASSERT_EQ(BAL_OK, plain_card.status);
    EXPECT_EQ(0x7F, plain_card.data[0]);
    EXPECT_TRUE(group_tags(plain_card.data, 0xA2).empty());
    // With the raw image, from handed-over pixels: the image part holds them.
    const Built with_image = build(real_call(image, BAL_FORMAT_COMPACT_CARD,
                                             0x30 | BAL_TEMPLATE_RAW_IMAGE | BAL_EXTRACT_TAKE_PIXELS));
    ASSERT_EQ(BAL_OK, with_image.status);
    zr_fusion_part raw{};
    ASSERT_EQ(ZR_OK, zr_fusion_to_parts(with_image.data.data(), uint32_t(with_image.data.size()),
                                        nullptr, nullptr, &raw, nullptr));
    ASSERT_EQ(ZR_ZRIMAGE_HEADER_SIZE + image.size(), raw.length);
    EXPECT_EQ(0, std::memcmp(raw.value + ZR_ZRIMAGE_HEADER_SIZE, image.data(), image.size()));
    uint8_t* ehm_copy = nullptr;
    uint32_t ehm_length = 0;
    ASSERT_EQ(ZR_OK, zr_fusion_to_ehm(with_image.data.data(), uint32_t(with_image.data.size()),
                                      &ehm_copy, &ehm_length));
    EXPECT_EQ(with_image.data.size() - raw.length - 4, ehm_length);  // 0xC2 with a 3-byte length
    std::free(ehm_copy);
}

TEST(TemplateBuildReal, FeatureBlocksGoIntoTheFusionTemplateOrAreReleased) {
    FP_REQUIRE_CAPTURES();
    const bytes& image = rich_capture();
    Call call = real_call(image, BAL_FORMAT_COMPACT_CARD, 0x30 | BAL_EXTRACT_FEATURE_CALLBACKS);
    call.callback1 = bal_extract_ridge_curvature;
    call.callback2 = bal_extract_alignment_vectors;
    const Built fusion = build(call);
    ASSERT_EQ(BAL_OK, fusion.status);
    EXPECT_EQ((std::vector<uint16_t>{0xC1, 0xC3, 0xCA, 0xC9}), group_tags(fusion.data, 0xA2));
    tlv_element features{};
    const uint16_t path[] = {0x7F2E, 0xA2, 0xC9, 0xF0, 0xF1, 0xC0};
    ASSERT_EQ(1, tlv_find_nested_tag(fusion.data.data(), uint32_t(fusion.data.size()), path, 6,
                                     &features));
    EXPECT_GE(features.value[0], BAL_CALLBACK2_SLOT_BASE);
    // Other formats release the blocks (the sanitizer build checks for leaks);
    // format 8 hands them to the caller with the container.
    for (uint32_t format : {1u, 3u, 4u}) {
        call.format = format;
        EXPECT_EQ(BAL_OK, build(call).status) << format;
    }
    call.format = BAL_FORMAT_CONTAINER;
    uint8_t* out = nullptr;
    bytes copy = image;
    ASSERT_EQ(BAL_OK, bal_extract_template_mask(copy.data(), nullptr, 176, 96, 0, 0, 0, 0, 64, 0x15,
                                                call.flags, 8, &out, nullptr, call.callback1,
                                                call.callback2));
    auto* container = reinterpret_cast<zr_template_container*>(out);
    uint32_t filled = 0;
    for (zr_feature_block& block : container->feature_blocks) {
        filled += block.length != 0;
        std::free(block.data);
    }
    EXPECT_GT(filled, 0u);
    zr_template_container_free(container);
}

TEST(TemplateBuildReal, MatchOnCardRecipe) {
    FP_REQUIRE_CAPTURES();
    const bytes& image = rich_capture();
    uint8_t* out = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(BAL_OK, BAL_EXTRACT_TEMPLATE_MOC(image.data(), 176, 96, &out, &length));
    const bytes card(out, out + length);
    (void)bal_free_template(out);
    EXPECT_EQ(card, build(real_call(image, BAL_FORMAT_COMPACT_CARD, BAL_TEMPLATE_PROPRIETARY)).data);
    tlv_element proprietary{};
    EXPECT_EQ(ZR_OK, zr_cc_read_extended_data(card.data(), uint32_t(card.size()), 1, 0x82, &proprietary));
}

}  // namespace
