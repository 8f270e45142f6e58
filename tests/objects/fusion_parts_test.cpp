#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ber_oracle.h"
#include "objects/zr_fusion_parts.h"

namespace {

using bytes = std::vector<uint8_t>;
using ber_oracle::concat;
using ber_oracle::encode;

const bytes kCard = encode(0x7F2E, encode(0xA1, encode(0x90, {1, 2, 3})));
const bytes kSpectral = {12, 0, 1, 0, 1, 40, 50};
const bytes kImage = {'Z', 'R', 'I', 'T'};
const bytes kIdim = {1, 176, 0, 96, 0, 55};

bytes value_of(const zr_fusion_part& part) {
    return part.value == nullptr ? bytes{} : bytes(part.value, part.value + part.length);
}

struct Parts {
    zr_status status;
    zr_fusion_part card, spectral, image, idim;
};

// Reads from an exact-size heap copy, so that a read past the end is caught by
// the address sanitizer.
Parts read_parts(const bytes& data) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[data.size() + 1]);
    std::copy(data.begin(), data.end(), copy.get());
    Parts p{};
    p.status = zr_fusion_to_parts(data.empty() ? nullptr : copy.get(), uint32_t(data.size()),
                                  &p.card, &p.spectral, &p.image, &p.idim);
    // Views are checked against the original buffer.
    auto rebase = [&](zr_fusion_part& part) {
        if (part.value != nullptr) part.value = data.data() + (part.value - copy.get());
    };
    rebase(p.card);
    rebase(p.spectral);
    rebase(p.image);
    rebase(p.idim);
    return p;
}

TEST(FusionParts, FusionRootGivesTheWholeTemplateAsCardAndItsParts) {
    const bytes data = encode(0x7F2E, concat({encode(0xA1, encode(0x81, {9, 9, 9})),
                                              encode(0xA2, concat({encode(0x82, {1}),
                                                                   encode(0xC1, kSpectral),
                                                                   encode(0xC2, kImage),
                                                                   encode(0xC3, kIdim)}))}));
    const Parts p = read_parts(data);
    ASSERT_EQ(ZR_OK, p.status);
    EXPECT_EQ(0, p.card.tag);
    EXPECT_EQ(data, value_of(p.card));
    EXPECT_EQ(ZR_FUSION_SPECTRAL_TAG, p.spectral.tag);
    EXPECT_EQ(kSpectral, value_of(p.spectral));
    EXPECT_EQ(kImage, value_of(p.image));
    EXPECT_EQ(kIdim, value_of(p.idim));
}

TEST(FusionParts, EhmRootGivesItsFirstChildAsCardAndDirectChildrenAsParts) {
    const bytes data = encode(0xE1, concat({kCard, encode(0xC1, kSpectral)}));
    const Parts p = read_parts(data);
    ASSERT_EQ(ZR_OK, p.status);
    EXPECT_EQ(kCard, value_of(p.card));
    EXPECT_EQ(kSpectral, value_of(p.spectral));
    EXPECT_EQ(0, p.image.tag);  // absent parts stay zero
    EXPECT_EQ(nullptr, p.idim.value);
    EXPECT_EQ(0u, p.idim.length);
}

TEST(FusionParts, RefusesAnythingButOneFusionOrEhmTlv) {
    const bytes fusion = encode(0x7F2E, concat({encode(0xA1, {}), encode(0xA2, encode(0xC1, kSpectral))}));
    const bytes ehm = encode(0xE1, concat({kCard, encode(0xC1, kSpectral)}));
    struct Case {
        const char* name;
        bytes data;
    };
    const Case cases[] = {
        {"empty", {}},
        {"trailing byte", concat({fusion, {0}})},
        {"other root", encode(0xE2, concat({kCard}))},
        {"EHM without card first", encode(0xE1, concat({encode(0xC1, kSpectral), kCard}))},
        {"EHM empty", encode(0xE1, {})},
    };
    for (const Case& c : cases) EXPECT_EQ(ZR_BAD_DATA, read_parts(c.data).status) << c.name;
    for (const bytes* whole : {&fusion, &ehm}) {
        for (size_t size = 0; size < whole->size(); ++size) {
            const Parts p = read_parts(bytes(whole->begin(), whole->begin() + size));
            EXPECT_EQ(ZR_BAD_DATA, p.status) << size;
            EXPECT_EQ(nullptr, p.card.value);
        }
    }
    EXPECT_EQ(ZR_OK, zr_fusion_to_parts(fusion.data(), uint32_t(fusion.size()), nullptr, nullptr,
                                        nullptr, nullptr));
}

TEST(FusionIdim, ReadsRowsColumnsAndQuality) {
    struct Case {
        bytes data;
        zr_status status;
        uint16_t rows, cols;
        uint8_t quality;
    };
    const Case cases[] = {
        {{1, 0xB0, 0x01, 0x60, 0x00, 77}, ZR_OK, 0x01B0, 0x0060, 77},
        {{1, 176, 0, 96, 0}, ZR_OK, 176, 96, 0},
        {{2, 176, 0, 96, 0, 77}, ZR_BAD_DATA, 0, 0, 0},
        {{1, 176, 0, 96}, ZR_BAD_DATA, 0, 0, 0},
    };
    for (const Case& c : cases) {
        uint16_t rows = 9, cols = 9;
        uint8_t quality = 9;
        EXPECT_EQ(c.status, zr_fusion_idim_to_parts(c.data.data(), int32_t(c.data.size()), &rows,
                                                    &cols, &quality));
        EXPECT_EQ(c.rows, rows);
        EXPECT_EQ(c.cols, cols);
        EXPECT_EQ(c.quality, quality);
    }
    // Rows and columns only together.
    uint16_t rows = 9;
    EXPECT_EQ(ZR_OK, zr_fusion_idim_to_parts(kIdim.data(), 6, &rows, nullptr, nullptr));
    EXPECT_EQ(0, rows);

    uint8_t written[ZR_IDIM_SIZE];
    zr_fusion_idim_write(0x01B0, 0x0060, 77, written);
    EXPECT_EQ(cases[0].data, bytes(written, written + ZR_IDIM_SIZE));
}

}  // namespace
