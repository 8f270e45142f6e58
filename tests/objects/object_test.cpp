// Result-code translation and the reference-counting rules of every object.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "objects/zr_finger.h"
#include "objects/zr_image.h"
#include "objects/zr_image_mask.h"
#include "objects/zr_object.h"
#include "objects/zr_result.h"
#include "objects/zr_session.h"
#include "objects/zr_template.h"
#include "objects/zr_user.h"

namespace {

TEST(ResultCodes, ImageLibraryCodesTranslate) {
    const zr_status expected[35] = {
        ZR_OK, ZR_BAD_FORMAT, ZR_IMAGE_LIB_CODE_2, ZR_FAILURE, ZR_WRONG_TYPE,
        ZR_WRONG_TYPE, ZR_IMAGE_LIB_CODE_6, ZR_FAILURE, ZR_FAILURE, ZR_NO_MEMORY,
        ZR_FAILURE, ZR_FAILURE, ZR_BAD_DATA, ZR_UNHANDLED_INPUT, ZR_BAD_ARGUMENT,
        ZR_NOT_ALLOWED, ZR_IMAGE_LIB_CODE_16, ZR_FAILURE, ZR_FAILURE, ZR_FAILURE,
        ZR_FAILURE, ZR_FAILURE, ZR_FAILURE, ZR_FAILURE, ZR_FAILURE,
        ZR_BAD_FORMAT, ZR_BAD_FORMAT, ZR_FAILURE, ZR_FAILURE, ZR_FAILURE,
        ZR_FAILURE, ZR_FAILURE, ZR_FAILURE, ZR_FAILURE, ZR_PART_MISSING};
    for (uint32_t code = 0; code < 35; ++code) {
        EXPECT_EQ(zr_rc_convert_from_zri(code), expected[code]) << code;
    }
    // The image library's named codes take the same path.
    EXPECT_EQ(zr_rc_convert_from_zri(BAL_OK), ZR_OK);
    EXPECT_EQ(zr_rc_convert_from_zri(BAL_FFT_WORK_TOO_SMALL), ZR_BAD_FORMAT);
    EXPECT_EQ(zr_rc_convert_from_zri(BAL_NO_MEMORY), ZR_NO_MEMORY);
    EXPECT_EQ(zr_rc_convert_from_zri(BAL_UNSUPPORTED), ZR_UNHANDLED_INPUT);
    EXPECT_EQ(zr_rc_convert_from_zri(BAL_BAD_ARGUMENT), ZR_BAD_ARGUMENT);
    EXPECT_EQ(zr_rc_convert_from_zri(BAL_BUFFER_FULL), ZR_FAILURE);
    for (uint32_t code : {35u, 36u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        EXPECT_EQ(zr_rc_convert_from_zri(code), ZR_FAILURE) << code;
    }
}

TEST(PersistentMemory, WritesOnlyInsideTheBuffer) {
    uint8_t memory[ZR_PERSISTENT_MEM_SIZE + 1];
    std::memset(memory, 0xAA, sizeof(memory));
    const uint8_t source[4] = {1, 2, 3, 4};
    EXPECT_EQ(write_persistent_mem(memory, 2366, source, 4), 0u);
    EXPECT_EQ(memory[2369], 4);
    EXPECT_EQ(write_persistent_mem(memory, 2367, source, 4), 1u);
    EXPECT_EQ(memory[2370], 0xAA);
    EXPECT_EQ(write_persistent_mem(memory, 0xFFFF, source, 0xFFFF), 1u);
    EXPECT_EQ(write_persistent_mem(memory, 0, nullptr, 4), 1u);
    EXPECT_EQ(write_persistent_mem(memory, 2370, source, 0), 0u);
}

// Each counted type: a new object has one reference; retained once, it is
// destroyed at the second delete and not at the first.
template <class T, class Retain, class Delete>
void expect_counted(T* object, Retain retain, Delete del, int* destroyed) {
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->ref_count, 1u);
    EXPECT_EQ(retain(object), object);
    EXPECT_EQ(object->ref_count, 2u);
    del(object);
    EXPECT_EQ(*destroyed, 0);
    EXPECT_EQ(object->ref_count, 1u);
    del(object);
    EXPECT_EQ(*destroyed, 1);
    EXPECT_EQ(retain(static_cast<T*>(nullptr)), nullptr);
    del(static_cast<T*>(nullptr));
}

int g_destroyed = 0;

template <class T>
void count_destroy(T* object) {
    ++g_destroyed;
    std::free(object);
}

TEST(RefCount, CountedObjectsAreDestroyedAtTheLastDelete) {
    g_destroyed = 0;
    auto* image = zr_image_create(2, 2, 500, 500, nullptr, 0);
    ASSERT_NE(image, nullptr);
    image->destroy = [](zr_image* i) { ++g_destroyed; delete_image(i); };
    expect_counted(image, zr_image_retain, zr_image_delete, &g_destroyed);

    g_destroyed = 0;
    auto* tmpl = zr_template_create('C', reinterpret_cast<const uint8_t*>("ab"), 2);
    ASSERT_NE(tmpl, nullptr);
    tmpl->destroy = [](zr_template* t) { ++g_destroyed; delete_template(t); };
    expect_counted(tmpl, zr_template_retain, zr_template_delete, &g_destroyed);

    g_destroyed = 0;
    auto* session = zr_session_create();
    ASSERT_NE(session, nullptr);
    session->destroy = [](zr_session* s) { ++g_destroyed; delete_session(s); };
    expect_counted(session, zr_session_retain, zr_session_delete, &g_destroyed);

    g_destroyed = 0;
    auto* mask = zr_image_mask_create(3, 4);
    ASSERT_NE(mask, nullptr);
    EXPECT_EQ(mask->pixels[11], 128);
    mask->destroy = [](zr_image_mask* m) { ++g_destroyed; delete_image_mask(m); };
    expect_counted(mask, zr_image_mask_retain, zr_image_mask_delete, &g_destroyed);

    g_destroyed = 0;
    auto* user = static_cast<zr_user*>(std::calloc(1, sizeof(zr_user)));
    user->ref_count = 1;
    user->destroy = count_destroy<zr_user>;
    expect_counted(user, zr_user_retain, zr_user_delete, &g_destroyed);

    g_destroyed = 0;
    auto* finger = static_cast<zr_finger*>(std::calloc(1, sizeof(zr_finger)));
    finger->ref_count = 1;
    finger->destroy = count_destroy<zr_finger>;
    expect_counted(finger, zr_finger_retain, zr_finger_delete, &g_destroyed);
}

TEST(RefCount, StaticUsersFingersAndMasksAreNeverCounted) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(zr_user_retain(ZR_USER_ANONYMOUS), ZR_USER_ANONYMOUS);
        zr_user_delete(ZR_USER_ANONYMOUS);
        zr_user_delete(ZR_USER_ANONYMOUS);
        EXPECT_EQ(zr_finger_retain(ZR_FINGER_ANONYMOUS), ZR_FINGER_ANONYMOUS);
        zr_finger_delete(ZR_FINGER_ANONYMOUS);
        zr_finger_delete(ZR_FINGER_ANONYMOUS);
    }
    const zr_user zero_user{};
    const zr_finger zero_finger{};
    EXPECT_EQ(std::memcmp(ZR_USER_ANONYMOUS, &zero_user, sizeof(zr_user)), 0);
    EXPECT_EQ(std::memcmp(ZR_FINGER_ANONYMOUS, &zero_finger, sizeof(zr_finger)), 0);

    uint8_t bytes[4] = {128, 128, 128, 128};
    zr_image_mask static_mask{0, 2, 2, bytes, nullptr};
    EXPECT_EQ(zr_image_mask_retain(&static_mask), &static_mask);
    zr_image_mask_delete(&static_mask);
    EXPECT_EQ(static_mask.ref_count, 0u);
}

// Only users, fingers and masks are exempt: a counted record without destroy
// function (the match result's kind) is still counted and freed directly.
struct bare_record {
    uint32_t ref_count;
    void (*destroy)(bare_record*);
};

TEST(RefCount, RecordsWithoutDestroyFunctionAreCountedByTheGenericRules) {
    bare_record record{1, nullptr};
    EXPECT_EQ(zr_object_retain(&record), &record);
    EXPECT_EQ(record.ref_count, 2u);
    int freed = 0;
    zr_object_release(&record, [&freed](bare_record*) { ++freed; });
    EXPECT_EQ(freed, 0);
    zr_object_release(&record, [&freed](bare_record*) { ++freed; });
    EXPECT_EQ(freed, 1);
    // The static-aware rules skip the same record.
    bare_record static_record{1, nullptr};
    zr_object_retain_unless_static(&static_record);
    zr_object_delete_unless_static(&static_record);
    EXPECT_EQ(static_record.ref_count, 1u);
}

TEST(RefCount, HeldObjectsAreRetainedAndReleased) {
    zr_image* image = zr_image_create(4, 4, 500, 500, nullptr, 1);
    zr_template* tmpl = zr_template_create('C', nullptr, 0);
    ASSERT_NE(image, nullptr);
    ASSERT_NE(tmpl, nullptr);
    zr_template_set_image(tmpl, image);
    EXPECT_EQ(zr_image_get_num_refs(image), 2u);
    zr_template_set_image(tmpl, image);  // the same image: nothing changes
    EXPECT_EQ(zr_image_get_num_refs(image), 2u);
    zr_template* copy = zr_template_copy(tmpl);
    EXPECT_EQ(zr_image_get_num_refs(image), 3u);
    zr_template_set_image(copy, nullptr);
    EXPECT_EQ(zr_image_get_num_refs(image), 2u);
    zr_template_delete(copy);
    zr_template_delete(tmpl);
    EXPECT_EQ(zr_image_get_num_refs(image), 1u);
    EXPECT_EQ(zr_image_get_num_refs(nullptr), 0u);
    EXPECT_EQ(zr_template_get_num_refs(nullptr), 0u);
    zr_image_delete(image);
}

TEST(Image, MinimalObject) {
    zr_image* white = zr_image_create(3, 2, 500, 508, nullptr, 4);
    ASSERT_NE(white, nullptr);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(zr_image_get_pixels(white)[i], 255);
    EXPECT_EQ(white->liveness_score, 0xFFFF);
    EXPECT_EQ(white->class_id, 0);
    EXPECT_EQ(zr_image_get_rows(white), 3);
    EXPECT_EQ(zr_image_get_cols(white), 2);
    EXPECT_EQ(zr_image_get_resolution(white), 0);  // the two resolutions differ
    EXPECT_EQ(zr_image_get_impression_type(white), 4u);
    EXPECT_EQ(zr_image_get_impression_type(nullptr), 29u);
    const uint8_t pixels[4] = {1, 2, 3, 4};
    zr_image* copy = zr_image_create(2, 2, 500, 500, pixels, 0);
    EXPECT_EQ(std::memcmp(zr_image_get_pixels(copy), pixels, 4), 0);
    EXPECT_NE(zr_image_get_pixels(copy), pixels);
    EXPECT_EQ(zr_image_get_resolution(copy), 500);
    zr_image_delete(copy);
    zr_image_delete(white);
}

}  // namespace
