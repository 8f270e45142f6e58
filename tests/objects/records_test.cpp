// Quality, user and finger records: fields, ownership of the held user, the
// anonymous statics, and the stability check of two captures.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fp_test_data.h"
#include "imaging/bal_quality.h"
#include "objects/zr_alloc.h"
#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_quality.h"
#include "objects/zr_user.h"

namespace {

TEST(Quality, FieldsAndCopy) {
    zr_quality* q = zr_quality_create(77, 43, 91, 12);
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(q->ref_count, 1u);
    EXPECT_EQ(q->reserved, 0xFFFFFFFFu);
    EXPECT_EQ(zr_quality_get_image_quality(q), 77);
    EXPECT_EQ(zr_quality_get_area(q), 43);
    EXPECT_EQ(zr_quality_get_area_percentage(q), 91);
    EXPECT_EQ(zr_quality_get_condition(q), 12);
    q->reserved = 5;
    zr_quality* copy = zr_quality_copy(q);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, q);
    EXPECT_EQ(copy->reserved, 5u);
    EXPECT_EQ(copy->area, 43);
    EXPECT_EQ(copy->ref_count, 1u);
    EXPECT_EQ(zr_quality_retain(q), q);
    EXPECT_EQ(q->ref_count, 2u);
    zr_quality_delete(q);
    zr_quality_delete(q);
    zr_quality_delete(copy);
    EXPECT_EQ(zr_quality_copy(nullptr), nullptr);
    EXPECT_EQ(zr_quality_get_area(nullptr), 0);
    zr_alloc_fail_after(0);
    EXPECT_EQ(zr_quality_create(1, 2, 3, 4), nullptr);
    zr_alloc_fail_after(-1);
}

TEST(User, FieldsCopiesAndTheStaticUser) {
    zr_user* plain = zr_user_create(7);
    zr_user* full = zr_user_create_ext(7, 1984, 2);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(zr_user_get_year_of_birth(plain), 0);
    EXPECT_EQ(zr_user_get_gender(plain), 0u);
    EXPECT_EQ(zr_user_get_year_of_birth(full), 1984);
    EXPECT_EQ(zr_user_get_gender(full), 2u);
    EXPECT_EQ(zr_user_is_copy(plain, full), 1u);  // ids decide
    EXPECT_EQ(zr_user_is_copy(plain, ZR_USER_ANONYMOUS), 0u);
    EXPECT_EQ(zr_user_is_copy(plain, nullptr), 0u);

    zr_user* copy_of_static = zr_user_copy(ZR_USER_ANONYMOUS);
    ASSERT_NE(copy_of_static, nullptr);
    EXPECT_NE(copy_of_static, ZR_USER_ANONYMOUS);
    EXPECT_EQ(copy_of_static->ref_count, 1u);
    EXPECT_NE(copy_of_static->destroy, nullptr);  // counted, unlike its source
    EXPECT_EQ(zr_user_get_id(copy_of_static), 0u);
    zr_user_delete(copy_of_static);
    zr_user_delete(plain);
    zr_user_delete(full);
    EXPECT_EQ(zr_user_copy(nullptr), nullptr);
}

TEST(Finger, HoldsItsUserAndReportsTheAnonymousOne) {
    zr_user* user = zr_user_create(7);
    zr_finger* finger = zr_finger_create(3, user);
    ASSERT_NE(finger, nullptr);
    EXPECT_EQ(user->ref_count, 2u);
    EXPECT_EQ(zr_finger_get_user(finger), user);
    EXPECT_EQ(zr_finger_get_id(finger), 0x0000000700000003ull);
    EXPECT_EQ(zr_finger_get_acquisition(finger), 0u);

    zr_finger* copy = zr_finger_copy(finger);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(zr_finger_get_user(copy), user);  // a new copy of the user
    EXPECT_EQ(zr_finger_get_user_id(copy), 7u);
    EXPECT_EQ(zr_finger_get_user(copy)->ref_count, 1u);
    EXPECT_EQ(zr_finger_is_copy(finger, copy), 1u);
    zr_finger_delete(copy);

    zr_finger* other = zr_finger_create_acquisition(3, user, 1);
    EXPECT_EQ(zr_finger_is_copy(finger, other), 0u);
    zr_finger_delete(other);
    zr_finger_delete(finger);
    EXPECT_EQ(user->ref_count, 1u);
    zr_user_delete(user);

    zr_finger* anonymous = zr_finger_create(5, nullptr);
    ASSERT_NE(anonymous, nullptr);
    EXPECT_EQ(zr_finger_get_user(anonymous), ZR_USER_ANONYMOUS);
    EXPECT_EQ(zr_finger_get_user_id(anonymous), 0u);
    EXPECT_EQ(zr_finger_get_id(anonymous), 5ull);
    zr_finger* anonymous_copy = zr_finger_copy(anonymous);
    ASSERT_NE(anonymous_copy, nullptr);
    EXPECT_NE(zr_finger_get_user(anonymous_copy), ZR_USER_ANONYMOUS);
    EXPECT_EQ(zr_finger_is_copy(anonymous, anonymous_copy), 1u);
    zr_finger_delete(anonymous_copy);
    zr_finger_delete(anonymous);
    const zr_user zero{};
    EXPECT_EQ(std::memcmp(ZR_USER_ANONYMOUS, &zero, sizeof(zero)), 0);
    EXPECT_EQ(zr_finger_get_user(nullptr), ZR_USER_ANONYMOUS);
    EXPECT_EQ(zr_finger_is_copy(nullptr, ZR_FINGER_ANONYMOUS), 0u);
}

TEST(Finger, CopyGivesNoneWhenOutOfMemory) {
    zr_user* user = zr_user_create(9);
    zr_finger* finger = zr_finger_create(1, user);
    for (int32_t successes : {0, 1}) {  // the user copy fails, then the finger
        zr_alloc_fail_after(successes);
        EXPECT_EQ(zr_finger_copy(finger), nullptr) << successes;
        zr_alloc_fail_after(-1);
    }
    EXPECT_EQ(user->ref_count, 2u);
    zr_finger_delete(finger);
    zr_user_delete(user);
}

// The image library's difference count decides: stable when at most a tenth
// of the pixels differ.
TEST(Finger, StableFollowsTheImageLibrarysDifferenceCount) {
    FP_REQUIRE_CAPTURES();
    const auto paths = fp_test::capture_paths();
    ASSERT_GE(paths.size(), 8u);
    int stable_pairs = 0;
    for (size_t i = 0; i + 1 < 8; ++i) {
        fp_test::GreyImage a = fp_test::read_pgm(paths[i]);
        fp_test::GreyImage b = fp_test::read_pgm(paths[i + 1]);
        for (const auto* second : {&a, &b}) {
            zr_image* image1 = zr_image_create(uint16_t(a.rows), uint16_t(a.cols), 500, 500,
                                               a.pixels.data(), 0);
            zr_image* image2 = zr_image_create(uint16_t(second->rows), uint16_t(second->cols),
                                               500, 500, second->pixels.data(), 0);
            const uint32_t differing = bal_image_difference_scale(
                a.pixels.data(), second->pixels.data(), a.rows, a.cols, 1);
            uint32_t stable = 9;
            ASSERT_EQ(ZR_OK, zr_finger_stable_500(nullptr, image1, image2, &stable));
            EXPECT_EQ(stable, differing <= a.rows * a.cols / 10 ? 1u : 0u);
            stable_pairs += int(stable);
            zr_image_delete(image1);
            zr_image_delete(image2);
        }
    }
    EXPECT_GE(stable_pairs, 7);  // every capture is stable against itself
}

TEST(Finger, StableRefusesImagesOfDifferentSizes) {
    zr_image* a = zr_image_create(20, 30, 500, 500, nullptr, 0);
    zr_image* b = zr_image_create(30, 20, 500, 500, nullptr, 0);
    uint32_t stable = 9;
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_finger_stable_500(nullptr, a, b, &stable));
    EXPECT_EQ(stable, 0u);
    stable = 9;
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_finger_stable_250(nullptr, a, nullptr, &stable));
    EXPECT_EQ(stable, 0u);
    EXPECT_EQ(ZR_BAD_ARGUMENT, zr_finger_stable_500(nullptr, a, a, nullptr));
    EXPECT_EQ(ZR_OK, zr_finger_stable_250(nullptr, a, a, &stable));
    EXPECT_EQ(stable, 1u);
    zr_image_delete(a);
    zr_image_delete(b);
}

}  // namespace
