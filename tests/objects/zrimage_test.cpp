#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "objects/zr_zrimage.h"

namespace {

using bytes = std::vector<uint8_t>;

bytes encode_record(const bytes& pixels, uint16_t rows, uint16_t cols, uint16_t hdpi,
                    uint16_t vdpi, uint8_t impression) {
    uint8_t* buffer = nullptr;
    uint32_t size = 0;
    EXPECT_EQ(zr_fusion_zrimage_encode(pixels.data(), rows, cols, hdpi, vdpi, impression, &buffer,
                                       &size),
              ZR_OK);
    bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

TEST(ZrImageRecord, LayoutIsBigEndianByteForByte) {
    const bytes pixels = {10, 20, 30, 40, 50, 60};
    const bytes record = encode_record(pixels, 2, 3, 0x01F4, 0x01FC, 0x1D);
    const bytes expected = {'Z', 'R', 'I', 'T', 0x00, 0x01, 0x00, 0x02, 0x00, 0x03,
                            0x01, 0xFC,  // vertical resolution
                            0x01, 0xF4,  // horizontal resolution
                            0x1D, 10, 20, 30, 40, 50, 60};
    EXPECT_EQ(record, expected);
}

TEST(ZrImageRecord, RandomImagesReadBackIdentically) {
    std::mt19937 rng(3);
    for (int round = 0; round < 50; ++round) {
        const uint16_t rows = uint16_t(rng() % 200);
        const uint16_t cols = uint16_t(rng() % 120);
        bytes pixels(size_t(rows) * cols);
        for (uint8_t& p : pixels) p = uint8_t(rng());
        const uint16_t hdpi = uint16_t(rng()), vdpi = uint16_t(rng());
        const uint8_t impression = uint8_t(rng());
        const bytes record = encode_record(pixels, rows, cols, hdpi, vdpi, impression);
        ASSERT_EQ(record.size(), pixels.size() + 15);
        const uint8_t* out_pixels = nullptr;
        uint16_t r = 0, c = 0, h = 0, v = 0;
        uint8_t imp = 0;
        ASSERT_EQ(zr_fusion_zrimage_to_parts(record.data(), uint32_t(record.size()), &out_pixels,
                                             &r, &c, &h, &v, &imp),
                  ZR_OK);
        EXPECT_EQ(r, rows);
        EXPECT_EQ(c, cols);
        EXPECT_EQ(h, hdpi);
        EXPECT_EQ(v, vdpi);
        EXPECT_EQ(imp, impression);
        EXPECT_EQ(out_pixels, record.data() + 15);  // a view, not a copy
        EXPECT_EQ(bytes(out_pixels, out_pixels + pixels.size()), pixels);
    }
}

TEST(ZrImageRecord, MalformedRecordsAreRefused) {
    const bytes pixels = {1, 2, 3, 4, 5, 6};
    const bytes record = encode_record(pixels, 2, 3, 500, 500, 0);
    const uint8_t* out_pixels = nullptr;
    uint16_t rows = 0, cols = 0;
    // Every truncation and one extra byte.
    for (size_t size = 0; size < record.size(); ++size) {
        EXPECT_EQ(zr_fusion_zrimage_to_parts(record.data(), uint32_t(size), &out_pixels, &rows,
                                             &cols, nullptr, nullptr, nullptr),
                  ZR_BAD_DATA)
            << size;
        EXPECT_EQ(out_pixels, nullptr);
    }
    bytes longer = record;
    longer.push_back(0);
    EXPECT_EQ(zr_fusion_zrimage_to_parts(longer.data(), uint32_t(longer.size()), &out_pixels,
                                         &rows, &cols, nullptr, nullptr, nullptr),
              ZR_BAD_DATA);
    EXPECT_EQ(rows, 2);  // geometry stays set, pixels none
    EXPECT_EQ(cols, 3);
    EXPECT_EQ(out_pixels, nullptr);
    // Every bit flip in the magic, version and geometry fields is refused.
    for (size_t bit = 0; bit < 10 * 8; ++bit) {
        bytes flipped = record;
        flipped[bit / 8] ^= uint8_t(1u << (bit % 8));
        EXPECT_EQ(zr_fusion_zrimage_to_parts(flipped.data(), uint32_t(flipped.size()),
                                             &out_pixels, &rows, &cols, nullptr, nullptr,
                                             nullptr),
                  ZR_BAD_DATA)
            << "bit " << bit;
        EXPECT_EQ(out_pixels, nullptr);
    }
    EXPECT_EQ(zr_fusion_zrimage_to_parts(nullptr, 21, &out_pixels, &rows, &cols, nullptr,
                                         nullptr, nullptr),
              ZR_BAD_ARGUMENT);
}

TEST(ZrImageRecord, OptionalOutputsAreLeftAlone) {
    const bytes record = encode_record({7}, 1, 1, 250, 500, 3);
    const uint8_t* out_pixels = nullptr;
    uint16_t rows = 0, cols = 0;
    ASSERT_EQ(zr_fusion_zrimage_to_parts(record.data(), uint32_t(record.size()), &out_pixels,
                                         &rows, &cols, nullptr, nullptr, nullptr),
              ZR_OK);
    EXPECT_EQ(*out_pixels, 7);
}

TEST(ZrImageRecord, EncodeArguments) {
    uint8_t* buffer = reinterpret_cast<uint8_t*>(1);
    uint32_t size = 9;
    EXPECT_EQ(zr_fusion_zrimage_encode(nullptr, 2, 2, 500, 500, 0, &buffer, &size), ZR_BAD_ARGUMENT);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0u);
    ASSERT_EQ(zr_fusion_zrimage_encode(nullptr, 0, 5, 500, 500, 0, &buffer, &size), ZR_OK);
    EXPECT_EQ(size, 15u);
    std::free(buffer);
}

}  // namespace
