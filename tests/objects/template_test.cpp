#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "objects/zr_template.h"

namespace {

const uint8_t kBytes[5] = {1, 2, 3, 4, 5};

TEST(Template, TypeCodesFoldAliases) {
    struct Case {
        uint32_t stored, reported;
    };
    const Case cases[] = {{1, 1},   {2, 2},   {3, 3},   {4, 1},   {5, 2},   {6, 3},
                          {66, 66}, {67, 67}, {71, 71}, {72, 72}, {73, 67}, {74, 67},
                          {75, 75}, {80, 80}, {84, 84}, {86, 86}, {0, 0},   {1000, 1000}};
    zr_template* tmpl = zr_template_create(0, nullptr, 0);
    ASSERT_NE(tmpl, nullptr);
    for (const Case& c : cases) {
        zr_template_set_type(tmpl, c.stored);
        EXPECT_EQ(tmpl->type, c.stored);
        EXPECT_EQ(zr_template_get_type(tmpl), c.reported) << c.stored;
    }
    zr_template_delete(tmpl);
    EXPECT_EQ(zr_template_type_to_fusion(67), 72u);
    EXPECT_EQ(zr_template_type_to_fusion(74), 75u);
    EXPECT_EQ(zr_template_type_to_fusion(80), 80u);
    EXPECT_EQ(zr_template_type_from_fusion(72), 67u);
    EXPECT_EQ(zr_template_type_from_fusion(75), 74u);
    EXPECT_EQ(zr_template_type_from_fusion(67), 67u);
    EXPECT_EQ(zr_template_type_is_fusion(72), 1);
    EXPECT_EQ(zr_template_type_is_fusion(75), 1);
    EXPECT_EQ(zr_template_type_is_fusion(67), 0);
}

TEST(Template, OwnedCopiesAndBorrowedBytes) {
    uint8_t caller[5];
    std::memcpy(caller, kBytes, 5);
    zr_template* owned = zr_template_create(67, caller, 5);
    ASSERT_NE(owned, nullptr);
    EXPECT_NE(zr_template_get_data(owned), caller);
    EXPECT_EQ(zr_template_get_data_size(owned), 5u);
    EXPECT_EQ(zr_template_get_generation_quality(owned), 0u);
    EXPECT_EQ(zr_template_get_mr_const(owned), 1u);
    zr_template_set_generation_quality(owned, 77);

    zr_template* copy = zr_template_copy(owned);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(zr_template_get_data(copy), zr_template_get_data(owned));
    EXPECT_EQ(zr_template_get_generation_quality(copy), 77u);
    EXPECT_EQ(zr_template_is_copy(owned, copy), 1);
    zr_template_set_type(copy, 74);  // reported alike, stored differently
    EXPECT_EQ(zr_template_is_copy(owned, copy), 0);
    zr_template_set_type(copy, 67);
    copy->data[4] = 9;
    EXPECT_EQ(zr_template_is_copy(owned, copy), 0);
    EXPECT_EQ(zr_template_is_copy(owned, nullptr), 0);
    zr_template_delete(copy);

    zr_template* borrowed = zr_template_create_mr(67, caller, 5);
    ASSERT_NE(borrowed, nullptr);
    EXPECT_EQ(zr_template_get_data(borrowed), caller);
    EXPECT_EQ(zr_template_get_mr_const(borrowed), 0u);
    EXPECT_EQ(zr_template_set_mr_const(borrowed, 1), 1u);
    EXPECT_EQ(zr_template_get_mr_const(borrowed), 1u);
    zr_template_delete(borrowed);
    EXPECT_EQ(std::memcmp(caller, kBytes, 5), 0);  // the caller's bytes are untouched

    EXPECT_EQ(zr_template_create(67, nullptr, 3), nullptr);
    EXPECT_EQ(zr_template_get_data_size(nullptr), 0u);
    EXPECT_EQ(zr_template_get_generation_quality(nullptr), 0u);
    EXPECT_EQ(zr_template_get_image(nullptr), nullptr);
    zr_template_set_generation_quality(nullptr, 1);
    zr_template_delete(owned);
}

int g_released = 0;
void count_release(void* context) { g_released += *static_cast<int*>(context); }

TEST(Template, ReleaseCallbackRunsOnceAtDestruction) {
    g_released = 0;
    int weight = 3;
    uint8_t caller[5] = {};
    zr_template* tmpl = zr_template_create_mre(71, caller, 5, 1, count_release, &weight);
    ASSERT_NE(tmpl, nullptr);
    EXPECT_EQ(zr_template_get_mr_const(tmpl), 1u);
    zr_template_retain(tmpl);
    zr_template_delete(tmpl);
    EXPECT_EQ(g_released, 0);
    zr_template_delete(tmpl);
    EXPECT_EQ(g_released, 3);
}

}  // namespace
