#include "imaging/bal_binary_pack.h"
#include "objects/zr_storage_writer.h"

#include <gtest/gtest.h>

#include <vector>

#include "filters_test_support.h"

namespace {

TEST(BinaryPack, RoundTripsForEveryWidthWithZeroPadding) {
    uint32_t seed = 1;
    for (uint32_t cols : {1u, 7u, 8u, 9u, 10u, 16u, 23u, 96u})
        for (uint32_t rows : {1u, 3u, 4u}) {
            const auto img = filters_test::random_image<uint8_t>(rows * cols, seed++, 0, 1);
            const uint32_t stride = (cols + 7) / 8;
            std::vector<uint8_t> packed(rows * stride, 0xFF);
            bal_binary_8bit_to_1bit(img.data(), rows, cols, packed.data());
            for (uint32_t y = 0; y < rows; ++y)
                for (uint32_t x = 0; x < stride * 8; ++x) {
                    const int bit = (packed[y * stride + x / 8] >> (7 - x % 8)) & 1;
                    EXPECT_EQ(bit, x < cols ? img[y * cols + x] : 0) << cols << " " << y << "," << x;
                }
            std::vector<uint8_t> back(img.size(), 7);
            bal_binary_1bit_to_8bit(packed.data(), rows, cols, back.data());
            EXPECT_EQ(back, img) << rows << " x " << cols;
        }
    const std::vector<uint8_t> row = {1, 0, 0, 0, 0, 0, 0, 1, 1, 1};
    std::vector<uint8_t> packed(2);
    bal_binary_8bit_to_1bit(row.data(), 1, 10, packed.data());
    EXPECT_EQ(packed, (std::vector<uint8_t>{0x81, 0xC0}));
}

TEST(BinaryPack, HalvingTakesEvenRowsAndColumns) {
    std::vector<uint8_t> img(5 * 5);
    for (uint32_t i = 0; i < img.size(); ++i) img[i] = uint8_t(i);
    std::vector<uint8_t> half(4, 99);
    bal_binarize_scale_down_2(img.data(), 5, 5, half.data());
    EXPECT_EQ(half, (std::vector<uint8_t>{0, 2, 10, 12}));
    std::vector<uint8_t> none(1, 99);
    bal_binarize_scale_down_2(img.data(), 1, 5, none.data());
    bal_binarize_scale_down_2(img.data(), 5, 1, none.data());
    EXPECT_EQ(none[0], 99);
}

TEST(HeapWriter, ReservesThenAppendsUpToTheCapacity) {
    heap_buffer state{};
    uint8_t* data = nullptr;
    int32_t is_const = 0;
    zr_release_fn release = nullptr;
    void* release_context = nullptr;
    ASSERT_EQ(heap_reserve(&state, 6, &data, &is_const, &release, &release_context), BAL_OK);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data, state.data);
    EXPECT_EQ(state.capacity, 6u);
    EXPECT_EQ(state.used, 0u);
    EXPECT_EQ(is_const, 1);
    EXPECT_EQ(release, &free_mem);
    EXPECT_EQ(release_context, data);

    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(heap_write(&state, bytes, 2), BAL_OK);
    EXPECT_EQ(heap_write(&state, bytes + 2, 5), BAL_BUFFER_FULL);  // one byte more than the room left
    EXPECT_EQ(state.used, 2u);
    EXPECT_EQ(heap_write(&state, bytes + 2, 4), BAL_OK);  // exactly the room left
    EXPECT_EQ(heap_write(&state, nullptr, 0), BAL_OK);
    EXPECT_EQ(heap_write(&state, bytes, 1), BAL_BUFFER_FULL);
    EXPECT_EQ(state.used, 6u);
    EXPECT_EQ(std::vector<uint8_t>(data, data + 6), std::vector<uint8_t>(bytes, bytes + 6));
    release(release_context);
}

TEST(HeapWriter, BoundDoesNotWrapNearTheTopOfTheRange) {
    // used + n would wrap to a small value in 32 bits; the write must still be refused.
    uint8_t storage[8] = {};
    heap_buffer state{storage, 8, 4};
    EXPECT_EQ(heap_write(&state, storage, UINT32_MAX - 1), BAL_BUFFER_FULL);
    EXPECT_EQ(heap_write(&state, storage, UINT32_MAX), BAL_BUFFER_FULL);
    EXPECT_EQ(state.used, 4u);
}

TEST(HeapWriter, TableAndZeroSizeReservation) {
    heap_buffer state{};
    uint8_t* data = nullptr;
    int32_t is_const = 0;
    zr_release_fn release = nullptr;
    void* release_context = nullptr;
    ASSERT_EQ(heap_storage_writer.reserve(&state, 0, &data, &is_const, &release, &release_context), BAL_OK);
    EXPECT_EQ(heap_storage_writer.write(&state, nullptr, 0), BAL_OK);
    const uint8_t one = 1;
    EXPECT_EQ(heap_storage_writer.write(&state, &one, 1), BAL_BUFFER_FULL);
    release(release_context);
    free_mem(nullptr);
}

}  // namespace
