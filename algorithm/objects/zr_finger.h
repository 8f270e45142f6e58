// Fingers: a finger position of a user. ZR_FINGER_ANONYMOUS is a static,
// uncounted finger with every field 0. A finger whose user is none reports
// ZR_USER_ANONYMOUS wherever a user is asked for.
#pragma once

#include <cstdint>

#include "objects/zr_result.h"
#include "objects/zr_user.h"

struct zr_image;

struct zr_finger {
    uint32_t ref_count;
    uint32_t position;
    zr_user* user;  // none stands for ZR_USER_ANONYMOUS; a counted user is held
    uint32_t acquisition;
    void (*destroy)(zr_finger*);  // delete_finger; none for a static finger
};

// The process-lifetime anonymous finger.
extern zr_finger* ZR_FINGER_ANONYMOUS;

// New counted finger holding a reference to the user (acquisition 0); none
// when out of memory.
zr_finger* zr_finger_create(uint32_t position, zr_user* user);
zr_finger* zr_finger_create_acquisition(uint32_t position, zr_user* user, uint32_t acquisition);
// Position and acquisition copied, the user a new zr_user_copy of the
// finger's user (of ZR_USER_ANONYMOUS when none); none for none or when out of
// memory.
zr_finger* zr_finger_copy(const zr_finger* finger);
zr_finger* zr_finger_retain(zr_finger* finger);
void zr_finger_delete(zr_finger* finger);

// The fields; 0 for a missing finger.
uint32_t zr_finger_get_position(const zr_finger* finger);
uint32_t zr_finger_get_acquisition(const zr_finger* finger);
// The user or ZR_USER_ANONYMOUS; no reference added.
zr_user* zr_finger_get_user(const zr_finger* finger);
uint32_t zr_finger_get_user_id(const zr_finger* finger);
// User id in the high 32 bits, position in the low 32 bits.
uint64_t zr_finger_get_id(const zr_finger* finger);
// 1 when both exist with equal acquisitions, positions and user ids.
uint32_t zr_finger_is_copy(const zr_finger* a, const zr_finger* b);

// Whether two captures of equal size show the finger in the same place: out 1
// when the image library's difference count (500 dpi mode) is at most a tenth
// of the pixels, else 0. 2 (out 0) for a missing argument or sizes that
// differ; 3 for images without pixels, 9 when rendering them runs out of
// memory; else 0. The context is not read.
[[nodiscard]] zr_status zr_finger_stable_500(void* context, zr_image* image1, zr_image* image2,
                                             uint32_t* out_stable);
// As _500, comparing in 250 dpi mode when image2's vertical resolution is
// within 250 +- 9 dpi.
[[nodiscard]] zr_status zr_finger_stable_250(void* context, zr_image* image1, zr_image* image2,
                                             uint32_t* out_stable);

void delete_finger(zr_finger* finger);
