#include "objects/zr_finger.h"

#include <cstdlib>

#include "imaging/bal_quality.h"
#include "objects/zr_alloc.h"
#include "objects/zr_image.h"
#include "objects/zr_object.h"

namespace {

zr_finger g_anonymous_finger{};

constexpr int32_t kDifferenceMode500 = 1;
constexpr int32_t kDifferenceMode250 = 2;
constexpr uint32_t kStableFractionDivisor = 10;  // at most a tenth of the pixels may differ
constexpr uint16_t k250Dpi = 250;
constexpr uint16_t k250DpiTolerance = 9;

zr_status finger_stable(zr_image* image1, zr_image* image2, uint32_t* out_stable,
                        int32_t mode) {
    if (out_stable == nullptr) return ZR_BAD_ARGUMENT;
    *out_stable = 0;
    if (image1 == nullptr || image2 == nullptr) return ZR_BAD_ARGUMENT;
    const uint16_t rows = zr_image_get_rows(image1), cols = zr_image_get_cols(image1);
    if (rows != zr_image_get_rows(image2) || cols != zr_image_get_cols(image2))
        return ZR_BAD_ARGUMENT;
    zr_status status = zr_image_render(image1);
    if (status == ZR_OK) status = zr_image_render(image2);
    if (status != ZR_OK) return status;
    const uint32_t differing = bal_image_difference_scale(
        zr_image_get_pixels(image1), zr_image_get_pixels(image2), rows, cols, mode);
    *out_stable = differing <= uint32_t(rows) * cols / kStableFractionDivisor ? 1 : 0;
    return ZR_OK;
}

}  // namespace

zr_finger* ZR_FINGER_ANONYMOUS = &g_anonymous_finger;

void delete_finger(zr_finger* finger) {
    zr_user_delete(finger->user != nullptr ? finger->user : ZR_USER_ANONYMOUS);
    std::free(finger);
}

zr_finger* zr_finger_create(uint32_t position, zr_user* user) {
    return zr_finger_create_acquisition(position, user, 0);
}

zr_finger* zr_finger_create_acquisition(uint32_t position, zr_user* user, uint32_t acquisition) {
    auto* finger = static_cast<zr_finger*>(zr_calloc(1, sizeof(zr_finger)));
    if (finger == nullptr) return nullptr;
    finger->ref_count = 1;
    finger->position = position;
    finger->user = zr_user_retain(user);
    finger->acquisition = acquisition;
    finger->destroy = delete_finger;
    return finger;
}

zr_finger* zr_finger_copy(const zr_finger* finger) {
    if (finger == nullptr) return nullptr;
    zr_user* user = zr_user_copy(zr_finger_get_user(finger));
    if (user == nullptr) return nullptr;
    zr_finger* copy = zr_finger_create_acquisition(finger->position, user, finger->acquisition);
    zr_user_delete(user);  // the copy holds its own reference
    return copy;
}

zr_finger* zr_finger_retain(zr_finger* finger) { return zr_object_retain_unless_static(finger); }

void zr_finger_delete(zr_finger* finger) { zr_object_delete_unless_static(finger); }

uint32_t zr_finger_get_position(const zr_finger* finger) { return finger ? finger->position : 0; }

uint32_t zr_finger_get_acquisition(const zr_finger* finger) {
    return finger ? finger->acquisition : 0;
}

zr_user* zr_finger_get_user(const zr_finger* finger) {
    return finger != nullptr && finger->user != nullptr ? finger->user : ZR_USER_ANONYMOUS;
}

uint32_t zr_finger_get_user_id(const zr_finger* finger) {
    return zr_user_get_id(zr_finger_get_user(finger));
}

uint64_t zr_finger_get_id(const zr_finger* finger) {
    if (finger == nullptr) return 0;
    return (uint64_t{zr_finger_get_user_id(finger)} << 32) | finger->position;
}

uint32_t zr_finger_is_copy(const zr_finger* a, const zr_finger* b) {
    if (a == nullptr || b == nullptr) return 0;
    return a->acquisition == b->acquisition && a->position == b->position &&
                   zr_finger_get_user_id(a) == zr_finger_get_user_id(b)
               ? 1
               : 0;
}

zr_status zr_finger_stable_500(void*, zr_image* image1, zr_image* image2, uint32_t* out_stable) {
    return finger_stable(image1, image2, out_stable, kDifferenceMode500);
}

zr_status zr_finger_stable_250(void*, zr_image* image1, zr_image* image2, uint32_t* out_stable) {
    const uint16_t dpi = zr_image_get_vertical_resolution(image2);
    const bool near_250 = dpi + k250DpiTolerance >= k250Dpi && dpi <= k250Dpi + k250DpiTolerance;
    return finger_stable(image1, image2, out_stable,
                         near_250 ? kDifferenceMode250 : kDifferenceMode500);
}
